// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Error.h"

// A failed change of the login item, with the system's own message.
class LoginItemError : public Error {
public:
    explicit LoginItemError(QString message) : message_(std::move(message)) {}
    QString localizedDescription() const override { return message_; }

private:
    QString message_;
};

// Whether the application starts when the user logs in.
class LoginItemService {
public:
    enum class Status { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

    virtual ~LoginItemService() = default;
    virtual Status status() const = 0;
    // Both throw LoginItemError.
    virtual void registerApp() = 0;
    virtual void unregisterApp() = 0;
};
