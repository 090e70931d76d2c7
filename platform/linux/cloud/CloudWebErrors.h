// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>

#include "platform/CloudError.h"

// How the cloud's web service reports failures, turned into the cloud error codes the product
// knows (unknownItem 11, notAuthenticated 9, …). Every function is pure, so the table is tested
// as a table.
namespace CloudWebErrors {

// An error object of the web service, at the top of an answer or in place of one item:
//   {"uuid":…,"serverErrorCode":"THROTTLED","reason":"…","retryAfter":10,"redirectURL":…}
struct ServerError {
    QString serverErrorCode;
    QString reason;
    // Seconds; the service may send a number or a numeric string.
    std::optional<double> retryAfter;
    // Only with AUTHENTICATION_REQUIRED: where the user signs in.
    std::optional<QString> redirectURL;

    bool operator==(const ServerError&) const = default;
};

// The error an object carries, when it has a "serverErrorCode" string.
std::optional<ServerError> serverError(const QJsonObject& object);

// A request the service answered with an error object; a code we do not know is internalError.
CloudError fromServer(const ServerError& error);
// A request the service answered with `httpStatus` and a body that is no error object (HTML
// from a proxy, an empty body, a 405 from a wrong path).
CloudError fromHttpStatus(int httpStatus);

// Why no HTTP answer came.
enum class TransportFailure {
    hostNotFound,       // DNS found no address
    connectionRefused,  // nothing listens there
    noNetwork,          // no route, the network is down
    timedOut,           // no answer in time
    connectionClosed,   // the peer hung up or reset the connection
    secureChannel,      // TLS failed
    other,
};
// `detail` is the transport's own text, kept for the diagnostics.
CloudError fromTransport(TransportFailure failure, const QString& detail);

}  // namespace CloudWebErrors
