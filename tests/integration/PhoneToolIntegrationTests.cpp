// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

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
    // What the opened record holds, PhoneToolTest checks; here the code shows it came through.
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

    ASSERT_EQ(phone({"key", "generate", "--force"}).exitCode, 0);
    const ProcessRun wrongKey = phone({"open", "--base64"}, sealed.output);
    EXPECT_EQ(wrongKey.exitCode, 1);
    EXPECT_EQ(
        QString::fromUtf8(wrongKey.errors.trimmed()),
        QString::fromUtf8("The operation couldn\u2019t be completed. (AesGcmError error 2.)"));
}

}  // namespace
