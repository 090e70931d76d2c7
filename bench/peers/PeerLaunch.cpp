// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/peers/PeerLaunch.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <optional>

#include "bench/app/SessionTray.h"

namespace PeerLaunch {

namespace {

constexpr int kStartTimeoutMs = 20000;
// A throwaway database made for the run; the password only keeps keepassxc's unlock honest.
const auto kDatabasePassword = QByteArrayLiteral("bench-peers-database");

RunningProcess startProcess(const Where& where, const QString& logName, const QString& program,
                            const QStringList& arguments) {
    RunningProcess process(new QProcess);
    process->setProcessEnvironment(where.environment);
    process->setProgram(program);
    process->setArguments(arguments);
    const QString log = where.workDirectory + QStringLiteral("/") + logName;
    process->setStandardOutputFile(log, QIODevice::Append);
    process->setStandardErrorFile(log, QIODevice::Append);
    process->start();
    process->waitForStarted(5000);
    return process;
}

QString lastLines(const QString& path, int count) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList lines = QString::fromLocal8Bit(file.readAll()).split('\n', Qt::SkipEmptyParts);
    if (lines.size() > count) {
        lines = lines.mid(lines.size() - count);
    }
    return lines.join(QStringLiteral(" | "));
}

QString endedWithLog(QProcess& process, const Where& where, const QString& logName) {
    return QStringLiteral("ended at start (exit %1); its log: %2")
        .arg(process.exitCode())
        .arg(lastLines(where.workDirectory + QStringLiteral("/") + logName, 3));
}

// Whether the session's bus name `name` is owned by process `pid`.
bool ownsName(const QString& name, qint64 pid) {
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (bus == nullptr || !bus->isServiceRegistered(name).value()) {
        return false;
    }
    return static_cast<qint64>(bus->servicePid(name).value()) == pid;
}

// The title of a status item's tool tip; keepassxc puts its window's title there, which tells an
// open database from a locked one.
QString toolTipTitle(const QString& item) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        item.section(QLatin1Char('/'), 0, 0), QStringLiteral("/StatusNotifierItem"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("ToolTip");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return {};
    }
    // (s a(iiay) s s): icon name, icon pixmaps, title, description.
    const QDBusArgument toolTip =
        reply.arguments().first().value<QDBusVariant>().variant().value<QDBusArgument>();
    QString iconName;
    QString title;
    toolTip.beginStructure();
    toolTip >> iconName;
    toolTip.beginArray();
    while (!toolTip.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray pixels;
        toolTip.beginStructure();
        toolTip >> width >> height >> pixels;
        toolTip.endStructure();
    }
    toolTip.endArray();
    toolTip >> title;
    return title;
}

// The first of these ways to give a process a network of its own that works here.
std::optional<QStringList> isolatedNetworkPrefix() {
    for (const QStringList& prefix :
         {QStringList{QStringLiteral("unshare"), QStringLiteral("--net")},
          QStringList{QStringLiteral("unshare"), QStringLiteral("--net"),
                      QStringLiteral("--map-root-user")}}) {
        QProcess probe;
        probe.start(prefix[0], prefix.mid(1) + QStringList{QStringLiteral("true")});
        if (probe.waitForFinished(5000) && probe.exitStatus() == QProcess::NormalExit &&
            probe.exitCode() == 0) {
            return prefix;
        }
    }
    return std::nullopt;
}

bool writeFile(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

}  // namespace

QString kdeConnectDaemonPath() {
    QStringList candidates{QStringLiteral("/usr/libexec/kdeconnectd"),
                           QStringLiteral("/usr/lib/libexec/kdeconnectd")};
    for (const QFileInfo& multiarch :
         QDir(QStringLiteral("/usr/lib")).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        candidates.append(multiarch.filePath() + QStringLiteral("/libexec/kdeconnectd"));
    }
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isExecutable()) {
            return candidate;
        }
    }
    return {};
}

Launched kdeConnect(const Where& where, const QString& program) {
    Launched launched;
    if (program.isEmpty()) {
        launched.notRunning =
            QStringLiteral("not installed (scripts/bootstrap --peers installs kdeconnect)");
        return launched;
    }
    const auto prefix = isolatedNetworkPrefix();
    if (!prefix) {
        launched.notRunning = QStringLiteral(
            "not run: it broadcasts to the local network, and `unshare --net` (also with "
            "--map-root-user) cannot give it a network of its own here");
        return launched;
    }
    const QString log = QStringLiteral("kdeconnectd.log");
    const QString name = QStringLiteral("org.kde.kdeconnect");
    // The first start makes its key pair and settings; a user's daemon has them already.
    for (int start = 0; start < 2; ++start) {
        launched.process =
            startProcess(where, log, prefix->first(), prefix->mid(1) + QStringList{program});
        const qint64 pid = launched.process->processId();
        const bool up = waitUntil(
            [&] { return launched.process->state() != QProcess::Running || ownsName(name, pid); },
            kStartTimeoutMs);
        if (launched.process->state() != QProcess::Running) {
            launched.notRunning = endedWithLog(*launched.process, where, log);
            launched.process.reset();
            return launched;
        }
        if (!up) {
            launched.notRunning =
                QStringLiteral("did not take %1 on the session bus within %2 s; its log: %3")
                    .arg(name)
                    .arg(kStartTimeoutMs / 1000)
                    .arg(lastLines(where.workDirectory + QStringLiteral("/") + log, 3));
            launched.process.reset();
            return launched;
        }
        if (start == 0) {
            launched.process.reset();
        }
    }
    launched.how = QStringLiteral("%1 %2 (second start, settings and key pair from the first)")
                       .arg(prefix->join(' '), program);
    return launched;
}

Launched keePassXC(const Where& where, SessionTray& tray) {
    Launched launched;
    const QString program = QStandardPaths::findExecutable(QStringLiteral("keepassxc"));
    const QString cli = QStandardPaths::findExecutable(QStringLiteral("keepassxc-cli"));
    if (program.isEmpty() || cli.isEmpty()) {
        launched.notRunning =
            QStringLiteral("not installed (scripts/bootstrap --peers installs keepassxc)");
        return launched;
    }
    // A user's settings: the icon in the tray, started minimised to it, browser integration on,
    // no update check and no question about one, the database kept unlocked.
    const QString config = where.environment.value(QStringLiteral("XDG_CONFIG_HOME")) +
                           QStringLiteral("/keepassxc/keepassxc.ini");
    if (!writeFile(config,
                   "[General]\nConfigVersion=2\nUpdateCheckMessageShown=true\n"
                   "RememberLastDatabases=false\nOpenPreviousDatabasesOnStartup=false\n"
                   "\n[GUI]\nShowTrayIcon=true\nMinimizeToTray=true\n"
                   "MinimizeOnStartup=true\nCheckForUpdates=false\n"
                   "\n[Browser]\nEnabled=true\n"
                   "\n[Security]\nLockDatabaseIdle=false\n")) {
        launched.notRunning = QStringLiteral("cannot write %1").arg(config);
        return launched;
    }
    const QString database = where.workDirectory + QStringLiteral("/Passwords.kdbx");
    QFile::remove(database);
    QProcess create;
    create.setProcessEnvironment(where.environment);
    create.start(cli, {QStringLiteral("db-create"), QStringLiteral("--quiet"),
                       QStringLiteral("--set-password"), QStringLiteral("--decryption-time"),
                       QStringLiteral("100"), database});
    create.write(kDatabasePassword + '\n' + kDatabasePassword + '\n');
    create.closeWriteChannel();
    if (!create.waitForFinished(30000) || create.exitCode() != 0) {
        launched.notRunning = QStringLiteral("keepassxc-cli could not make a database: %1")
                                  .arg(QString::fromLocal8Bit(create.readAllStandardError()));
        return launched;
    }

    const QString log = QStringLiteral("keepassxc.log");
    launched.process = startProcess(where, log, program, {QStringLiteral("--pw-stdin"), database});
    launched.process->write(kDatabasePassword + '\n');
    launched.process->closeWriteChannel();
    const qint64 pid = launched.process->processId();
    const QString socket = where.environment.value(QStringLiteral("XDG_RUNTIME_DIR")) +
                           QStringLiteral(
                               "/app/org.keepassxc.KeePassXC/"
                               "org.keepassxc.KeePassXC.BrowserServer");
    // The window's title names the database, with "[Locked]" until it is unlocked.
    QString title;
    const bool up = waitUntil(
        [&] {
            if (launched.process->state() != QProcess::Running) {
                return true;
            }
            const auto item = tray.registrationOf(pid);
            title = item ? toolTipTitle(item->text) : QString();
            return title.startsWith(QStringLiteral("Passwords.kdbx")) &&
                   !title.contains(QStringLiteral("Locked")) && QFileInfo::exists(socket);
        },
        kStartTimeoutMs);
    if (launched.process->state() != QProcess::Running) {
        launched.notRunning = endedWithLog(*launched.process, where, log);
        launched.process.reset();
        return launched;
    }
    if (!up) {
        launched.notRunning =
            QStringLiteral(
                "not up within %1 s (tray item's title \"%2\", browser socket %3); "
                "its log: %4")
                .arg(kStartTimeoutMs / 1000)
                .arg(title, QFileInfo::exists(socket) ? "there" : "missing")
                .arg(lastLines(where.workDirectory + QStringLiteral("/") + log, 3));
        launched.process.reset();
        return launched;
    }
    launched.how = QStringLiteral(
                       "%1 --pw-stdin Passwords.kdbx, minimised to its tray item "
                       "(titled \"%2\": a new database, open and unlocked), "
                       "browser integration on")
                       .arg(program, title);
    return launched;
}

}  // namespace PeerLaunch
