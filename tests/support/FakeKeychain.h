#pragma once

#include <QHash>
#include <QPair>
#include <optional>

#include "Keychain.h"

// An in-memory keychain. `failWith` makes every call answer that status, as a locked or
// unreachable keychain would. `unlock` answers `unlockAnswer` and, when that is success, ends a
// locked `failWith`, as the keyring's prompt would.
class FakeKeychain final : public Keychain {
public:
    Result copyMatching(const Query& query) override {
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
    std::int32_t add(const Query& query, const QByteArray& data) override {
        if (failWith) {
            return *failWith;
        }
        if (items.contains(keyOf(query))) {
            return duplicateItem;
        }
        items.insert(keyOf(query), data);
        return success;
    }
    std::int32_t store(const Query& query, const QByteArray& data) override {
        ++stores;
        if (failWith) {
            return *failWith;
        }
        items.insert(keyOf(query), data);
        return success;
    }
    std::int32_t remove(const Query& query) override {
        if (failWith) {
            return *failWith;
        }
        return items.remove(keyOf(query)) ? success : itemNotFound;
    }

    void unlock(const Query& query, std::function<void(std::int32_t)> done) override {
        ++unlocks;
        lastQuery = query;
        if (unlockAnswer == success && failWith == interactionNotAllowed) {
            failWith.reset();
        }
        done(unlockAnswer);
    }

    static QPair<QString, QString> keyOf(const Query& query) {
        return {query.service, query.account};
    }

    QHash<QPair<QString, QString>, QByteArray> items;
    std::optional<std::int32_t> failWith;
    std::optional<Query> lastQuery;
    std::int32_t unlockAnswer = success;
    int unlocks = 0;
    int lookups = 0;
    int stores = 0;
};
