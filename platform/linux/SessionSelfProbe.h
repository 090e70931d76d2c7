// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QList>
#include <QString>
#include <optional>

#include "platform/BundleInfo.h"
#include "platform/Keychain.h"
#include "platform/linux/browser/NativeMessagingHosts.h"
#include "platform/linux/cloud/CloudWebConfiguration.h"

// What `ZorvikMac --diagnostics` can tell about this session by itself when no copy of the app
// answers: the version and the system, the cloud codes would come through, whether the
// keyring, a notification server and a tray watcher are on the session bus, whether the
// AutoFill helper is installed for each browser and whether latest-code.json is there. It
// starts, unlocks and prompts nothing and reads no code and no key: the keyring is only asked
// which of our items it holds, and of latest-code.json only its mode is read.
class SessionSelfProbe {
public:
    // Where to look; standard() gives this user's.
    struct Places {
        QString embeddedCloudRoot;
        CloudWebConfiguration web;
        Keychain::Query syncKey;
        Keychain::Query webSession;
        QList<NativeMessagingHosts::BrowserDirectory> browsers;
        // Absent without an application-group container.
        std::optional<QString> latestCodeFile;
    };

    // How long the keyring has to answer before it counts as not answering.
    static constexpr int keyringTimeoutMs = 2000;

    static Places standard(const Keychain::Query& syncKey);

    // `bus` may be disconnected, which the text says.
    SessionSelfProbe(QDBusConnection bus, BundleInfo bundle, Places places);

    // One fact per line, joined by line feeds with none after the last; the first line names
    // the version and the system as the app's own report does.
    QString text() const;

private:
    // Whether our item for `query` is in the keyring, and whether it is locked there.
    enum class Item { absent, unlocked, locked };
    struct Keyring {
        bool answers = false;
        Item syncKey = Item::absent;
        Item webSession = Item::absent;
    };

    bool nameHasOwner(const QString& name) const;
    Keyring askKeyring() const;
    std::optional<Item> findItem(const Keychain::Query& query) const;
    QString cloudLine(const Keyring& keyring) const;

    QDBusConnection bus_;
    BundleInfo bundle_;
    Places places_;
};
