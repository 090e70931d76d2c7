// SPDX-License-Identifier: GPL-3.0-or-later
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QStringList>
#include <QTextStream>

#include "tests/support/tray-watcher/TrayWatcher.h"

// Serves org.kde.StatusNotifierWatcher on the session bus until it is terminated; with --no-host,
// as a watcher that no panel has registered with.
int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() > 1 || (arguments.size() == 1 && arguments[0] != u"--no-host")) {
        err << "usage: zorvik-test-tray-watcher [--no-host]\n";
        return 2;
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        err << "zorvik-test-tray-watcher: no session bus: " << bus.lastError().message() << '\n';
        return 1;
    }
    TrayWatcher watcher(bus, arguments.isEmpty());
    QString error;
    if (!watcher.start(&error)) {
        err << "zorvik-test-tray-watcher: " << error << '\n';
        return 1;
    }
    return app.exec();
}
