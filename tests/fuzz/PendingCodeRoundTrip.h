// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ZorvikMac/CodeIntake/PendingCode.h"
#include "platform/Error.h"
#include "tests/fuzz/FuzzCheck.h"

// A record that decoded must come back unchanged from its own JSON.
inline void requirePendingCodeRoundTrip(const PendingCode& code) {
    QByteArray json;
    try {
        json = code.encode();
    } catch (const Error&) {
        fuzzRequire(false, "a decoded record cannot be encoded");
    }
    try {
        fuzzRequire(PendingCode::decode(json) == code, "decode(encode()) differs from the record");
    } catch (const Error&) {
        fuzzRequire(false, "decode rejected what encode wrote");
    }
}
