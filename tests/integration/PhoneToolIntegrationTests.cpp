#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "tests/support/SessionEnvironment.h"
#include "tests/support/SessionProcess.h"

namespace {

ProcessRun phone(const QStringList& arguments, const QByteArray& input = {}) {
    return runProcess(ZORVIK_PHONE_PATH, arguments, 20000, input);
}

ProcessRun latest(const QStringList& arguments, const QByteArray& input = {}) {
    return runProcess(ZORVIK_LATEST_PATH, arguments, 20000, input);
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

// The key lives in the session's keyring between the processes; the opened code is saved
// owner-only in the shared container, where the AutoFill helper reads it.
TEST_F(PhoneToolIntegration, KeyInTheKeychainSealsAndOpensAcrossProcessesAndTheCodeIsSaved) {
    ASSERT_EQ(phone({"key", "generate"}).exitCode, 0);
    const ProcessRun sealed = phone({"seal", "--account", "Work", "--code", "7654321", "--service",
                                     "github", "--ttl", "60", "--base64"});
    ASSERT_EQ(sealed.exitCode, 0) << sealed.errors.toStdString();
    const ProcessRun opened = phone({"open", "--base64"}, sealed.output);
    ASSERT_EQ(opened.exitCode, 0) << opened.errors.toStdString();
    const QJsonObject record = QJsonDocument::fromJson(opened.output).object();
    EXPECT_EQ(record.value("code").toString(), "7654321");
    EXPECT_EQ(record.value("serviceID").toString(), "github");
    EXPECT_EQ(record.value("fromDevice").toString(), "iPhone");

    const ProcessRun saved = latest({"save"}, opened.output);
    ASSERT_EQ(saved.exitCode, 0) << saved.errors.toStdString();
    const QByteArray shown = latest({"show"}).output;
    for (const QByteArray& line :
         {QByteArray("mode: 0600"), QByteArray("shown as: 7654 321"), QByteArray("valid for"),
          qEnvironmentVariable("XDG_RUNTIME_DIR").toUtf8() +
              "/app/K8QW41TR7N.net.brontal.zorvik.mac/latest-code.json"}) {
        EXPECT_TRUE(shown.contains(line)) << shown.toStdString();
    }
    ASSERT_EQ(latest({"clear"}).exitCode, 0);
    EXPECT_TRUE(latest({"show"}).output.contains("no latest code"));

    // Another key cannot open it.
    ASSERT_EQ(phone({"key", "generate", "--force"}).exitCode, 0);
    const ProcessRun wrongKey = phone({"open", "--base64"}, sealed.output);
    EXPECT_EQ(wrongKey.exitCode, 1);
    EXPECT_EQ(
        QString::fromUtf8(wrongKey.errors.trimmed()),
        QString::fromUtf8("The operation couldn\u2019t be completed. (AesGcmError error 2.)"));
}

}  // namespace
