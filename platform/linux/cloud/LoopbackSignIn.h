#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTimer>
#include <functional>
#include <variant>

class QTcpSocket;

// Takes the session token back from the browser after the user signed in: the sign-in page
// sends the browser to http://127.0.0.1:<port>/zorvik-signin?ckWebAuthToken=… (or ?ckSession=…).
// The listener answers that one request with a plain page saying it can be closed, then closes.
// Other paths (a favicon) get 404 and the listener keeps waiting. It listens on the loopback
// address only and gives up after `timeout`.
class LoopbackSignIn {
public:
    static constexpr auto callbackPath = "/zorvik-signin";
    // A request head longer than this is no browser's.
    static constexpr qsizetype maximumRequestSize = 16 * 1024;

    // The token, or why there is none.
    using Outcome = std::variant<QByteArray, QString>;

    LoopbackSignIn();
    ~LoopbackSignIn();

    // Empty when listening, else why not (the port is taken…). `done` runs once.
    QString listen(quint16 port, double timeoutSeconds, std::function<void(Outcome)> done);
    void stop();
    quint16 port() const;

    // What one request head says. `isCallback` false: another path, answered 404.
    struct Request {
        bool isCallback = false;
        Outcome outcome;
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
    void finish(Outcome outcome);
    void dropTimer();

    QTcpServer server_;
    std::function<void(Outcome)> done_;
    QPointer<QTimer> timer_;
};
