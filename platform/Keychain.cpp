// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Keychain.h"

QString Keychain::describe(std::int32_t status) {
    switch (status) {
        case success:
            return QStringLiteral("no error");
        case itemNotFound:
            return QStringLiteral("the item is not in the keyring");
        case duplicateItem:
            return QStringLiteral("the item is already in the keyring");
        case interactionNotAllowed:
            return QStringLiteral("the keyring is locked");
        case notAvailable:
            return QStringLiteral("the keyring service is not running");
        case authorizationFailed:
            return QStringLiteral("the keyring refused access");
        case userCanceled:
            return QStringLiteral("the keyring's prompt was cancelled");
        default:
            return QStringLiteral("the keyring failed (error %1)").arg(status);
    }
}
