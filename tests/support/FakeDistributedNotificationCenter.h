// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <map>

#include "platform/DistributedNotificationCenter.h"
#include "platform/MainActor.h"

// Notices in memory: what was posted, and observers that run from the main actor's queue.
class FakeDistributedNotificationCenter final : public DistributedNotificationCenter {
public:
    explicit FakeDistributedNotificationCenter(MainActor& mainActor) : mainActor_(mainActor) {}

    ObserverToken addObserver(
        const QString& name, std::function<void(std::optional<QVariant> object)> handler) override {
        const ObserverToken token = nextToken_++;
        observers_.emplace(token, std::make_pair(name, std::move(handler)));
        return token;
    }
    void removeObserver(ObserverToken token) override { observers_.erase(token); }
    void post(const QString& name, const std::optional<QVariant>& object) override {
        posted.append({name, object});
        deliver(name, object);
    }
    // A notice from another process.
    void deliver(const QString& name, const std::optional<QVariant>& object) {
        for (const auto& [token, observer] : observers_) {
            if (observer.first == name) {
                mainActor_.post([this, token = token, object] {
                    if (const auto found = observers_.find(token); found != observers_.end()) {
                        found->second.second(object);
                    }
                });
            }
        }
    }
    std::size_t observerCount() const { return observers_.size(); }

    QList<std::pair<QString, std::optional<QVariant>>> posted;

private:
    MainActor& mainActor_;
    ObserverToken nextToken_ = 1;
    std::map<ObserverToken, std::pair<QString, std::function<void(std::optional<QVariant>)>>>
        observers_;
};
