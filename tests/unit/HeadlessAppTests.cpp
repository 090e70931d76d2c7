// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "ZorvikMac/Readiness/DiagnosticsReport.h"
#include "ZorvikMac/Readiness/SetupRow.h"
#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "ZorvikMac/Shell/HeadlessApp.h"
#include "tests/support/FakePlatform.h"

namespace {

class HeadlessAppTest : public testing::Test, protected FakePlatform {
protected:
    HeadlessAppTest() {
        app.launch();
        actor.runUntilIdle();
        const Instant now = actor.now();
        app.receiver().setLatest(LatestCode{"Work", "github", "123456", "iPhone",
                                            addingSeconds(now, -1), now, addingSeconds(now, 60)});
    }
    void putOnClipboard(const QString& text) {
        pasteboard.clearContents();
        pasteboard.setString(text, Pasteboard::stringType);
    }

    HeadlessApp app{platform(), BundleInfo{"1.0", "1", "6.1.0", std::nullopt}};
};

TEST_F(HeadlessAppTest, QuittingTakesTheHeldCodeOffTheClipboardOnce) {
    putOnClipboard("123456");
    const long before = pasteboard.changeCount();
    app.applicationWillTerminate();
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), std::nullopt);
    EXPECT_EQ(pasteboard.changeCount(), before + 1);

    putOnClipboard("123456");
    const long again = pasteboard.changeCount();
    app.applicationWillTerminate();
    EXPECT_EQ(pasteboard.changeCount(), again) << "the tidy-up runs once however often it is asked";
}

TEST_F(HeadlessAppTest, QuittingLeavesWhateverElseTheUserCopied) {
    putOnClipboard("1234567");
    const long before = pasteboard.changeCount();
    app.applicationWillTerminate();
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), "1234567");
    EXPECT_EQ(pasteboard.changeCount(), before);
}

// The registration's error reaches the checklist and the report once, with one "Push: ".
TEST_F(HeadlessAppTest, AFailedPushRegistrationNamesThePushOnce) {
    ASSERT_EQ(remote.registrations, 1);
    remote.handlers.didFailToRegister("no network");
    const SetupRow push = setupRows(app.receiver().probe(), actor.now(), QTimeZone::utc())[2];
    EXPECT_EQ(push.kind, SetupRow::Kind::push);
    EXPECT_EQ(push.state, SetupRow::State::failed);
    EXPECT_EQ(push.title, "Push: no network");
    const QString report = diagnosticsText(app.receiver().probe(), app.receiver().info(),
                                           actor.now(), QTimeZone::utc());
    EXPECT_TRUE(report.contains("Push registered: no (no network)")) << report.toStdString();

    remote.handlers.didRegister();
    EXPECT_EQ(app.receiver().probe().pushError, std::nullopt);
}

}  // namespace
