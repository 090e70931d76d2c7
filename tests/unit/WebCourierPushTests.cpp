// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QVariantMap>
#include <optional>
#include <vector>

#include "platform/linux/cloud/CloudWebSession.h"
#include "platform/linux/cloud/WebCourierPush.h"
#include "tests/support/FakeKeychain.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/RecordingSystemLog.h"
#include "tests/support/ScriptedCloudWebTransport.h"

namespace {

using Failure = CloudWebErrors::TransportFailure;
using Transport = ScriptedCloudWebTransport;

QUrl courierAddress(const QString& token, std::optional<int> ttl = 43200) {
    QString address = QStringLiteral("https://courier.example.test:443/aps?tok=") + token;
    if (ttl) {
        address += QStringLiteral("&ttl=%1").arg(*ttl);
    }
    return QUrl(address);
}

// A courier frame as the service sends it for a change to the pending code.
QJsonObject pushFrame(const QString& nid, const QString& subscription) {
    return {{"aps", QJsonObject{{"content-available", 1}}},
            {"ck",
             QJsonObject{
                 {"cid", "iCloud.net.brontal.zorvik"},
                 {"nid", nid},
                 {"qry", QJsonObject{{"rid", "pending-code"}, {"sid", subscription}, {"fo", 2}}}}}};
}

class WebCourierPushTest : public testing::Test {
protected:
    WebCourierPushTest() {
        keychain.items.insert(FakeKeychain::keyOf(CloudWebSession::tokenQuery()), "session");
        push.setHandlers({
            [this] { ++registrations; },
            [this](const QString& error) { registrationFailures.append(error); },
            [this](const QVariantMap& userInfo) { pushes.push_back(userInfo); },
        });
    }

    void startRegistering() {
        push.registerForRemoteNotifications();
        actor.runUntilIdle();
    }
    bool lastIs(const QString& path) const {
        return transport.sentCount() > 0 && transport.last().pathEndsWith(path) &&
               transport.last().isOpen();
    }
    bool pollIsOpen() const {
        return transport.sentCount() > 0 && transport.last().request.method == "GET" &&
               transport.last().isOpen();
    }
    void answerLast(CloudWebResponse response) {
        transport.answerLast(std::move(response));
        actor.runUntilIdle();
    }
    // Answers the open tokens/create with a push token living `ttl` seconds.
    void answerCreate(const QString& token = "0a1b2c", std::optional<int> ttl = 43200) {
        ASSERT_TRUE(lastIs("tokens/create"));
        answerLast(Transport::ok({{"apnsEnvironment", "development"},
                                  {"apnsToken", token},
                                  {"webcourierURL", courierAddress(token, ttl).toString()}}));
    }
    void answerRegister() {
        ASSERT_TRUE(lastIs("tokens/register"));
        answerLast(Transport::ok());
    }
    // Registers from the start and leaves the first long poll open.
    void registerAndPoll(std::optional<int> ttl = 43200) {
        startRegistering();
        answerCreate("0a1b2c", ttl);
        answerRegister();
        ASSERT_TRUE(pollIsOpen());
    }
    void answerPoll(CloudWebResponse response) {
        ASSERT_TRUE(pollIsOpen());
        answerLast(std::move(response));
    }
    // Lets time pass up to `wait` less a hair, and checks nothing was sent meanwhile; then
    // lets the hair pass.
    void expectQuietFor(double wait) {
        const std::size_t sent = transport.sentCount();
        actor.advance(wait - 0.001);
        EXPECT_EQ(transport.sentCount(), sent) << "sent before " << wait << " s had passed";
        actor.advance(0.001);
    }

    ManualMainActor actor;
    FakeKeychain keychain;
    RecordingSystemLog systemLog;
    Transport transport{actor};
    CloudWebSession session{actor, transport, keychain, systemLog,
                            scriptedServiceConfiguration(QStringLiteral("api-token"))};
    // A random source at the middle of its range makes the jitter factor exactly 1.
    WebCourierPush push{
        actor, session, transport, systemLog, WebCourierPush::Timing{}, [] { return 0.5; }};

    int registrations = 0;
    QStringList registrationFailures;
    std::vector<QVariantMap> pushes;
};

TEST_F(WebCourierPushTest, CreatesAndRegistersATokenThenLongPollsTheCourierAddress) {
    push.registerForRemoteNotifications();
    EXPECT_EQ(transport.sentCount(), 0u) << "registering starts from the queue, not inline";
    actor.runUntilIdle();
    EXPECT_EQ(transport.last().request.url.path(),
              "/device/1/iCloud.net.brontal.zorvik/development/tokens/create");
    EXPECT_EQ(transport.last().jsonBody(), (QJsonObject{{"apnsEnvironment", "development"}}));
    answerCreate("feed01", 43200);
    EXPECT_EQ(transport.last().jsonBody(),
              (QJsonObject{{"apnsEnvironment", "development"}, {"apnsToken", "feed01"}}));
    EXPECT_EQ(registrations, 0) << "not registered until tokens/register answered";
    answerRegister();

    EXPECT_EQ(registrations, 1);
    EXPECT_TRUE(registrationFailures.isEmpty());
    EXPECT_TRUE(push.isRegisteredForRemoteNotifications());
    ASSERT_EQ(transport.sentCount(), 3u);
    const CloudWebRequest& poll = transport.last().request;
    EXPECT_EQ(poll.method, "GET");
    // Exactly the address the service gave: no API token, no session token added.
    EXPECT_EQ(poll.url, courierAddress("feed01"));
    EXPECT_TRUE(poll.body.isEmpty());
}

TEST_F(WebCourierPushTest, OnlyAnHttpsCourierIsPolled) {
    startRegistering();
    ASSERT_TRUE(lastIs("tokens/create"));
    answerLast(Transport::ok({{"apnsToken", "0a1b2c"},
                              {"webcourierURL", "http://webcourier.example.test/aps?tok=0a1b2c"}}));
    EXPECT_EQ(registrationFailures,
              QStringList{"iCloud's answer to tokens/create has a push courier address that is "
                          "not https"});
    EXPECT_EQ(transport.sentCount(), 1u) << "registered or polled a plain http courier";
    EXPECT_FALSE(push.isRegisteredForRemoteNotifications());
}

TEST_F(WebCourierPushTest, WithoutASessionItFailsToRegisterAndSendsNothing) {
    keychain.items.clear();
    startRegistering();
    EXPECT_EQ(registrationFailures, QStringList{"not signed in to iCloud"});
    EXPECT_FALSE(push.isRegisteredForRemoteNotifications());
    actor.advance(600);
    EXPECT_EQ(transport.sentCount(), 0u);
    EXPECT_EQ(registrationFailures.size(), 1) << "the same failure is reported once";
}

TEST_F(WebCourierPushTest, FailedRegistrationsBackOffAndASuccessStartsTheBackoffAgain) {
    startRegistering();
    // A service that asks to retry later is waited for exactly.
    answerLast(Transport::withStatus(
        503, R"({"serverErrorCode":"TRY_AGAIN_LATER","reason":"later","retryAfter":7})"));
    ASSERT_EQ(registrationFailures.size(), 1);
    EXPECT_TRUE(registrationFailures[0].contains("TRY_AGAIN_LATER"));
    expectQuietFor(7);
    for (const double wait : {2, 4}) {
        SCOPED_TRACE(wait);
        ASSERT_TRUE(lastIs("tokens/create"));
        answerLast(Transport::failed(Failure::hostNotFound));
        expectQuietFor(wait);
    }
    EXPECT_EQ(registrationFailures.size(), 1) << "a failure that repeats is reported once";

    // The service is back: the courier's first hiccup after that waits the first step.
    answerCreate();
    answerRegister();
    answerPoll(Transport::failed(Failure::connectionClosed));
    expectQuietFor(1);
    EXPECT_TRUE(pollIsOpen());
}

TEST_F(WebCourierPushTest, HandsOnEveryFrameAndPollsAgain) {
    registerAndPoll();
    // One change matching two subscriptions: two frames with the same nid, both wanted.
    answerPoll(Transport::ok(pushFrame("n-1", "sub-a")));
    answerPoll(Transport::ok(pushFrame("n-1", "sub-b")));
    answerPoll(Transport::ok(pushFrame("n-2", "sub-a")));
    EXPECT_TRUE(pollIsOpen());

    // Each frame is the push's user info as it came.
    EXPECT_EQ(pushes, (std::vector<QVariantMap>{pushFrame("n-1", "sub-a").toVariantMap(),
                                                pushFrame("n-1", "sub-b").toVariantMap(),
                                                pushFrame("n-2", "sub-a").toVariantMap()}));
    EXPECT_EQ(transport.sentCount(), 6u) << "one poll after each frame, and no new token";
}

TEST_F(WebCourierPushTest, HowAPollEndsDecidesWhenAndWhereToPollAgain) {
    registerAndPoll();
    const struct {
        const char* name;
        CloudWebResponse response;
        double wait;
    } rows[]{
        {"keep-alive", Transport::withStatus(200, ""), 0},
        {"long poll timed out", Transport::failed(Failure::timedOut), 0},
        {"frame that is no JSON object", Transport::withStatus(200, "[1,2]"), 1},
        {"courier's server error, not the token's", Transport::withStatus(503, "busy"), 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        answerPoll(row.response);
        EXPECT_EQ(pollIsOpen(), row.wait == 0) << "polled again at once";
        if (row.wait > 0) {
            expectQuietFor(row.wait);
        }
        ASSERT_TRUE(pollIsOpen());
        EXPECT_EQ(transport.last().request.url, courierAddress("0a1b2c"));
        // A keep-alive is a success: the next failure waits the first step again.
        answerPoll(Transport::withStatus(200, ""));
    }
    EXPECT_TRUE(pushes.empty());

    // A client error means the push token is spent: a new one after the backoff.
    answerPoll(Transport::withStatus(404, ""));
    expectQuietFor(1);
    answerCreate("beef02");
    answerRegister();
    ASSERT_TRUE(pollIsOpen());
    EXPECT_EQ(transport.last().request.url, courierAddress("beef02"));
    EXPECT_EQ(registrations, 1) << "nothing failed that was reported";
}

TEST_F(WebCourierPushTest, FailedPollsBackOffExponentiallyUpToAMinute) {
    registerAndPoll();
    for (const double wait : {1, 2, 4, 8, 16, 32, 60, 60}) {
        SCOPED_TRACE(wait);
        answerPoll(Transport::failed(Failure::connectionClosed));
        expectQuietFor(wait);
        ASSERT_TRUE(pollIsOpen()) << "the same courier address is polled again";
    }
    EXPECT_EQ(transport.last().request.url, courierAddress("0a1b2c"));

    // A frame is a success: the next failure waits the first step again.
    answerPoll(Transport::ok(pushFrame("n-1", "sub-a")));
    answerPoll(Transport::failed(Failure::noNetwork));
    expectQuietFor(1);
    EXPECT_TRUE(pollIsOpen());
}

TEST_F(WebCourierPushTest, BackoffHasJitterAndHonoursRetryAfter) {
    double next = 0;
    WebCourierPush jittered(actor, session, transport, systemLog, WebCourierPush::Timing{},
                            [&next] { return next; });
    // The lowest draw waits 80 % of the step, one near the top almost 120 %, never past 60 s.
    EXPECT_DOUBLE_EQ(jittered.backoff(1, std::nullopt), 0.8);
    EXPECT_DOUBLE_EQ(jittered.backoff(3, std::nullopt), 3.2);
    EXPECT_DOUBLE_EQ(jittered.backoff(7, std::nullopt), 48);
    next = 0.999;
    EXPECT_NEAR(jittered.backoff(1, std::nullopt), 1.2, 0.001);
    EXPECT_NEAR(jittered.backoff(5, std::nullopt), 19.2, 0.02);
    EXPECT_DOUBLE_EQ(jittered.backoff(7, std::nullopt), 60) << "the jitter stays under the cap";
    EXPECT_DOUBLE_EQ(jittered.backoff(5000, std::nullopt), 60) << "no overflow far out";
    // The service's own wait is kept exactly, without jitter.
    EXPECT_DOUBLE_EQ(jittered.backoff(1, 7.0), 7);
    EXPECT_DOUBLE_EQ(jittered.backoff(9, 0.5), 0.5);
}

TEST_F(WebCourierPushTest, RenewsThePushTokenATenthOfItsLifeAtMostTenMinutesBeforeItEnds) {
    registerAndPoll(/*ttl=*/100);
    const std::size_t firstPoll = transport.sentCount() - 1;
    expectQuietFor(90);
    EXPECT_TRUE(transport.wasCancelled(firstPoll)) << "the renewal does not wait for the poll";
    // The renewal fails: that is news, reported once.
    answerLast(Transport::withStatus(500, "oops"));
    EXPECT_EQ(registrationFailures.size(), 1);
    EXPECT_FALSE(push.isRegisteredForRemoteNotifications());
    // The retry succeeds: registered again, and that is news too.
    actor.advance(1);
    answerCreate("beef02", 43200);
    answerRegister();
    EXPECT_EQ(registrations, 2);
    EXPECT_TRUE(push.isRegisteredForRemoteNotifications());
    ASSERT_TRUE(pollIsOpen());
    EXPECT_EQ(transport.last().request.url, courierAddress("beef02"));

    expectQuietFor(43200 - 600);
    // A token without a lifetime is taken to live twelve hours.
    answerCreate("cafe03", std::nullopt);
    answerRegister();
    EXPECT_EQ(registrations, 2) << "still registered: nothing to report";
    expectQuietFor(43200 - 600);
    EXPECT_TRUE(lastIs("tokens/create"));
}

TEST_F(WebCourierPushTest, UnregisteringEndsThePollAndRegisteringAgainStartsAfresh) {
    registerAndPoll();
    const std::size_t poll = transport.sentCount() - 1;
    push.unregister();
    EXPECT_TRUE(transport.wasCancelled(poll));
    EXPECT_FALSE(push.isRegisteredForRemoteNotifications());
    // A renewal timer left behind would wake the process hours later for nothing.
    EXPECT_EQ(actor.pendingTimers(), 0u);
    // A frame that was on its way when the poll was cancelled.
    transport.answer(poll, Transport::ok(pushFrame("n-1", "s")));
    actor.runUntilIdle();
    actor.advance(86400);
    EXPECT_TRUE(pushes.empty());
    EXPECT_EQ(transport.sentCount(), poll + 1) << "no poll and no renewal after unregistering";

    startRegistering();
    answerCreate("beef02");
    answerRegister();
    EXPECT_EQ(registrations, 2) << "a new registration is reported like the first";
    startRegistering();
    EXPECT_EQ(registrations, 2);
    answerPoll(Transport::ok(pushFrame("n-9", "s")));
    ASSERT_EQ(pushes.size(), 1u);
    EXPECT_EQ(pushes[0], pushFrame("n-9", "s").toVariantMap());
    EXPECT_EQ(transport.openCount(), 1u) << "one poll, not one per registration";
}

TEST_F(WebCourierPushTest, UnregisteringDuringABackoffOrATokensCreationSendsNothingMore) {
    registerAndPoll();
    answerPoll(Transport::failed(Failure::connectionRefused));
    push.unregister();
    actor.advance(3600);
    EXPECT_EQ(transport.sentCount(), 3u) << "a retry after unregistering";

    startRegistering();
    push.unregister();
    answerCreate();
    actor.advance(3600);
    EXPECT_EQ(transport.sentCount(), 4u) << "no tokens/register for a stopped registration";
    EXPECT_EQ(registrations, 1);
}

TEST_F(WebCourierPushTest, DestroyingThePushCancelsItsPollThatStaysOpenAsLongAsConfigured) {
    WebCourierPush::Timing timing;
    timing.pollTimeout = 240;
    auto owned = std::make_unique<WebCourierPush>(actor, session, transport, systemLog, timing,
                                                  [] { return 0.5; });
    owned->registerForRemoteNotifications();
    actor.runUntilIdle();
    answerCreate();
    answerRegister();
    ASSERT_TRUE(pollIsOpen());
    EXPECT_EQ(transport.last().request.timeoutSeconds, 240);
    const std::size_t poll = transport.sentCount() - 1;
    owned.reset();
    EXPECT_TRUE(transport.wasCancelled(poll));
    actor.advance(86400);
    EXPECT_EQ(transport.sentCount(), poll + 1);
}

}  // namespace
