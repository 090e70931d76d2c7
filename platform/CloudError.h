// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include "platform/Error.h"

// An error of the cloud database, with the platform's numeric code and its description.
class CloudError : public Error {
public:
    enum Code {
        internalError = 1,
        partialFailure = 2,
        networkUnavailable = 3,
        networkFailure = 4,
        badContainer = 5,
        serviceUnavailable = 6,
        requestRateLimited = 7,
        notAuthenticated = 9,
        permissionFailure = 10,
        unknownItem = 11,
        invalidArguments = 12,
        serverRecordChanged = 14,
        serverRejectedRequest = 15,
        constraintViolation = 19,
        batchRequestFailed = 22,
        quotaExceeded = 25,
        zoneNotFound = 26,
        referenceViolation = 31,
    };

    CloudError(int code, QString description, std::optional<double> retryAfter = std::nullopt)
        : code_(code), description_(std::move(description)), retryAfter_(retryAfter) {}

    int code() const { return code_; }
    QString localizedDescription() const override { return description_; }
    // Seconds the service asks the client to wait before trying again, when it says.
    std::optional<double> retryAfter() const { return retryAfter_; }
    bool operator==(const CloudError& other) const {
        return code_ == other.code_ && description_ == other.description_ &&
               retryAfter_ == other.retryAfter_;
    }

private:
    int code_;
    QString description_;
    std::optional<double> retryAfter_;
};
