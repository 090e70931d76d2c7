// SPDX-License-Identifier: GPL-3.0-or-later
// Reads fuzzer input as a record in the cloud's web wire format and opens it as the answer to
// one fixed pairing offer, as the desktop does with the record "key-handoff" that anyone with
// the user's cloud account may write. Rejections are expected; a crash, a sanitizer report or
// an exception escaping is a finding. So is a key from any record but the genuine one: without
// the phone's private key no other phone key and sealed key may open, and what opens is only
// ever the sync key that was sealed.
//
// The offer and the record in corpus/fuzz_key_handoff/genuine are the test vectors of
// docs/pairing.md.

#include <QByteArray>
#include <chrono>
#include <cstdint>
#include <optional>
#include <variant>

#include "ZorvikMac/CodeIntake/KeyHandoff.h"
#include "ZorvikMac/CodeIntake/PairingOffer.h"
#include "platform/linux/cloud/CloudRecordCoding.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

// 2026-03-01T12:00:00Z; the genuine record expires 10 minutes later.
const Instant kNow = Instant(std::chrono::milliseconds(1772366400000));

const PairingOffer& offer() {
    static const PairingOffer fixed = PairingOffer::fromKeys(
        QByteArray::fromHex("a0a1a2a3a4a5a6a7a8a9aaabacadaeaf"),
        QByteArray::fromHex("101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f"),
        addingSeconds(kNow, 600));
    return fixed;
}

const QByteArray kSyncKey =
    QByteArray::fromHex("e0e1e2e3e4e5e6e7e8e9eaebecedeeeff0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
const QByteArray kPhoneKey =
    QByteArray::fromHex("34e42d4af5ef94a07a3a84201b889d4cd1a743cb27b11b6a10438a8feb8e5847");
const QByteArray kSealedKey = QByteArray::fromBase64(
    "wMHCw8TFxsfIycrLIIYfASibhAZHA0UCPokq3EKUFloeKr661K/0IyVx4NpcpabsPP08rySzEVOWS5ZC");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    std::optional<CloudRecord> record;
    try {
        record = CloudRecordCoding::decodeRecordFile(bytes);
    } catch (const CloudError&) {
        return 0;
    }
    const auto opened = KeyHandoff::open(*record, offer(), kNow);
    const auto* key = std::get_if<SymmetricKey>(&opened);
    if (!key) {
        fuzzRequire(!KeyHandoff::describe(std::get<KeyHandoff::Rejection>(opened)).isEmpty(),
                    "a rejection without log words");
        return 0;
    }
    fuzzRequire(key->bytes() == kSyncKey, "a key other than the one sealed");
    fuzzRequire(record->field<QByteArray>("pairingID") == offer().pairingID(),
                "a key from a record for another pairing");
    fuzzRequire(record->field<QByteArray>("phoneKey") == kPhoneKey,
                "a key from a record with another phone key");
    fuzzRequire(record->field<QByteArray>("sealedKey") == kSealedKey,
                "a key from a record with another sealed key");
    const auto expiresAt = record->field<Instant>("expiresAt");
    fuzzRequire(expiresAt && *expiresAt > kNow, "a key from a record that has expired");
    return 0;
}
