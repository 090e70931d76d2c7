// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QNetworkAccessManager>
#include <QPointer>

#include "platform/linux/cloud/CloudWebTransport.h"

class QNetworkReply;

// HTTP through QtNetwork, TLS through Qt's OpenSSL backend. Connections are kept alive between
// requests, so a push that leads to a fetch costs no new handshake.
class QtCloudWebTransport final : public CloudWebTransport {
public:
    // No answer of the service comes near this; a larger one (a portal's page, a hostile proxy)
    // is cut off as it arrives rather than held in memory.
    static constexpr qint64 maximumAnswerSize = 1024 * 1024;

    QtCloudWebTransport();
    ~QtCloudWebTransport() override;

    RequestId send(const CloudWebRequest& request,
                   std::function<void(CloudWebResponse)> answer) override;
    void cancel(RequestId request) override;

private:
    QNetworkAccessManager manager_;
    QHash<RequestId, QPointer<QNetworkReply>> pending_;
    RequestId nextId_ = 1;
};
