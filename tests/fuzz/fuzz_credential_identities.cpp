// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes fuzzer input as credential-identities.json, which the AutoFill helper reads after the
// application wrote it. Anything must decode to a list or be refused with a reason, and a list
// must survive being written and read again unchanged.

#include <cstdint>

#include "shared/CredentialIdentitiesFile.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView json(reinterpret_cast<const char*>(data), qsizetype(size));
    QString error;
    const auto identities = CredentialIdentitiesFile::decode(json, &error);
    if (!identities) {
        fuzzRequire(!error.isEmpty(), "a refusal without a reason");
        return 0;
    }
    const auto again =
        CredentialIdentitiesFile::decode(CredentialIdentitiesFile::encode(*identities));
    fuzzRequire(again == identities, "the identities changed on the way through the file");
    for (const auto& identity : *identities) {
        // Matching a page host must never fail on what the file holds.
        CredentialIdentitiesFile::matchingHost(*identities, identity.serviceIdentifier);
    }
    return 0;
}
