// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <functional>
#include <optional>
#include <variant>

#include "platform/CloudContainer.h"
#include "platform/MainActor.h"

// A cloud container in memory. Answers come through the main queue; `holdFetches` keeps record
// fetches waiting until the test releases them, as a slow network would.
class FakeCloudContainer final : public CloudContainer, public CloudDatabase {
public:
    explicit FakeCloudContainer(MainActor& mainActor) : mainActor_(mainActor) {}

    // CloudContainer
    void accountStatus(std::function<void(std::variant<int, CloudError>)> answer) override {
        ++accountRequests;
        mainActor_.post([this, answer = std::move(answer)] { answer(account); });
    }
    CloudDatabase& privateCloudDatabase() override { return *this; }
    CloudBackendInfo backendInfo() const override { return backend; }

    // CloudDatabase
    void fetchRecord(const QString& recordName,
                     std::function<void(std::variant<CloudRecord, CloudError>)> answer) override {
        ++fetches;
        lastFetchedName = recordName;
        auto reply = [this, answer = std::move(answer)] {
            if (record) {
                answer(*record);
            } else {
                answer(
                    fetchError.value_or(CloudError(CloudError::unknownItem, "Record not found")));
            }
        };
        if (holdFetches) {
            heldFetches.append(std::move(reply));
        } else {
            mainActor_.post(std::move(reply));
        }
    }
    void saveSubscription(const QuerySubscription& subscription,
                          std::function<void(std::optional<CloudError>)> done) override {
        savedSubscriptions.append(subscription);
        mainActor_.post([this, done = std::move(done)] { done(subscriptionError); });
    }

    // Lets every held fetch answer now.
    void releaseFetches() {
        for (auto& reply : std::exchange(heldFetches, {})) {
            mainActor_.post(std::move(reply));
        }
    }

    std::variant<int, CloudError> account = CloudContainer::available;
    std::optional<CloudRecord> record;
    std::optional<CloudError> fetchError;
    std::optional<CloudError> subscriptionError;
    bool holdFetches = false;
    QList<std::function<void()>> heldFetches;
    QList<QuerySubscription> savedSubscriptions;
    QString lastFetchedName;
    int fetches = 0;
    int accountRequests = 0;
    CloudBackendInfo backend;

private:
    MainActor& mainActor_;
};
