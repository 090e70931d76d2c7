#pragma once

#include "Error.h"

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
        quotaExceeded = 25,
    };

    CloudError(int code, QString description) : code_(code), description_(std::move(description)) {}

    int code() const { return code_; }
    QString localizedDescription() const override { return description_; }
    bool operator==(const CloudError& other) const {
        return code_ == other.code_ && description_ == other.description_;
    }

private:
    int code_;
    QString description_;
};
