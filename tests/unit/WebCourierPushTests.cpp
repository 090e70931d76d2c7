#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QVariantMap>
#include <optional>
#include <vector>

#include "CloudWebSession.h"
#include "FakeKeychain.h"
#include "ManualMainActor.h"
#include "RecordingSystemLog.h"
#include "ScriptedCloudWebTransport.h"
#include "WebCourierPush.h"

namespace {

using Exchange = ScriptedCloudWebTransport::Exchange;
using Failure = CloudWebErrors::TransportFailure;
using Transport = ScriptedCloudWebTransport;

QString courierAddress(const QString& token, std::optional<int> ttl) {
    QString address = QStringLiteral("https://courier.example.test:443/aps?tok=") + token;
    if (ttl) {
        address += QStringLiteral("&ttl=%1").arg(*ttl);
    }
    return address;
}

QJsonObject createdToken(const QString& token, std::optional<int> ttl) {
    return {{QStringLiteral("apnsEnvironment"), QStringLiteral("development")},
            {QStringLiteral("apnsToken"), token},
            {QStringLiteral("webcourierURL"), courierAddress(token, ttl)}};
}

// A courier frame as the service sends it for a change to the pending code.
QJsonObject pushFrame(const QString& nid, const QString& subscription) {
    return {{QStringLiteral("aps"), QJsonObject{{QStringLiteral("content-available"), 1}}},
            {QStringLiteral("ck"),
             QJsonObject{{QStringLiteral("cid"), QStringLiteral("iCloud.net.brontal.zorvik")},
                         {QStringLiteral("nid"), nid},
                         {QStringLiteral("qry"),
                          QJsonObject{{QStringLiteral("rid"), QStringLiteral("pending-code")},
                                      {QStringLiteral("sid"), subscription},
                                      {QStringLiteral("fo"), 2}}}}}};
}

QString nidOf(const QVariantMap& userInfo) {
    return userInfo.value(QStringLiteral("ck")).toMap().value(QStringLiteral("nid")).toString();
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

    bool lastIs(const QString& path) const {
        return transport.sentCount() > 0 && transport.last().pathEndsWith(path) &&
               transport.last().isOpen();
    }
    bool pollIsOpen() const {
        return transport.sentCount() > 0 && transport.last().request.method == "GET" &&
               transport.last().isOpen();
    }

    // Answers the open tokens/create with a push token living `ttl` seconds.
    void answerCreate(const QString& token = QStringLiteral("0a1b2c"),
                      std::optional<int> ttl = 43200) {
        ASSERT_TRUE(lastIs(QStringLiteral("tokens/create")));
        transport.answerLast(Transport::ok(createdToken(token, ttl)));
        actor.runUntilIdle();
    }
    void answerRegister() {
        ASSERT_TRUE(lastIs(QStringLiteral("tokens/register")));
        transport.answerLast(Transport::ok());
        actor.runUntilIdle();
    }
    // Registers from the start and leaves the first long poll open.
    void registerAndPoll(std::optional<int> ttl = 43200) {
        push.registerForRemoteNotifications();
        actor.runUntilIdle();
        answerCreate(QStringLiteral("0a1b2c"), ttl);
        answerRegister();
        ASSERT_TRUE(pollIsOpen());
    }
    void answerPoll(CloudWebResponse response) {
        ASSERT_TRUE(pollIsOpen());
        transport.answerLast(std::move(response));
        actor.runUntilIdle();
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

// --- Registering --------------------------------------------------------------------------

TEST_F(WebCourierPushTest, CreatesAndRegistersATokenThenLongPollsTheCourierAddress) {
    push.registerForRemoteNotifications();
    EXPECT_EQ(transport.sentCount(), 0u) << "registering starts from the queue, not inline";
    actor.runUntilIdle();
    ASSERT_TRUE(lastIs(QStringLiteral("tokens/create")));
    EXPECT_EQ(transport.last().request.url.path(),
              QStringLiteral("/device/1/iCloud.net.brontal.zorvik/development/tokens/create"));
    EXPECT_EQ(transport.last().jsonBody(),
              (QJsonObject{{QStringLiteral("apnsEnvironment"), QStringLiteral("development")}}));
    answerCreate(QStringLiteral("feed01"), 43200);

    ASSERT_TRUE(lastIs(QStringLiteral("tokens/register")));
    EXPECT_EQ(transport.last().jsonBody(),
              (QJsonObject{{QStringLiteral("apnsEnvironment"), QStringLiteral("development")},
                           {QStringLiteral("apnsToken"), QStringLiteral("feed01")}}));
    EXPECT_EQ(registrations, 0) << "not registered until tokens/register answered";
    answerRegister();

    EXPECT_EQ(registrations, 1);
    EXPECT_TRUE(registrationFailures.isEmpty());
    EXPECT_TRUE(push.isRegisteredForRemoteNotifications());
    ASSERT_EQ(transport.sentCount(), 3u);
    const CloudWebRequest& poll = transport.last().request;
    EXPECT_EQ(poll.method, "GET");
    // Exactly the address the service gave: no API token, no session token added.
    EXPECT_EQ(poll.url, QUrl(courierAddress(QStringLiteral("feed01"), 43200)));
    EXPECT_TRUE(poll.body.isEmpty());
    EXPECT_EQ(poll.timeoutSeconds, WebCourierPush::Timing{}.pollTimeout);
}

TEST_F(WebCourierPushTest, ThePollStaysOpenAsLongAsTheConfiguredTimeout) {
    WebCourierPush::Timing timing;
    timing.pollTimeout = 240;
    WebCourierPush custom(actor, session, transport, systemLog, timing, [] { return 0.5; });
    custom.registerForRemoteNotifications();
    actor.runUntilIdle();
    answerCreate();
    answerRegister();
    ASSERT_TRUE(pollIsOpen());
    EXPECT_EQ(transport.last().request.timeoutSeconds, 240);
}

TEST_F(WebCourierPushTest, WithoutASessionItFailsToRegisterAndSendsNothing) {
    keychain.items.clear();
    push.registerForRemoteNotifications();
    actor.runUntilIdle();
    EXPECT_EQ(registrationFailures, QStringList{QStringLiteral("not signed in to iCloud")});
    EXPECT_EQ(registrations, 0);
    EXPECT_FALSE(push.isRegisteredForRemoteNotifications());
    actor.advance(600);
    EXPECT_EQ(transport.sentCount(), 0u);
    EXPECT_EQ(registrationFailures.size(), 1) << "the same failure is reported once";
}

TEST_F(WebCourierPushTest, RegisteringTwiceKeepsOnePoll) {
    registerAndPoll();
    push.registerForRemoteNotifications();
    actor.runUntilIdle();
    EXPECT_EQ(transport.sentCount(), 3u);
    EXPECT_EQ(transport.openCount(), 1u);
    EXPECT_EQ(registrations, 1);
}

// --- Frames -------------------------------------------------------------------------------

TEST_F(WebCourierPushTest, HandsOnEveryFrameAndPollsAgain) {
    registerAndPoll();
    // One change matching two subscriptions: two frames with the same nid, both wanted.
    answerPoll(Transport::ok(pushFrame(QStringLiteral("n-1"), QStringLiteral("sub-a"))));
    EXPECT_TRUE(pollIsOpen());
    answerPoll(Transport::ok(pushFrame(QStringLiteral("n-1"), QStringLiteral("sub-b"))));
    EXPECT_TRUE(pollIsOpen());
    answerPoll(Transport::ok(pushFrame(QStringLiteral("n-2"), QStringLiteral("sub-a"))));

    ASSERT_EQ(pushes.size(), 3u);
    EXPECT_EQ(nidOf(pushes[0]), QStringLiteral("n-1"));
    EXPECT_EQ(nidOf(pushes[1]), QStringLiteral("n-1"));
    EXPECT_EQ(nidOf(pushes[2]), QStringLiteral("n-2"));
    // The frame is the push's user info as it came.
    EXPECT_EQ(pushes[1], pushFrame(QStringLiteral("n-1"), QStringLiteral("sub-b")).toVariantMap());
    const auto notification = CloudNotification::fromRemoteNotification(pushes[0]);
    ASSERT_TRUE(notification);
    EXPECT_EQ(notification->recordName, QStringLiteral("pending-code"));
    EXPECT_EQ(transport.sentCount(), 6u) << "one poll after each frame, and no new token";
}

TEST_F(WebCourierPushTest, AnEmptyAnswerOrATimedOutPollPollsAgainAtOnce) {
    registerAndPoll();
    answerPoll(Transport::withStatus(200, ""));
    EXPECT_EQ(transport.sentCount(), 4u);
    EXPECT_TRUE(pollIsOpen());
    answerPoll(Transport::failed(Failure::timedOut));
    EXPECT_EQ(transport.sentCount(), 5u);
    EXPECT_TRUE(pollIsOpen());
    EXPECT_TRUE(pushes.empty());
    EXPECT_EQ(actor.monotonicSeconds(), 0) << "no wait was needed";
}

TEST_F(WebCourierPushTest, AFrameThatIsNoJsonObjectIsDroppedAndBacksOff) {
    registerAndPoll();
    answerPoll(Transport::withStatus(200, "[1,2]"));
    EXPECT_TRUE(pushes.empty());
    expectQuietFor(1);
    EXPECT_TRUE(pollIsOpen());
    EXPECT_EQ(transport.sentCount(), 4u);
}

// --- Backing off --------------------------------------------------------------------------

TEST_F(WebCourierPushTest, FailedPollsBackOffExponentiallyUpToAMinute) {
    registerAndPoll();
    for (const double wait : {1, 2, 4, 8, 16, 32, 60, 60}) {
        SCOPED_TRACE(wait);
        answerPoll(Transport::failed(Failure::connectionClosed));
        expectQuietFor(wait);
        ASSERT_TRUE(pollIsOpen()) << "the same courier address is polled again";
    }
    EXPECT_EQ(transport.last().request.url, QUrl(courierAddress(QStringLiteral("0a1b2c"), 43200)));

    // A frame is a success: the next failure waits the first step again.
    answerPoll(Transport::ok(pushFrame(QStringLiteral("n-1"), QStringLiteral("sub-a"))));
    answerPoll(Transport::failed(Failure::noNetwork));
    expectQuietFor(1);
    EXPECT_TRUE(pollIsOpen());
}

TEST_F(WebCourierPushTest, AServerErrorFromTheCourierKeepsTheToken) {
    registerAndPoll();
    answerPoll(Transport::withStatus(503, "busy"));
    expectQuietFor(1);
    ASSERT_TRUE(pollIsOpen()) << "a 5xx is the courier's trouble, not the token's";
    EXPECT_EQ(transport.sentCount(), 4u);
}

TEST_F(WebCourierPushTest, AClientErrorFromTheCourierGetsANewTokenAfterTheBackoff) {
    registerAndPoll();
    answerPoll(Transport::withStatus(404, ""));
    expectQuietFor(1);
    ASSERT_TRUE(lastIs(QStringLiteral("tokens/create")));
    answerCreate(QStringLiteral("beef02"));
    answerRegister();
    ASSERT_TRUE(pollIsOpen());
    EXPECT_EQ(transport.last().request.url, QUrl(courierAddress(QStringLiteral("beef02"), 43200)));
    EXPECT_EQ(registrations, 1) << "nothing failed that was reported";
}

TEST_F(WebCourierPushTest, AServiceThatAsksToRetryLaterIsWaitedForExactly) {
    push.registerForRemoteNotifications();
    actor.runUntilIdle();
    ASSERT_TRUE(lastIs(QStringLiteral("tokens/create")));
    transport.answerLast(Transport::withStatus(
        503, R"({"serverErrorCode":"TRY_AGAIN_LATER","reason":"later","retryAfter":7})"));
    actor.runUntilIdle();
    ASSERT_EQ(registrationFailures.size(), 1);
    EXPECT_TRUE(registrationFailures[0].contains(QStringLiteral("TRY_AGAIN_LATER")));
    expectQuietFor(7);
    EXPECT_TRUE(lastIs(QStringLiteral("tokens/create")));
}

TEST_F(WebCourierPushTest, FailedRegistrationsBackOffToo) {
    push.registerForRemoteNotifications();
    actor.runUntilIdle();
    for (const double wait : {1, 2, 4}) {
        SCOPED_TRACE(wait);
        ASSERT_TRUE(lastIs(QStringLiteral("tokens/create")));
        transport.answerLast(Transport::failed(Failure::hostNotFound));
        actor.runUntilIdle();
        expectQuietFor(wait);
    }
    EXPECT_TRUE(lastIs(QStringLiteral("tokens/create")));
    EXPECT_EQ(registrationFailures.size(), 1) << "a failure that repeats is reported once";
}

TEST_F(WebCourierPushTest, ASuccessfulRegistrationStartsTheBackoffAgain) {
    // Three failed tries, then the service is back: the courier's first hiccup after that
    // waits the first step, not the fourth.
    push.registerForRemoteNotifications();
    actor.runUntilIdle();
    for (const double wait : {1, 2, 4}) {
        transport.answerLast(Transport::failed(Failure::noNetwork));
        actor.runUntilIdle();
        actor.advance(wait);
    }
    answerCreate();
    answerRegister();
    answerPoll(Transport::failed(Failure::connectionClosed));
    expectQuietFor(1);
    EXPECT_TRUE(pollIsOpen());
}

TEST_F(WebCourierPushTest, BackoffDoublesWithJitterAndHonoursRetryAfter) {
    double next = 0;
    WebCourierPush jittered(actor, session, transport, systemLog, WebCourierPush::Timing{},
                            [&next] { return next; });
    // The lowest draw waits 80 % of the step, one near the top almost 120 %, never past 60 s.
    next = 0;
    EXPECT_DOUBLE_EQ(jittered.backoff(1, std::nullopt), 0.8);
    EXPECT_DOUBLE_EQ(jittered.backoff(3, std::nullopt), 3.2);
    EXPECT_DOUBLE_EQ(jittered.backoff(7, std::nullopt), 48);
    next = 0.999;
    EXPECT_NEAR(jittered.backoff(1, std::nullopt), 1.2, 0.001);
    EXPECT_NEAR(jittered.backoff(5, std::nullopt), 19.2, 0.02);
    EXPECT_DOUBLE_EQ(jittered.backoff(7, std::nullopt), 60) << "the jitter stays under the cap";
    EXPECT_DOUBLE_EQ(jittered.backoff(100, std::nullopt), 60);
    EXPECT_DOUBLE_EQ(jittered.backoff(5000, std::nullopt), 60) << "no overflow far out";
    // The service's own wait is kept exactly, without jitter.
    EXPECT_DOUBLE_EQ(jittered.backoff(1, 7.0), 7);
    EXPECT_DOUBLE_EQ(jittered.backoff(9, 0.5), 0.5);

    next = 0.5;
    std::vector<double> steps;
    for (int failures = 1; failures <= 8; ++failures) {
        steps.push_back(jittered.backoff(failures, std::nullopt));
    }
    EXPECT_EQ(steps, (std::vector<double>{1, 2, 4, 8, 16, 32, 60, 60}));
}

// --- Renewing the push token --------------------------------------------------------------

TEST_F(WebCourierPushTest, RenewsThePushTokenATenthOfItsLifeBeforeItEnds) {
    registerAndPoll(/*ttl=*/100);
    const std::size_t firstPoll = transport.sentCount() - 1;
    actor.advance(89.999);
    EXPECT_EQ(transport.sentCount(), firstPoll + 1);
    EXPECT_FALSE(transport.wasCancelled(firstPoll));

    actor.advance(0.001);
    EXPECT_TRUE(transport.wasCancelled(firstPoll)) << "the renewal does not wait for the poll";
    ASSERT_TRUE(lastIs(QStringLiteral("tokens/create")));
    answerCreate(QStringLiteral("beef02"), 100);
    answerRegister();
    ASSERT_TRUE(pollIsOpen());
    EXPECT_EQ(transport.last().request.url, QUrl(courierAddress(QStringLiteral("beef02"), 100)));
    EXPECT_EQ(registrations, 1) << "still registered: nothing to report";
    EXPECT_TRUE(registrationFailures.isEmpty());

    // And again 90 s after the renewal.
    const std::size_t secondPoll = transport.sentCount() - 1;
    expectQuietFor(90);
    EXPECT_TRUE(transport.wasCancelled(secondPoll));
    EXPECT_TRUE(lastIs(QStringLiteral("tokens/create")));
}

TEST_F(WebCourierPushTest, ALongLivedTokenIsRenewedTenMinutesBeforeItsEnd) {
    registerAndPoll(/*ttl=*/43200);
    expectQuietFor(43200 - 600);
    EXPECT_TRUE(lastIs(QStringLiteral("tokens/create")));
}

TEST_F(WebCourierPushTest, ATokenWithoutALifetimeIsTakenToLiveTwelveHours) {
    registerAndPoll(/*ttl=*/std::nullopt);
    expectQuietFor(43200 - 600);
    EXPECT_TRUE(lastIs(QStringLiteral("tokens/create")));
}

// --- What is reported ---------------------------------------------------------------------

TEST_F(WebCourierPushTest, ReportsAgainOnlyWhenTheOutcomeChanges) {
    registerAndPoll(/*ttl=*/100);
    ASSERT_EQ(registrations, 1);

    // The renewal fails: that is news.
    actor.advance(90);
    ASSERT_TRUE(lastIs(QStringLiteral("tokens/create")));
    transport.answerLast(Transport::withStatus(500, "oops"));
    actor.runUntilIdle();
    EXPECT_EQ(registrationFailures.size(), 1);
    EXPECT_FALSE(push.isRegisteredForRemoteNotifications());

    // The retry succeeds: registered again, and that is news too.
    actor.advance(1);
    answerCreate();
    answerRegister();
    EXPECT_EQ(registrations, 2);
    EXPECT_TRUE(push.isRegisteredForRemoteNotifications());
}

// --- Unregistering ------------------------------------------------------------------------

TEST_F(WebCourierPushTest, UnregisteringEndsTheOpenPollAndDeliversNothingMore) {
    registerAndPoll();
    const std::size_t poll = transport.sentCount() - 1;
    push.unregister();
    EXPECT_TRUE(transport.wasCancelled(poll));
    EXPECT_FALSE(push.isRegisteredForRemoteNotifications());
    // A renewal timer left behind would wake the process hours later for nothing.
    EXPECT_EQ(actor.pendingTimers(), 0u);

    // A frame that was on its way when the poll was cancelled.
    transport.answer(poll, Transport::ok(pushFrame(QStringLiteral("n-1"), QStringLiteral("s"))));
    actor.runUntilIdle();
    actor.advance(86400);
    EXPECT_TRUE(pushes.empty());
    EXPECT_EQ(transport.sentCount(), poll + 1) << "no poll and no renewal after unregistering";
}

TEST_F(WebCourierPushTest, UnregisteringDuringABackoffStopsTheRetries) {
    registerAndPoll();
    answerPoll(Transport::failed(Failure::connectionRefused));
    push.unregister();
    actor.advance(3600);
    EXPECT_EQ(transport.sentCount(), 3u);
}

TEST_F(WebCourierPushTest, UnregisteringWhileATokenIsBeingCreatedSendsNothingMore) {
    push.registerForRemoteNotifications();
    actor.runUntilIdle();
    push.unregister();
    answerCreate();
    actor.advance(3600);
    EXPECT_EQ(transport.sentCount(), 1u) << "no tokens/register for a stopped registration";
    EXPECT_EQ(registrations, 0);
}

TEST_F(WebCourierPushTest, RegisteringAgainAfterUnregisteringStartsAfresh) {
    registerAndPoll();
    push.unregister();
    actor.runUntilIdle();
    push.registerForRemoteNotifications();
    actor.runUntilIdle();
    ASSERT_TRUE(lastIs(QStringLiteral("tokens/create")));
    answerCreate(QStringLiteral("beef02"));
    answerRegister();
    EXPECT_EQ(registrations, 2) << "a new registration is reported like the first";
    ASSERT_TRUE(pollIsOpen());
    answerPoll(Transport::ok(pushFrame(QStringLiteral("n-9"), QStringLiteral("s"))));
    ASSERT_EQ(pushes.size(), 1u);
    EXPECT_EQ(nidOf(pushes[0]), QStringLiteral("n-9"));
    EXPECT_EQ(transport.openCount(), 1u) << "one poll, not one per registration";
}

TEST_F(WebCourierPushTest, DestroyingThePushCancelsItsPoll) {
    auto owned = std::make_unique<WebCourierPush>(actor, session, transport, systemLog,
                                                  WebCourierPush::Timing{}, [] { return 0.5; });
    owned->registerForRemoteNotifications();
    actor.runUntilIdle();
    answerCreate();
    answerRegister();
    ASSERT_TRUE(pollIsOpen());
    const std::size_t poll = transport.sentCount() - 1;
    owned.reset();
    EXPECT_TRUE(transport.wasCancelled(poll));
    actor.advance(86400);
    EXPECT_EQ(transport.sentCount(), poll + 1);
}

}  // namespace
