// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <optional>

#include "platform/AesGcm.h"

// A 256-bit AES key. Its bytes never leave through logs or descriptions.
class SymmetricKey {
public:
    // Nothing unless `bytes` holds exactly 32 bytes.
    static std::optional<SymmetricKey> fromBytes(const QByteArray& bytes) {
        if (bytes.size() != AesGcm::keySize) {
            return std::nullopt;
        }
        return SymmetricKey(bytes);
    }
    static SymmetricKey random() { return SymmetricKey(AesGcm::randomBytes(AesGcm::keySize)); }

    const QByteArray& bytes() const { return bytes_; }
    bool operator==(const SymmetricKey&) const = default;

private:
    explicit SymmetricKey(QByteArray bytes) : bytes_(std::move(bytes)) {}
    QByteArray bytes_;
};
