// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "platform/MainActor.h"
#include "platform/Workspace.h"

// A desktop in memory. It records what it is asked to open, and `openURLSucceeds` decides
// whether a URL opens. `fire` plays the desktop reporting an event: the observers of that event
// run from the main actor's queue, never inline, and one removed before its turn does not run.
class FakeWorkspace final : public Workspace {
public:
    explicit FakeWorkspace(MainActor& mainActor) : mainActor_(mainActor) {}

    ObserverToken addObserver(Event event, std::function<void()> handler) override {
        const ObserverToken token = nextToken_++;
        observers_.emplace(token, std::make_pair(event, std::move(handler)));
        return token;
    }
    void removeObserver(ObserverToken token) override { observers_.erase(token); }
    bool openURL(const QString& url) override {
        openedURLs.append(url);
        return openURLSucceeds;
    }
    void openApplication(const QString& path) override { openedApplications.append(path); }

    void fire(Event event) {
        mainActor_.post([this, event] {
            std::vector<ObserverToken> tokens;
            for (const auto& [token, observer] : observers_) {
                if (observer.first == event) {
                    tokens.push_back(token);
                }
            }
            for (const ObserverToken token : tokens) {
                const auto found = observers_.find(token);
                if (found != observers_.end()) {
                    // A copy, so that a handler may remove itself.
                    const std::function<void()> handler = found->second.second;
                    handler();
                }
            }
        });
    }

    std::size_t observerCount() const { return observers_.size(); }

    QStringList openedURLs;
    QStringList openedApplications;
    bool openURLSucceeds = true;

private:
    MainActor& mainActor_;
    ObserverToken nextToken_ = 1;
    std::map<ObserverToken, std::pair<Event, std::function<void()>>> observers_;
};

// Counts how often the AutoFill provider settings were opened.
class FakeAutoFillSettings final : public AutoFillSettings {
public:
    void openCredentialProviderAppSettings() override { ++opened; }

    int opened = 0;
};
