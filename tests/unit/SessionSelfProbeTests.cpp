// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/linux/SessionSelfProbe.h"
#include "platform/linux/cloud/LocalCloud.h"

namespace {

// A session without a bus: only the files speak, and the keyring is never asked.
class SessionSelfProbeTest : public testing::Test {
protected:
    QTemporaryDir home;
    SessionSelfProbe::Places places;

    void SetUp() override {
        places.embeddedCloudRoot = home.filePath("cloud");
        places.browsers =
            NativeMessagingHosts::perUserDirectories(home.filePath("config"), home.path());
        places.latestCodeFile = home.filePath("app/latest-code.json");
    }

    static void write(const QString& path, const QByteArray& content) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QStringList lines() const {
        const BundleInfo bundle{"1.2", "42", "Debian GNU/Linux 12 (bookworm), Linux 6.1.0-27-amd64",
                                std::nullopt};
        return SessionSelfProbe(QDBusConnection(QStringLiteral("not-connected")), bundle, places)
            .text()
            .split('\n');
    }
};

TEST_F(SessionSelfProbeTest, ABareSessionSaysWhatIsMissing) {
    places.latestCodeFile.reset();
    const QStringList text = lines();
    ASSERT_GE(text.size(), 4);
    EXPECT_EQ(text[0], QString::fromUtf8("Zorvik for Linux 1.2 (42) \u2014 Debian GNU/Linux 12 "
                                         "(bookworm), Linux 6.1.0-27-amd64"));
    EXPECT_EQ(text[1], QString::fromUtf8("Cloud: embedded cloud on this computer (%1) \u2014 its "
                                         "folder does not exist yet")
                           .arg(places.embeddedCloudRoot));
    EXPECT_EQ(text[2], "Session bus: not reachable");
    for (const auto& browser : places.browsers) {
        EXPECT_TRUE(text.contains("AutoFill helper for " + browser.browser + ": not installed"));
    }
    EXPECT_EQ(text.last(), "latest-code.json: no shared folder (XDG_RUNTIME_DIR unset)");
}

// What latest-code.json holds never reaches the text.
TEST_F(SessionSelfProbeTest, ASetUpSessionNamesItsPartsButNeverTheAccount) {
    LocalCloud::writeAccountStatus(places.embeddedCloudRoot, 3);
    const QString manifest = NativeMessagingHosts::manifestPath(places.browsers.first().directory);
    write(manifest, "{}");
    write(*places.latestCodeFile, R"({"code":"482913","account":"Work GitHub"})");

    const QStringList text = lines();
    EXPECT_EQ(text[1], QString::fromUtf8("Cloud: embedded cloud on this computer (%1) \u2014 "
                                         "folder present, account no account")
                           .arg(places.embeddedCloudRoot));
    EXPECT_TRUE(text.contains("AutoFill helper for " + places.browsers.first().browser +
                              ": installed (" + manifest + ")"));
    EXPECT_FALSE(text.join('\n').contains("Work GitHub"));
}

}  // namespace
