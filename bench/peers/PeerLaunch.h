// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcessEnvironment>
#include <QString>

#include "bench/peers/RunningProcess.h"

class SessionTray;

// What Linux users keep running instead of Zorvik for their one-time codes, started in the
// private desktop session the way their desktop starts them.
namespace PeerLaunch {

struct Where {
    QString workDirectory;  // logs, the password database; in the session's directory
    QProcessEnvironment environment;
};

// A started daemon, or why it is not running, in words for the table.
struct Launched {
    RunningProcess process;
    QString notRunning;
    QString how;  // how it was started, for the report
};

// kdeconnectd, once to make its certificate and settings as a user's has, then for good. It
// announces itself to the local network by UDP broadcast, so it gets a network namespace of its
// own (unshare --net) in which it can reach nothing; it is not started where that fails.
Launched kdeConnect(const Where& where, const QString& program);

// keepassxc with a small database open and unlocked, minimised to its tray item, browser
// integration on so keepassxc-proxy can reach it; nothing asks for a password on screen.
Launched keePassXC(const Where& where, SessionTray& tray);

// Where kdeconnectd is installed, or nothing.
QString kdeConnectDaemonPath();

}  // namespace PeerLaunch
