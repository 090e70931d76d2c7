// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/cloud/CloudWebContainer.h"

#include "platform/MainActor.h"
#include "platform/linux/cloud/CloudWebAnswers.h"
#include "platform/linux/cloud/CloudWebSession.h"

CloudWebContainer::CloudWebContainer(CloudWebSession& session, QString subscriptionStateFile)
    : session_(session), database_(session, std::move(subscriptionStateFile)) {}

void CloudWebContainer::accountStatus(std::function<void(std::variant<int, CloudError>)> answer) {
    session_.loadToken([this, alive = std::weak_ptr<bool>(alive_), answer = std::move(answer)] {
        if (!alive.expired()) {
            askForAccount(answer);
        }
    });
}

void CloudWebContainer::askForAccount(std::function<void(std::variant<int, CloudError>)> answer) {
    if (!session_.hasToken()) {
        restrictionReason_.reset();
        // Nothing to ask the service; the answer still comes later, never inline.
        session_.mainActor().post([answer = std::move(answer)] { answer(noAccount); });
        return;
    }
    session_.call(CloudWebSession::Api::database, "GET", QStringLiteral("public/users/caller"), {},
                  [this, alive = std::weak_ptr<bool>(alive_),
                   answer = std::move(answer)](const CloudWebReply& reply) {
                      const CloudWebAnswers::AccountAnswer account =
                          CloudWebAnswers::accountStatus(reply);
                      if (!alive.expired()) {
                          restrictionReason_ = account.reason;
                          if (account.userRecordName) {
                              database_.setUserRecordName(*account.userRecordName);
                          }
                      }
                      answer(account.status);
                  });
}
