// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>
#include <variant>

#include "platform/CloudBackendInfo.h"
#include "platform/CloudError.h"
#include "platform/CloudRecord.h"

// The user's private database in a cloud container. Answers come on the main thread.
class CloudDatabase {
public:
    virtual ~CloudDatabase() = default;
    // The record of the default zone named `recordName`; CloudError unknownItem when there is
    // none, another CloudError when it cannot be read.
    virtual void fetchRecord(const QString& recordName,
                             std::function<void(std::variant<CloudRecord, CloudError>)> answer) = 0;
    // Saves one subscription (one with the same ID is replaced) and deletes none.
    virtual void saveSubscription(const QuerySubscription& subscription,
                                  std::function<void(std::optional<CloudError>)> done) = 0;
};

// A cloud container: the user's account and the private database.
class CloudContainer {
public:
    // The account statuses the cloud reports.
    enum AccountStatus {
        couldNotDetermine = 0,
        available = 1,
        restricted = 2,
        noAccount = 3,
        temporarilyUnavailable = 4
    };

    virtual ~CloudContainer() = default;
    // The account status as a number (another value may come), or the request's error.
    virtual void accountStatus(std::function<void(std::variant<int, CloudError>)> answer) = 0;
    virtual CloudDatabase& privateCloudDatabase() = 0;
    // Which cloud this is, as of the last account status.
    virtual CloudBackendInfo backendInfo() const { return {}; }
};

// Signing in to the user's cloud where the desktop has no system account for it: the user
// signs in in the browser, and the session comes back to the application.
class CloudAccountSignIn {
public:
    virtual ~CloudAccountSignIn() = default;
    // Opens the sign-in page and waits for the session. Nothing is reported to the caller: the
    // next account check shows the outcome, and `accountChanged` runs when it changed.
    virtual void signIn() = 0;
    // Uses the account a sign-in came back with (the backend info's `accountToConfirm`); does
    // nothing unless a sign-in waits with exactly that account, so a confirmation never goes to
    // an account the user was not shown.
    virtual void confirmSignIn(const QString& account) = 0;
    // Turns that account down; the session it came with is forgotten.
    virtual void declineSignIn() = 0;
    // Forgets the session; codes come through the embedded cloud again.
    virtual void signOut() = 0;
    // Runs after a sign-in, a sign-out, a failed sign-in or when an account waits for the
    // user's confirmation, on the main thread.
    std::function<void()> accountChanged;
};
