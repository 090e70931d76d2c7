// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "ZorvikMac/CodeDelivery/ClipboardPublisher.h"
#include "ZorvikMac/CodeDelivery/Notifier.h"
#include "tests/support/FakePasteboard.h"
#include "tests/support/FakeUserNotificationCenter.h"
#include "tests/support/ManualMainActor.h"

namespace {

using AuthorizationStatus = UserNotificationCenter::AuthorizationStatus;
using Request = UserNotificationCenter::Request;

struct Peers {
    ManualMainActor actor;
    FakePasteboard pasteboard;
    ClipboardPublisher clipboard{pasteboard, actor};
    FakeUserNotificationCenter center{actor};

    // A code from the Pixel 8, received now, that expires `expiresIn` seconds from now.
    LatestCode code(const QString& digits, double expiresIn) const {
        const Instant at = actor.now();
        return {"Work GitHub", "github", digits, "Pixel 8", at, at, addingSeconds(at, expiresIn)};
    }
};

class NotifierTest : public testing::Test, protected Peers {
protected:
    std::optional<QString> copied() const { return pasteboard.string(Pasteboard::stringType); }

    Notifier notifier{center, actor, clipboard};
};

// Each notifier becomes the delegate, registers only the code category with its Copy action and
// follows the authorization answer once it arrives, whatever error comes with it.
TEST_F(NotifierTest, SetUpRegistersTheCodeCategoryAndAuthorizedFollowsTheAnswer) {
    const QList<UserNotificationCenter::Category> expected{
        {"net.brontal.zorvik.mac.code", {{"copy", "Copy"}}}};
    const std::pair<bool, std::optional<QString>> answers[] = {
        {true, std::nullopt}, {false, std::nullopt}, {true, "the question failed"}};
    for (const auto& [granted, error] : answers) {
        const int updates = center.categoryUpdates;
        Notifier fresh{center, actor, clipboard};
        fresh.setUp();
        EXPECT_EQ(center.delegate, &fresh);
        EXPECT_EQ(center.categories, expected);
        EXPECT_EQ(center.categoryUpdates, updates + 1);
        actor.runUntilIdle();
        EXPECT_FALSE(fresh.authorized) << "before the answer";
        center.answerAuthorization(granted, error);
        actor.runUntilIdle();
        EXPECT_EQ(fresh.authorized, granted);
    }
}

TEST(NotifierLifetime, AnswerAndRemovalDueAfterTheNotifierIsGoneAreDropped) {
    Peers peers;
    auto notifier = std::make_unique<Notifier>(peers.center, peers.actor, peers.clipboard);
    notifier->setUp();
    notifier->post(peers.code("123456", 5));
    notifier.reset();
    EXPECT_EQ(peers.center.delegate, nullptr);
    // Under AddressSanitizer a write to the freed notifier ends the test here.
    peers.center.answerAuthorization(true);
    peers.actor.advance(10);
    EXPECT_TRUE(peers.center.removals.empty());
}

TEST_F(NotifierTest, PostShowsAccountDisplayCodeAndDeviceWithoutWaitingForAuthorization) {
    notifier.setUp();
    center.answerAuthorization(false);
    actor.runUntilIdle();
    notifier.post(code("12345678", 60));
    ASSERT_EQ(center.added.size(), 1u);
    const Request& request = center.added[0];
    EXPECT_EQ(request.identifier, "latest-code");
    EXPECT_EQ(request.content.title, "Work GitHub");
    // The separator is blank, U+00B7 MIDDLE DOT, blank, "from", blank.
    EXPECT_EQ(request.content.body.toUtf8(), "1234 5678 \xc2\xb7 from Pixel 8");
    EXPECT_EQ(request.content.categoryIdentifier, "net.brontal.zorvik.mac.code");
    EXPECT_EQ(request.content.userInfo, (QVariantMap{{"code", "12345678"}}));
    EXPECT_EQ(request.content.interruptionLevel,
              UserNotificationCenter::InterruptionLevel::timeSensitive);
    EXPECT_EQ(request.content.lifetime, 60);
}

// Every post replaces the one notification; only the latest post's removal takes it away, at
// that code's expiry and at least one second after the post, on the monotonic clock. The
// centre is told the same lifetime, for a system that outlives the process.
TEST_F(NotifierTest, NotificationIsRemovedOnlyAtTheLatestPostsExpiry) {
    const struct {
        const char* name;
        std::vector<std::tuple<double, QString, double>> posts;  // at, digits, expires in
        double removedAt;
    } cases[] = {{"at expiry", {{0, "123456", 30}}, 30},
                 {"long expired", {{0, "123456", -120}}, 1},
                 {"expiring within a second", {{0, "123456", 0.4}}, 1},
                 {"older code's removal", {{0, "111111", 10}, {5, "222222", 30}}, 35},
                 {"same code again", {{0, "123456", 10}, {8, "123456", 10}}, 18},
                 {"newer code expiring first", {{0, "111111", 30}, {1, "222222", 4}}, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = center.removals.size();
        double now = 0;
        for (const auto& [at, digits, expiresIn] : c.posts) {
            actor.advance(at - std::exchange(now, at));
            notifier.post(code(digits, expiresIn));
        }
        EXPECT_EQ(center.added.back().content.lifetime, c.removedAt - now);
        // The user sets the clock an hour ahead: the removal still waits.
        actor.setWallClock(addingSeconds(actor.now(), 3600));
        actor.advance(c.removedAt - now - 0.001);
        EXPECT_EQ(center.removals.size(), before);
        EXPECT_EQ(center.shown.value("latest-code").content.userInfo.value("code"),
                  QVariant(std::get<1>(c.posts.back())));
        actor.advance(0.001);
        ASSERT_EQ(center.removals.size(), before + 1);
        EXPECT_EQ(center.removals.back(), QStringList{"latest-code"});
        actor.advance(3600);
        EXPECT_EQ(center.removals.size(), before + 1);
    }
}

// Copy and a click copy the plain code for 90 s, even past its expiry, on the main actor rather
// than inside the centre's callback, before completing; any other action, or a response without
// a string code, copies nothing but still completes.
TEST_F(NotifierTest, CopyAndClickCopyTheCodeForNinetySecondsAndEverythingElseNothing) {
    notifier.setUp();
    notifier.post(code("123456", 5));
    const struct {
        QString action;
        QVariantMap userInfo;
        std::optional<QString> copies;
    } cases[] = {{"copy", {{"code", "123456"}}, "123456"},
                 {"default", {{"code", "987654"}}, "987654"},
                 {"dismiss", {{"code", "123456"}}, std::nullopt},
                 {"Copy", {{"code", "123456"}}, std::nullopt},
                 {"copy ", {{"code", "123456"}}, std::nullopt},
                 {"DEFAULT", {{"code", "123456"}}, std::nullopt},
                 {"copy", {}, std::nullopt},
                 {"copy", {{"code", 123456}}, std::nullopt},
                 {"default", {{"other", "123456"}}, std::nullopt}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        const long writes = pasteboard.count;
        const int completions = center.completions;
        Request request = center.added.at(0);
        request.content.userInfo = c.userInfo;
        std::optional<QString> copiedWhenDone;
        center.respond(c.action, request, [&] { copiedWhenDone = copied(); });
        EXPECT_EQ(pasteboard.count, writes) << "nothing is copied inside the callback";
        actor.runUntilIdle();
        EXPECT_EQ(center.completions, completions + 1);
        EXPECT_EQ(copiedWhenDone, c.copies);
        if (!c.copies) {
            EXPECT_EQ(pasteboard.count, writes);
            continue;
        }
        actor.advance(89.999);
        EXPECT_EQ(copied(), c.copies);
        actor.advance(0.001);
        EXPECT_EQ(copied(), std::nullopt);
    }
}

TEST_F(NotifierTest, NotificationStateAsksTheCentreEachTimeAndMapsTheStatus) {
    const std::pair<int, NotificationState> cases[] = {
        {0, NotificationState::notAsked}, {1, NotificationState::off},
        {2, NotificationState::allowed},  {3, NotificationState::allowed},
        {4, NotificationState::allowed},  {5, NotificationState::noService},
        {6, NotificationState::off},      {-1, NotificationState::off}};
    auto ask = [](Notifier& notifier, std::optional<NotificationState>& into) -> Task<void> {
        into = co_await notifier.notificationState();
    };
    for (const auto& [raw, expected] : cases) {
        center.authorizationStatus = static_cast<AuthorizationStatus>(raw);
        std::optional<NotificationState> answer;
        actor.spawn(ask(notifier, answer));
        actor.runUntilIdle();
        EXPECT_EQ(answer, expected) << "status " << raw;
    }
}

}  // namespace
