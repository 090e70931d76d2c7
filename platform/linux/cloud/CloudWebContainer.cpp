#include "CloudWebContainer.h"

#include "CloudWebAnswers.h"
#include "CloudWebSession.h"

CloudWebContainer::CloudWebContainer(CloudWebSession& session, QString subscriptionStateFile)
    : session_(session), database_(session, std::move(subscriptionStateFile)) {}

void CloudWebContainer::accountStatus(std::function<void(std::variant<int, CloudError>)> answer) {
    if (!session_.hasToken()) {
        restrictionReason_.reset();
        // Through the session's queue, so the answer never comes inline.
        session_.call(
            CloudWebSession::Api::database, "GET", QStringLiteral("public/users/caller"), {},
            [answer = std::move(answer)](const CloudWebReply&) { answer(noAccount); }, false);
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
