#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <cstring>

#include "CredentialIdentitiesFile.h"
#include "FileMode.h"
#include "FrameReader.h"
#include "Iso8601.h"
#include "LatestCodeStore.h"
#include "SessionEnvironment.h"
#include "SessionProcess.h"

// The AutoFill helper as the browser runs it: the real binary, fed frames on its standard input,
// against files in a group container of its own.
namespace {

const char* const kOrigin = "chrome-extension://pefndcdalefolcllbmhdfnidbfjfjkgc/";

QByteArray request(const QJsonObject& object) {
    return encodeFrame(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QJsonObject provide(int id, const char* type, int requestType = 3) {
    return {
        {"id", id},
        {"type", type},
        {"request",
         QJsonObject{{"type", requestType},
                     {"credentialIdentity",
                      QJsonObject{{"serviceIdentifier",
                                   QJsonObject{{"identifier", "github.com"}, {"type", "domain"}}},
                                  {"recordIdentifier", "latest-code"}}}}}};
}

struct HostRun {
    bool finished = false;
    int exitCode = -1;
    QList<QJsonObject> answers;
    // Bytes after the last whole frame: there must be none.
    QByteArray rest;
    QByteArray errors;
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
    // The record of connected browsers, which must outlive the container.
    QString records() const { return home.filePath(".local/share/net.brontal.zorvik"); }
    LatestCodeStore store() const { return LatestCodeStore(container() + "/latest-code.json"); }
    void saveCode(double secondsLeft) {
        const Instant now = std::chrono::time_point_cast<std::chrono::microseconds>(
            std::chrono::system_clock::now());
        store().save({"Work GitHub", "github", "271828", "iPhone", addingSeconds(now, -3),
                      addingSeconds(now, -2), addingSeconds(now, secondsLeft)});
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        environment.insert("XDG_CONFIG_HOME", home.filePath(".config"));
        environment.insert("XDG_DATA_HOME", home.filePath(".local/share"));
        environment.insert("XDG_RUNTIME_DIR", runtime());
        // Without a display the panel cannot be shown.
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        return environment;
    }

    void start(QProcess& process, const QStringList& arguments,
               const QProcessEnvironment& environment) {
        process.setProcessEnvironment(environment);
        process.start(ZORVIK_AUTOFILL_PATH, arguments);
        ASSERT_TRUE(process.waitForStarted(5000));
    }

    static HostRun collect(QProcess& process, int timeoutMs) {
        HostRun run;
        run.finished =
            runEventsUntil([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
        if (!run.finished) {
            process.kill();
            process.waitForFinished(2000);
        }
        run.exitCode = process.exitCode();
        FrameReader reader;
        reader.append(process.readAllStandardOutput());
        while (auto item = reader.next()) {
            run.answers.append(QJsonDocument::fromJson(std::get<QByteArray>(*item)).object());
        }
        run.rest = reader.isInsideFrame() ? QByteArray("partial frame") : QByteArray();
        run.errors = process.readAllStandardError();
        return run;
    }

    // Sends `input`, closes the input and waits for the host to end.
    HostRun runHost(const QByteArray& input, QStringList arguments = {kOrigin},
                    std::optional<QProcessEnvironment> custom = std::nullopt) {
        QProcess process;
        start(process, arguments, custom.value_or(environment()));
        process.write(input);
        process.closeWriteChannel();
        return collect(process, 10000);
    }

    QTemporaryDir home;
};

TEST_F(AutoFillHostTest, FillsAValidCodeWithoutInterfaceAndLeavesTheFillMarker) {
    saveCode(60);
    // A display that does not exist: starting the graphical toolkit would end the host.
    QProcessEnvironment environment = this->environment();
    environment.insert("DISPLAY", ":4242");
    environment.insert("QT_QPA_PLATFORM", "xcb");
    const HostRun run =
        runHost(request(provide(1, "provideWithoutUserInteraction")), {kOrigin}, environment);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    ASSERT_EQ(run.answers.size(), 1);
    EXPECT_EQ(run.answers[0], (QJsonObject{{"id", 1}, {"result", "code"}, {"code", "271828"}}));
    EXPECT_TRUE(store().filledAt());
    EXPECT_TRUE(run.rest.isEmpty());
    EXPECT_TRUE(run.errors.isEmpty()) << run.errors.toStdString();
}

TEST_F(AutoFillHostTest, DeclinesWith100AndCancelsThePanelWithoutADisplay) {
    const QJsonObject cancelled100{
        {"result", "cancelled"},
        {"error", QJsonObject{{"domain", "ASExtensionErrorDomain"}, {"code", 100}}}};
    saveCode(60);
    QByteArray input = request(provide(1, "provideWithoutUserInteraction", 1));
    saveCode(0);
    input += request(provide(2, "provideWithoutUserInteraction"));
    const HostRun declined = runHost(input);
    ASSERT_EQ(declined.answers.size(), 2);
    for (int id : {1, 2}) {
        QJsonObject expected = cancelled100;
        expected.insert("id", id);
        EXPECT_EQ(declined.answers[id - 1], expected);
    }

    const HostRun noPanel = runHost(
        request(provide(3, "prepareInterfaceToProvide")) +
        request({{"id", 4}, {"type", "prepareConfiguration"}}) +
        request({{"id", 5}, {"type", "prepareList"}, {"serviceIdentifiers", QJsonArray{}}}));
    ASSERT_TRUE(noPanel.finished) << "nothing waits for a panel nobody can see";
    ASSERT_EQ(noPanel.answers.size(), 3);
    for (const QJsonObject& answer : noPanel.answers) {
        EXPECT_EQ(answer.value("error").toObject().value("code").toInt(), 100);
    }
    EXPECT_FALSE(store().filledAt());

    saveCode(60);
    const HostRun filled = runHost(request(provide(6, "prepareInterfaceToProvide", 1)));
    ASSERT_EQ(filled.answers.size(), 1);
    EXPECT_EQ(filled.answers[0].value("code").toString(), "271828")
        << "the interface path fills a valid code at once, display or not";
}

TEST_F(AutoFillHostTest, AnswersTheIdentitiesOfThePagesHostFromTheStore) {
    const HostRun none = runHost(request({{"id", "x"}, {"type", "identities"}, {"host", "a.b"}}));
    ASSERT_EQ(none.answers.size(), 1);
    EXPECT_EQ(none.answers[0],
              (QJsonObject{{"id", "x"}, {"result", "identities"}, {"identities", QJsonArray{}}}))
        << "no file yet";

    QDir().mkpath(container());
    QFile file(identitiesFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(CredentialIdentitiesFile::encode(
        {{"github.com", "Work GitHub", "latest-code"}, {"example.com", "Mail", "latest-code"}}));
    file.close();
    const HostRun found =
        runHost(request({{"id", 1}, {"type", "identities"}, {"host", "Gist.GitHub.com"}}) +
                request({{"id", 2}, {"type", "identities"}, {"host", "notgithub.com"}}));
    ASSERT_EQ(found.answers.size(), 2);
    const QJsonArray identities = found.answers[0].value("identities").toArray();
    ASSERT_EQ(identities.size(), 1);
    EXPECT_EQ(identities[0].toObject(),
              (QJsonObject{{"serviceIdentifier",
                            QJsonObject{{"identifier", "github.com"}, {"type", "domain"}}},
                           {"label", "Work GitHub"},
                           {"recordIdentifier", "latest-code"}}));
    EXPECT_TRUE(found.answers[1].value("identities").toArray().isEmpty());

    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("{\"identities\": [");
    file.close();
    const HostRun damaged = runHost(request({{"id", 3}, {"type", "identities"}, {"host", "a.b"}}));
    ASSERT_EQ(damaged.answers.size(), 1);
    EXPECT_EQ(damaged.answers[0].value("result").toString(), "error");
    EXPECT_TRUE(damaged.answers[0].value("message").toString().startsWith(
        "credential-identities.json is unreadable"));
}

TEST_F(AutoFillHostTest, AnswersBadMessagesWithAnErrorAndGoesOn) {
    const quint32 oversized = FrameReader::maximumFrameSize + 1;
    const QByteArray input = encodeFrame("not json") + request({{"type", "identities"}}) +
                             request({{"id", 9}, {"type", "launchMissiles"}}) +
                             QByteArray(reinterpret_cast<const char*>(&oversized), 4) +
                             QByteArray(oversized, ' ') +
                             request({{"id", 10}, {"type", "identities"}, {"host", "a.b"}});
    const HostRun run = runHost(input);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.answers.size(), 5);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(run.answers[i].value("result").toString(), "error") << i;
        EXPECT_FALSE(run.answers[i].value("message").toString().isEmpty()) << i;
    }
    EXPECT_TRUE(run.answers[0].value("id").isNull());
    EXPECT_TRUE(run.answers[1].value("id").isNull());
    EXPECT_EQ(run.answers[2].value("id").toInt(), 9);
    EXPECT_EQ(run.answers[2].value("message").toString(),
              "unknown request type \"launchMissiles\"");
    EXPECT_TRUE(run.answers[3].value("message").toString().contains("1 MiB"));
    EXPECT_EQ(run.answers[4].value("result").toString(), "identities");
}

TEST_F(AutoFillHostTest, EndsCleanlyAtTheEndOfInputAndComplainsAboutATruncatedMessage) {
    const HostRun empty = runHost({});
    EXPECT_TRUE(empty.finished);
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_TRUE(empty.answers.isEmpty());

    const HostRun truncated = runHost(request({{"id", 1}, {"type", "identities"}}).chopped(3));
    EXPECT_TRUE(truncated.finished);
    EXPECT_EQ(truncated.exitCode, 1);
    EXPECT_TRUE(truncated.answers.isEmpty());
    EXPECT_TRUE(truncated.errors.contains("the input ended inside a message"));
}

TEST_F(AutoFillHostTest, ServesOnlyOurExtensionAndRecordsWhichBrowserConnected) {
    const QByteArray input = request({{"id", 1}, {"type", "identities"}, {"host", "a.b"}});
    for (const QStringList& arguments :
         {QStringList{}, QStringList{"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"},
          QStringList{"/x/manifest.json", "someone-else@example.com"}}) {
        const HostRun refused = runHost(input, arguments);
        EXPECT_EQ(refused.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(refused.answers.isEmpty());
        EXPECT_TRUE(refused.errors.contains("only the Zorvik AutoFill extension"));
    }
    const QString record = records() + "/connected-browsers.json";
    EXPECT_FALSE(QFile::exists(record));
    runHost(encodeFrame("not a request"), {kOrigin});
    EXPECT_FALSE(QFile::exists(record))
        << "only a well-formed request shows the extension is there";

    EXPECT_EQ(runHost(input, {kOrigin}).answers.size(), 1);
    EXPECT_EQ(runHost(input, {home.filePath("manifest.json"), "autofill@zorvik.brontal.net"})
                  .answers.size(),
              1);
    QFile file(record);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject families = QJsonDocument::fromJson(file.readAll()).object();
    EXPECT_EQ(families.keys(), (QStringList{"chromium", "firefox"}));
    EXPECT_EQ(modeOf(record), 0600);
    EXPECT_EQ(modeOf(records()), 0700);
    EXPECT_FALSE(QFile::exists(container() + "/connected-browsers.json"))
        << "not in the container, which is emptied at logout";
}

// The phone first, the browser second: the application registered no identities for the code
// because no browser had connected yet, so the first request must find them all the same.
TEST_F(AutoFillHostTest, ABrowsersFirstRequestFindsTheIdentitiesOfTheCodeHeldBeforeIt) {
    saveCode(60);
    const QByteArray ask = request({{"id", 1}, {"type", "identities"}, {"host", "github.com"}});
    const HostRun first = runHost(ask);
    ASSERT_EQ(first.answers.size(), 1);
    const QJsonArray identities = first.answers[0].value("identities").toArray();
    ASSERT_EQ(identities.size(), 1) << first.errors.toStdString();
    EXPECT_EQ(identities[0].toObject().value("label").toString(),
              QString::fromUtf8("Work GitHub \u00B7 from iPhone"));
    EXPECT_EQ(modeOf(identitiesFile()), 0600);

    // Firefox's first connection finds an expired code: nothing to offer.
    QFile::remove(identitiesFile());
    saveCode(-1);
    runHost(ask, {home.filePath("manifest.json"), "autofill@zorvik.brontal.net"});
    EXPECT_FALSE(QFile::exists(identitiesFile()));
}

TEST_F(AutoFillHostTest, InstallRegistersWithTheBrowsersTheUserHas) {
    QProcess process;
    start(process, {"--install"}, environment());
    HostRun run = collect(process, 10000);
    EXPECT_EQ(run.exitCode, 1) << "no browser at all";
    EXPECT_TRUE(run.errors.contains("No supported browser was found"));

    QDir().mkpath(home.filePath(".config/chromium"));
    QProcess again;
    start(again, {"--install"}, environment());
    ASSERT_TRUE(again.waitForFinished(10000));
    EXPECT_EQ(again.exitCode(), 0);
    const QString output = QString::fromUtf8(again.readAllStandardOutput());
    const QString manifest =
        home.filePath(".config/chromium/NativeMessagingHosts/net.brontal.zorvik.autofill.json");
    EXPECT_TRUE(output.contains("Chromium: wrote " + manifest)) << output.toStdString();
    EXPECT_TRUE(output.contains("Load unpacked"));
    QFile file(manifest);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(file.readAll()).object().value("path").toString(),
              QFileInfo(ZORVIK_AUTOFILL_PATH).canonicalFilePath());

    QProcess remove;
    start(remove, {"--uninstall"}, environment());
    ASSERT_TRUE(remove.waitForFinished(10000));
    EXPECT_EQ(remove.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(manifest));
}

// The panel waits for the user; meanwhile later requests wait, and a browser that goes away
// ends the host without an answer.
TEST_F(AutoFillHostTest, ThePanelWaitsForTheUserUntilTheBrowserGoesAway) {
    REQUIRE_DESKTOP_SESSION();
    QProcessEnvironment environment = this->environment();
    environment.insert("DISPLAY", qEnvironmentVariable("DISPLAY"));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    QProcess process;
    start(process, {kOrigin}, environment);
    process.write(request(provide(1, "prepareInterfaceToProvide")) +
                  request({{"id", 2}, {"type", "identities"}, {"host", "a.b"}}));
    const auto panelShown = [&] {
        const ProcessRun windows =
            runProcess("xdotool", {"search", "--onlyvisible", "--name", "^Zorvik$"});
        return windows.exitCode == 0 && !windows.output.trimmed().isEmpty();
    };
    EXPECT_TRUE(runEventsUntil(panelShown, 10000, 100)) << "the panel window appears";
    EXPECT_EQ(process.bytesAvailable(), 0) << "nothing is answered while the panel waits";
    process.closeWriteChannel();
    const HostRun run = collect(process, 10000);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_TRUE(run.answers.isEmpty());
}

}  // namespace
