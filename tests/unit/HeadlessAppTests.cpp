#include <gtest/gtest.h>

#include "CodeReceiver.h"
#include "FakePlatform.h"
#include "HeadlessApp.h"

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

}  // namespace
