// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/cloud/CloudWebSession.h"

#include <utility>

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QTimer>

#include "platform/MainActor.h"

namespace {

// Query values are encoded completely: the token holds "+", "/" and "=", which a server would
// otherwise read as a space or a separator.
QByteArray queryValue(const QByteArray& value) {
    return QUrl::toPercentEncoding(QString::fromUtf8(value));
}

}  // namespace

struct CloudWebSession::Call {
    Api api;
    QByteArray method;
    QString path;
    QJsonObject body;
    std::function<void(CloudWebReply)> answer;
    bool authenticated;
    // The token the call left with, and whether it is already the second try.
    std::optional<QByteArray> sentToken = std::nullopt;
    bool retried = false;
    // The session (between sign-ins and sign-outs) the call left in.
    std::uint64_t generation = 0;
    // A token to be checked, sent instead of the session's; its answer goes to `checked`.
    std::optional<QByteArray> checkedToken = std::nullopt;
    std::function<void(CloudWebReply, QByteArray)> checked = nullptr;
};

CloudWebSession::CloudWebSession(MainActor& mainActor, CloudWebTransport& transport,
                                 Keychain& keychain, SystemLog& systemLog,
                                 CloudWebConfiguration configuration)
    : mainActor_(mainActor),
      transport_(transport),
      keychain_(keychain),
      log_(systemLog, QStringLiteral("net.brontal.zorvik"), QStringLiteral("cloud")),
      configuration_(std::move(configuration)) {}

CloudWebSession::~CloudWebSession() {
    *alive_ = false;
}

Keychain::Query CloudWebSession::tokenQuery() {
    Keychain::Query query;
    query.service = QStringLiteral("net.brontal.zorvik.cloudkit");
    query.account = QStringLiteral("web-auth-token");
    query.synchronizable = false;
    return query;
}

void CloudWebSession::loadToken(std::function<void()> loaded) {
    if (tokenLoaded_) {
        loaded();
        return;
    }
    tokenWaiters_.push_back(std::move(loaded));
    if (tokenWaiters_.size() > 1) {
        return;  // the read on its way answers them all
    }
    keychain_.copyMatchingLater(
        tokenQuery(), [this, alive = std::weak_ptr<bool>(alive_)](const Keychain::Result& result) {
            if (!alive.expired()) {
                tokenRead(result);
            }
        });
}

void CloudWebSession::tokenRead(const Keychain::Result& result) {
    // A sign-in or a sign-out while the read was on its way knows better than the read.
    if (!tokenLoaded_) {
        if (result.status == Keychain::success && result.data && !result.data->isEmpty()) {
            token_ = *result.data;
            tokenLoaded_ = true;
        } else if (result.status == Keychain::success || result.status == Keychain::itemNotFound) {
            tokenLoaded_ = true;
        }
        if (tokenLoaded_) {
            readFailureLog_.forget(QStringLiteral("read"));
        } else {
            // A locked keyring: read again next time rather than deciding there is no session.
            readFailureLog_.write(LogLevel::error, QStringLiteral("read"),
                                  "cannot read the iCloud session from the keyring: %{public}s",
                                  Keychain::describe(result.status));
        }
    }
    runTokenWaiters();
}

void CloudWebSession::runTokenWaiters() {
    for (const auto& loaded : std::exchange(tokenWaiters_, {})) {
        loaded();
    }
}

bool CloudWebSession::hasToken() const {
    return token_.has_value();
}

void CloudWebSession::adoptToken(const QByteArray& token, std::function<void(std::int32_t)> done) {
    const std::uint64_t startedIn = generation_;
    keychain_.storeLater(tokenQuery(), token,
                         [this, alive = std::weak_ptr<bool>(alive_), token, startedIn,
                          done = std::move(done)](std::int32_t status) {
                             if (alive.expired()) {
                                 return;
                             }
                             if (status != Keychain::success) {
                                 done(status);
                                 return;
                             }
                             if (generation_ != startedIn) {
                                 // Signed out, or in again, while this store was on its way: the
                                 // keychain must hold what that left, not this token.
                                 if (token_) {
                                     storeLatestToken();
                                 } else {
                                     keychain_.removeLater(tokenQuery(), [](std::int32_t) {});
                                 }
                                 done(Keychain::userCanceled);
                                 return;
                             }
                             token_ = token;
                             ++generation_;
                             // A rotated token still on its way to the keychain must not stay there
                             // over this one.
                             storeAgain_ = storing_;
                             settleToken();
                             done(status);
                         });
}

void CloudWebSession::forgetToken(std::function<void(std::int32_t)> done) {
    // Signed out at once: no call sends the token again, and no answer under way brings it back.
    token_.reset();
    ++generation_;
    storeAgain_ = storing_;
    settleToken();
    keychain_.removeLater(tokenQuery(), [done = std::move(done)](std::int32_t status) {
        done(status == Keychain::itemNotFound ? Keychain::success : status);
    });
}

void CloudWebSession::settleToken() {
    tokenLoaded_ = true;
    // Whoever waits for a read still on its way need not wait for it any more.
    runTokenWaiters();
}

void CloudWebSession::call(Api api, const QByteArray& method, const QString& path,
                           const QJsonObject& body, std::function<void(CloudWebReply)> answer,
                           bool authenticated) {
    queue_.push_back(
        std::make_unique<Call>(Call{api, method, path, body, std::move(answer), authenticated}));
    if (!busy_) {
        startNext();
    }
}

void CloudWebSession::checkToken(const QByteArray& token,
                                 std::function<void(CloudWebReply, QByteArray)> answer) {
    auto call = std::make_unique<Call>(
        Call{Api::database, "GET", QStringLiteral("public/users/caller"), {}, nullptr, false});
    call->checkedToken = token;
    call->checked = std::move(answer);
    queue_.push_back(std::move(call));
    if (!busy_) {
        startNext();
    }
}

void CloudWebSession::startNext() {
    if (queue_.empty()) {
        busy_ = false;
        return;
    }
    busy_ = true;
    if (queue_.front()->authenticated && !tokenLoaded_) {
        loadToken([this] { send(); });
        return;
    }
    send();
}

void CloudWebSession::send() {
    Call& next = *queue_.front();
    QUrl url = next.api == Api::database ? configuration_.databaseURL(next.path)
                                         : configuration_.deviceURL(next.path);
    QByteArray query = "ckAPIToken=" + queryValue(configuration_.apiToken.toUtf8());
    next.sentToken.reset();
    next.generation = generation_;
    if (next.checkedToken) {
        query += "&ckWebAuthToken=" + queryValue(*next.checkedToken);
    } else if (next.authenticated && token_) {
        query += "&ckWebAuthToken=" + queryValue(*token_);
        next.sentToken = token_;
    }
    url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);

    CloudWebRequest request;
    request.method = next.method;
    request.url = url;
    if (next.method != "GET") {
        request.body = QJsonDocument(next.body).toJson(QJsonDocument::Compact);
    }
    transport_.send(request, [this,
                              alive = std::weak_ptr<bool>(alive_)](CloudWebResponse response) {
        if (alive.expired()) {
            return;
        }
        if (response.serverDate) {
            serverClockAhead_ = secondsBetween(*response.serverDate, mainActor_.now());
        }
        std::unique_ptr<Call> done = std::move(queue_.front());
        queue_.pop_front();
        if (!mayBeSpentElsewhere(*done, response)) {
            answered(std::move(done), std::move(response));
            return;
        }
        // Another process of this user (ZorvikMac --pair, a newer copy) used the
        // session meanwhile and stored the token its answer gave; the refused
        // one was spent there. The keychain is asked without blocking.
        keychain_.copyMatchingLater(
            tokenQuery(), [this, alive, call = std::shared_ptr<Call>(std::move(done)),
                           response = std::move(response)](Keychain::Result stored) mutable {
                if (alive.expired()) {
                    return;
                }
                auto refused = std::make_unique<Call>(std::move(*call));
                if (refused->generation == generation_ && stored.status == Keychain::success &&
                    stored.data && !stored.data->isEmpty() && *stored.data != *refused->sentToken) {
                    token_ = *stored.data;
                    refused->retried = true;
                    queue_.push_front(std::move(refused));
                    startNext();
                    return;
                }
                answered(std::move(refused), std::move(response));
            });
    });
}

void CloudWebSession::answered(std::unique_ptr<Call> call, CloudWebResponse response) {
    finish(*call, std::move(response));
    // The answer's callback may have queued the next call already; it leaves from the queue once
    // the token of this answer is in the keychain, where another process of this user finds it
    // (the answer itself is not held).
    if (storing_) {
        nextAfterStore_ = true;
        return;
    }
    startNext();
}

bool CloudWebSession::mayBeSpentElsewhere(const Call& call, const CloudWebResponse& response) {
    return !call.retried && call.sentToken && !response.failure &&
           (response.status == 421 || response.status == 401);
}

void CloudWebSession::keep(const QByteArray& token) {
    if (token_ == token) {
        return;
    }
    token_ = token;
    tokenLoaded_ = true;
    storeLatestToken();
}

void CloudWebSession::storeLatestToken() {
    // Every answer rotates the token: storing it must not block the main thread. One store at a
    // time, so the keychain ends with the newest token, never an older one that landed last.
    if (storing_) {
        storeAgain_ = true;
        return;
    }
    storing_ = true;
    const auto stored = [this, alive = alive_](std::int32_t status) {
        if (!*alive) {
            return;
        }
        storing_ = false;
        if (status != Keychain::success) {
            log_.error("cannot keep the iCloud session in the keyring: %{public}s",
                       Keychain::describe(status));
        }
        if (std::exchange(storeAgain_, false)) {
            if (token_) {
                storeLatestToken();
                return;
            }
            // Signed out while the store was on its way.
            keychain_.removeLater(tokenQuery(), [](std::int32_t) {});
        }
        if (std::exchange(nextAfterStore_, false)) {
            startNext();
        }
    };
    keychain_.storeLater(tokenQuery(), *token_, stored);
}

void CloudWebSession::finishCallsUnderWay(double seconds) {
    if (!busy_) {
        return;
    }
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(int(seconds * 1000));
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [this, &loop] {
        if (!busy_) {
            loop.quit();
        }
    });
    check.start(5);
    loop.exec();
}

CloudWebReply CloudWebSession::readReply(const CloudWebResponse& response) {
    CloudWebReply reply;
    if (response.failure) {
        reply.error = CloudWebErrors::fromTransport(*response.failure, response.failureDetail);
        return reply;
    }
    reply.httpStatus = response.status;
    QJsonParseError parseError{};
    const QJsonDocument document = response.body.trimmed().isEmpty()
                                       ? QJsonDocument(QJsonObject())
                                       : QJsonDocument::fromJson(response.body, &parseError);
    const bool isObject = parseError.error == QJsonParseError::NoError && document.isObject();
    if (isObject) {
        reply.body = document.object();
    }
    const bool succeeded = response.status >= 200 && response.status < 300;
    if (isObject && !succeeded) {
        reply.serverError = CloudWebErrors::serverError(reply.body);
    }
    if (reply.serverError) {
        reply.error = CloudWebErrors::fromServer(*reply.serverError);
    } else if (!succeeded || !isObject) {
        reply.error = CloudWebErrors::fromHttpStatus(response.status);
    }
    return reply;
}

void CloudWebSession::finish(Call& call, CloudWebResponse response) {
    // Only an answer to a call that carried the session's token can rotate it: not one sent
    // before a sign-out or another sign-in.
    if (!response.failure && call.sentToken && call.generation == generation_ &&
        !response.rotatedToken.isEmpty()) {
        keep(response.rotatedToken);
    }
    if (call.checkedToken) {
        const bool rotated = !response.failure && !response.rotatedToken.isEmpty();
        call.checked(readReply(response), rotated ? response.rotatedToken : *call.checkedToken);
        return;
    }
    call.answer(readReply(response));
}
