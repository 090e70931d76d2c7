// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <functional>
#include <optional>
#include <utility>

#include "platform/Keychain.h"

// An in-memory keychain. `failWith` makes every call answer that status, as a locked or
// unreachable keychain would. `unlock` answers `unlockAnswer` and, when that is success, ends a
// locked `failWith`, as the keyring's prompt would. Like the Secret Service, it reports its own
// changes of the observed item to the observer; a test that changes `items` or `failWith` directly
// calls `reportChange` as the service's signal would. `holdReads` keeps the answers of
// copyMatchingLater, and `holdStores` those of storeLater and removeLater, until `releaseHeld`, as
// a slow service would. `blockingCalls` counts the calls that would block on a real service.
class FakeKeychain final : public Keychain {
public:
    Result copyMatching(const Query& query) override {
        ++blockingCalls;
        return read(query);
    }
    std::int32_t add(const Query& query, const QByteArray& data) override {
        ++blockingCalls;
        if (failWith) {
            return *failWith;
        }
        if (items.contains(keyOf(query))) {
            return duplicateItem;
        }
        items.insert(keyOf(query), data);
        reportChangeOf(query);
        return success;
    }
    std::int32_t store(const Query& query, const QByteArray& data) override {
        ++blockingCalls;
        return write(query, data);
    }
    std::int32_t remove(const Query& query) override {
        ++blockingCalls;
        return erase(query);
    }
    void copyMatchingLater(const Query& query, std::function<void(Result)> done) override {
        ++laterReads;
        if (holdReads) {
            // Answered as of the request, as a service that is slow to reply would.
            held.append([answer = read(query), done = std::move(done)] { done(answer); });
            return;
        }
        done(read(query));
    }
    void storeLater(const Query& query, const QByteArray& data,
                    std::function<void(std::int32_t)> done) override {
        if (holdStores) {
            // Lands only when released, as a store still on its way to the service.
            held.append([this, query, data, done = std::move(done)] { done(write(query, data)); });
            return;
        }
        done(write(query, data));
    }
    void removeLater(const Query& query, std::function<void(std::int32_t)> done) override {
        if (holdStores) {
            held.append([this, query, done = std::move(done)] { done(erase(query)); });
            return;
        }
        done(erase(query));
    }
    void releaseHeld() {
        holdReads = false;
        holdStores = false;
        const auto answers = std::exchange(held, {});
        for (const auto& answer : answers) {
            answer();
        }
    }
    void setChangeObserver(const Query& watched, std::function<void()> changed) override {
        observed = watched;
        observer = std::move(changed);
    }
    void reportChange() {
        if (observer) {
            observer();
        }
    }
    // As the Secret Service's reports are filtered: only the observed item's own changes.
    void reportChangeOf(const Query& query) {
        if (keyOf(query) == keyOf(observed)) {
            reportChange();
        }
    }

    void unlock(const Query& query, std::function<void(std::int32_t)> done) override {
        ++unlocks;
        lastQuery = query;
        if (unlockAnswer == success && failWith == interactionNotAllowed) {
            failWith.reset();
            reportChange();
        }
        done(unlockAnswer);
    }

    // Opens a locked `failWith` only when `quietUnlockAnswer` is success, as a wallet opened at
    // login does; a keyring that needs its password answers interactionNotAllowed.
    void unlockWithoutPrompt(const Query& query, std::function<void(std::int32_t)> done) override {
        ++quietUnlocks;
        lastQuery = query;
        if (quietUnlockAnswer == success && failWith == interactionNotAllowed) {
            failWith.reset();
            reportChange();
        }
        done(quietUnlockAnswer);
    }

    static QPair<QString, QString> keyOf(const Query& query) {
        return {query.service, query.account};
    }

    QHash<QPair<QString, QString>, QByteArray> items;
    std::optional<std::int32_t> failWith;
    std::optional<Query> lastQuery;
    std::int32_t unlockAnswer = success;
    std::int32_t quietUnlockAnswer = interactionNotAllowed;
    int quietUnlocks = 0;
    std::function<void()> observer;
    Query observed;
    bool holdReads = false;
    QList<std::function<void()>> held;
    bool holdStores = false;
    int laterReads = 0;
    int unlocks = 0;
    int lookups = 0;
    int stores = 0;
    // Calls that would block the caller on a real keychain service.
    int blockingCalls = 0;

private:
    Result read(const Query& query) {
        ++lookups;
        lastQuery = query;
        if (failWith) {
            return {*failWith, std::nullopt};
        }
        const auto found = items.constFind(keyOf(query));
        if (found == items.cend()) {
            return {itemNotFound, std::nullopt};
        }
        return {success, query.returnData ? std::optional(*found) : std::nullopt};
    }
    std::int32_t write(const Query& query, const QByteArray& data) {
        ++stores;
        if (failWith) {
            return *failWith;
        }
        items.insert(keyOf(query), data);
        reportChangeOf(query);
        return success;
    }
    std::int32_t erase(const Query& query) {
        if (failWith) {
            return *failWith;
        }
        if (!items.remove(keyOf(query))) {
            return itemNotFound;
        }
        reportChangeOf(query);
        return success;
    }
};
