// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "platform/linux/cloud/CloudWebSession.h"
#include "tests/support/FakeKeychain.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/RecordingSystemLog.h"
#include "tests/support/ScriptedCloudWebTransport.h"

namespace {

using Exchange = ScriptedCloudWebTransport::Exchange;
using Transport = ScriptedCloudWebTransport;
using Tokens = std::vector<std::optional<QByteArray>>;

// Session tokens look like base64: "+", "/" and "=" are what an encoder that leaves them be
// would turn into a space or a separator on the server's side. The API token has them too.
const QString kApiToken = QStringLiteral("api/token+1=");
const QByteArray kStoredToken = "stored+token/0==", kSecondToken = "second+token/1==",
                 kThirdToken = "third+token/2==", kFourthToken = "fourth+token/3==",
                 kFifthToken = "fifth+token/4==";

// The service's refusal of a session, naming the page where the user signs in again.
const QByteArray kRefusal = R"({"serverErrorCode":"AUTHENTICATION_REQUIRED","reason":"spent",)"
                            R"("redirectURL":"https://signin.example.test/"})";

// The session token a request carried, decoded; nothing when it carried none.
std::optional<QByteArray> sentToken(const Exchange& exchange) {
    const auto value = exchange.queryItem(QStringLiteral("ckWebAuthToken"));
    return value ? std::optional(value->toUtf8()) : std::nullopt;
}

class CloudWebSessionTest : public testing::Test {
protected:
    CloudWebSessionTest() { keychainHolds(kStoredToken); }

    static QPair<QString, QString> tokenKey() {
        return FakeKeychain::keyOf(CloudWebSession::tokenQuery());
    }
    // Puts `token` in the keychain behind the session's back, as another process would.
    void keychainHolds(const QByteArray& token) { keychain.items.insert(tokenKey(), token); }
    std::optional<QByteArray> keychainToken() const {
        const auto found = keychain.items.constFind(tokenKey());
        return found == keychain.items.cend() ? std::nullopt : std::optional(*found);
    }
    std::unique_ptr<CloudWebSession> makeSession() {
        return std::make_unique<CloudWebSession>(actor, transport, keychain, systemLog,
                                                 scriptedServiceConfiguration(kApiToken));
    }
    // A records/lookup whose reply is kept in `replies`.
    void lookup(bool authenticated = true) {
        session->call(
            CloudWebSession::Api::database, "POST", QStringLiteral("private/records/lookup"),
            {{QStringLiteral("records"),
              QJsonArray{QJsonObject{{QStringLiteral("recordName"), QStringLiteral("r")}}}}},
            [this](CloudWebReply reply) { replies.push_back(std::move(reply)); }, authenticated);
    }
    // Makes `calls` lookups and lets whatever may leave leave.
    void send(int calls = 1, bool authenticated = true) {
        for (int call = 0; call < calls; ++call) {
            lookup(authenticated);
        }
        actor.runUntilIdle();
    }
    // Makes a lookup, lets it leave and gives the session token it carried.
    std::optional<QByteArray> nextCallCarries(bool authenticated = true) {
        send(1, authenticated);
        return sentToken(transport.last());
    }
    // Answers the newest request and lets the answer arrive.
    void respond(CloudWebResponse response) {
        transport.answerLast(std::move(response));
        actor.runUntilIdle();
    }
    void answerLast(const QByteArray& rotatedToken, int status = 200, const QByteArray& body = {}) {
        respond(Transport::withStatus(status, body, rotatedToken));
    }
    Tokens sentTokens() const {
        Tokens tokens;
        for (const Exchange& exchange : transport.exchanges) {
            tokens.push_back(sentToken(exchange));
        }
        return tokens;
    }

    // What the session knows once the keychain has answered its read.
    bool loadedHasToken() {
        bool loaded = false;
        session->loadToken([&loaded] { loaded = true; });
        EXPECT_TRUE(loaded) << "the keychain in memory answers at once";
        return session->hasToken();
    }
    // A sign-in and a sign-out; each gives the keychain's status when it has come.
    const std::optional<std::int32_t>& adopt(const QByteArray& token) {
        adopted.reset();
        session->adoptToken(token, [this](std::int32_t status) { adopted = status; });
        return adopted;
    }
    const std::optional<std::int32_t>& forget() {
        forgotten.reset();
        session->forgetToken([this](std::int32_t status) { forgotten = status; });
        return forgotten;
    }

    ManualMainActor actor;
    FakeKeychain keychain;
    RecordingSystemLog systemLog;
    Transport transport{actor};
    std::unique_ptr<CloudWebSession> session = makeSession();
    std::vector<CloudWebReply> replies;
    std::optional<std::int32_t> adopted, forgotten;
};

// The service's Date header is the clock this computer's is compared with.
TEST_F(CloudWebSessionTest, TheServicesDateTellsHowFarThisClockIsAhead) {
    EXPECT_EQ(session->serverClockAhead(), std::nullopt);
    send();
    CloudWebResponse answer = Transport::ok();
    answer.serverDate = addingSeconds(actor.now(), -3600);
    respond(answer);
    EXPECT_EQ(session->serverClockAhead(), 3600);
    send();
    respond(Transport::ok());
    EXPECT_EQ(session->serverClockAhead(), 3600) << "an answer without a Date keeps what is known";
}

TEST_F(CloudWebSessionTest, SendsTheNextCallOnlyAfterThePreviousOneAnsweredWithTheNewestToken) {
    std::vector<std::size_t> repliesAtSend;  // how many answers had come when each request left
    transport.onSend = [&](const Exchange&) { repliesAtSend.push_back(replies.size()); };
    send(3);
    ASSERT_EQ(transport.sentCount(), 1u);
    transport.answer(0, Transport::failed(CloudWebErrors::TransportFailure::connectionClosed));
    actor.runUntilIdle();
    ASSERT_EQ(transport.sentCount(), 2u);
    EXPECT_TRUE(replies[0].error);
    actor.advance(3600);
    EXPECT_EQ(transport.sentCount(), 2u) << "waiting, however long, sends nothing more";

    // An error answer still rotates the spent token.
    answerLast(kSecondToken, 500, R"({"serverErrorCode":"INTERNAL_ERROR","reason":"boom"})");
    ASSERT_TRUE(replies[1].error);
    EXPECT_EQ(keychainToken(), kSecondToken);
    answerLast({});
    EXPECT_EQ(repliesAtSend, (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(replies.size(), 3u);

    // An answer that never came rotated nothing, and one without a new token keeps the current
    // one; the keychain was read only once.
    nextCallCarries();
    EXPECT_EQ(sentTokens(), (Tokens{kStoredToken, kStoredToken, kSecondToken, kSecondToken}));
    EXPECT_EQ(keychain.stores, 1);
    EXPECT_TRUE(loadedHasToken());
    EXPECT_EQ(keychain.lookups, 1);
    EXPECT_EQ(keychain.lastQuery, CloudWebSession::tokenQuery());
}

TEST_F(CloudWebSessionTest, ACallMadeFromAnAnswerLeavesOnceWithThatAnswersToken) {
    session->call(CloudWebSession::Api::database, "POST", QStringLiteral("private/records/lookup"),
                  {}, [this](CloudWebReply) { lookup(); });
    actor.runUntilIdle();
    answerLast(kSecondToken);
    EXPECT_EQ(sentTokens(), (Tokens{kStoredToken, kSecondToken}))
        << "the follow-up call leaves once, with the new token";
}

TEST_F(CloudWebSessionTest, EachCallCarriesTheTokenThePreviousAnswerGaveFromTheKeychain) {
    // What the keychain held at the moment each request went out: after a crash right then,
    // the next run must find the token the request carries, not a spent one.
    Tokens keychainAtSend;
    transport.onSend = [&](const Exchange&) { keychainAtSend.push_back(keychainToken()); };
    send(3);
    answerLast(kSecondToken);
    answerLast(kThirdToken);
    answerLast(kFourthToken);
    EXPECT_EQ(sentTokens(), (Tokens{kStoredToken, kSecondToken, kThirdToken}));
    EXPECT_EQ(keychainAtSend, sentTokens());
    EXPECT_EQ(keychainToken(), kFourthToken);

    // The store does not block: the answer is delivered at once, and the next call waits.
    keychain.holdStores = true;
    send(2);
    const auto sent = transport.sentCount();
    answerLast(kFifthToken);
    EXPECT_EQ(replies.size(), 4u);
    EXPECT_EQ(transport.sentCount(), sent) << "a call left before its token was stored";
    keychain.releaseHeld();
    actor.runUntilIdle();
    EXPECT_EQ(transport.sentCount(), sent + 1);
    EXPECT_EQ(keychainAtSend.back(), kFifthToken);

    // The process ends with a call under way: the next run goes on with the newest token, and
    // the answer to the ended session's call is dropped.
    session = makeSession();
    transport.answer(sent, Transport::ok({}, "spent"));  // the call that left last
    EXPECT_EQ(nextCallCarries(), kFifthToken);
    EXPECT_EQ(replies.size(), 4u);
    EXPECT_EQ(keychainToken(), kFifthToken);
}

// A slow keychain holds up the calls that need the session, never the caller; every read,
// store and removal goes through the calls that do not block.
TEST_F(CloudWebSessionTest, CallsWaitForASlowKeychainWithoutBlockingOnIt) {
    keychain.holdReads = true;
    int loads = 0;
    session->loadToken([&loads] { ++loads; });
    send();
    EXPECT_EQ(transport.sentCount(), 0u) << "the call waits for the stored session";
    EXPECT_FALSE(session->hasToken());
    keychain.releaseHeld();
    EXPECT_EQ(loads, 1);
    actor.runUntilIdle();
    ASSERT_EQ(sentTokens(), Tokens{kStoredToken});
    EXPECT_EQ(keychain.laterReads, 1) << "the waiting load and the call share one read";

    answerLast(kSecondToken);
    EXPECT_EQ(adopt(kThirdToken), Keychain::success);
    EXPECT_EQ(forget(), Keychain::success);
    EXPECT_EQ(keychain.blockingCalls, 0);
}

TEST_F(CloudWebSessionTest, ALockedKeyringLosesNoTokenAndNoLogLineNamesOne) {
    // Every path that logs: a locked read, a refused store, a refusal by the service.
    keychain.failWith = Keychain::interactionNotAllowed;
    EXPECT_FALSE(loadedHasToken());
    EXPECT_FALSE(loadedHasToken());
    EXPECT_EQ(systemLog.lines.size(), 1u) << "a keyring that stays locked is one line";
    keychain.failWith.reset();
    EXPECT_TRUE(loadedHasToken()) << "a locked keyring is asked again, not taken for no session";
    EXPECT_EQ(keychain.lookups, 3);
    send();
    keychain.failWith = Keychain::interactionNotAllowed;
    answerLast(kSecondToken);
    ASSERT_EQ(systemLog.lines.size(), 2u);
    EXPECT_EQ(systemLog.lines.back().level, LogLevel::error);
    EXPECT_TRUE(systemLog.lines.back().message.contains(QStringLiteral("the keyring is locked")));
    // A keychain that refuses the new token does not lose it: it is what the service expects.
    EXPECT_EQ(nextCallCarries(), kSecondToken);
    keychain.failWith.reset();
    answerLast(kThirdToken);
    EXPECT_EQ(keychainToken(), kThirdToken) << "once the keyring opens, the rotation reaches it";
    send();
    answerLast(kFourthToken, 421, kRefusal);
    EXPECT_EQ(adopt(kFifthToken), Keychain::success);
    EXPECT_EQ(forget(), Keychain::success);

    for (const auto& line : systemLog.lines) {
        for (const QByteArray& token :
             {kStoredToken, kSecondToken, kThirdToken, kFourthToken, kFifthToken}) {
            // Neither the whole token nor its first part, raw or as sent in a URL.
            const QByteArray core = token.left(token.indexOf('/'));
            for (const QByteArray& form : {token, core, QUrl::toPercentEncoding(token)}) {
                EXPECT_FALSE(line.message.contains(QString::fromUtf8(form)))
                    << line.message.toStdString();
            }
        }
    }
}

TEST_F(CloudWebSessionTest, AnUnauthenticatedCallCarriesNoTokenAndCannotRotateIt) {
    EXPECT_EQ(nextCallCarries(/*authenticated=*/false), std::nullopt);
    EXPECT_EQ(transport.last().queryItem(QStringLiteral("ckAPIToken")), kApiToken);
    // The service names its sign-in page; a token in that answer belongs to no session of ours.
    answerLast(kSecondToken, 421, kRefusal);
    EXPECT_EQ(keychainToken(), kStoredToken);
    EXPECT_EQ(keychain.stores, 0);
    EXPECT_EQ(nextCallCarries(), kStoredToken);
}

TEST_F(CloudWebSessionTest, ATokenIsAdoptedOnlyOnceTheKeychainHasIt) {
    ASSERT_TRUE(loadedHasToken());
    keychain.failWith = Keychain::authorizationFailed;
    EXPECT_EQ(adopt(kSecondToken), Keychain::authorizationFailed);
    keychain.failWith.reset();
    EXPECT_EQ(nextCallCarries(), kStoredToken);
    answerLast({}, 421, kRefusal);

    EXPECT_EQ(adopt(kSecondToken), Keychain::success);
    EXPECT_EQ(keychainToken(), kSecondToken);
    EXPECT_EQ(nextCallCarries(), kSecondToken);
}

// The answer to a call sent before a sign-out or a sign-in carries a token of the session that
// ended: it must bring that session back neither in memory nor in the keychain.
TEST_F(CloudWebSessionTest, ForgettingTheTokenSignsOutAndAnAnswerFromBeforeRotatesNothing) {
    send();
    EXPECT_EQ(forget(), Keychain::success);
    answerLast(kSecondToken);
    EXPECT_FALSE(session->hasToken());
    EXPECT_EQ(keychainToken(), std::nullopt);
    EXPECT_EQ(nextCallCarries(), std::nullopt);
    answerLast({});
    // Forgetting what is not there is no failure; a keychain that cannot be reached is.
    EXPECT_EQ(forget(), Keychain::success);
    keychain.failWith = Keychain::notAvailable;
    EXPECT_EQ(forget(), Keychain::notAvailable);
    keychain.failWith.reset();

    EXPECT_EQ(adopt(kThirdToken), Keychain::success);
    EXPECT_EQ(nextCallCarries(), kThirdToken);
    EXPECT_EQ(adopt(kFourthToken), Keychain::success);  // signed in again meanwhile
    answerLast(kFifthToken);
    EXPECT_EQ(keychainToken(), kFourthToken);
    EXPECT_EQ(nextCallCarries(), kFourthToken);
}

// The user signs out while the sign-in's session is still on its way to the keychain: the
// sign-out has the last word, in memory and in the keychain, and settles the session for
// whoever waited for the keychain's first answer.
TEST_F(CloudWebSessionTest, ASignOutWhileASignInIsStoredHasTheLastWord) {
    keychain.holdReads = true;
    bool loaded = false;
    session->loadToken([&loaded] { loaded = true; });
    keychain.holdStores = true;
    adopt(kSecondToken);
    forget();
    EXPECT_TRUE(loaded) << "still waiting for a read the sign-out made moot";

    keychain.releaseHeld();  // the read, then the sign-in's store, then the sign-out's removal
    EXPECT_EQ(adopted, Keychain::userCanceled);
    EXPECT_EQ(forgotten, Keychain::success);
    EXPECT_FALSE(session->hasToken());
    EXPECT_EQ(keychainToken(), std::nullopt);
    EXPECT_EQ(nextCallCarries(), std::nullopt);
}

TEST_F(CloudWebSessionTest, ARefusalTriesOnceMoreOnlyWithANewerTokenAnotherProcessStored) {
    // The keychain still holds the refused token: nothing to try.
    send();
    answerLast({}, 401, kRefusal);
    EXPECT_EQ(transport.sentCount(), 1u);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].httpStatus, 401);

    // Meanwhile another process spent the shared token and stored its successor.
    send();
    keychainHolds(kSecondToken);
    answerLast({}, 421, kRefusal);
    ASSERT_EQ(sentTokens(), (Tokens{kStoredToken, kStoredToken, kSecondToken}))
        << "the same call leaves again";
    EXPECT_EQ(transport.exchanges[2].request.body, transport.exchanges[1].request.body);
    EXPECT_TRUE(transport.exchanges[2].pathEndsWith(QStringLiteral("records/lookup")));
    EXPECT_EQ(replies.size(), 1u) << "the caller hears only how the second try ends";
    answerLast(kThirdToken);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_FALSE(replies[1].error);
    EXPECT_EQ(keychainToken(), kThirdToken);

    // A newer token that is refused as well: one more try, never a loop. A 401 may have been
    // spent elsewhere as much as a 421.
    send();
    keychainHolds(kFourthToken);
    answerLast({}, 401, kRefusal);
    keychainHolds(kFifthToken);
    answerLast({}, 421, kRefusal);
    EXPECT_EQ(transport.sentCount(), 5u);
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[2].httpStatus, 421);
}

TEST_F(CloudWebSessionTest, ARequestGoesToItsApisAddressWithItsBodyAndFullyEncodedTokens) {
    send();
    const CloudWebRequest& post = transport.last().request;
    EXPECT_EQ(post.url.toString(QUrl::RemoveQuery),
              "https://cloud.example.test/database/1/iCloud.net.brontal.zorvik/development/"
              "private/records/lookup");
    EXPECT_EQ(post.method, "POST");
    EXPECT_EQ(post.body, R"({"records":[{"recordName":"r"}]})");
    // What goes on the wire: "+" left as it is would reach the server as a space.
    EXPECT_EQ(
        post.url.query(QUrl::FullyEncoded).split(u'&'),
        (QStringList{"ckAPIToken=api%2Ftoken%2B1%3D", "ckWebAuthToken=stored%2Btoken%2F0%3D%3D"}));
    answerLast({});

    session->call(CloudWebSession::Api::device, "GET", QStringLiteral("tokens/create"),
                  {{QStringLiteral("ignored"), true}}, [](CloudWebReply) {});
    actor.runUntilIdle();
    const CloudWebRequest& get = transport.last().request;
    EXPECT_EQ(get.url.toString(QUrl::RemoveQuery),
              "https://cloud.example.test/device/1/iCloud.net.brontal.zorvik/development/"
              "tokens/create");
    EXPECT_EQ(get.method, "GET");
    EXPECT_TRUE(get.body.isEmpty());
}

}  // namespace
