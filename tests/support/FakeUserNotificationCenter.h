// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "platform/MainActor.h"
#include "platform/UserNotificationCenter.h"

// A notification centre in memory. It records what it is told and keeps the notifications on
// show by identifier; a test answers the questions and plays the user's responses. Every
// answer and response goes through the main actor's queue, never inline.
class FakeUserNotificationCenter final : public UserNotificationCenter {
public:
    explicit FakeUserNotificationCenter(MainActor& mainActor) : mainActor_(mainActor) {}

    void setDelegate(Delegate* newDelegate) override { delegate = newDelegate; }
    void setNotificationCategories(const QList<Category>& newCategories) override {
        categories = newCategories;
        ++categoryUpdates;
    }
    void requestAuthorization(
        std::function<void(bool granted, std::optional<QString> error)> answer) override {
        pendingAuthorizations.push_back(std::move(answer));
    }
    void add(const Request& request) override {
        added.push_back(request);
        shown.insert(request.identifier, request);
    }
    void removeDeliveredNotifications(const QStringList& identifiers) override {
        removals.push_back(identifiers);
        for (const QString& identifier : identifiers) {
            shown.remove(identifier);
        }
    }
    void getAuthorizationStatus(std::function<void(AuthorizationStatus)> answer) override {
        ++statusQuestions;
        mainActor_.post(
            [answer = std::move(answer), status = authorizationStatus] { answer(status); });
    }

    // Answers every authorization request asked so far.
    void answerAuthorization(bool granted, std::optional<QString> error = std::nullopt) {
        for (auto& answer : std::exchange(pendingAuthorizations, {})) {
            mainActor_.post(
                [answer = std::move(answer), granted, error] { answer(granted, error); });
        }
    }

    // Plays the user acting on a notification; `done` counts the delegate's calls of its
    // completion in `completions`.
    void respond(const QString& actionIdentifier, const Request& request,
                 std::function<void()> whenDone = nullptr) {
        mainActor_.post(
            [this, response = Response{actionIdentifier, request}, whenDone = std::move(whenDone)] {
                if (delegate == nullptr) {
                    return;
                }
                delegate->didReceive(response, [this, whenDone] {
                    ++completions;
                    if (whenDone) {
                        whenDone();
                    }
                });
            });
    }

    Delegate* delegate = nullptr;
    QList<Category> categories;
    int categoryUpdates = 0;
    std::vector<std::function<void(bool, std::optional<QString>)>> pendingAuthorizations;
    std::vector<Request> added;
    std::vector<QStringList> removals;
    // The notifications on show, by request identifier.
    QHash<QString, Request> shown;
    // What getAuthorizationStatus answers.
    AuthorizationStatus authorizationStatus = AuthorizationStatus::notDetermined;
    int statusQuestions = 0;
    int completions = 0;

private:
    MainActor& mainActor_;
};
