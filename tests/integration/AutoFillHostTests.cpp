// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "ZorvikMacAutoFill/Host/FrameReader.h"
#include "shared/CredentialIdentitiesFile.h"
#include "shared/LatestCodeStore.h"
#include "tests/support/SessionEnvironment.h"
#include "tests/support/SessionProcess.h"

// The AutoFill helper as the browser runs it: the real binary, fed frames on its standard input,
// against files in a group container of its own.
namespace {

const char* const kOrigin = "chrome-extension://pefndcdalefolcllbmhdfnidbfjfjkgc/";

QByteArray request(const QJsonObject& object) {
    return encodeFrame(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// A request for the code's GitHub identity, from a page on `page`.
QByteArray provide(int id, const char* type, int requestType = 3, const char* page = "github.com") {
    const QJsonObject site{{"identifier", "github.com"}, {"type", "domain"}};
    const QJsonObject identity{{"serviceIdentifier", site}, {"recordIdentifier", "latest-code"}};
    return request(
        {{"id", id},
         {"type", type},
         {"site", page},
         {"request", QJsonObject{{"type", requestType}, {"credentialIdentity", identity}}}});
}

// The answer of no code: the request was cancelled.
const QString declined =
    R"({"error":{"code":100,"domain":"ASExtensionErrorDomain"},"id":%1,"result":"cancelled"})";

QByteArray identities(const QJsonValue& id, const char* host) {
    return request({{"id", id}, {"type", "identities"}, {"host", host}});
}

// A run of the host with the answers on its output, which must hold whole frames only.
struct HostRun : ProcessRun {
    explicit HostRun(ProcessRun run) : ProcessRun(std::move(run)) {
        FrameReader reader;
        reader.append(output);
        while (auto item = reader.next()) {
            answers.append(QJsonDocument::fromJson(std::get<QByteArray>(*item)).object());
        }
        EXPECT_FALSE(reader.isInsideFrame());
    }
    QStringList texts() const {
        QStringList texts;
        for (const QJsonObject& answer : answers) {
            texts.append(QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact)));
        }
        return texts;
    }
    QList<QJsonObject> answers;
};

class AutoFillHostTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(runtime()));
        QFile::setPermissions(
            runtime(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QString runtime() const { return home.filePath("runtime"); }
    QString container() const {
        return QDir(runtime()).filePath(QStringLiteral("app/") + LatestCodeStore::groupIdentifier);
    }
    QString identitiesFile() const { return container() + "/credential-identities.json"; }
    LatestCodeStore store() const { return LatestCodeStore(container() + "/latest-code.json"); }
    void saveCode(double secondsLeft) {
        const Instant now = std::chrono::time_point_cast<std::chrono::microseconds>(
            std::chrono::system_clock::now());
        store().save({"Work GitHub", "github", "271828", "iPhone", addingSeconds(now, -3),
                      addingSeconds(now, -2), addingSeconds(now, secondsLeft)});
    }

    // The host's command line through env(1), in a home of its own and, unless a test gives
    // one, without a display, where the panel cannot be shown.
    QStringList command(const QStringList& arguments, const QString& display,
                        const QString& platform = "xcb",
                        const QString& program = ZORVIK_AUTOFILL_PATH) const {
        QStringList command{"--unset=WAYLAND_DISPLAY", "--unset=DISPLAY"};
        command << "HOME=" + home.path() << "XDG_CONFIG_HOME=" + home.filePath(".config")
                << "XDG_DATA_HOME=" + home.filePath(".local/share")
                << "XDG_RUNTIME_DIR=" + runtime();
        if (!display.isEmpty()) {
            command << "DISPLAY=" + display << "QT_QPA_PLATFORM=" + platform;
        }
        return command << program << arguments;
    }

    HostRun runHost(const QByteArray& input, const QStringList& arguments = {kOrigin},
                    const QString& display = {}) {
        return HostRun(runProcess("env", command(arguments, display), 10000, input));
    }

    QTemporaryDir home;
};

TEST_F(AutoFillHostTest, FillsAValidCodeForItsSiteAndDeclinesEverythingElseWith100) {
    const QString filled = R"({"code":"271828","id":%1,"result":"code"})";
    saveCode(0);
    EXPECT_EQ(
        runHost(provide(1, "provideWithoutUserInteraction") +
                provide(2, "prepareInterfaceToProvide") +
                request({{"id", 3}, {"type", "prepareConfiguration"}}) +
                request({{"id", 4}, {"type", "prepareList"}, {"serviceIdentifiers", QJsonArray{}}}))
            .texts(),
        (QStringList{declined.arg(1), declined.arg(2), declined.arg(3), declined.arg(4)}))
        << "nothing waits for a panel nobody can see";

    saveCode(60);
    EXPECT_EQ(runHost(provide(5, "provideWithoutUserInteraction", 3, "evil.example") +
                      provide(6, "prepareInterfaceToProvide", 3, "evil.example"))
                  .texts(),
              (QStringList{declined.arg(5), declined.arg(6)}))
        << "a request from another site gets the answer of no code";
    EXPECT_FALSE(store().filledAt());

    // A display that does not exist: starting the graphical toolkit would end the host.
    const HostRun run = runHost(provide(7, "provideWithoutUserInteraction"), {kOrigin}, ":4242");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.texts(), QStringList{filled.arg(7)});
    EXPECT_TRUE(run.errors.isEmpty()) << run.errors.toStdString();
    EXPECT_TRUE(store().filledAt());
    EXPECT_EQ(runHost(provide(8, "prepareInterfaceToProvide", 1)).texts(),
              QStringList{filled.arg(8)})
        << "the interface path fills a valid code at once, display or not";
}

TEST_F(AutoFillHostTest, AnswersTheIdentitiesOfThePagesHostFromTheStore) {
    EXPECT_EQ(runHost(identities("x", "a.b")).texts(),
              QStringList{R"({"id":"x","identities":[],"result":"identities"})"})
        << "no file yet";

    const auto writeIdentities = [&](const QByteArray& content) {
        QDir().mkpath(container());
        QFile file(identitiesFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    };
    writeIdentities(CredentialIdentitiesFile::encode(
        {{"github.com", "Work GitHub", "latest-code"}, {"example.com", "Mail", "latest-code"}}));
    EXPECT_EQ(
        runHost(identities(1, "Gist.GitHub.com")).texts(),
        QStringList{
            R"({"id":1,"identities":[{"label":"Work GitHub","recordIdentifier":"latest-code",)"
            R"("serviceIdentifier":{"identifier":"github.com","type":"domain"}}],"result":"identities"})"});

    writeIdentities("{\"identities\": [");
    const QStringList damaged = runHost(identities(3, "a.b")).texts();
    ASSERT_EQ(damaged.size(), 1);
    EXPECT_TRUE(
        damaged[0].startsWith(R"({"id":3,"message":"credential-identities.json is unreadable: )") &&
        damaged[0].endsWith(R"(","result":"error"})"))
        << damaged[0].toStdString();
}

// Which message is wrong and why is the request parser's, tested on its own; here the host
// answers each with an error and goes on to the end of the input.
TEST_F(AutoFillHostTest, AnswersBadMessagesWithAnErrorAndEndsWithTheInput) {
    const HostRun empty = runHost({});
    EXPECT_TRUE(empty.finished);
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_TRUE(empty.output.isEmpty());

    const quint32 oversized = FrameReader::maximumFrameSize + 1;
    const HostRun run = runHost(
        encodeFrame("not json") + request({{"id", 9}, {"type", "launchMissiles"}}) +
        QByteArray(reinterpret_cast<const char*>(&oversized), 4) + QByteArray(oversized, ' ') +
        identities(10, "a.b") + identities(11, "a.b").chopped(3));
    const QStringList texts = run.texts();
    ASSERT_EQ(texts.size(), 4);
    EXPECT_TRUE(texts[0].startsWith(R"({"id":null,"message":"the message is not JSON: )"));
    EXPECT_EQ(
        texts.mid(1),
        (QStringList{
            R"({"id":9,"message":"unknown request type \"launchMissiles\"","result":"error"})",
            R"({"id":null,"message":"the message of 1048577 bytes is larger than the 1 MiB a )"
            R"(request may have","result":"error"})",
            R"({"id":10,"identities":[],"result":"identities"})"}));
    EXPECT_EQ(run.exitCode, 1) << "the input ended inside the last message";
    EXPECT_TRUE(run.errors.contains("the input ended inside a message"));
}

// The phone first, the browser second: the application registered no identities for the code
// because no browser had connected yet, so the first request must find them all the same.
TEST_F(AutoFillHostTest, ServesOnlyOurExtensionAndItsFirstRequestRecordsTheBrowserAndIdentities) {
    saveCode(60);
    const QByteArray input = identities(1, "github.com");
    for (const QStringList& arguments :
         {QStringList{}, QStringList{"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"},
          QStringList{"/x/manifest.json", "someone-else@example.com"}}) {
        const HostRun refused = runHost(input, arguments);
        EXPECT_EQ(refused.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(refused.output.isEmpty());
        EXPECT_TRUE(refused.errors.contains("only the Zorvik AutoFill extension"));
    }
    // The record of connected browsers, which must outlive the container.
    const QString record = home.filePath(".local/share/net.brontal.zorvik/connected-browsers.json");
    runHost(encodeFrame("not a request"));
    EXPECT_FALSE(QFile::exists(record))
        << "only a well-formed request shows the extension is there";
    EXPECT_FALSE(QFile::exists(identitiesFile()));

    const HostRun first = runHost(input);
    EXPECT_EQ(first.answers.value(0).value("identities").toArray().size(), 1)
        << first.errors.toStdString();
    EXPECT_EQ(runHost(input, {"/x/manifest.json", "autofill@zorvik.brontal.net"}).answers.size(),
              1);
    QFile file(record);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(file.readAll()).object().keys(),
              (QStringList{"chromium", "firefox"}));
    EXPECT_FALSE(QFile::exists(container() + "/connected-browsers.json"))
        << "not in the container, which is emptied at logout";
}

TEST_F(AutoFillHostTest, InstallRegistersWithTheBrowsersTheUserHas) {
    const auto run = [&](const char* option) {
        return runProcess("env", command({option}, {}), 10000);
    };
    const ProcessRun none = run("--install");
    EXPECT_EQ(none.exitCode, 1) << "no browser at all";
    EXPECT_TRUE(none.errors.contains("No supported browser was found"));

    QDir().mkpath(home.filePath(".config/chromium"));
    const QString output = QString::fromUtf8(run("--install").output);
    const QString manifest =
        home.filePath(".config/chromium/NativeMessagingHosts/net.brontal.zorvik.autofill.json");
    EXPECT_TRUE(output.contains("Chromium: wrote " + manifest)) << output.toStdString();
    EXPECT_TRUE(output.contains("Load unpacked"));

    EXPECT_EQ(run("--uninstall").exitCode, 0);
    EXPECT_FALSE(QFile::exists(manifest));
}

// The panel's toolkit is in a module of the helper's own, which it finds beside itself in the
// build tree. Offscreen, the panel shows without a display and waits for the user, until the
// browser goes away.
TEST_F(AutoFillHostTest, ThePanelComesFromTheModuleBesideTheHelper) {
    const HostRun run(runProcess("env", command({kOrigin}, ":4242", "offscreen"), 10000,
                                 request({{"id", 1}, {"type", "prepareConfiguration"}})));
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_TRUE(run.answers.isEmpty()) << run.texts().join('\n').toStdString();
    EXPECT_FALSE(run.errors.contains("the panel cannot be shown")) << run.errors.toStdString();
}

// Without the module the helper still answers the code; what needs the panel is declined as
// without a display, and standard error hears why once.
TEST_F(AutoFillHostTest, WithoutItsPanelModuleTheHelperAnswersTheCodeAndSaysWhyOnce) {
    QTemporaryDir elsewhere;
    ASSERT_TRUE(elsewhere.isValid());
    const QString copy = elsewhere.filePath("ZorvikMacAutoFill");
    ASSERT_TRUE(QFile::copy(ZORVIK_AUTOFILL_PATH, copy));
    saveCode(60);
    // A display that does not exist: had the helper started the toolkit, it would have ended.
    const HostRun run(runProcess("env", command({kOrigin}, ":4242", "xcb", copy), 10000,
                                 provide(1, "provideWithoutUserInteraction") +
                                     provide(2, "prepareInterfaceToProvide", 3, "evil.example") +
                                     request({{"id", 3}, {"type", "prepareConfiguration"}})));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.texts(), (QStringList{R"({"code":"271828","id":1,"result":"code"})",
                                        declined.arg(2), declined.arg(3)}));
    EXPECT_EQ(run.errors.count("the panel cannot be shown"), 1) << run.errors.toStdString();
    EXPECT_TRUE(run.errors.contains("zorvik-autofill-panel.so is missing: not at " +
                                    QFileInfo(elsewhere.path()).canonicalFilePath().toUtf8()))
        << run.errors.toStdString();
}

// The panel waits for the user; meanwhile later requests wait, and a browser that goes away
// ends the host without an answer.
TEST_F(AutoFillHostTest, ThePanelWaitsForTheUserUntilTheBrowserGoesAway) {
    REQUIRE_DESKTOP_SESSION();
    QProcess process;
    process.start("env", command({kOrigin}, qEnvironmentVariable("DISPLAY")));
    process.write(provide(1, "prepareInterfaceToProvide") + identities(2, "a.b"));
    const auto panelShown = [&] {
        const ProcessRun windows =
            runProcess("xdotool", {"search", "--onlyvisible", "--name", "^Zorvik$"});
        return windows.exitCode == 0 && !windows.output.trimmed().isEmpty();
    };
    EXPECT_TRUE(runEventsUntil(panelShown, 10000, 100)) << "the panel window appears";
    EXPECT_EQ(process.bytesAvailable(), 0) << "nothing is answered while the panel waits";
    process.closeWriteChannel();
    EXPECT_TRUE(runEventsUntil([&] { return process.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
}

}  // namespace
