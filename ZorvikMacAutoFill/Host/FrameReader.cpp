// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMacAutoFill/Host/FrameReader.h"

#include <algorithm>
#include <cstring>

void FrameReader::append(QByteArrayView bytes) {
    if (skipping_ > 0) {
        const auto skipped = std::min<std::uint64_t>(skipping_, std::uint64_t(bytes.size()));
        skipping_ -= skipped;
        bytes = bytes.sliced(qsizetype(skipped));
    }
    buffer_.append(bytes);
}

std::optional<FrameReader::Item> FrameReader::next() {
    constexpr qsizetype header = sizeof(std::uint32_t);
    if (skipping_ > 0 || buffer_.size() < header) {
        return std::nullopt;
    }
    std::uint32_t length = 0;
    std::memcpy(&length, buffer_.constData(), sizeof length);
    if (length > maximumFrameSize) {
        buffer_.remove(0, header);
        const auto inBuffer = std::min<std::uint64_t>(length, std::uint64_t(buffer_.size()));
        buffer_.remove(0, qsizetype(inBuffer));
        skipping_ = length - inBuffer;
        return OversizedFrame{length};
    }
    if (buffer_.size() - header < qsizetype(length)) {
        return std::nullopt;
    }
    QByteArray payload = buffer_.mid(header, qsizetype(length));
    buffer_.remove(0, header + qsizetype(length));
    return payload;
}

bool FrameReader::isInsideFrame() const {
    if (skipping_ > 0) {
        return true;
    }
    constexpr qsizetype header = sizeof(std::uint32_t);
    qsizetype at = 0;
    while (buffer_.size() - at >= header) {
        std::uint32_t length = 0;
        std::memcpy(&length, buffer_.constData() + at, sizeof length);
        if (buffer_.size() - at - header < qsizetype(length)) {
            return true;
        }
        at += header + qsizetype(length);
    }
    return at < buffer_.size();
}

QByteArray encodeFrame(const QByteArray& json) {
    const auto length = std::uint32_t(json.size());
    QByteArray frame(reinterpret_cast<const char*>(&length), sizeof length);
    frame.append(json);
    return frame;
}
