// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "ZorvikMacAutoFill/Host/HeldCodeIdentities.h"
#include "shared/CredentialIdentitiesFile.h"
#include "shared/Iso8601.h"
#include "tests/support/QStringPrinter.h"

namespace {

const Instant kNow = *Iso8601::parse(u"2026-03-01T12:00:00Z");

std::optional<LatestCode> code(const QString& service, double secondsLeft = 60) {
    return LatestCode{"Work",
                      service,
                      "123456",
                      "iPhone",
                      addingSeconds(kNow, -5),
                      addingSeconds(kNow, -4),
                      addingSeconds(kNow, secondsLeft)};
}

// The application may publish or expire a code while the helper writes: what the shared file
// holds at each read, and the sites registered in the end.
TEST(HeldCodeIdentities, TheIdentitiesFollowTheCodeHeldLast) {
    const std::optional<LatestCode> none;
    const struct {
        const char* what;
        QList<std::optional<LatestCode>> reads;
        QStringList domains;
    } cases[] = {
        {"a valid code", {code("github")}, {"github.com"}},
        {"another code published meanwhile", {code("github"), code("x")}, {"x.com", "twitter.com"}},
        {"the code expired meanwhile", {code("github"), none}, {}},
        {"an expired code", {code("github", -1)}, {}},
        {"no code", {none}, {}},
    };
    for (const auto& example : cases) {
        SCOPED_TRACE(example.what);
        QTemporaryDir directory;
        const QString path = directory.filePath("group/credential-identities.json");
        qsizetype read = 0;
        HeldCodeIdentities::publish(
            [&] { return example.reads.value(read++, example.reads.last()); }, path, kNow);
        QFile file(path);
        EXPECT_EQ(file.exists(), !example.domains.isEmpty());
        QStringList domains;
        if (file.open(QIODevice::ReadOnly)) {
            const auto identities = CredentialIdentitiesFile::decode(file.readAll());
            ASSERT_TRUE(identities);
            for (const auto& identity : *identities) {
                domains.append(identity.serviceIdentifier);
            }
        }
        EXPECT_EQ(domains, example.domains);
    }
}

}  // namespace
