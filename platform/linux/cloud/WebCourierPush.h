// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

#include "platform/Logger.h"
#include "platform/RemoteNotifications.h"
#include "platform/Task.h"
#include "platform/linux/cloud/CloudWebTransport.h"

class CloudWebSession;
class MainActor;

// How the courier's polls and retries are timed.
struct WebCourierTiming {
    // The longest a long poll may stay open before it is asked anew.
    double pollTimeout = 300;
    double firstBackoff = 1;
    double longestBackoff = 60;
    // How long a push token lives when the service does not say: 12 hours.
    double defaultTokenLifetime = 43200;
    // Renew this long before the token's end, at most a tenth of its life.
    double renewalMargin = 600;
};

// Silent pushes through the web push courier. Registering asks the service for a push token
// (tokens/create) and registers it (tokens/register); then one long poll of the courier address
// is always open. Each frame that arrives is handed on exactly as a native push's user info
// (the same change can come once per matching subscription: nothing is dropped as a duplicate).
// An empty answer or a poll that times out simply polls again.
//
// Failures back off 1, 2, 4 … 60 seconds with jitter, or as long as the service's retryAfter
// asks, and start again from 1 after a success. The push token is renewed shortly before its
// "ttl" runs out and after any 4xx from the courier. The first registration's outcome reaches
// didRegister or didFailToRegister; later ones are reported only when the outcome changes.
class WebCourierPush final : public RemoteNotifications {
public:
    using Timing = WebCourierTiming;

    // `random` answers numbers in [0, 1) for the jitter.
    WebCourierPush(MainActor& mainActor, CloudWebSession& session, CloudWebTransport& transport,
                   SystemLog& systemLog, Timing timing = {},
                   std::function<double()> random = nullptr);
    ~WebCourierPush() override;

    void setHandlers(Handlers handlers) override;
    void registerForRemoteNotifications() override;
    bool isRegisteredForRemoteNotifications() const override { return registered_; }

    // Stops polling, as when the user signs out; registering again starts afresh.
    void unregister();

    // The wait after `failures` failures in a row (1 → about 1 s), unless `retryAfter` says.
    double backoff(int failures, std::optional<double> retryAfter) const;

private:
    struct Registration;
    static Task<void> run(WebCourierPush* self, std::shared_ptr<bool> alive);
    Task<std::variant<Registration, CloudError>> registerToken(std::shared_ptr<bool> alive);
    Task<CloudWebResponse> poll(const QUrl& url);
    void report(const std::optional<QString>& failure);
    void renewalDue();

    MainActor& mainActor_;
    CloudWebSession& session_;
    CloudWebTransport& transport_;
    Logger log_;
    Timing timing_;
    std::function<double()> random_;
    Handlers handlers_;
    TaskHandle loop_;
    std::shared_ptr<bool> alive_;
    bool registered_ = false;
    // What was last reported: true registered, false failed.
    std::optional<bool> lastReport_;
    // The poll under way, so that unregistering or a due renewal can end it.
    std::optional<CloudWebTransport::RequestId> pollRequest_;
    std::function<void(CloudWebResponse)> endPoll_;
    bool renewalDue_ = false;
    std::optional<std::uint64_t> renewalTimer_;
};
