#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "SessionEnvironment.h"
#include "SessionProcess.h"

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

TEST_F(PhoneToolIntegration, KeyInTheKeychainSealsAndOpensAcrossProcesses) {
    ASSERT_EQ(phone({"key", "generate"}).exitCode, 0);
    const ProcessRun sealed = phone({"seal", "--account", "Work", "--code", "123456", "--service",
                                     "github", "--ttl", "60", "--base64"});
    ASSERT_EQ(sealed.exitCode, 0) << sealed.errors.toStdString();
    const ProcessRun opened = phone({"open", "--base64"}, sealed.output);
    ASSERT_EQ(opened.exitCode, 0) << opened.errors.toStdString();
    const QJsonObject record = QJsonDocument::fromJson(opened.output).object();
    EXPECT_EQ(record.value("code").toString(), "123456");
    EXPECT_EQ(record.value("serviceID").toString(), "github");
    EXPECT_EQ(record.value("fromDevice").toString(), "iPhone");

    // Another key cannot open it.
    ASSERT_EQ(phone({"key", "generate", "--force"}).exitCode, 0);
    const ProcessRun wrongKey = phone({"open", "--base64"}, sealed.output);
    EXPECT_EQ(wrongKey.exitCode, 1);
    EXPECT_EQ(
        QString::fromUtf8(wrongKey.errors.trimmed()),
        QString::fromUtf8("The operation couldn\u2019t be completed. (AesGcmError error 2.)"));
}

TEST_F(PhoneToolIntegration, OpenedCodeIsSavedOwnerOnlyInTheSharedContainer) {
    ASSERT_EQ(phone({"key", "generate"}).exitCode, 0);
    const ProcessRun sealed = phone({"seal", "--account", "Bank", "--code", "7654321", "--base64"});
    const ProcessRun opened = phone({"open", "--base64"}, sealed.output);
    const ProcessRun saved = latest({"save"}, opened.output);
    ASSERT_EQ(saved.exitCode, 0) << saved.errors.toStdString();
    const ProcessRun shown = latest({"show"});
    EXPECT_TRUE(shown.output.contains("mode: 0600")) << shown.output.toStdString();
    EXPECT_TRUE(shown.output.contains("shown as: 7654 321")) << shown.output.toStdString();
    EXPECT_TRUE(shown.output.contains("valid for")) << shown.output.toStdString();
    EXPECT_TRUE(shown.output.contains(qEnvironmentVariable("XDG_RUNTIME_DIR").toUtf8() +
                                      "/app/K8QW41TR7N.net.brontal.zorvik.mac/latest-code.json"));
    ASSERT_EQ(latest({"clear"}).exitCode, 0);
    EXPECT_TRUE(latest({"show"}).output.contains("no latest code"));
}

}  // namespace
