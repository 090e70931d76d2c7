// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include "platform/CloudContainer.h"
#include "platform/linux/cloud/CloudWebDatabase.h"

class CloudWebSession;

// The container through the cloud's web service: the account as users/caller tells it, and the
// private database.
//
//   no session token stored           no account (3), once the keychain has answered
//   200 with a user record name       available (1)
//   421 or 401                        no account (3): the user signs in again
//   403                               restricted (2), with the service's reason kept
//   429, 503 or another 5xx           temporarily unavailable (4)
//   no answer, or no JSON             could not determine (0)
class CloudWebContainer final : public CloudContainer {
public:
    CloudWebContainer(CloudWebSession& session, QString subscriptionStateFile);

    void accountStatus(std::function<void(std::variant<int, CloudError>)> answer) override;
    CloudDatabase& privateCloudDatabase() override { return database_; }

    CloudWebSession& session() { return session_; }
    CloudWebDatabase& database() { return database_; }
    // Why the service restricts the account, from the last check that found it restricted.
    const std::optional<QString>& restrictionReason() const { return restrictionReason_; }

private:
    void askForAccount(std::function<void(std::variant<int, CloudError>)> answer);

    CloudWebSession& session_;
    CloudWebDatabase database_;
    std::optional<QString> restrictionReason_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
