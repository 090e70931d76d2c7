// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include "platform/Error.h"

// Why a blob is not a pending code this desktop can open.
class PendingCodeError : public Error {
public:
    enum class Kind { unsupportedVersion, sealFailed, notAPendingCode };

    static PendingCodeError unsupportedVersion(std::uint8_t version) {
        return PendingCodeError(Kind::unsupportedVersion, version);
    }
    static PendingCodeError sealFailed() { return PendingCodeError(Kind::sealFailed, 0); }
    static PendingCodeError notAPendingCode() { return PendingCodeError(Kind::notAPendingCode, 0); }

    Kind kind() const { return kind_; }
    // The version byte of an unsupportedVersion error.
    std::uint8_t version() const { return version_; }

    QString localizedDescription() const override {
        return genericErrorDescription(QStringLiteral("PendingCodeError"), static_cast<int>(kind_));
    }
    bool operator==(const PendingCodeError& other) const {
        return kind_ == other.kind_ && version_ == other.version_;
    }

private:
    PendingCodeError(Kind kind, std::uint8_t version) : kind_(kind), version_(version) {}

    Kind kind_;
    std::uint8_t version_;
};
