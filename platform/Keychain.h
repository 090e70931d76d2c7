#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

// The user's keychain, answering with the keychain's own numeric statuses. It never shows an
// unlock prompt: a locked keyring is reported, not opened.
class Keychain {
public:
    enum Status : std::int32_t {
        success = 0,
        itemNotFound = -25300,
        duplicateItem = -25299,
        interactionNotAllowed = -25308,  // the keyring is locked
        notAvailable = -25291,           // no keychain service is reachable
        authorizationFailed = -25293,    // access denied
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

    virtual ~Keychain() = default;
    virtual Result copyMatching(const Query& query) = 0;
    // Adds an item; duplicateItem when one matching the query exists already.
    virtual std::int32_t add(const Query& query, const QByteArray& data) = 0;
    // Adds the item, or replaces the data of the one there, in one step: a reader sees the old
    // data or the new, never none.
    virtual std::int32_t store(const Query& query, const QByteArray& data) = 0;
    virtual std::int32_t remove(const Query& query) = 0;
};
