// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/Instant.h"

#include "platform/linux/cloud/CloudWebErrors.h"

// One HTTP exchange with the cloud's web service.
struct CloudWebRequest {
    QByteArray method = "POST";
    QUrl url;
    // JSON, or nothing for a GET.
    QByteArray body;
    // No answer within this many seconds fails the request as timed out.
    double timeoutSeconds = 30;
};

struct CloudWebResponse {
    // Set when no HTTP answer came; the fields below are then empty.
    std::optional<CloudWebErrors::TransportFailure> failure;
    QString failureDetail;

    int status = 0;
    QByteArray body;
    // The session token that replaces the one the request carried, from the header
    // X-Apple-CloudKit-Web-Auth-Token; empty when the answer has none.
    QByteArray rotatedToken;
    // Where a redirect points (the Location header); empty for other answers.
    QByteArray location;
    // The server's clock when it answered (the Date header), when it sent one.
    std::optional<Instant> serverDate;
};

// Sends HTTP requests; answers on the main thread, never inline.
class CloudWebTransport {
public:
    using RequestId = std::uint64_t;

    virtual ~CloudWebTransport() = default;
    virtual RequestId send(const CloudWebRequest& request,
                           std::function<void(CloudWebResponse)> answer) = 0;
    // The request's answer never comes; a request that has answered is left alone.
    virtual void cancel(RequestId request) = 0;
};
