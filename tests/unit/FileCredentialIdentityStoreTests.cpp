#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "FileCredentialIdentityStore.h"
#include "ManualMainActor.h"

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
    FileCredentialIdentityStore store{actor, home.filePath("runtime/app/group"), browsers};
};

TEST_F(FileCredentialIdentityStoreTest, EnabledWhileAnyBrowserHasOurHostManifest) {
    EXPECT_FALSE(enabled());
    installManifest(home.filePath(".mozilla/native-messaging-hosts"));
    EXPECT_TRUE(enabled());
    QFile::remove(
        NativeMessagingHosts::manifestPath(home.filePath(".mozilla/native-messaging-hosts")));
    installManifest(home.filePath(".config/chromium/NativeMessagingHosts"));
    EXPECT_TRUE(enabled());
}

TEST_F(FileCredentialIdentityStoreTest, BrowserDirectoriesCoverTheChromiumFamilyAndFirefox) {
    QStringList names;
    for (const auto& browser : browsers) {
        names.append(browser.browser);
    }
    EXPECT_EQ(names, (QStringList{"Chromium", "Google Chrome", "Brave", "Microsoft Edge", "Vivaldi",
                                  "Firefox"}));
    EXPECT_EQ(NativeMessagingHosts::manifestPath("/d"), "/d/net.brontal.zorvik.autofill.json");
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
    struct stat status {};
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);

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
