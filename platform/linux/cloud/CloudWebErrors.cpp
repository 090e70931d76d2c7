// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/cloud/CloudWebErrors.h"

#include <QJsonValue>
#include <array>
#include <cmath>
#include <utility>

namespace CloudWebErrors {

namespace {

struct KnownCode {
    const char* serverErrorCode;
    int code;
};

// The service's own codes, and those its JavaScript library reports, with the nearest native
// error code.
constexpr std::array kKnownCodes{
    KnownCode{"ACCESS_DENIED", CloudError::permissionFailure},
    KnownCode{"ATOMIC_ERROR", CloudError::batchRequestFailed},
    KnownCode{"AUTHENTICATION_FAILED", CloudError::notAuthenticated},
    KnownCode{"AUTHENTICATION_REQUIRED", CloudError::notAuthenticated},
    KnownCode{"BAD_REQUEST", CloudError::invalidArguments},
    KnownCode{"CONFLICT", CloudError::serverRecordChanged},
    KnownCode{"EXISTS", CloudError::serverRecordChanged},
    KnownCode{"INTERNAL_ERROR", CloudError::internalError},
    KnownCode{"NOT_FOUND", CloudError::unknownItem},
    KnownCode{"QUOTA_EXCEEDED", CloudError::quotaExceeded},
    KnownCode{"THROTTLED", CloudError::requestRateLimited},
    KnownCode{"TRY_AGAIN_LATER", CloudError::serviceUnavailable},
    KnownCode{"VALIDATING_REFERENCE_ERROR", CloudError::referenceViolation},
    KnownCode{"ZONE_NOT_FOUND", CloudError::zoneNotFound},
    KnownCode{"UNIQUE_FIELD_ERROR", CloudError::constraintViolation},
    KnownCode{"SERVICE_UNAVAILABLE", CloudError::serviceUnavailable},
    KnownCode{"NETWORK_ERROR", CloudError::networkFailure},
    KnownCode{"INVALID_ARGUMENTS", CloudError::invalidArguments},
    KnownCode{"SIGN_IN_FAILED", CloudError::notAuthenticated},
    KnownCode{"AUTH_PERSIST_ERROR", CloudError::notAuthenticated},
    KnownCode{"UNKNOWN_ERROR", CloudError::internalError},
    KnownCode{"UNEXPECTED_SERVER_RESPONSE", CloudError::internalError},
};

// Longer than a day is no wait a client honours; it is a broken value.
constexpr double kLongestRetryAfter = 86400;

std::optional<double> retryAfterOf(const QJsonValue& value) {
    double seconds = NAN;
    if (value.isDouble()) {
        seconds = value.toDouble();
    } else if (value.isString()) {
        bool isNumber = false;
        seconds = value.toString().trimmed().toDouble(&isNumber);
        if (!isNumber) {
            return std::nullopt;
        }
    }
    if (!std::isfinite(seconds) || seconds < 0 || seconds > kLongestRetryAfter) {
        return std::nullopt;
    }
    return seconds;
}

int codeFor(const QString& serverErrorCode) {
    for (const KnownCode& known : kKnownCodes) {
        if (serverErrorCode == QLatin1String(known.serverErrorCode)) {
            return known.code;
        }
    }
    return CloudError::internalError;
}

}  // namespace

std::optional<ServerError> serverError(const QJsonObject& object) {
    const QJsonValue code = object.value(QStringLiteral("serverErrorCode"));
    if (!code.isString() || code.toString().isEmpty()) {
        return std::nullopt;
    }
    ServerError error;
    error.serverErrorCode = code.toString();
    error.reason = object.value(QStringLiteral("reason")).toString();
    error.retryAfter = retryAfterOf(object.value(QStringLiteral("retryAfter")));
    const QJsonValue redirect = object.value(QStringLiteral("redirectURL"));
    if (redirect.isString() && !redirect.toString().isEmpty()) {
        error.redirectURL = redirect.toString();
    }
    return error;
}

CloudError fromServer(const ServerError& error) {
    // The reason is the service's own sentence; the code stays visible for support.
    const QString description =
        error.reason.isEmpty() ? QStringLiteral("iCloud answered %1").arg(error.serverErrorCode)
                               : QStringLiteral("%1 (%2)").arg(error.reason, error.serverErrorCode);
    return CloudError(codeFor(error.serverErrorCode), description, error.retryAfter);
}

CloudError fromHttpStatus(int httpStatus) {
    const QString description =
        QStringLiteral("iCloud answered HTTP %1 without an error description").arg(httpStatus);
    if (httpStatus == 421 || httpStatus == 401) {
        return CloudError(CloudError::notAuthenticated, description);
    }
    if (httpStatus == 429) {
        return CloudError(CloudError::requestRateLimited, description);
    }
    if (httpStatus >= 500) {
        return CloudError(CloudError::serviceUnavailable, description);
    }
    if (httpStatus >= 400) {
        return CloudError(CloudError::invalidArguments, description);
    }
    // A success status with a body we cannot read.
    return CloudError(
        CloudError::internalError,
        QStringLiteral("iCloud answered HTTP %1 with a body that is not JSON").arg(httpStatus));
}

CloudError fromTransport(TransportFailure failure, const QString& detail) {
    switch (failure) {
        case TransportFailure::hostNotFound:
        case TransportFailure::connectionRefused:
        case TransportFailure::noNetwork:
            return CloudError(CloudError::networkUnavailable, detail);
        case TransportFailure::timedOut:
        case TransportFailure::connectionClosed:
        case TransportFailure::secureChannel:
        case TransportFailure::other:
            return CloudError(CloudError::networkFailure, detail);
    }
    return CloudError(CloudError::networkFailure, detail);
}

}  // namespace CloudWebErrors
