// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTimer>
#include <deque>
#include <functional>
#include <optional>
#include <variant>

class QTcpSocket;

// Takes the session token back from the browser after the user signed in: the sign-in page
// sends the browser to http://127.0.0.1:<port>/zorvik-signin?ckWebAuthToken=… (or ?ckSession=…).
//
// Every local program and every web page can reach this address too, so a request proves
// nothing by arriving: each token is handed to `check`, one at a time, and only a token the
// owner accepts ends the listening. Anything else (another path, another method, no token, a
// token refused, a malformed or oversized head) gets its answer and the listener goes on
// waiting until its deadline. Each connection is closed after its answer or after a short idle
// time, and only a few are held open at once, so that nobody can pin the process's descriptors.
// It listens on the loopback address only.
class LoopbackSignIn {
public:
    static constexpr auto callbackPath = "/zorvik-signin";
    // A request head longer than this is no browser's.
    static constexpr qsizetype maximumRequestSize = 16 * 1024;
    // Connections held at once; one more is closed as it comes. A browser opens two or three.
    static constexpr int maximumConnections = 16;

    // The token, or why there is none.
    using Outcome = std::variant<QByteArray, QString>;
    // The owner's answer to one token: nothing when it is accepted, else why it is not.
    using Verdict = std::function<void(std::optional<QString> refusal)>;

    struct Options {
        double timeoutSeconds = 600;
        // How long a connection may take to send its request head.
        double idleSeconds = 10;
    };
    struct Handlers {
        // A token came back. `verdict` is called once, later or at once; the next token waits.
        std::function<void(const QByteArray& token, Verdict verdict)> check;
        // The deadline passed without an accepted token.
        std::function<void(const QString& why)> expired;
    };

    LoopbackSignIn();
    ~LoopbackSignIn();

    // Empty when listening, else why not (the port is taken…).
    QString listen(quint16 port, Options options, Handlers handlers);
    // Stops listening and closes every connection, without calling a handler.
    void stop();
    bool isListening() const;
    quint16 port() const;
    // Connections held open now.
    int openConnections() const;

    // What one request head says. `isCallback` false: another path, answered 404.
    struct Request {
        bool isCallback = false;
        Outcome outcome;
        // The head was understood, but its method is not GET (answered 405).
        bool wrongMethod = false;
    };
    // Parses "GET /zorvik-signin?… HTTP/1.1\r\n…". Throws nothing; a malformed head is an
    // Outcome with the problem.
    static Request parseRequest(const QByteArray& head);
    // The session an address hands over in ckWebAuthToken, or else in ckSession; empty when it
    // has none. A "+" stays a plus: the token is base64, where a plus is never a space.
    static QByteArray sessionToken(const QUrl& url);

private:
    void accept();
    void read(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QByteArray& reply);
    void checkNext();
    void verdictCame(quint64 checkId, QPointer<QTcpSocket> socket, std::optional<QString> refusal);
    void finish();
    void closeAll();

    QTcpServer server_;
    Options options_;
    Handlers handlers_;
    QPointer<QTimer> deadline_;
    // Tokens waiting for `check`, with the connection waiting for the verdict.
    std::deque<std::pair<QByteArray, QPointer<QTcpSocket>>> tokens_;
    bool checking_ = false;
    // Names the check under way, so that a late or second verdict for another is ignored.
    quint64 checkId_ = 0;
};
