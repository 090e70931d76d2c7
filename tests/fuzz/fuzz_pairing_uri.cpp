// SPDX-License-Identifier: GPL-3.0-or-later
// Parses fuzzer input as the text of a pairing QR code. The phone reads this text from a camera,
// so any bytes may arrive. A text that parses names a 16-byte ID and a 32-byte key, and writing
// it again gives a text that parses to the same offer; a text that does not parse is refused
// with words the user can read.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <variant>

#include "ZorvikMac/CodeIntake/PairingOffer.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text =
        QString::fromUtf8(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    const auto parsed = PairingURI::parse(text);
    if (const auto* problem = std::get_if<QString>(&parsed)) {
        fuzzRequire(!problem->isEmpty(), "a refusal without words");
        return 0;
    }
    const PairingURI& uri = std::get<PairingURI>(parsed);
    fuzzRequire(uri.pairingID.size() == PairingURI::pairingIDSize, "a pairing ID of another size");
    fuzzRequire(uri.publicKey.size() == PairingURI::publicKeySize, "a public key of another size");

    const QString written = uri.text();
    const auto again = PairingURI::parse(written);
    fuzzRequire(std::holds_alternative<PairingURI>(again), "the text of a parsed offer is refused");
    fuzzRequire(std::get<PairingURI>(again) == uri, "the text of a parsed offer names another one");
    fuzzRequire(std::get<PairingURI>(again).text() == written, "writing an offer is not stable");
    return 0;
}
