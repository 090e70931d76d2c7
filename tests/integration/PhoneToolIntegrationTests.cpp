#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "SessionEnvironment.h"

namespace {

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Outcome runTool(const char* program, const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(20000)) {
        return {};
    }
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

Outcome phone(const QStringList& arguments, const QByteArray& input = {}) {
    return runTool(ZORVIK_PHONE_PATH, arguments, input);
}

class PhoneToolIntegration : public testing::Test {
protected:
    void SetUp() override {
        REQUIRE_DESKTOP_SESSION();
        phone({"key", "delete"});
    }
    void TearDown() override {
        if (insideDesktopSession()) {
            phone({"key", "delete"});
        }
    }
};

TEST_F(PhoneToolIntegration, KeyInTheKeychainSealsAndOpensAcrossProcesses) {
    ASSERT_EQ(phone({"key", "generate"}).exitCode, 0);
    const Outcome sealed = phone({"seal", "--account", "Work", "--code", "123456", "--service",
                                  "github", "--ttl", "60", "--base64"});
    ASSERT_EQ(sealed.exitCode, 0) << sealed.err.toStdString();
    const Outcome opened = phone({"open", "--base64"}, sealed.out);
    ASSERT_EQ(opened.exitCode, 0) << opened.err.toStdString();
    const QJsonObject record = QJsonDocument::fromJson(opened.out).object();
    EXPECT_EQ(record.value("code").toString(), "123456");
    EXPECT_EQ(record.value("serviceID").toString(), "github");
    EXPECT_EQ(record.value("fromDevice").toString(), "iPhone");

    // Another key cannot open it.
    ASSERT_EQ(phone({"key", "generate", "--force"}).exitCode, 0);
    const Outcome wrongKey = phone({"open", "--base64"}, sealed.out);
    EXPECT_EQ(wrongKey.exitCode, 1);
    EXPECT_EQ(
        QString::fromUtf8(wrongKey.err.trimmed()),
        QString::fromUtf8("The operation couldn\u2019t be completed. (AesGcmError error 2.)"));
}

TEST_F(PhoneToolIntegration, OpenedCodeIsSavedOwnerOnlyInTheSharedContainer) {
    ASSERT_EQ(phone({"key", "generate"}).exitCode, 0);
    const Outcome sealed = phone({"seal", "--account", "Bank", "--code", "7654321", "--base64"});
    const Outcome opened = phone({"open", "--base64"}, sealed.out);
    const Outcome saved = runTool(ZORVIK_LATEST_PATH, {"save"}, opened.out);
    ASSERT_EQ(saved.exitCode, 0) << saved.err.toStdString();
    const Outcome shown = runTool(ZORVIK_LATEST_PATH, {"show"});
    EXPECT_TRUE(shown.out.contains("mode: 0600")) << shown.out.toStdString();
    EXPECT_TRUE(shown.out.contains("shown as: 7654 321")) << shown.out.toStdString();
    EXPECT_TRUE(shown.out.contains("valid for")) << shown.out.toStdString();
    EXPECT_TRUE(shown.out.contains(qEnvironmentVariable("XDG_RUNTIME_DIR").toUtf8() +
                                   "/app/K8QW41TR7N.net.brontal.zorvik.mac/latest-code.json"));
    ASSERT_EQ(runTool(ZORVIK_LATEST_PATH, {"clear"}).exitCode, 0);
    EXPECT_TRUE(runTool(ZORVIK_LATEST_PATH, {"show"}).out.contains("no latest code"));
}

}  // namespace
