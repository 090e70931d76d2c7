// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/LinuxPlatform.h"

#include <QCoreApplication>
#include <QDBusConnection>

#include "platform/linux/browser/NativeMessagingHosts.h"
#include "shared/AtomicFile.h"
#include "shared/LatestCodeStore.h"

LinuxPlatform::LinuxPlatform(Choices choices)
    : dataControl_(DataControlPasteboard::connect()),
      pasteboard_(choosePasteboard()),
      systemLog_(QStringLiteral("ZorvikMac"), choices.logToStderr),
      mainActor_(&systemLog_),
      userDefaults_(QSettingsUserDefaults::standardFilePath()),
      loginItem_(XdgAutostartLoginItem::standardAutostartDirectory(),
                 QCoreApplication::applicationFilePath()),
      notificationCenter_(QDBusConnection::sessionBus(),
                          ShownNotificationsFile::standardDirectory(), nullptr, &systemLog_),
      identityStore_(
          mainActor_,
          containers_.containerDirectory(QString::fromLatin1(LatestCodeStore::groupIdentifier)),
          NativeMessagingHosts::perUserDirectories()),
      terminal_(choices.signInAtTerminal ? std::make_unique<TerminalQuestion>() : nullptr),
      clouds_(mainActor_, systemLog_, keychain_, userDefaults_, choices.cloud,
              cloudOptions(choices)),
      autoFillSettings_(
          clouds_.workspace, systemLog_,
          LinuxAutoFillSettings::locateHost(QCoreApplication::applicationDirPath(),
                                            QStringLiteral(ZORVIK_AUTOFILL_HOST_PATH)),
          LinuxAutoFillSettings::locateExtension(QCoreApplication::applicationDirPath(),
                                                 QStringLiteral(ZORVIK_EXTENSION_SOURCE_DIR)),
          NativeMessagingHosts::perUserDirectories()),
      diagnostics_(QDBusConnection::sessionBus()),
      platform_{mainActor_,
                systemLog_,
                keychain_,
                containers_,
                userDefaults_,
                loginItem_,
                pasteboard_,
                notificationCenter_,
                identityStore_,
                clouds_.cloud,
                clouds_.cloud.remoteNotifications(),
                clouds_.workspace,
                autoFillSettings_,
                &clouds_.cloud,
                &diagnostics_} {}

bool LinuxPlatform::sendFileFaultsToTheLog() {
    AtomicFile::setFaultNotice([this](const QString& text) {
        systemLog_.write(LogLevel::error, QStringLiteral("net.brontal.zorvik"),
                         QStringLiteral("files"), text);
    });
    return true;
}

Pasteboard& LinuxPlatform::choosePasteboard() {
    if (dataControl_) {
        return *dataControl_;
    }
    toolkitPasteboard_.emplace();
    return *toolkitPasteboard_;
}

SwitchingCloud::Options LinuxPlatform::cloudOptions(const Choices& choices) {
    SwitchingCloud::Options options;
    options.embeddedOnly = choices.embeddedOnly;
    options.terminal = terminal_.get();
    return options;
}
