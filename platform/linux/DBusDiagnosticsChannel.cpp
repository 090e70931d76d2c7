// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/DBusDiagnosticsChannel.h"

#include <QDBusMessage>
#include <QFileInfo>

namespace {

const auto kBusService = QStringLiteral("org.freedesktop.DBus");
const auto kBusPath = QStringLiteral("/org/freedesktop/DBus");

// RequestName's flags: a later copy may take the name, this copy takes it from an earlier one,
// and the copy it was taken from waits in the queue rather than losing it for good.
constexpr uint kAllowReplacement = 0x1;
constexpr uint kReplaceExisting = 0x2;

}  // namespace

DBusDiagnosticsChannel::DBusDiagnosticsChannel(QDBusConnection bus) : bus_(std::move(bus)) {}

DBusDiagnosticsChannel::~DBusDiagnosticsChannel() {
    if (!exported_) {
        return;
    }
    bus_.unregisterObject(QString::fromLatin1(path));
    // Nobody waits for the answer: the next copy in the queue gets the name at once.
    QDBusMessage release = QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService,
                                                          QStringLiteral("ReleaseName"));
    release << QString::fromLatin1(service);
    bus_.send(release);
}

void DBusDiagnosticsChannel::offer(std::function<QString()> report) {
    report_ = std::move(report);
    if (exported_ || !bus_.isConnected()) {
        return;
    }
    exported_ = bus_.registerObject(QString::fromLatin1(path), this,
                                    QDBusConnection::ExportScriptableSlots);
    if (!exported_) {
        return;
    }
    QDBusMessage request = QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService,
                                                          QStringLiteral("RequestName"));
    request << QString::fromLatin1(service) << (kAllowReplacement | kReplaceExisting);
    // The answer is only "owner" or "queued", and either is as it should be.
    bus_.send(request);
}

std::optional<QString> DBusDiagnosticsChannel::askRunningCopy(double timeout) {
    if (!bus_.isConnected()) {
        return std::nullopt;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(path),
                                       QString::fromLatin1(interface), QStringLiteral("Report"));
    // Nothing is started for the asking: only a copy already running answers.
    call.setAutoStartService(false);
    const QDBusMessage reply = bus_.call(call, QDBus::Block, static_cast<int>(timeout * 1000));
    const QList<QVariant> arguments = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || arguments.size() != 1 ||
        arguments[0].typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    return arguments[0].toString();
}

QDBusConnection DBusDiagnosticsChannel::existingSessionBus() {
    QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    const QString runtimeDirectory = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (address.isEmpty() && !runtimeDirectory.isEmpty()) {
        const QString userBus = runtimeDirectory + QStringLiteral("/bus");
        if (QFileInfo(userBus).exists()) {
            address = QStringLiteral("unix:path=") + userBus;
        }
    }
    const auto name = QStringLiteral("net.brontal.zorvik.diagnostics");
    if (address.isEmpty()) {
        return QDBusConnection(name);  // never connected
    }
    return QDBusConnection::connectToBus(address, name);
}

QString DBusDiagnosticsChannel::Report() const {
    return report_ ? report_() : QString();
}
