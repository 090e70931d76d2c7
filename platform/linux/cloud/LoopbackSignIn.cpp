#include "LoopbackSignIn.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <cmath>

namespace {

QByteArray page(int status, const QByteArray& reason, const QString& text) {
    const QByteArray body = text.toUtf8() + '\n';
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
           "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
           QByteArray::number(body.size()) +
           "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace

LoopbackSignIn::LoopbackSignIn() {
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { accept(); });
}

LoopbackSignIn::~LoopbackSignIn() {
    stop();
}

quint16 LoopbackSignIn::port() const {
    return server_.serverPort();
}

QString LoopbackSignIn::listen(quint16 port, double timeoutSeconds,
                               std::function<void(Outcome)> done) {
    stop();
    if (!server_.listen(QHostAddress::LocalHost, port)) {
        return QStringLiteral("cannot listen on 127.0.0.1:%1 (%2)")
            .arg(port)
            .arg(server_.errorString());
    }
    done_ = std::move(done);
    // A child of the server, so it goes with this object whatever happens.
    auto* timer = new QTimer(&server_);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, timer, [this] {
        finish(QStringLiteral("the sign-in did not come back from the browser in time"));
    });
    timer->start(int(std::lround(timeoutSeconds * 1000)));
    timer_ = timer;
    return {};
}

void LoopbackSignIn::stop() {
    server_.close();
    dropTimer();
    done_ = nullptr;
}

void LoopbackSignIn::dropTimer() {
    // Later: the timer may be the one whose timeout is running now.
    if (timer_) {
        timer_->stop();
        timer_->deleteLater();
        timer_ = nullptr;
    }
}

void LoopbackSignIn::accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
    }
}

void LoopbackSignIn::read(QTcpSocket* socket) {
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0 && head.size() <= maximumRequestSize) {
        socket->setProperty("head", head);
        return;  // the rest of the head is on its way
    }
    socket->disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    if (end < 0) {
        socket->write(page(431, "Request Header Fields Too Large", QStringLiteral("Too large.")));
        socket->disconnectFromHost();
        return;
    }
    const Request request = parseRequest(head.left(end));
    if (!request.isCallback) {
        socket->write(page(404, "Not Found", QStringLiteral("Not found.")));
        socket->disconnectFromHost();
        return;
    }
    if (std::holds_alternative<QByteArray>(request.outcome)) {
        socket->write(page(
            200, "OK", QStringLiteral("Zorvik is signed in to iCloud. You can close this page.")));
    } else {
        socket->write(page(400, "Bad Request",
                           QStringLiteral("Zorvik could not sign in: %1. Try again from Zorvik.")
                               .arg(std::get<QString>(request.outcome))));
    }
    socket->disconnectFromHost();
    finish(request.outcome);
}

void LoopbackSignIn::finish(Outcome outcome) {
    auto done = std::exchange(done_, nullptr);
    server_.close();
    dropTimer();
    if (done) {
        done(std::move(outcome));
    }
}

LoopbackSignIn::Request LoopbackSignIn::parseRequest(const QByteArray& head) {
    const qsizetype lineEnd = head.indexOf("\r\n");
    const QByteArray line = lineEnd < 0 ? head : head.left(lineEnd);
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || !parts[2].startsWith("HTTP/1.")) {
        return {true, QStringLiteral("the browser sent a malformed request")};
    }
    const QUrl target = QUrl::fromEncoded(parts[1], QUrl::StrictMode);
    if (!target.isValid() || target.path() != QLatin1String(callbackPath)) {
        return {false, QStringLiteral("not the sign-in address")};
    }
    if (parts[0] != "GET") {
        return {true, QStringLiteral("the browser came back with %1 instead of GET")
                          .arg(QString::fromLatin1(parts[0].left(16)))};
    }
    const QByteArray token = sessionToken(target);
    if (token.isEmpty()) {
        return {true, QStringLiteral("the sign-in page sent no session")};
    }
    return {true, token};
}

QByteArray LoopbackSignIn::sessionToken(const QUrl& url) {
    const QUrlQuery query(url);
    for (const auto* name : {"ckWebAuthToken", "ckSession"}) {
        const QString value = query.queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded);
        if (!value.isEmpty()) {
            return value.toUtf8();
        }
    }
    return {};
}
