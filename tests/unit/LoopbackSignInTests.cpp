// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "platform/linux/cloud/LoopbackSignIn.h"

// The listener the browser comes back to after signing in, which every local program and web
// page can reach as well: what it takes, what it answers, and what it holds open.
namespace {

std::string text(const QString& string) {
    return string.toStdString();
}

std::string describe(const LoopbackSignIn::Outcome& outcome) {
    if (const auto* token = std::get_if<QByteArray>(&outcome)) {
        return "token " + token->toStdString();
    }
    return "problem " + std::get<QString>(outcome).toStdString();
}

TEST(LoopbackSignInRequest, TheCallbackGivesTheTokenItCarriesOrSaysWhatIsWrong) {
    const std::string noSession = "problem the sign-in page sent no session";
    const std::string malformed = "problem the browser sent a malformed request";
    const std::string notText = "problem the sign-in page sent a session that is not plain text";
    const auto notGet = [](const std::string& method) {
        return "problem the browser came back with " + method + " instead of GET";
    };
    const struct {
        const char* line;
        std::optional<std::string> outcome;  // none for what is not the callback
    } rows[]{
        {"GET /zorvik-signin?ckWebAuthToken=a%2Bb%2Fc%3D HTTP/1.1", "token a+b/c="},
        {"GET /zorvik-signin?ckSession=s%2B1%3D HTTP/1.1", "token s+1="},
        // The page sends both names; the documented one wins.
        {"GET /zorvik-signin?ckSession=old&ckWebAuthToken=new HTTP/1.1", "token new"},
        {"GET /zorvik-signin?ckWebAuthToken=new&ckSession=old HTTP/1.1", "token new"},
        {"GET /zorvik-signin?ckWebAuthToken=&ckSession=old HTTP/1.1", "token old"},
        {"GET /zorvik-signin?state=1&ckWebAuthToken=t&other=%26 HTTP/1.1", "token t"},
        {"GET /zorvik-signin?ckWebAuthToken=%26%23%25 HTTP/1.1", "token &#%"},
        {"GET http://127.0.0.1:53682/zorvik-signin?ckWebAuthToken=abs HTTP/1.1", "token abs"},
        {"GET /zorvik-signin HTTP/1.1", noSession},
        {"GET /zorvik-signin?ckWebAuthToken= HTTP/1.1", noSession},
        {"GET /zorvik-signin?ckwebauthtoken=t HTTP/1.1", noSession},
        // Tokens are base64: a control character, a space or a letter beyond ASCII is none.
        {"GET /zorvik-signin?ckWebAuthToken=%EF%B7%A0%20 HTTP/1.1", notText},
        {"GET /zorvik-signin?ckWebAuthToken=a%0Db HTTP/1.1", notText},
        {"GET /zorvik-signin?ckWebAuthToken=caf%C3%A9 HTTP/1.1", notText},
        {"POST /zorvik-signin?ckWebAuthToken=t HTTP/1.1", notGet("POST")},
        {"HEAD /zorvik-signin?ckWebAuthToken=t HTTP/1.1", notGet("HEAD")},
        {"", malformed},
        {"GET /zorvik-signin?ckWebAuthToken=t", malformed},
        {"GET /zorvik-signin?ckWebAuthToken=t HTTP/2", malformed},
        {"GET  /zorvik-signin?ckWebAuthToken=t HTTP/1.1", malformed},
        {"GET /zorvik-signin?ckWebAuthToken=t HTTP/1.1 extra", malformed},
        {"\x16\x03\x01\x02", malformed},  // a TLS hello sent to the plain port
        {"GET /favicon.ico HTTP/1.1", std::nullopt},
        {"GET / HTTP/1.1", std::nullopt},
        {"GET /zorvik-signin/extra?ckWebAuthToken=t HTTP/1.1", std::nullopt},
        {"GET /zorvik-signinx?ckWebAuthToken=t HTTP/1.1", std::nullopt},
    };
    for (const auto& row : rows) {
        const auto request = LoopbackSignIn::parseRequest(
            QByteArray(row.line) + "\r\nHost: 127.0.0.1:53682\r\nAccept: */*");
        EXPECT_EQ(request.isCallback, row.outcome.has_value()) << row.line;
        if (row.outcome) {
            EXPECT_EQ(describe(request.outcome), *row.outcome) << row.line;
        }
    }
}

// Sends `pieces` to the listener one by one, which is how a slow browser sends, and gives what
// it answered by the time it closed the connection. Real sockets take real time, so this waits
// with a deadline rather than counting events.
QByteArray askListener(quint16 port, const std::vector<QByteArray>& pieces) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_TRUE(socket.waitForConnected(5000)) << text(socket.errorString());
    for (const QByteArray& piece : pieces) {
        socket.write(piece);
        EXPECT_TRUE(QTest::qWaitFor([&] { return socket.bytesToWrite() == 0; }, 5000));
        QCoreApplication::processEvents();
    }
    QByteArray received;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            received += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        5000))
        << "the listener did not close the connection";
    return received + socket.readAll();
}

bool refusesConnections(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; },
                           5000) &&
           socket.error() == QAbstractSocket::ConnectionRefusedError;
}

QByteArray callback(const QByteArray& token) {
    return "GET /zorvik-signin?ckWebAuthToken=" + token + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

class LoopbackSignInListener : public testing::Test {
protected:
    // The owner's check: tokens named in `accepted` pass, the rest are refused; with `holding`
    // the verdict waits in `held` for the test to give it.
    void start(LoopbackSignIn::Options options = {30, 10}) {
        LoopbackSignIn::Handlers handlers;
        handlers.check = [this](const QByteArray& token, LoopbackSignIn::Verdict verdict) {
            checked.push_back(token.toStdString());
            if (holding) {
                held.push_back(std::move(verdict));
                return;
            }
            verdict(accepted.count(token.toStdString()) != 0
                        ? std::nullopt
                        : std::optional<QString>(QStringLiteral("iCloud does not know it")));
        };
        handlers.expired = [this](const QString& why) { expiries.push_back(text(why)); };
        ASSERT_EQ(listener.listen(0, options, std::move(handlers)), "");
        port = listener.port();
        ASSERT_NE(port, 0);
    }
    // The HTTP status of the answer to `pieces`, whose body is kept in `lastBody`.
    int statusFor(const std::vector<QByteArray>& pieces) {
        const QByteArray answer = askListener(port, pieces);
        const qsizetype headEnd = answer.indexOf("\r\n\r\n");
        lastBody = answer.mid(headEnd + 4);
        const QByteArray length = "Content-Length: " + QByteArray::number(lastBody.size());
        EXPECT_TRUE(answer.startsWith("HTTP/1.1 ") && answer.left(headEnd).contains(length))
            << answer.data();
        lastBody = lastBody.trimmed();
        return answer.mid(9, 3).toInt();
    }
    // Idle connections to the listener, each connected before this returns.
    std::vector<std::unique_ptr<QTcpSocket>> connectIdle(int count) {
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (int i = 0; i < count; ++i) {
            sockets.push_back(std::make_unique<QTcpSocket>());
            sockets.back()->connectToHost(QHostAddress::LocalHost, port);
            EXPECT_TRUE(sockets.back()->waitForConnected(5000));
        }
        QTest::qWait(50);  // lets the listener take them all in
        return sockets;
    }
    static int stillConnected(const std::vector<std::unique_ptr<QTcpSocket>>& sockets) {
        int connected = 0;
        for (const auto& socket : sockets) {
            QCoreApplication::processEvents();
            connected += socket->state() == QAbstractSocket::ConnectedState;
        }
        return connected;
    }

    LoopbackSignIn listener;
    quint16 port = 0;
    std::set<std::string> accepted{"good"};
    bool holding = false;
    std::vector<LoopbackSignIn::Verdict> held;
    std::vector<std::string> checked;
    std::vector<std::string> expiries;
    QByteArray lastBody;
};

TEST_F(LoopbackSignInListener, NothingButAnAcceptedTokenEndsTheListening) {
    start();
    EXPECT_EQ(statusFor({"GET /favicon.ico HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"}), 404);
    EXPECT_EQ(statusFor({"GET /zorvik-signin HTTP/1.1\r\n\r\n"}), 400);
    EXPECT_TRUE(lastBody.contains("the sign-in page sent no session")) << lastBody.data();
    EXPECT_EQ(statusFor({"GARBAGE\r\n\r\n"}), 400);
    // One byte over the limit, so the listener has read everything when it refuses: unread
    // bytes would make the kernel reset the connection and lose the answer.
    QByteArray huge = "GET /zorvik-signin?ckWebAuthToken=good HTTP/1.1\r\nX-Pad: ";
    huge.append(QByteArray(LoopbackSignIn::maximumRequestSize + 1 - huge.size(), 'x'));
    EXPECT_EQ(statusFor({huge}), 431);
    // A token the owner refuses is answered as such, and the listening goes on.
    EXPECT_EQ(statusFor({callback("junk")}), 400);
    EXPECT_EQ(lastBody,
              "Zorvik could not use this sign-in: iCloud does not know it. Zorvik is still "
              "waiting; sign in again from Zorvik.");
    EXPECT_EQ(checked, std::vector<std::string>{"junk"});

    // A head arriving in pieces is read whole.
    EXPECT_EQ(statusFor({"GET /zorvik-signin?ckSess", "ion=go%6Fd HTTP/1.1\r\nHost: 127.0.0.1\r\n",
                         "\r\n"}),
              200);
    EXPECT_EQ(checked, (std::vector<std::string>{"junk", "good"}));
    EXPECT_FALSE(listener.isListening());
    EXPECT_TRUE(refusesConnections(port));
    EXPECT_TRUE(expiries.empty());
}

TEST_F(LoopbackSignInListener, TokensAreCheckedOneAtATimeInTheOrderTheyCame) {
    holding = true;
    start();
    QTcpSocket first;
    QTcpSocket second;
    for (auto [socket, token] : {std::pair{&first, "junk"}, std::pair{&second, "good"}}) {
        socket->connectToHost(QHostAddress::LocalHost, port);
        ASSERT_TRUE(socket->waitForConnected(5000));
        socket->write(callback(token));
        ASSERT_TRUE(socket->waitForBytesWritten(5000));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !held.empty(); }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(checked, std::vector<std::string>{"junk"}) << "a second check began early";

    // A verdict given twice counts once.
    const LoopbackSignIn::Verdict refuse = held[0];
    refuse(QStringLiteral("no"));
    refuse(std::nullopt);
    ASSERT_TRUE(QTest::qWaitFor([&] { return held.size() == 2; }, 5000));
    EXPECT_EQ(checked, (std::vector<std::string>{"junk", "good"}));
    EXPECT_TRUE(listener.isListening());
    held[1](std::nullopt);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return second.state() == QAbstractSocket::UnconnectedState; }, 5000));
    EXPECT_TRUE(second.readAll().startsWith("HTTP/1.1 200 OK"));
    EXPECT_FALSE(listener.isListening());
}

TEST_F(LoopbackSignInListener, IdleConnectionsAreClosedAndOnlyAFewAreHeldAtOnce) {
    start({30, 0.3});
    auto idle = connectIdle(LoopbackSignIn::maximumConnections + 24);
    EXPECT_LE(listener.openConnections(), LoopbackSignIn::maximumConnections);
    EXPECT_LE(stillConnected(idle), LoopbackSignIn::maximumConnections);
    // The idle time passes: nothing said, nothing held, and the listener still serves.
    EXPECT_TRUE(QTest::qWaitFor([&] { return listener.openConnections() == 0; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return stillConnected(idle) == 0; }, 5000));
    EXPECT_EQ(statusFor({callback("good")}), 200);
}

TEST_F(LoopbackSignInListener, EveryConnectionClosesWhenTheSignInEnds) {
    start();
    auto idle = connectIdle(8);
    ASSERT_EQ(listener.openConnections(), 8);
    EXPECT_EQ(statusFor({callback("good")}), 200);
    EXPECT_EQ(listener.openConnections(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return stillConnected(idle) == 0; }, 5000));

    // Stopped by its owner, or at its deadline, it holds nothing either.
    start();
    idle = connectIdle(4);
    listener.stop();
    EXPECT_EQ(listener.openConnections(), 0);
    EXPECT_TRUE(refusesConnections(port));
    start({0.2, 10});
    idle = connectIdle(4);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !expiries.empty(); }, 5000));
    EXPECT_EQ(expiries,
              std::vector<std::string>{"the sign-in did not come back from the browser in time"});
    EXPECT_EQ(listener.openConnections(), 0);
    EXPECT_TRUE(refusesConnections(port));
}

TEST(LoopbackSignInPort, ATakenPortIsReported) {
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    LoopbackSignIn listener;
    const QString problem = listener.listen(taken.serverPort(), {}, {});
    EXPECT_TRUE(problem.contains(QString::number(taken.serverPort()))) << text(problem);
    EXPECT_FALSE(listener.isListening());
}

}  // namespace
