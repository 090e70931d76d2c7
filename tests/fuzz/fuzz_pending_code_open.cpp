// SPDX-License-Identifier: GPL-3.0-or-later
// Opens fuzzer input as a sealed pending code, the way the application treats a blob the cloud
// record hands it. Every Error is a rejection the application handles; anything else is a
// finding.
//
// Mutations almost never survive the GCM tag, so this target mostly exercises the framing and
// the authentication failure paths; fuzz_pending_code_decode covers the JSON behind the tag.
// `fuzz_pending_code_open --write-seeds=DIR` writes blobs sealed with the fuzzing key, so the
// corpus at least starts with inputs that open.

#include <QDir>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ZorvikMac/CodeIntake/PendingCode.h"
#include "ZorvikMac/CodeIntake/SymmetricKey.h"
#include "platform/AesGcm.h"
#include "platform/Error.h"
#include "tests/fuzz/PendingCodeRoundTrip.h"

namespace {

const SymmetricKey& fuzzKey() {
    static const SymmetricKey key = [] {
        QByteArray bytes(AesGcm::keySize, '\0');
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            bytes[i] = char(i);
        }
        return *SymmetricKey::fromBytes(bytes);
    }();
    return key;
}

// Payloads sealed for the seed corpus: records that open, and JSON that only fails behind the
// tag. Fixed nonces keep the seed files identical from one build to the next.
const char* const kSealedPayloads[] = {
    R"({"accountID":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","accountName":"Work GitHub",)"
    R"("serviceID":"github","code":"123456","issuedAt":"2026-03-01T12:00:00Z",)"
    R"("expiresAt":"2026-03-01T12:01:30Z","fromDevice":"iPhone"})",
    R"({"accountID":"0b9d6f1c-7c2e-4d0a-9a51-3f4e2b1c0d9e","accountName":"Bank",)"
    R"("code":"98765432","issuedAt":"2026-03-01T13:00:00+01:00",)"
    R"("expiresAt":"2026-03-01T07:01:00-05:00","fromDevice":"Pixel 8"})",
    R"({"accountID":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","accountName":"Zoë ✓",)"
    R"("serviceID":null,"code":"12 34 56","issuedAt":"0000-01-01T00:00:00Z",)"
    R"("expiresAt":"9999-12-31T23:59:59Z","fromDevice":"","extra":[1,{"a":true}]})",
    R"({"accountID":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","accountName":"Work GitHub",)"
    R"("code":"123456","issuedAt":"2026-03-01T12:00:00.5Z",)"
    R"("expiresAt":"2026-03-01T12:01:30Z","fromDevice":"iPhone"})",
    R"({"accountName":"no account id","code":"1"})",
    R"([])",
    "",
};

void writeSeeds(const QString& directory) {
    if (!QDir().mkpath(directory)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(directory));
        std::exit(1);
    }
    int index = 0;
    for (const char* payload : kSealedPayloads) {
        QByteArray nonce(AesGcm::nonceSize, '\0');
        nonce[0] = char(index + 1);
        const QByteArray blob = PendingCode::magic() + char(PendingCode::formatVersion) +
                                AesGcm::seal(fuzzKey().bytes(), nonce,
                                             QByteArray(payload, qsizetype(std::strlen(payload))));
        QFile file(QDir(directory).filePath(QStringLiteral("sealed-%1").arg(index++)));
        if (!file.open(QIODevice::WriteOnly) || file.write(blob) != blob.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            std::exit(1);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // libFuzzer ignores flags that start with "--", so this one can share the command line.
    constexpr std::string_view kFlag = "--write-seeds=";
    for (int i = 1; i < *argc; ++i) {
        const std::string_view argument = (*argv)[i];
        if (argument.starts_with(kFlag)) {
            writeSeeds(QString::fromLocal8Bit(argument.substr(kFlag.size())));
            std::exit(0);
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray blob(reinterpret_cast<const char*>(data), qsizetype(size));
    std::optional<PendingCode> opened;
    try {
        opened = PendingCode::open(blob, fuzzKey());
    } catch (const Error&) {
        return 0;
    }
    requirePendingCodeRoundTrip(*opened);
    return 0;
}
