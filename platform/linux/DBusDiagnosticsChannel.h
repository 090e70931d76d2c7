// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QObject>

#include "platform/DiagnosticsChannel.h"

// The diagnostics report on the user's session bus: the offering copy owns the well-known name
// net.brontal.zorvik.Diagnostics and answers net.brontal.zorvik.Diagnostics.Report() -> s at
// /net/brontal/zorvik/Diagnostics. The name is requested allowing replacement and replacing
// its owner, so the newest copy owns it even while an older one is still quitting, and a copy
// that loses it waits in the bus's queue until the owner is gone. Without a session bus
// nothing is offered and nothing answers.
class DBusDiagnosticsChannel final : public QObject, public DiagnosticsChannel {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "net.brontal.zorvik.Diagnostics")

public:
    static constexpr auto service = "net.brontal.zorvik.Diagnostics";
    static constexpr auto path = "/net/brontal/zorvik/Diagnostics";
    static constexpr auto interface = "net.brontal.zorvik.Diagnostics";

    explicit DBusDiagnosticsChannel(QDBusConnection bus);
    // Stops answering and gives the name back to the next copy in the queue.
    ~DBusDiagnosticsChannel() override;

    void offer(std::function<QString()> report) override;
    std::optional<QString> askRunningCopy(double timeout) override;

    // The session bus this desktop session already has (DBUS_SESSION_BUS_ADDRESS, else the
    // user bus in XDG_RUNTIME_DIR), never one started for the asking: a disconnected
    // connection when there is none.
    static QDBusConnection existingSessionBus();

public Q_SLOTS:
    Q_SCRIPTABLE QString Report() const;

private:
    QDBusConnection bus_;
    std::function<QString()> report_;
    bool exported_ = false;
};
