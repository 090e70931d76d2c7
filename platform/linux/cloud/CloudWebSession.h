// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Keychain.h"
#include "platform/Logger.h"
#include "platform/OnChangeLogger.h"
#include "platform/linux/cloud/CloudWebConfiguration.h"
#include "platform/linux/cloud/CloudWebErrors.h"
#include "platform/linux/cloud/CloudWebTransport.h"

class MainActor;

// What the web service answered to one call.
struct CloudWebReply {
    // 0 when no HTTP answer came.
    int httpStatus = 0;
    // The answer's JSON object; empty when it had none.
    QJsonObject body;
    // Set for every failure: no answer, an error status, or a body that is not a JSON object.
    std::optional<CloudError> error;
    // The service's own error object, when the failure came with one.
    std::optional<CloudWebErrors::ServerError> serverError;
};

// The user's session with the cloud's web service. Each answer carries a new session token that
// replaces the one sent, which is then spent; so calls go one at a time, and the newest token is
// in the keychain before the next call leaves. A crash between two calls loses nothing: the
// next run reads the token the last answer gave. An answer without a new token keeps the
// current one.
//
// The token lives in the Secret Service item service=net.brontal.zorvik.cloudkit,
// account=web-auth-token, beside the sync key. It never reaches a log line.
class CloudWebSession {
public:
    enum class Api { database, device };

    CloudWebSession(MainActor& mainActor, CloudWebTransport& transport, Keychain& keychain,
                    SystemLog& systemLog, CloudWebConfiguration configuration);
    ~CloudWebSession();

    static Keychain::Query tokenQuery();

    const CloudWebConfiguration& configuration() const { return configuration_; }
    MainActor& mainActor() const { return mainActor_; }
    // How many seconds this computer's clock is ahead of the service's (negative: behind), by
    // the Date of its last answer; nothing before one came.
    std::optional<double> serverClockAhead() const { return serverClockAhead_; }

    // Sends `body` (nothing for a GET) to the service's `path` below the container, like
    // "private/records/lookup", after every call before it has answered. With `authenticated`
    // false the call carries no session token, which is how the service tells where to sign in.
    void call(Api api, const QByteArray& method, const QString& path, const QJsonObject& body,
              std::function<void(CloudWebReply)> answer, bool authenticated = true);

    // Asks the service whose session `token` is (users/caller) before anything trusts it: the
    // session's own token is neither sent nor changed, and `token` is stored nowhere. `answer`
    // gets the reply and the token that now stands for that session (the answer's new one, else
    // `token` itself).
    void checkToken(const QByteArray& token,
                    std::function<void(CloudWebReply reply, QByteArray next)> answer);

    // Reads the stored session from the keychain without blocking, once; `loaded` runs when it
    // is known, at once when it already is. A keychain that cannot answer (a locked keyring)
    // leaves it unknown, to be read again at the next call.
    void loadToken(std::function<void()> loaded);
    // Whether a session token is known: what the read, a sign-in or a sign-out last found.
    bool hasToken() const;

    // Stores the token a sign-in brought back; the session uses it once the keychain has it.
    // `done` hears the keychain's status, or userCanceled when a sign-out or another sign-in
    // came while the store was on its way (the session is then left as that made it).
    void adoptToken(const QByteArray& token, std::function<void(std::int32_t status)> done);
    // Signs out: the token is dropped at once and removed from the keychain; `done` hears the
    // keychain's status (success when there was nothing to remove).
    void forgetToken(std::function<void(std::int32_t status)> done);

    // Lets the calls under way answer, for at most `seconds`, while the application quits: a
    // call the service has answered spent the token it carried, and only its answer holds the
    // next one.
    void finishCallsUnderWay(double seconds);

    // What an HTTP answer says: its JSON object, or the error it stands for.
    static CloudWebReply readReply(const CloudWebResponse& response);

private:
    struct Call;
    void startNext();
    void send();
    void tokenRead(const Keychain::Result& result);
    // Runs, once each, whatever waited for the keychain's first answer.
    void runTokenWaiters();
    // The session is known now (a sign-in or a sign-out): nothing waits for a read any more.
    void settleToken();
    void finish(Call& call, CloudWebResponse response);
    void keep(const QByteArray& token);
    void storeLatestToken();
    // A refusal of the token sent, which another process may have spent: the keychain is asked
    // for a newer one, taken for one more try of the call.
    static bool mayBeSpentElsewhere(const Call& call, const CloudWebResponse& response);
    // Hands the answer over, then sends the next call once the answer's token is stored.
    void answered(std::unique_ptr<Call> call, CloudWebResponse response);

    MainActor& mainActor_;
    std::optional<double> serverClockAhead_;
    CloudWebTransport& transport_;
    Keychain& keychain_;
    Logger log_;
    // A keyring that stays locked is one line, not one per call.
    OnChangeLogger readFailureLog_{log_};
    CloudWebConfiguration configuration_;
    std::deque<std::unique_ptr<Call>> queue_;
    bool busy_ = false;
    // Read from the keychain on first use.
    std::optional<QByteArray> token_;
    bool tokenLoaded_ = false;
    std::vector<std::function<void()>> tokenWaiters_;
    // Counts sign-ins and sign-outs: an answer to a call of an earlier session rotates nothing.
    std::uint64_t generation_ = 0;
    // A token store on its way to the keychain, and whether a newer state must follow it.
    bool storing_ = false;
    bool storeAgain_ = false;
    // The next call waits for the store, so that it never spends a token nobody else can find.
    bool nextAfterStore_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
