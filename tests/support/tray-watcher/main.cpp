#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QTextStream>

#include "TrayWatcher.h"

// Serves org.kde.StatusNotifierWatcher on the session bus until it is terminated.
int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        err << "zorvik-test-tray-watcher: no session bus: " << bus.lastError().message() << '\n';
        return 1;
    }
    TrayWatcher watcher(bus);
    QString error;
    if (!watcher.start(&error)) {
        err << "zorvik-test-tray-watcher: " << error << '\n';
        return 1;
    }
    return app.exec();
}
