// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/cloud/LoopbackSignIn.h"

#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <cmath>

namespace {

QByteArray page(int status, const QByteArray& reason, const QString& text) {
    const QByteArray body = text.toUtf8() + '\n';
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
           "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
           QByteArray::number(body.size()) +
           "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
}

int milliseconds(double seconds) {
    return int(std::lround(seconds * 1000));
}

// Tokens are base64 or its URL-safe kind: visible ASCII. Anything else is no session, and must
// not go on to the service or the keyring.
bool isVisibleAscii(const QByteArray& token) {
    return std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

const char* const kHeadProperty = "head";

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

bool LoopbackSignIn::isListening() const {
    return server_.isListening();
}

int LoopbackSignIn::openConnections() const {
    int open = 0;
    for (const QTcpSocket* socket : server_.findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly)) {
        open += socket->state() != QAbstractSocket::UnconnectedState;
    }
    return open;
}

QString LoopbackSignIn::listen(quint16 port, Options options, Handlers handlers) {
    stop();
    if (!server_.listen(QHostAddress::LocalHost, port)) {
        return QStringLiteral("cannot listen on 127.0.0.1:%1 (%2)")
            .arg(port)
            .arg(server_.errorString());
    }
    options_ = options;
    handlers_ = std::move(handlers);
    // A child of the server, so it goes with this object whatever happens.
    auto* deadline = new QTimer(&server_);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, deadline, [this] {
        auto expired = handlers_.expired;
        stop();
        if (expired) {
            expired(QStringLiteral("the sign-in did not come back from the browser in time"));
        }
    });
    deadline->start(milliseconds(options.timeoutSeconds));
    deadline_ = deadline;
    return {};
}

void LoopbackSignIn::stop() {
    server_.close();
    if (deadline_) {
        // Later: the deadline may be the timer whose timeout is running now.
        deadline_->stop();
        deadline_->deleteLater();
        deadline_ = nullptr;
    }
    handlers_ = {};
    tokens_.clear();
    checking_ = false;
    ++checkId_;
    closeAll();
}

void LoopbackSignIn::closeAll() {
    for (QTcpSocket* socket : server_.findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly)) {
        // An answer already written still leaves; whatever waited for one is cut off.
        socket->disconnect();
        if (socket->bytesToWrite() > 0) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
        } else {
            socket->abort();
            socket->deleteLater();
        }
    }
}

void LoopbackSignIn::accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        if (openConnections() > maximumConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
        // A connection that says nothing, or too slowly, is not a browser coming back.
        auto* idle = new QTimer(socket);
        idle->setObjectName(QStringLiteral("idle"));
        idle->setSingleShot(true);
        QObject::connect(idle, &QTimer::timeout, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        idle->start(milliseconds(options_.idleSeconds));
    }
}

void LoopbackSignIn::answer(QTcpSocket* socket, const QByteArray& reply) {
    socket->write(reply);
    socket->disconnectFromHost();
}

void LoopbackSignIn::read(QTcpSocket* socket) {
    QByteArray head = socket->property(kHeadProperty).toByteArray() + socket->readAll();
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0 && head.size() <= maximumRequestSize) {
        socket->setProperty(kHeadProperty, head);
        return;  // the rest of the head is on its way
    }
    socket->setProperty(kHeadProperty, QVariant());
    QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    delete socket->findChild<QTimer*>(QStringLiteral("idle"), Qt::FindDirectChildrenOnly);
    if (end < 0) {
        answer(socket, page(431, "Request Header Fields Too Large", QStringLiteral("Too large.")));
        return;
    }
    const Request request = parseRequest(head.left(end));
    if (!request.isCallback) {
        answer(socket, page(404, "Not Found", QStringLiteral("Not found.")));
        return;
    }
    if (const auto* problem = std::get_if<QString>(&request.outcome)) {
        const QString text = QStringLiteral(
                                 "Zorvik could not sign in: %1. Zorvik is still waiting for the "
                                 "sign-in page.")
                                 .arg(*problem);
        answer(socket, request.wrongMethod ? page(405, "Method Not Allowed", text)
                                           : page(400, "Bad Request", text));
        return;
    }
    tokens_.emplace_back(std::get<QByteArray>(request.outcome), socket);
    checkNext();
}

void LoopbackSignIn::checkNext() {
    if (checking_ || tokens_.empty() || !handlers_.check) {
        return;
    }
    const QByteArray token = tokens_.front().first;
    const QPointer<QTcpSocket> socket = tokens_.front().second;
    tokens_.pop_front();
    checking_ = true;
    const quint64 id = ++checkId_;
    handlers_.check(token, [this, id, socket](std::optional<QString> refusal) {
        verdictCame(id, socket, std::move(refusal));
    });
}

void LoopbackSignIn::verdictCame(quint64 checkId, QPointer<QTcpSocket> socket,
                                 std::optional<QString> refusal) {
    if (checkId != checkId_ || !checking_) {
        return;  // a second verdict, or one for a check that a stop cut short
    }
    checking_ = false;
    if (refusal) {
        if (socket) {
            answer(socket,
                   page(400, "Bad Request",
                        QStringLiteral("Zorvik could not use this sign-in: %1. Zorvik is still "
                                       "waiting; sign in again from Zorvik.")
                            .arg(*refusal)));
        }
        checkNext();
        return;
    }
    if (socket) {
        answer(socket, page(200, "OK",
                            QStringLiteral("Go back to Zorvik and confirm the account to finish "
                                           "signing in. You can close this page.")));
    }
    stop();
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
        return {true,
                QStringLiteral("the browser came back with %1 instead of GET")
                    .arg(QString::fromLatin1(parts[0].left(16))),
                true};
    }
    const QByteArray token = sessionToken(target);
    if (token.isEmpty()) {
        return {true, QStringLiteral("the sign-in page sent no session")};
    }
    if (!isVisibleAscii(token)) {
        return {true, QStringLiteral("the sign-in page sent a session that is not plain text")};
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
