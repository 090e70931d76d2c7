// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <cstdint>
#include <optional>
#include <variant>

// Cuts the bytes a browser sends its native-messaging host into messages: each is a 32-bit
// length in the machine's byte order followed by that many bytes of JSON.
class FrameReader {
public:
    // Larger messages are refused; their bytes are skipped as they arrive.
    static constexpr std::uint32_t maximumFrameSize = 1024 * 1024;

    struct OversizedFrame {
        std::uint32_t length;
    };
    using Item = std::variant<QByteArray, OversizedFrame>;

    void append(QByteArrayView bytes);
    // The next whole message, or the notice of an oversized one, or nothing until more bytes
    // arrive.
    std::optional<Item> next();
    // Whether the input so far ends inside a message, whole messages not yet taken aside.
    bool isInsideFrame() const;

private:
    QByteArray buffer_;
    // Bytes of an oversized message still to be thrown away.
    std::uint64_t skipping_ = 0;
};

// A message framed for the browser.
QByteArray encodeFrame(const QByteArray& json);
