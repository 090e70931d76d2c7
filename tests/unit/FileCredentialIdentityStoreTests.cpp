#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "ConnectedBrowsers.h"
#include "FakeWorkspace.h"
#include "FileCredentialIdentityStore.h"
#include "FileMode.h"
#include "LinuxAutoFillSettings.h"
#include "ManualMainActor.h"
#include "NativeMessagingHostInstaller.h"
#include "RecordingSystemLog.h"

namespace {

class FileCredentialIdentityStoreTest : public testing::Test {
protected:
    bool enabled() {
        std::optional<bool> answer;
        store.getState([&](bool value) { answer = value; });
        EXPECT_FALSE(answer) << "answers come through the main queue";
        actor.runUntilIdle();
        return answer.value_or(false);
    }
    std::optional<QString> replace(const QList<CredentialIdentityStore::Identity>& identities) {
        std::optional<std::optional<QString>> result;
        store.replaceCredentialIdentityEntries(identities, [&](auto error) { result = error; });
        actor.runUntilIdle();
        EXPECT_TRUE(result);
        return result.value_or("no answer");
    }
    void installManifest(const QString& directory) {
        QDir().mkpath(directory);
        QFile manifest(NativeMessagingHosts::manifestPath(directory));
        ASSERT_TRUE(manifest.open(QIODevice::WriteOnly));
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
    installManifest(firefox);
    EXPECT_FALSE(enabled()) << "installed, but the extension has never started the helper";
    ConnectedBrowsers::record(records, ConnectedBrowsers::Family::chromium,
                              std::chrono::sys_days{std::chrono::January / 1 / 2026});
    EXPECT_FALSE(enabled()) << "Chromium connected, but only Firefox has the manifest";
    installManifest(chromium);
    EXPECT_TRUE(enabled());
    QFile::remove(NativeMessagingHosts::manifestPath(chromium));
    EXPECT_FALSE(enabled());

    // Firefox connected before the record moved out of the container, which empties at logout.
    QDir().mkpath(container);
    QFile earlier(QDir(container).filePath(ConnectedBrowsers::fileName));
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write(R"({"firefox":"2025-12-24T08:00:00Z"})");
    earlier.close();
    EXPECT_TRUE(enabled());
    EXPECT_FALSE(earlier.exists()) << "taken over";
    QFile record(QDir(records).filePath(ConnectedBrowsers::fileName));
    ASSERT_TRUE(record.open(QIODevice::ReadOnly));
    EXPECT_EQ(record.readAll(),
              R"({"chromium":"2026-01-01T00:00:00Z","firefox":"2025-12-24T08:00:00Z"})");
}

TEST_F(FileCredentialIdentityStoreTest, TheConnectionRecordKeepsEachFamilysFirstConnection) {
    const Instant first = std::chrono::sys_days{std::chrono::January / 1 / 2026};
    EXPECT_TRUE(ConnectedBrowsers::record(records, ConnectedBrowsers::Family::firefox, first));
    EXPECT_FALSE(ConnectedBrowsers::record(records, ConnectedBrowsers::Family::firefox,
                                           addingSeconds(first, 60)));
    QFile file(QDir(records).filePath(ConnectedBrowsers::fileName));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), R"({"firefox":"2026-01-01T00:00:00Z"})");
    EXPECT_EQ(modeOf(file.fileName()), 0600);
    EXPECT_EQ(modeOf(records), 0700);
    EXPECT_TRUE(ConnectedBrowsers::hasConnected(records, ConnectedBrowsers::Family::firefox));
    EXPECT_FALSE(ConnectedBrowsers::hasConnected(records, ConnectedBrowsers::Family::chromium));

    // A damaged record reads as no connection and is replaced by the next one.
    file.close();
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("{\"firefox\": 1");
    file.close();
    EXPECT_FALSE(ConnectedBrowsers::hasConnected(records, ConnectedBrowsers::Family::firefox));
    ConnectedBrowsers::record(records, ConnectedBrowsers::Family::chromium, first);
    EXPECT_TRUE(ConnectedBrowsers::hasConnected(records, ConnectedBrowsers::Family::chromium));
}

TEST_F(FileCredentialIdentityStoreTest, InstallWritesOurManifestForEveryBrowserTheUserHas) {
    QDir().mkpath(home.filePath(".config/chromium"));
    QDir().mkpath(home.filePath(".mozilla"));
    const auto installed = NativeMessagingHostInstaller::install("/opt/zorvik/bin/host", browsers);
    ASSERT_EQ(installed.size(), 2) << "only browsers whose directory exists";
    EXPECT_EQ(installed[0].browser, "Chromium");
    EXPECT_EQ(installed[1].browser, "Firefox");
    for (const auto& outcome : installed) {
        EXPECT_TRUE(outcome.error.isEmpty()) << outcome.error.toStdString();
        QFile file(outcome.manifestPath);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QJsonObject manifest = QJsonDocument::fromJson(file.readAll()).object();
        EXPECT_EQ(manifest.value("name").toString(), "net.brontal.zorvik.autofill");
        EXPECT_EQ(manifest.value("path").toString(), "/opt/zorvik/bin/host");
        EXPECT_EQ(manifest.value("type").toString(), "stdio");
        EXPECT_FALSE(manifest.value("description").toString().isEmpty());
    }
    const auto manifestAt = [](const QString& path) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return QJsonDocument::fromJson(file.readAll()).object();
    };
    EXPECT_EQ(manifestAt(installed[0].manifestPath).value("allowed_origins").toArray(),
              QJsonArray{"chrome-extension://pefndcdalefolcllbmhdfnidbfjfjkgc/"});
    EXPECT_FALSE(manifestAt(installed[0].manifestPath).contains("allowed_extensions"));
    EXPECT_EQ(manifestAt(installed[1].manifestPath).value("allowed_extensions").toArray(),
              QJsonArray{"autofill@zorvik.brontal.net"});
    EXPECT_FALSE(QDir(home.filePath(".config/google-chrome")).exists())
        << "no directory is made for a browser the user does not have";

    const auto removed = NativeMessagingHostInstaller::uninstall(browsers);
    ASSERT_EQ(removed.size(), 2);
    EXPECT_FALSE(QFile::exists(installed[0].manifestPath));
    EXPECT_FALSE(QFile::exists(installed[1].manifestPath));
    EXPECT_TRUE(NativeMessagingHostInstaller::uninstall(browsers).isEmpty());
}

TEST_F(FileCredentialIdentityStoreTest, InstallReportsEachBrowserItCouldNotWriteFor) {
    QDir().mkpath(home.filePath(".config/vivaldi"));
    // A file where the manifest directory should be.
    QFile blocker(home.filePath(".config/vivaldi/NativeMessagingHosts"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto installed = NativeMessagingHostInstaller::install("/bin/host", browsers);
    ASSERT_EQ(installed.size(), 1);
    EXPECT_EQ(installed[0].browser, "Vivaldi");
    EXPECT_FALSE(installed[0].error.isEmpty());
}

TEST_F(FileCredentialIdentityStoreTest, ReplaceWritesExactlyTheListOwnerOnly) {
    EXPECT_FALSE(replace({{"github.com", "A \u00B7 from D", "latest-code"},
                          {"x.com", "A \u00B7 from D", "latest-code"}}));
    const QString path = *store.identitiesPath();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonArray list =
        QJsonDocument::fromJson(file.readAll()).object().value("identities").toArray();
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(
        list[1].toObject().value("serviceIdentifier").toObject().value("identifier").toString(),
        "x.com");
    EXPECT_EQ(list[0].toObject().value("serviceIdentifier").toObject().value("type").toString(),
              "domain");
    EXPECT_EQ(list[0].toObject().value("recordIdentifier").toString(), "latest-code");
    EXPECT_EQ(modeOf(path), 0600);

    EXPECT_FALSE(replace({}));
    file.close();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(
        QJsonDocument::fromJson(file.readAll()).object().value("identities").toArray().isEmpty());
}

TEST_F(FileCredentialIdentityStoreTest, RemoveAllDeletesTheFileAndToleratesItsAbsence) {
    replace({{"github.com", "l", "latest-code"}});
    std::optional<std::optional<QString>> result;
    store.removeAllCredentialIdentities([&](auto error) { result = error; });
    actor.runUntilIdle();
    ASSERT_TRUE(result);
    EXPECT_FALSE(*result);
    EXPECT_FALSE(QFile::exists(*store.identitiesPath()));
    result.reset();
    store.removeAllCredentialIdentities([&](auto error) { result = error; });
    actor.runUntilIdle();
    EXPECT_FALSE(result.value_or("no answer"));
}

TEST(FileCredentialIdentityStoreWithoutContainer, ReplaceFailsWithAReason) {
    ManualMainActor actor;
    FileCredentialIdentityStore store(actor, std::nullopt, {});
    std::optional<std::optional<QString>> result;
    store.replaceCredentialIdentityEntries({{"github.com", "l", "latest-code"}},
                                           [&](auto error) { result = error; });
    actor.runUntilIdle();
    ASSERT_TRUE(result && *result);
    EXPECT_TRUE((*result)->contains("container"));
}

}  // namespace

namespace {

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

TEST(LinuxAutoFillSettingsTest, FindsTheHelperAndTheExtensionInstalledOrInTheBuildTree) {
    QTemporaryDir tree;
    QDir().mkpath(tree.filePath("bin"));
    EXPECT_EQ(LinuxAutoFillSettings::locateHost(tree.filePath("bin"), "/fallback"), "/fallback");
    EXPECT_EQ(LinuxAutoFillSettings::locateExtension(tree.filePath("bin"), "/ext"), "/ext");

    QDir().mkpath(tree.filePath("ZorvikMacAutoFill"));
    QFile built(tree.filePath("ZorvikMacAutoFill/ZorvikMacAutoFill"));
    ASSERT_TRUE(built.open(QIODevice::WriteOnly));
    built.close();
    EXPECT_EQ(LinuxAutoFillSettings::locateHost(tree.filePath("bin"), "/fallback"), "/fallback")
        << "a file that cannot run is no helper";
    built.setPermissions(built.permissions() | QFileDevice::ExeOwner);
    EXPECT_EQ(LinuxAutoFillSettings::locateHost(tree.filePath("bin"), "/fallback"),
              QFileInfo(built).canonicalFilePath());

    QFile installed(tree.filePath("bin/ZorvikMacAutoFill"));
    ASSERT_TRUE(installed.open(QIODevice::WriteOnly));
    installed.close();
    installed.setPermissions(installed.permissions() | QFileDevice::ExeOwner);
    EXPECT_EQ(LinuxAutoFillSettings::locateHost(tree.filePath("bin"), "/fallback"),
              QFileInfo(installed).canonicalFilePath())
        << "the helper installed beside the app comes first";

    QDir().mkpath(tree.filePath("share/zorvik/browser-extension"));
    EXPECT_EQ(LinuxAutoFillSettings::locateExtension(tree.filePath("bin"), "/ext"),
              QFileInfo(tree.filePath("share/zorvik/browser-extension")).canonicalFilePath());
}

}  // namespace
