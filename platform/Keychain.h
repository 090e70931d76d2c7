// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

// The user's keychain, answering with the keychain's own numeric statuses. Reading and writing
// never show an unlock prompt: a locked keyring is reported, not opened. Only `unlock`, which
// the user asks for, may bring up the keyring's own prompt.
class Keychain {
public:
    enum Status : std::int32_t {
        success = 0,
        itemNotFound = -25300,
        duplicateItem = -25299,
        interactionNotAllowed = -25308,  // the keyring is locked
        notAvailable = -25291,           // no keychain service is reachable
        authorizationFailed = -25293,    // access denied
        userCanceled = -128,             // the user dismissed the unlock prompt
        otherFailure = -2070,
    };

    // A generic-password query; the flags mirror what the product asks the keychain for.
    struct Query {
        QString service;
        QString account;
        bool synchronizable = true;
        bool returnData = true;
        bool matchLimitOne = true;
        bool useDataProtectionKeychain = true;
        bool operator==(const Query&) const = default;
    };

    struct Result {
        std::int32_t status = otherFailure;
        // The item's data; absent when the item has none or it was not asked for.
        std::optional<QByteArray> data;
    };

    // A status in words a user can act on, such as "the keyring service is not running".
    static QString describe(std::int32_t status);

    virtual ~Keychain() = default;
    virtual Result copyMatching(const Query& query) = 0;
    // The same read without blocking: the answer comes later on the main thread, so a slow or
    // hung keychain service delays only its caller. A keychain in memory may answer at once.
    virtual void copyMatchingLater(const Query& query, std::function<void(Result)> done) {
        done(copyMatching(query));
    }
    // Called on the main thread whenever what a read of `watched` answers may have changed: its
    // item created, changed or deleted, a keyring locked or unlocked, the keychain service gone
    // or replaced. Changes of other items are left out where the keychain can tell them apart. A
    // copy kept in memory must be dropped then. One observer; a new one replaces it.
    virtual void setChangeObserver(const Query& watched, std::function<void()> changed) {
        (void)watched;
        (void)changed;
    }
    // Adds an item; duplicateItem when one matching the query exists already.
    virtual std::int32_t add(const Query& query, const QByteArray& data) = 0;
    // Adds the item, or replaces the data of the one there, in one step: a reader sees the old
    // data or the new, never none.
    virtual std::int32_t store(const Query& query, const QByteArray& data) = 0;
    // The same store without blocking; `done` hears the status later on the main thread (a
    // keychain in memory may answer at once).
    virtual void storeLater(const Query& query, const QByteArray& data,
                            std::function<void(std::int32_t status)> done) {
        done(store(query, data));
    }
    // Removes the items of `query`; itemNotFound when there were none.
    virtual std::int32_t remove(const Query& query) = 0;
    // The same removal without blocking; `done` hears the status later on the main thread (a
    // keychain in memory may answer at once).
    virtual void removeLater(const Query& query, std::function<void(std::int32_t status)> done) {
        done(remove(query));
    }
    // Asks the keyring holding the items of `query` (the default keyring when there are none) to
    // unlock, with whatever prompt it shows; answers success once they can be read. The answer
    // may take as long as the user does. A keychain that is never locked answers at once.
    virtual void unlock(const Query& query, std::function<void(std::int32_t status)> done) {
        (void)query;
        done(success);
    }
    // Asks the keyring holding the items of `query` to open what it can open without asking the
    // user anything, such as a wallet already opened at login that the keyring still reports
    // locked. Answers success once they can be read, and interactionNotAllowed where only a
    // password prompt would open them; it never shows one. A keychain that cannot tell answers
    // interactionNotAllowed.
    virtual void unlockWithoutPrompt(const Query& query,
                                     std::function<void(std::int32_t status)> done) {
        (void)query;
        done(interactionNotAllowed);
    }
};
