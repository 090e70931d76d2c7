// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/cloud/WebCourierPush.h"

#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <random>

#include "platform/Completion.h"
#include "platform/MainActor.h"
#include "platform/linux/cloud/CloudWebAnswers.h"
#include "platform/linux/cloud/CloudWebSession.h"
#include "platform/linux/cloud/CourierFrame.h"

namespace {

std::function<double()> standardRandom() {
    auto engine = std::make_shared<std::mt19937>(std::random_device{}());
    return [engine] { return std::uniform_real_distribution<double>(0, 1)(*engine); };
}

QJsonObject environmentBody(const CloudWebSession& session) {
    return {{QStringLiteral("apnsEnvironment"), session.configuration().environment}};
}

}  // namespace

struct WebCourierPush::Registration {
    QUrl courierURL;
    double lifetime = 0;
};

WebCourierPush::WebCourierPush(MainActor& mainActor, CloudWebSession& session,
                               CloudWebTransport& transport, SystemLog& systemLog, Timing timing,
                               std::function<double()> random)
    : mainActor_(mainActor),
      session_(session),
      transport_(transport),
      log_(systemLog, QStringLiteral("net.brontal.zorvik"), QStringLiteral("cloud")),
      timing_(timing),
      random_(random ? std::move(random) : standardRandom()) {}

WebCourierPush::~WebCourierPush() {
    unregister();
}

void WebCourierPush::setHandlers(Handlers handlers) {
    handlers_ = std::move(handlers);
}

void WebCourierPush::registerForRemoteNotifications() {
    if (alive_) {
        return;  // polling already
    }
    alive_ = std::make_shared<bool>(true);
    loop_ = mainActor_.spawn(run(this, alive_));
}

void WebCourierPush::unregister() {
    if (!alive_) {
        return;
    }
    *alive_ = false;
    alive_.reset();
    loop_.cancel();
    loop_ = TaskHandle();
    if (renewalTimer_) {
        mainActor_.stopTimer(*renewalTimer_);
        renewalTimer_.reset();
    }
    if (pollRequest_) {
        transport_.cancel(*pollRequest_);
        pollRequest_.reset();
    }
    // The loop waiting for the poll goes on, sees it is stopped and ends.
    if (auto end = std::exchange(endPoll_, nullptr)) {
        CloudWebResponse cancelled;
        cancelled.failure = CloudWebErrors::TransportFailure::other;
        end(std::move(cancelled));
    }
    registered_ = false;
    lastReport_.reset();
    renewalDue_ = false;
}

double WebCourierPush::backoff(int failures, std::optional<double> retryAfter) const {
    if (retryAfter) {
        return *retryAfter;
    }
    const double base = std::min(timing_.longestBackoff,
                                 timing_.firstBackoff * std::pow(2.0, std::max(0, failures - 1)));
    // Spread the retries of many desktops after an outage: 80 % to 120 % of the step.
    return std::min(timing_.longestBackoff, base * (0.8 + 0.4 * random_()));
}

void WebCourierPush::report(const std::optional<QString>& failure) {
    const bool success = !failure.has_value();
    if (lastReport_ == success) {
        return;
    }
    lastReport_ = success;
    if (success) {
        if (handlers_.didRegister) {
            handlers_.didRegister();
        }
    } else if (handlers_.didFailToRegister) {
        handlers_.didFailToRegister(*failure);
    }
}

void WebCourierPush::renewalDue() {
    renewalTimer_.reset();
    renewalDue_ = true;
    // End the open poll, so the renewal does not wait for its answer.
    if (pollRequest_) {
        transport_.cancel(*pollRequest_);
        pollRequest_.reset();
    }
    if (auto end = std::exchange(endPoll_, nullptr)) {
        CloudWebResponse ended;
        ended.failure = CloudWebErrors::TransportFailure::timedOut;
        end(std::move(ended));
    }
}

Task<std::variant<WebCourierPush::Registration, CloudError>> WebCourierPush::registerToken(
    std::shared_ptr<bool> alive) {
    using Result = std::variant<Registration, CloudError>;
    CloudWebSession& session = session_;
    co_await waitForCompletion<bool>(mainActor_, [&session](CompletionHandler<bool> done) {
        session.loadToken([done]() mutable { done.resume(true); });
    });
    if (!*alive) {
        co_return Result(CloudError(20, QStringLiteral("push registration cancelled")));
    }
    if (!session_.hasToken()) {
        co_return Result(
            CloudError(CloudError::notAuthenticated, QStringLiteral("not signed in to iCloud")));
    }
    const CloudWebReply created = co_await waitForCompletion<CloudWebReply>(
        mainActor_, [&session](CompletionHandler<CloudWebReply> done) {
            session.call(CloudWebSession::Api::device, "POST", QStringLiteral("tokens/create"),
                         environmentBody(session),
                         [done](CloudWebReply reply) { done.resume(std::move(reply)); });
        });
    if (!*alive) {
        // Unregistered meanwhile: a sign-out registers nothing more.
        co_return Result(CloudError(20, QStringLiteral("push registration cancelled")));
    }
    const auto token = CloudWebAnswers::courierToken(created);
    if (const auto* error = std::get_if<CloudError>(&token)) {
        co_return Result(*error);
    }
    const auto& courier = std::get<CloudWebAnswers::CourierToken>(token);
    if (!session.configuration().mayFollow(courier.webcourierURL)) {
        // The long poll carries nothing secret, but plain http would let anyone on the way
        // feed the app pushes and see when codes come.
        co_return Result(CloudError(
            CloudError::internalError,
            QStringLiteral("iCloud's answer to tokens/create has a push courier address that is "
                           "not https")));
    }
    QJsonObject body = environmentBody(session);
    body.insert(QStringLiteral("apnsToken"), courier.apnsToken);
    const CloudWebReply registered = co_await waitForCompletion<CloudWebReply>(
        mainActor_, [&session, &body](CompletionHandler<CloudWebReply> done) {
            session.call(CloudWebSession::Api::device, "POST", QStringLiteral("tokens/register"),
                         body, [done](CloudWebReply reply) { done.resume(std::move(reply)); });
        });
    if (registered.error) {
        co_return Result(*registered.error);
    }
    co_return Result(
        Registration{courier.webcourierURL, courier.ttl.value_or(timing_.defaultTokenLifetime)});
}

Task<CloudWebResponse> WebCourierPush::poll(const QUrl& url) {
    CloudWebRequest request;
    request.method = "GET";
    request.url = url;
    request.timeoutSeconds = timing_.pollTimeout;
    co_return co_await waitForCompletion<CloudWebResponse>(
        mainActor_, [this, &request](CompletionHandler<CloudWebResponse> done) {
            endPoll_ = [done](CloudWebResponse response) { done.resume(std::move(response)); };
            pollRequest_ = transport_.send(request, [this](CloudWebResponse response) {
                pollRequest_.reset();
                if (auto end = std::exchange(endPoll_, nullptr)) {
                    end(std::move(response));
                }
            });
        });
}

Task<void> WebCourierPush::run(WebCourierPush* self, std::shared_ptr<bool> alive) {
    std::optional<QUrl> courier;
    int failures = 0;
    const auto stopped = [&alive] { return !*alive; };
    while (!stopped()) {
        if (!courier || self->renewalDue_) {
            self->renewalDue_ = false;
            const auto registration = co_await self->registerToken(alive);
            if (stopped()) {
                co_return;
            }
            if (const auto* error = std::get_if<CloudError>(&registration)) {
                self->registered_ = false;
                courier.reset();
                self->log_.error("push registration failed: %{public}s",
                                 error->localizedDescription());
                self->report(error->localizedDescription());
                ++failures;
                co_await self->mainActor_.sleep(self->backoff(failures, error->retryAfter()));
                continue;
            }
            const auto& made = std::get<Registration>(registration);
            failures = 0;
            courier = made.courierURL;
            self->registered_ = true;
            const double margin = std::min(self->timing_.renewalMargin, made.lifetime / 10);
            if (self->renewalTimer_) {
                self->mainActor_.stopTimer(*self->renewalTimer_);
            }
            self->renewalTimer_ = self->mainActor_.startTimer(
                made.lifetime - margin, [self, weak = std::weak_ptr<bool>(alive)] {
                    if (const auto still = weak.lock(); still && *still) {
                        self->renewalDue();
                    }
                });
            self->report(std::nullopt);
        }

        const CloudWebResponse response = co_await self->poll(*courier);
        if (stopped()) {
            co_return;
        }
        if (response.failure) {
            if (*response.failure == CloudWebErrors::TransportFailure::timedOut) {
                continue;  // a long poll that outlived its time, or a renewal that ended it
            }
            ++failures;
            self->log_.error("push courier unreachable: %{public}s", response.failureDetail);
            co_await self->mainActor_.sleep(self->backoff(failures, std::nullopt));
            continue;
        }
        if (response.status >= 400 && response.status < 500) {
            // The push token is spent or unknown: get a new one.
            self->log_.error("push courier refused the token (HTTP %ld); renewing it",
                             response.status);
            courier.reset();
            ++failures;
            co_await self->mainActor_.sleep(self->backoff(failures, std::nullopt));
            continue;
        }
        if (response.status != 200) {
            ++failures;
            self->log_.error("push courier answered HTTP %ld", response.status);
            co_await self->mainActor_.sleep(self->backoff(failures, std::nullopt));
            continue;
        }
        const CourierFrame::Frame frame = CourierFrame::parse(response.body);
        if (const auto* malformed = std::get_if<CourierFrame::Malformed>(&frame)) {
            ++failures;
            self->log_.error("push courier: %{public}s", malformed->problem);
            co_await self->mainActor_.sleep(self->backoff(failures, std::nullopt));
            continue;
        }
        failures = 0;
        if (const auto* push = std::get_if<CourierFrame::Push>(&frame)) {
            if (self->handlers_.didReceive) {
                self->handlers_.didReceive(push->userInfo);
            }
            if (stopped()) {
                co_return;
            }
        }
        // Let the fetch the push started go first; then poll again.
        co_await self->mainActor_.yield();
    }
}
