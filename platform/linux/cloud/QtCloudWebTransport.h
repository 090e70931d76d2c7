#pragma once

#include <QHash>
#include <QNetworkAccessManager>
#include <QPointer>

#include "CloudWebTransport.h"

class QNetworkReply;

// HTTP through QtNetwork, TLS through Qt's OpenSSL backend. Connections are kept alive between
// requests, so a push that leads to a fetch costs no new handshake.
class QtCloudWebTransport final : public CloudWebTransport {
public:
    QtCloudWebTransport();
    ~QtCloudWebTransport() override;

    RequestId send(const CloudWebRequest& request,
                   std::function<void(CloudWebResponse)> answer) override;
    void cancel(RequestId request) override;

private:
    void finished(RequestId id, QNetworkReply* reply);

    QNetworkAccessManager manager_;
    QHash<RequestId, QPointer<QNetworkReply>> pending_;
    RequestId nextId_ = 1;
};
