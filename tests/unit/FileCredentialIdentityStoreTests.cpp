// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "platform/linux/browser/ConnectedBrowsers.h"
#include "platform/linux/browser/FileCredentialIdentityStore.h"
#include "platform/linux/browser/LinuxAutoFillSettings.h"
#include "platform/linux/browser/NativeMessagingHostInstaller.h"
#include "shared/CredentialIdentitiesFile.h"
#include "tests/support/FakeWorkspace.h"
#include "tests/support/FileMode.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/RecordingSystemLog.h"

namespace {

using Done = std::function<void(std::optional<QString>)>;

void writeFile(const QString& path, const QByteArray& bytes = {},
               QFileDevice::Permissions permissions = QFileDevice::ReadOwner |
                                                      QFileDevice::WriteOwner) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    ASSERT_TRUE(file.setPermissions(permissions));
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class FileCredentialIdentityStoreTest : public testing::Test {
protected:
    bool enabled() {
        std::optional<bool> answer;
        store.getState([&](bool value) { answer = value; });
        EXPECT_FALSE(answer) << "answers come through the main queue";
        actor.runUntilIdle();
        return answer.value_or(false);
    }
    // The error an operation answered with, through the main queue.
    std::optional<QString> answerOf(const std::function<void(Done)>& operation) {
        std::optional<std::optional<QString>> result;
        operation([&](std::optional<QString> error) { result = error; });
        actor.runUntilIdle();
        EXPECT_TRUE(result);
        return result.value_or("no answer");
    }

    QTemporaryDir home;
    ManualMainActor actor;
    QList<NativeMessagingHosts::BrowserDirectory> browsers =
        NativeMessagingHosts::perUserDirectories(home.filePath(".config"), home.path());
    const QString container = home.filePath("runtime/app/group");
    const QString records = home.filePath("data/net.brontal.zorvik");
    FileCredentialIdentityStore store{actor, container, browsers, records};
};

TEST_F(FileCredentialIdentityStoreTest, EnabledOnceABrowserWithOurManifestHasConnected) {
    const QString firefox = home.filePath(".mozilla/native-messaging-hosts");
    const QString chromium = home.filePath(".config/chromium/NativeMessagingHosts");
    EXPECT_FALSE(enabled());
    writeFile(NativeMessagingHosts::manifestPath(firefox));
    EXPECT_FALSE(enabled()) << "installed, but the extension has never started the helper";
    ConnectedBrowsers::record(records, ConnectedBrowsers::Family::chromium,
                              std::chrono::sys_days{std::chrono::January / 1 / 2026});
    EXPECT_FALSE(enabled()) << "Chromium connected, but only Firefox has the manifest";
    writeFile(NativeMessagingHosts::manifestPath(chromium));
    EXPECT_TRUE(enabled());
    QFile::remove(NativeMessagingHosts::manifestPath(chromium));
    EXPECT_FALSE(enabled());

    // Firefox connected before the record moved out of the container, which empties at logout.
    const QString earlier = QDir(container).filePath(ConnectedBrowsers::fileName);
    writeFile(earlier, R"({"firefox":"2025-12-24T08:00:00Z"})");
    EXPECT_TRUE(enabled());
    EXPECT_FALSE(QFile::exists(earlier)) << "taken over";
    EXPECT_EQ(contentOf(QDir(records).filePath(ConnectedBrowsers::fileName)),
              R"({"chromium":"2026-01-01T00:00:00Z","firefox":"2025-12-24T08:00:00Z"})");
}

TEST_F(FileCredentialIdentityStoreTest, TheConnectionRecordKeepsEachFamilysFirstConnection) {
    const Instant first = std::chrono::sys_days{std::chrono::January / 1 / 2026};
    const QString path = QDir(records).filePath(ConnectedBrowsers::fileName);
    EXPECT_TRUE(ConnectedBrowsers::record(records, ConnectedBrowsers::Family::firefox, first));
    EXPECT_FALSE(ConnectedBrowsers::record(records, ConnectedBrowsers::Family::firefox,
                                           addingSeconds(first, 60)));
    EXPECT_EQ(contentOf(path), R"({"firefox":"2026-01-01T00:00:00Z"})");
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(modeOf(records), 0700);
    EXPECT_TRUE(ConnectedBrowsers::hasConnected(records, ConnectedBrowsers::Family::firefox));
    EXPECT_FALSE(ConnectedBrowsers::hasConnected(records, ConnectedBrowsers::Family::chromium));

    // A damaged record reads as no connection and is replaced by the next one.
    writeFile(path, "{\"firefox\": 1");
    EXPECT_FALSE(ConnectedBrowsers::hasConnected(records, ConnectedBrowsers::Family::firefox));
    ConnectedBrowsers::record(records, ConnectedBrowsers::Family::chromium, first);
    EXPECT_TRUE(ConnectedBrowsers::hasConnected(records, ConnectedBrowsers::Family::chromium));
}

// Only for browsers whose directory exists; one it cannot write for is reported, the rest go on.
TEST_F(FileCredentialIdentityStoreTest, InstallWritesOurManifestForEveryBrowserTheUserHas) {
    QDir().mkpath(home.filePath(".config/chromium"));
    QDir().mkpath(home.filePath(".mozilla"));
    writeFile(home.filePath(".config/vivaldi/NativeMessagingHosts"));  // where its directory goes
    const auto installed = NativeMessagingHostInstaller::install("/opt/zorvik/bin/host", browsers);
    ASSERT_EQ(installed.size(), 3);
    EXPECT_EQ(installed[1].browser, "Vivaldi");
    EXPECT_FALSE(installed[1].error.isEmpty());
    const std::pair<int, QJsonObject> expected[] = {
        {0,
         {{"allowed_origins", QJsonArray{"chrome-extension://pefndcdalefolcllbmhdfnidbfjfjkgc/"}}}},
        {2, {{"allowed_extensions", QJsonArray{"autofill@zorvik.brontal.net"}}}}};
    for (auto [i, manifest] : expected) {
        EXPECT_TRUE(installed[i].error.isEmpty()) << installed[i].error.toStdString();
        manifest.insert("name", "net.brontal.zorvik.autofill");
        manifest.insert("type", "stdio");
        manifest.insert("path", "/opt/zorvik/bin/host");
        QJsonObject written =
            QJsonDocument::fromJson(contentOf(installed[i].manifestPath)).object();
        EXPECT_FALSE(written.take("description").toString().isEmpty());
        EXPECT_EQ(written, manifest) << installed[i].browser.toStdString();
    }
    EXPECT_EQ(installed[0].browser, "Chromium");
    EXPECT_EQ(installed[2].browser, "Firefox");
    EXPECT_FALSE(QDir(home.filePath(".config/google-chrome")).exists());

    EXPECT_EQ(NativeMessagingHostInstaller::uninstall(browsers).size(), 2);
    EXPECT_FALSE(QFile::exists(installed[0].manifestPath));
    EXPECT_FALSE(QFile::exists(installed[2].manifestPath));
    EXPECT_TRUE(NativeMessagingHostInstaller::uninstall(browsers).isEmpty());
}

// Without a container there is nowhere to write, and the answer says why.
TEST_F(FileCredentialIdentityStoreTest, ReplaceWritesExactlyTheListOwnerOnlyAndRemoveAllDeletesIt) {
    const QString path = *store.identitiesPath();
    for (const QList<CredentialIdentityStore::Identity>& identities :
         {QList<CredentialIdentityStore::Identity>{{"github.com", "A \u00B7 from D", "latest-code"},
                                                   {"x.com", "A \u00B7 from D", "latest-code"}},
          QList<CredentialIdentityStore::Identity>{}}) {
        EXPECT_FALSE(
            answerOf([&](Done done) { store.replaceCredentialIdentityEntries(identities, done); }));
        EXPECT_EQ(CredentialIdentitiesFile::decode(contentOf(path)), identities);
        EXPECT_EQ(modeOf(path), 0600);
    }

    const auto removeAll = [&](Done done) { store.removeAllCredentialIdentities(done); };
    EXPECT_FALSE(answerOf(removeAll));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(answerOf(removeAll));

    FileCredentialIdentityStore nowhere(actor, std::nullopt, {});
    const auto refused =
        answerOf([&](Done done) { nowhere.replaceCredentialIdentityEntries({}, done); });
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->contains("container"));
}

TEST(LinuxAutoFillSettingsTest, TurningAutoFillOnRegistersTheHelperAndOpensTheExtension) {
    QTemporaryDir home;
    QDir().mkpath(home.filePath(".config/BraveSoftware/Brave-Browser"));
    ManualMainActor actor;
    FakeWorkspace workspace(actor);
    RecordingSystemLog log;
    const auto browsers =
        NativeMessagingHosts::perUserDirectories(home.filePath(".config"), home.path());
    LinuxAutoFillSettings settings(workspace, log, "/usr/bin/ZorvikMacAutoFill",
                                   "/usr/share/zorvik/browser-extension", browsers);
    settings.openCredentialProviderAppSettings();
    const QString manifest = home.filePath(
        ".config/BraveSoftware/Brave-Browser/NativeMessagingHosts/"
        "net.brontal.zorvik.autofill.json");
    EXPECT_TRUE(QFile::exists(manifest));
    EXPECT_EQ(workspace.openedURLs, QStringList{"file:///usr/share/zorvik/browser-extension"});
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].message, "AutoFill: helper registered with Brave (" + manifest + ")");

    QTemporaryDir empty;
    LinuxAutoFillSettings nowhere(
        workspace, log, "/h", "/e",
        NativeMessagingHosts::perUserDirectories(empty.filePath(".config"), empty.path()));
    nowhere.openCredentialProviderAppSettings();
    EXPECT_EQ(log.lines.back().level, LogLevel::error);
    EXPECT_EQ(workspace.openedURLs.size(), 2) << "the how-to is shown even so";
}

// A helper that cannot run is no helper; the one installed beside the app comes first.
TEST(LinuxAutoFillSettingsTest, FindsTheHelperAndTheExtensionInstalledOrInTheBuildTree) {
    QTemporaryDir tree;
    const QString bin = tree.filePath("bin");
    QDir().mkpath(bin);
    const auto host = [&] { return LinuxAutoFillSettings::locateHost(bin, "/fallback"); };
    EXPECT_EQ(host(), "/fallback");
    EXPECT_EQ(LinuxAutoFillSettings::locateExtension(bin, "/ext"), "/ext");
    const QString built = tree.filePath("ZorvikMacAutoFill/ZorvikMacAutoFill");
    writeFile(built);
    EXPECT_EQ(host(), "/fallback");
    writeFile(built, {}, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(host(), QFileInfo(built).canonicalFilePath());
    writeFile(tree.filePath("bin/ZorvikMacAutoFill"), {}, QFileDevice::ExeOwner);
    EXPECT_EQ(host(), QFileInfo(tree.filePath("bin/ZorvikMacAutoFill")).canonicalFilePath());
    QDir().mkpath(tree.filePath("share/zorvik/browser-extension"));
    EXPECT_EQ(LinuxAutoFillSettings::locateExtension(bin, "/ext"),
              QFileInfo(tree.filePath("share/zorvik/browser-extension")).canonicalFilePath());
}

}  // namespace
