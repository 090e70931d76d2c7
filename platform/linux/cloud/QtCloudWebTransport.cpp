// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/cloud/QtCloudWebTransport.h"

#include <QDateTime>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <cmath>

namespace {

using CloudWebErrors::TransportFailure;

TransportFailure failureOf(QNetworkReply::NetworkError error) {
    switch (error) {
        case QNetworkReply::HostNotFoundError:
            return TransportFailure::hostNotFound;
        case QNetworkReply::ConnectionRefusedError:
            return TransportFailure::connectionRefused;
        case QNetworkReply::NetworkSessionFailedError:
        case QNetworkReply::TemporaryNetworkFailureError:
        case QNetworkReply::UnknownNetworkError:
            return TransportFailure::noNetwork;
        case QNetworkReply::TimeoutError:
        case QNetworkReply::OperationCanceledError:  // what a transfer timeout reports
            return TransportFailure::timedOut;
        case QNetworkReply::RemoteHostClosedError:
        case QNetworkReply::ProxyConnectionClosedError:
            return TransportFailure::connectionClosed;
        case QNetworkReply::SslHandshakeFailedError:
        case QNetworkReply::TooManyRedirectsError:
        case QNetworkReply::InsecureRedirectError:
            return TransportFailure::secureChannel;
        default:
            return TransportFailure::other;
    }
}

}  // namespace

QtCloudWebTransport::QtCloudWebTransport() {
    // The service never redirects an API call; a redirect is a captive portal or a proxy.
    manager_.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

QtCloudWebTransport::~QtCloudWebTransport() {
    for (const auto& reply : std::as_const(pending_)) {
        if (reply) {
            reply->disconnect();
            reply->abort();
            reply->deleteLater();
        }
    }
}

CloudWebTransport::RequestId QtCloudWebTransport::send(
    const CloudWebRequest& request, std::function<void(CloudWebResponse)> answer) {
    QNetworkRequest networkRequest(request.url);
    networkRequest.setHeader(QNetworkRequest::ContentTypeHeader,
                             QByteArrayLiteral("application/json"));
    networkRequest.setTransferTimeout(int(std::lround(request.timeoutSeconds * 1000)));
    // HTTP/2 would multiplex the long poll and the API calls on one connection: one stall would
    // hold both. Plain HTTP/1.1 keeps them apart.
    networkRequest.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    QNetworkReply* reply = nullptr;
    if (request.method == "GET") {
        reply = manager_.get(networkRequest);
    } else {
        reply = manager_.sendCustomRequest(networkRequest, request.method, request.body);
    }
    const RequestId id = nextId_++;
    pending_.insert(id, reply);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [reply](qint64 received, qint64 total) {
                         if (received > maximumAnswerSize || total > maximumAnswerSize) {
                             reply->setProperty("tooLarge", true);
                             reply->abort();
                         }
                     });
    QObject::connect(
        reply, &QNetworkReply::finished, reply, [this, id, reply, answer = std::move(answer)] {
            if (!pending_.remove(id)) {
                return;  // cancelled
            }
            CloudWebResponse response;
            const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            if (reply->property("tooLarge").toBool()) {
                response.failure = TransportFailure::other;
                response.failureDetail = QStringLiteral("the answer is larger than %1 MiB")
                                             .arg(maximumAnswerSize / (1024 * 1024));
            } else if (status.isValid()) {
                response.status = status.toInt();
                response.body = reply->readAll();
                response.rotatedToken =
                    reply->rawHeader(QByteArrayLiteral("X-Apple-CloudKit-Web-Auth-Token"));
                response.location = reply->rawHeader(QByteArrayLiteral("Location"));
                // "Tue, 08 Dec 2026 02:05:24 GMT": whole seconds, which is plenty here.
                const QDateTime date = QDateTime::fromString(
                    QString::fromLatin1(reply->rawHeader(QByteArrayLiteral("Date"))),
                    Qt::RFC2822Date);
                if (date.isValid()) {
                    response.serverDate =
                        Instant(std::chrono::milliseconds(date.toMSecsSinceEpoch()));
                }
            } else {
                response.failure = failureOf(reply->error());
                // Qt's text may quote the address, whose query holds the session token.
                response.failureDetail = reply->errorString().replace(
                    QRegularExpression(QStringLiteral("\\?\\S*")), QString());
            }
            reply->deleteLater();
            answer(std::move(response));
        });
    return id;
}

void QtCloudWebTransport::cancel(RequestId request) {
    const QPointer<QNetworkReply> reply = pending_.take(request);
    if (reply) {
        reply->abort();
        reply->deleteLater();
    }
}
