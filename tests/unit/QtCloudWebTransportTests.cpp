// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <optional>

#include "platform/linux/cloud/QtCloudWebTransport.h"

// The transport against a real HTTP peer on the loopback address.
namespace {

// Answers every request with a body of `bodySize` bytes, announced or not.
class OneAnswerServer {
public:
    OneAnswerServer(qint64 bodySize, bool announced) {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [=, this] {
            QTcpSocket* socket = server_.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [=] {
                socket->readAll();
                QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
                head += announced ? "Content-Length: " + QByteArray::number(bodySize) + "\r\n"
                                  : QByteArray("Connection: close\r\n");
                socket->write(head + "\r\n");
                const QByteArray chunk(64 * 1024, ' ');
                for (qint64 sent = 0; sent < bodySize; sent += chunk.size()) {
                    socket->write(
                        chunk.left(qsizetype(std::min<qint64>(chunk.size(), bodySize - sent))));
                }
                socket->disconnectFromHost();
            });
        });
    }
    QUrl url() const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/database/1/x").arg(server_.serverPort()));
    }

private:
    QTcpServer server_;
};

CloudWebResponse exchange(const QUrl& url) {
    QtCloudWebTransport transport;
    std::optional<CloudWebResponse> answer;
    CloudWebRequest request;
    request.method = "GET";
    request.url = url;
    transport.send(request, [&answer](CloudWebResponse response) { answer = response; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 10000));
    return answer.value_or(CloudWebResponse{});
}

TEST(QtCloudWebTransport, AnAnswerLargerThanTheLimitIsCutOffAsAFailure) {
    const qint64 limit = QtCloudWebTransport::maximumAnswerSize;
    OneAnswerServer small(limit, true);
    const CloudWebResponse fits = exchange(small.url());
    EXPECT_FALSE(fits.failure);
    EXPECT_EQ(fits.status, 200);
    EXPECT_EQ(fits.body.size(), limit);

    for (const bool announced : {true, false}) {
        OneAnswerServer large(8 * limit, announced);
        const CloudWebResponse cut = exchange(large.url());
        EXPECT_EQ(cut.failure, CloudWebErrors::TransportFailure::other) << announced;
        EXPECT_EQ(cut.failureDetail, "the answer is larger than 1 MiB");
        EXPECT_TRUE(cut.body.isEmpty());
    }
}

}  // namespace
