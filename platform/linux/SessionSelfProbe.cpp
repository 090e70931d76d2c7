// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/SessionSelfProbe.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "platform/CloudError.h"
#include "platform/linux/XdgAppGroupContainers.h"
#include "platform/linux/cloud/CloudWebSession.h"
#include "platform/linux/cloud/LocalCloud.h"
#include "shared/LatestCodeStore.h"

namespace {

const auto kSecretService = QStringLiteral("org.freedesktop.secrets");
const auto kNotificationService = QStringLiteral("org.freedesktop.Notifications");
const auto kTrayWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

// "600" for a file only its owner may read and write.
QString octalMode(QFileDevice::Permissions permissions) {
    const auto digit = [permissions](QFileDevice::Permission read, QFileDevice::Permission write,
                                     QFileDevice::Permission execute) {
        return QString::number((permissions.testFlag(read) ? 4 : 0) +
                               (permissions.testFlag(write) ? 2 : 0) +
                               (permissions.testFlag(execute) ? 1 : 0));
    };
    return digit(QFileDevice::ReadOwner, QFileDevice::WriteOwner, QFileDevice::ExeOwner) +
           digit(QFileDevice::ReadGroup, QFileDevice::WriteGroup, QFileDevice::ExeGroup) +
           digit(QFileDevice::ReadOther, QFileDevice::WriteOther, QFileDevice::ExeOther);
}

QString accountStatusName(int status) {
    switch (status) {
        case 0:
            return QStringLiteral("could not be determined");
        case 1:
            return QStringLiteral("available");
        case 2:
            return QStringLiteral("restricted");
        case 3:
            return QStringLiteral("no account");
        case 4:
            return QStringLiteral("temporarily unavailable");
        default:
            return QStringLiteral("status %1").arg(status);
    }
}

}  // namespace

SessionSelfProbe::Places SessionSelfProbe::standard(const Keychain::Query& syncKey) {
    const XdgAppGroupContainers containers;
    const std::optional<LatestCodeStore> store = LatestCodeStore::make(containers);
    return Places{LocalCloud::standardRootDirectory(),
                  CloudWebConfiguration::fromBuild(),
                  syncKey,
                  CloudWebSession::tokenQuery(),
                  NativeMessagingHosts::perUserDirectories(),
                  store ? std::optional<QString>(store->url()) : std::nullopt};
}

SessionSelfProbe::SessionSelfProbe(QDBusConnection bus, BundleInfo bundle, Places places)
    : bus_(std::move(bus)), bundle_(std::move(bundle)), places_(std::move(places)) {}

QString SessionSelfProbe::text() const {
    QStringList lines;
    lines.append(BundleInfo::reportHeading(bundle_.shortVersion.value_or(QStringLiteral("?")),
                                           bundle_.build.value_or(QStringLiteral("?")),
                                           bundle_.systemVersion));

    const bool onBus = bus_.isConnected();
    const Keyring keyring = onBus ? askKeyring() : Keyring{};
    lines.append(cloudLine(keyring));
    lines.append(onBus ? QStringLiteral("Session bus: connected")
                       : QStringLiteral("Session bus: not reachable"));
    if (onBus) {
        QString secrets;
        if (!nameHasOwner(kSecretService)) {
            secrets = QStringLiteral("not on the bus");
        } else if (!keyring.answers) {
            secrets = QStringLiteral("on the bus, but did not answer within %1 s")
                          .arg(keyringTimeoutMs / 1000);
        } else {
            secrets = QStringLiteral("answers; ");
            switch (keyring.syncKey) {
                case Item::absent:
                    secrets += QStringLiteral("no sync key stored");
                    break;
                case Item::unlocked:
                    secrets += QStringLiteral("sync key stored");
                    break;
                case Item::locked:
                    secrets += QStringLiteral("sync key stored, keyring locked");
                    break;
            }
        }
        lines.append(QStringLiteral("Secret Service: ") + secrets);
        lines.append(QStringLiteral("Notification server: ") +
                     (nameHasOwner(kNotificationService) ? QStringLiteral("on the bus")
                                                         : QStringLiteral("none on the bus")));
        lines.append(QStringLiteral("Tray (StatusNotifierWatcher): ") +
                     (nameHasOwner(kTrayWatcherService) ? QStringLiteral("on the bus")
                                                        : QStringLiteral("none on the bus")));
    }

    for (const NativeMessagingHosts::BrowserDirectory& browser : places_.browsers) {
        const QString manifest = NativeMessagingHosts::manifestPath(browser.directory);
        lines.append(QStringLiteral("AutoFill helper for %1: %2")
                         .arg(browser.browser,
                              QFileInfo::exists(manifest)
                                  ? QStringLiteral("installed (") + manifest + QLatin1Char(')')
                                  : QStringLiteral("not installed")));
    }

    if (!places_.latestCodeFile) {
        lines.append(QStringLiteral("latest-code.json: no shared folder (XDG_RUNTIME_DIR unset)"));
    } else {
        // Only the file's mode: its content is the code.
        const QFileInfo file(*places_.latestCodeFile);
        lines.append(file.exists()
                         ? QStringLiteral("latest-code.json: present, mode %1 (%2)")
                               .arg(octalMode(file.permissions()), file.filePath())
                         : QStringLiteral("latest-code.json: absent (%1)").arg(file.filePath()));
    }
    return lines.join(QLatin1Char('\n'));
}

bool SessionSelfProbe::nameHasOwner(const QString& name) const {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    call << name;
    const QDBusMessage reply = bus_.call(call);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1 &&
           reply.arguments()[0].toBool();
}

SessionSelfProbe::Keyring SessionSelfProbe::askKeyring() const {
    Keyring keyring;
    // Nothing is asked of a keyring that is not running: asking would start one.
    if (!nameHasOwner(kSecretService)) {
        return keyring;
    }
    const std::optional<Item> syncKey = findItem(places_.syncKey);
    const std::optional<Item> webSession = syncKey ? findItem(places_.webSession) : std::nullopt;
    keyring.answers = syncKey && webSession;
    keyring.syncKey = syncKey.value_or(Item::absent);
    keyring.webSession = webSession.value_or(Item::absent);
    return keyring;
}

std::optional<SessionSelfProbe::Item> SessionSelfProbe::findItem(
    const Keychain::Query& query) const {
    // SearchItems lists the matching items, unlocked and locked, without their secrets, and
    // never prompts.
    QDBusMessage call = QDBusMessage::createMethodCall(
        kSecretService, QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("SearchItems"));
    call.setAutoStartService(false);
    QDBusArgument attributes;
    attributes.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QString>());
    for (const auto& [name, value] : {std::pair{QStringLiteral("service"), query.service},
                                      std::pair{QStringLiteral("account"), query.account}}) {
        attributes.beginMapEntry();
        attributes << name << value;
        attributes.endMapEntry();
    }
    attributes.endMap();
    call << QVariant::fromValue(attributes);
    const QDBusMessage reply = bus_.call(call, QDBus::Block, keyringTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) {
        return std::nullopt;
    }
    const auto unlocked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments()[0]);
    const auto locked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments()[1]);
    if (!unlocked.isEmpty()) {
        return Item::unlocked;
    }
    return locked.isEmpty() ? Item::absent : Item::locked;
}

QString SessionSelfProbe::cloudLine(const Keyring& keyring) const {
    if (places_.web.isUsable()) {
        const QString web = QStringLiteral("iCloud on the web (%1, %2)")
                                .arg(places_.web.containerIdentifier, places_.web.environment);
        if (keyring.webSession != Item::absent) {
            return QStringLiteral("Cloud: ") + web + QStringLiteral(" \u2014 signed in (") +
                   (keyring.webSession == Item::locked ? QStringLiteral("session in a locked "
                                                                        "keyring)")
                                                       : QStringLiteral("session stored)"));
        }
        if (!keyring.answers) {
            return QStringLiteral("Cloud: unknown \u2014 ") + web +
                   QStringLiteral(" once a session is stored, which the keyring cannot tell now");
        }
    }
    QString line = QStringLiteral("Cloud: embedded cloud on this computer (%1) \u2014 ")
                       .arg(places_.embeddedCloudRoot);
    if (!QFileInfo(places_.embeddedCloudRoot).isDir()) {
        return line + QStringLiteral("its folder does not exist yet");
    }
    line += QStringLiteral("folder present, account ");
    try {
        return line + accountStatusName(LocalCloud::readAccountStatus(places_.embeddedCloudRoot));
    } catch (const CloudError& error) {
        return line + QStringLiteral("unreadable: ") + error.localizedDescription();
    }
}
