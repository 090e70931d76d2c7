#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "ClipboardPublisher.h"
#include "FakePasteboard.h"
#include "FakeUserNotificationCenter.h"
#include "ManualMainActor.h"
#include "Notifier.h"

namespace {

using AuthorizationStatus = UserNotificationCenter::AuthorizationStatus;
using Request = UserNotificationCenter::Request;

class NotifierTest : public testing::Test {
protected:
    // A code received now that expires `expiresIn` seconds from now.
    LatestCode code(const QString& digits, double expiresIn = 60, const QString& device = "iPhone",
                    const QString& account = "Work GitHub") const {
        return LatestCode{account,
                          "github",
                          digits,
                          device,
                          actor.now(),
                          actor.now(),
                          addingSeconds(actor.now(), expiresIn)};
    }

    // The request as the centre got it for a code, to play responses on.
    Request requestCarrying(const QVariantMap& userInfo) const {
        Request request;
        request.identifier = "latest-code";
        request.content.userInfo = userInfo;
        return request;
    }

    std::optional<NotificationState> askNotificationState() {
        std::optional<NotificationState> answer;
        auto ask = [](Notifier& notifier, std::optional<NotificationState>& into) -> Task<void> {
            into = co_await notifier.notificationState();
        };
        actor.spawn(ask(notifier, answer));
        actor.runUntilIdle();
        return answer;
    }

    ManualMainActor actor;
    FakePasteboard pasteboard;
    ClipboardPublisher clipboard{pasteboard, actor};
    FakeUserNotificationCenter center{actor};
    Notifier notifier{center, actor, clipboard};
};

// --- setUp -------------------------------------------------------------------------------------

TEST_F(NotifierTest, SetUpBecomesTheDelegateAndRegistersOnlyTheCodeCategoryWithCopy) {
    EXPECT_EQ(center.delegate, nullptr);
    notifier.setUp();
    EXPECT_EQ(center.delegate, &notifier);
    const QList<UserNotificationCenter::Category> expected{
        {"net.brontal.zorvik.mac.code", {{"copy", "Copy"}}}};
    EXPECT_EQ(center.categories, expected);
    EXPECT_EQ(center.categoryUpdates, 1);
    EXPECT_EQ(center.pendingAuthorizations.size(), 1u);
}

TEST_F(NotifierTest, AuthorizedIsFalseUntilTheGrantArrives) {
    EXPECT_FALSE(notifier.authorized);
    notifier.setUp();
    actor.runUntilIdle();
    EXPECT_FALSE(notifier.authorized);
    center.answerAuthorization(true);
    actor.runUntilIdle();
    EXPECT_TRUE(notifier.authorized);
}

TEST_F(NotifierTest, DeniedAuthorizationLeavesAuthorizedFalse) {
    notifier.setUp();
    center.answerAuthorization(false);
    actor.runUntilIdle();
    EXPECT_FALSE(notifier.authorized);
}

TEST_F(NotifierTest, AnErrorInTheAnswerIsIgnoredAndTheGrantCounts) {
    notifier.setUp();
    center.answerAuthorization(true, QString("the question failed"));
    actor.runUntilIdle();
    EXPECT_TRUE(notifier.authorized);
}

TEST(NotifierLifetime, AuthorizationAnswerAfterTheNotifierIsGoneIsDropped) {
    ManualMainActor actor;
    FakePasteboard pasteboard;
    ClipboardPublisher clipboard{pasteboard, actor};
    FakeUserNotificationCenter center{actor};
    auto notifier = std::make_unique<Notifier>(center, actor, clipboard);
    notifier->setUp();
    notifier.reset();
    // The notifier no longer answers as delegate; under AddressSanitizer a write to the freed
    // notifier would end the test here.
    EXPECT_EQ(center.delegate, nullptr);
    center.answerAuthorization(true);
    actor.runUntilIdle();
    EXPECT_FALSE(actor.hasQueuedJobs());
}

TEST(NotifierLifetime, RemovalDueAfterTheNotifierIsGoneEndsQuietly) {
    ManualMainActor actor;
    FakePasteboard pasteboard;
    ClipboardPublisher clipboard{pasteboard, actor};
    FakeUserNotificationCenter center{actor};
    auto notifier = std::make_unique<Notifier>(center, actor, clipboard);
    notifier->post(LatestCode{"a", std::nullopt, "123456", "d", actor.now(), actor.now(),
                              addingSeconds(actor.now(), 5)});
    actor.runUntilIdle();
    notifier.reset();
    actor.advance(10);
    EXPECT_TRUE(center.removals.empty());
    EXPECT_EQ(actor.pendingTimers(), 0u);
}

// --- post: what is shown ------------------------------------------------------------------------

TEST_F(NotifierTest, PostShowsAccountDisplayCodeAndDeviceUnderTheLatestCodeIdentifier) {
    notifier.post(code("123456", 60, "Pixel 8", "alice@example.com"));
    ASSERT_EQ(center.added.size(), 1u);
    const Request& request = center.added[0];
    EXPECT_EQ(request.identifier, "latest-code");
    EXPECT_EQ(request.content.title, "alice@example.com");
    EXPECT_EQ(request.content.body, QString::fromUtf8("123 456 \xc2\xb7 from Pixel 8"));
    EXPECT_EQ(request.content.categoryIdentifier, "net.brontal.zorvik.mac.code");
    EXPECT_EQ(request.content.userInfo, (QVariantMap{{"code", "123456"}}));
    EXPECT_EQ(request.content.interruptionLevel,
              UserNotificationCenter::InterruptionLevel::timeSensitive);
    EXPECT_EQ(static_cast<int>(request.content.interruptionLevel), 2);
}

TEST_F(NotifierTest, BodyGroupsEightCharactersAndLeavesFiveAsTheyAre) {
    notifier.post(code("12345678", 60, "iPhone"));
    notifier.post(code("12345", 60, "Watch"));
    ASSERT_EQ(center.added.size(), 2u);
    // The separator is blank, U+00B7 MIDDLE DOT, blank, "from", blank.
    EXPECT_EQ(center.added[0].content.body.toUtf8(), "1234 5678 \xc2\xb7 from iPhone");
    EXPECT_EQ(center.added[1].content.body.toUtf8(), "12345 \xc2\xb7 from Watch");
    // The notification carries the plain code, not the grouped one.
    EXPECT_EQ(center.added[0].content.userInfo.value("code"), QVariant(QString("12345678")));
}

TEST_F(NotifierTest, PostDoesNotWaitForAuthorization) {
    notifier.setUp();
    center.answerAuthorization(false);
    actor.runUntilIdle();
    ASSERT_FALSE(notifier.authorized);
    notifier.post(code("123456"));
    EXPECT_EQ(center.added.size(), 1u);
}

// --- post: removal at expiry
// ----------------------------------------------------------------------

TEST_F(NotifierTest, NotificationIsRemovedWhenTheCodeExpires) {
    notifier.post(code("123456", 30));
    actor.advance(29.999);
    EXPECT_TRUE(center.removals.empty());
    EXPECT_TRUE(center.shown.contains("latest-code"));
    actor.advance(0.001);
    ASSERT_EQ(center.removals.size(), 1u);
    EXPECT_EQ(center.removals[0], QStringList{"latest-code"});
    EXPECT_FALSE(center.shown.contains("latest-code"));
    actor.advance(3600);
    EXPECT_EQ(center.removals.size(), 1u);
}

TEST_F(NotifierTest, CodePastItsExpiryIsRemovedOneSecondAfterPosting) {
    notifier.post(code("123456", -120));
    actor.advance(0.999);
    EXPECT_TRUE(center.removals.empty());
    actor.advance(0.001);
    EXPECT_EQ(center.removals.size(), 1u);
}

TEST_F(NotifierTest, CodeExpiringThisVeryMomentIsRemovedOneSecondAfterPosting) {
    notifier.post(code("123456", 0));
    actor.advance(0.999);
    EXPECT_TRUE(center.removals.empty());
    actor.advance(0.001);
    EXPECT_EQ(center.removals.size(), 1u);
}

TEST_F(NotifierTest, CodeExpiringWithinASecondStaysUpForOneSecond) {
    notifier.post(code("123456", 0.4));
    actor.advance(0.5);
    EXPECT_TRUE(center.removals.empty());
    actor.advance(0.5);
    EXPECT_EQ(center.removals.size(), 1u);
}

TEST_F(NotifierTest, RemovalWaitsOnTheMonotonicClockNotTheWallClock) {
    notifier.post(code("123456", 30));
    // The user sets the clock an hour ahead: the code still has its 30 seconds on screen.
    actor.setWallClock(addingSeconds(actor.now(), 3600));
    actor.advance(29.9);
    EXPECT_TRUE(center.removals.empty());
    actor.advance(0.1);
    EXPECT_EQ(center.removals.size(), 1u);
}

TEST_F(NotifierTest, OlderCodesRemovalLeavesTheNewerCodesNotification) {
    notifier.post(code("111111", 10));
    actor.advance(5);
    notifier.post(code("222222", 30));  // expires at 35 s
    ASSERT_EQ(center.added.size(), 2u);

    actor.advance(5.5);  // past the first code's expiry
    EXPECT_TRUE(center.removals.empty());
    ASSERT_TRUE(center.shown.contains("latest-code"));
    EXPECT_EQ(center.shown.value("latest-code").content.userInfo.value("code"),
              QVariant(QString("222222")));

    actor.advance(24.499);  // 34.999 s
    EXPECT_TRUE(center.removals.empty());
    actor.advance(0.001);  // the newer code's own expiry
    EXPECT_EQ(center.removals.size(), 1u);
    EXPECT_FALSE(center.shown.contains("latest-code"));
    actor.advance(3600);
    EXPECT_EQ(center.removals.size(), 1u);
}

TEST_F(NotifierTest, NewerCodeExpiringFirstIsRemovedAndTheOlderRemovalDoesNothing) {
    notifier.post(code("111111", 30));
    actor.advance(1);
    notifier.post(code("222222", 4));  // expires at 5 s
    actor.advance(4);
    EXPECT_EQ(center.removals.size(), 1u);
    notifier.post(code("333333", 60));  // at 5 s, expires at 65 s
    actor.advance(26);                  // 31 s: the first code's removal has come and gone
    EXPECT_EQ(center.removals.size(), 1u);
    EXPECT_TRUE(center.shown.contains("latest-code"));
    actor.advance(34);  // 65 s
    EXPECT_EQ(center.removals.size(), 2u);
}

TEST_F(NotifierTest, SameCodePostedAgainIsRemovedAtTheLastPostsExpiry) {
    notifier.post(code("123456", 10));
    actor.advance(8);
    notifier.post(code("123456", 10));  // expires at 18 s
    actor.advance(9);
    EXPECT_TRUE(center.removals.empty());
    actor.advance(1);
    EXPECT_EQ(center.removals.size(), 1u);
}

// --- the user's response ----------------------------------------------------------------------

TEST_F(NotifierTest, CopyPutsThePlainCodeOnTheClipboardForNinetySeconds) {
    notifier.setUp();
    center.respond("copy", requestCarrying({{"code", "123456"}}));
    actor.runUntilIdle();
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), "123456");
    EXPECT_TRUE(pasteboard.string(Pasteboard::concealedType).has_value());
    EXPECT_EQ(center.completions, 1);
    actor.advance(89.999);
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), "123456");
    actor.advance(0.001);
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), std::nullopt);
}

TEST_F(NotifierTest, ClickOnTheNotificationCopiesLikeCopy) {
    notifier.setUp();
    center.respond("default", requestCarrying({{"code", "987654"}}));
    actor.runUntilIdle();
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), "987654");
    actor.advance(90);
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), std::nullopt);
}

TEST_F(NotifierTest, CopiedCodeStaysNinetySecondsEvenPastItsExpiry) {
    notifier.setUp();
    notifier.post(code("123456", 5));
    actor.runUntilIdle();
    center.respond("copy", center.added.at(0));
    actor.runUntilIdle();
    actor.advance(60);
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), "123456");
    actor.advance(30);
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), std::nullopt);
}

TEST_F(NotifierTest, DismissalCopiesNothing) {
    notifier.setUp();
    center.respond("dismiss", requestCarrying({{"code", "123456"}}));
    actor.runUntilIdle();
    EXPECT_EQ(pasteboard.count, 0);
    EXPECT_TRUE(pasteboard.entries.isEmpty());
    EXPECT_EQ(center.completions, 1);
}

TEST_F(NotifierTest, ActionIdentifiersAreMatchedExactly) {
    notifier.setUp();
    center.respond("Copy", requestCarrying({{"code", "123456"}}));
    center.respond("copy ", requestCarrying({{"code", "123456"}}));
    center.respond("DEFAULT", requestCarrying({{"code", "123456"}}));
    actor.runUntilIdle();
    EXPECT_EQ(pasteboard.count, 0);
    EXPECT_EQ(center.completions, 3);
}

TEST_F(NotifierTest, ResponseWithoutAStringCodeCopiesNothingAndStillCompletes) {
    notifier.setUp();
    center.respond("copy", requestCarrying({}));
    center.respond("copy", requestCarrying({{"code", 123456}}));
    center.respond("default", requestCarrying({{"other", "123456"}}));
    actor.runUntilIdle();
    EXPECT_EQ(pasteboard.count, 0);
    EXPECT_EQ(center.completions, 3);
}

TEST_F(NotifierTest, CompletionIsCalledAfterTheCopy) {
    notifier.setUp();
    std::optional<QString> onClipboardWhenDone;
    center.respond("copy", requestCarrying({{"code", "123456"}}),
                   [&] { onClipboardWhenDone = pasteboard.string(Pasteboard::stringType); });
    actor.runUntilIdle();
    EXPECT_EQ(onClipboardWhenDone, "123456");
}

TEST_F(NotifierTest, CopyWorksOnTheMainQueueNotInsideTheCallback) {
    bool done = false;
    notifier.didReceive({"copy", requestCarrying({{"code", "123456"}})}, [&] { done = true; });
    EXPECT_FALSE(done);
    EXPECT_EQ(pasteboard.count, 0);
    actor.runUntilIdle();
    EXPECT_TRUE(done);
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), "123456");
}

// --- notificationState ------------------------------------------------------------------------

TEST_F(NotifierTest, NotificationStateMapsTheAuthorizationStatus) {
    const std::pair<int, NotificationState> cases[] = {
        {0, NotificationState::notAsked}, {1, NotificationState::off},
        {2, NotificationState::allowed},  {3, NotificationState::allowed},
        {4, NotificationState::allowed},  {5, NotificationState::off},
        {-1, NotificationState::off},
    };
    for (const auto& [raw, expected] : cases) {
        center.authorizationStatus = static_cast<AuthorizationStatus>(raw);
        EXPECT_EQ(askNotificationState(), expected) << "status " << raw;
    }
    EXPECT_EQ(center.statusQuestions, 7);
}

TEST_F(NotifierTest, NotificationStateAsksTheCentreEachTime) {
    center.authorizationStatus = AuthorizationStatus::notDetermined;
    EXPECT_EQ(askNotificationState(), NotificationState::notAsked);
    center.authorizationStatus = AuthorizationStatus::authorized;
    EXPECT_EQ(askNotificationState(), NotificationState::allowed);
    EXPECT_EQ(center.statusQuestions, 2);
}

}  // namespace
