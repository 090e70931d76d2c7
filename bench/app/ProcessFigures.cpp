// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/app/ProcessFigures.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>

namespace ProcessFigures {

namespace {

QString procPath(pid_t pid, const QString& rest) {
    return QStringLiteral("/proc/%1/%2").arg(pid).arg(rest);
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

// The number after "Key:" in a "Key:   123 kB" line of a status-like file, or 0.
std::int64_t fieldOf(const QByteArray& text, const QByteArray& key) {
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith(key + ':')) {
            return line.mid(key.size() + 1).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return 0;
}

struct Mapping {
    QString path;  // empty for anonymous memory; "[heap]", "[stack]" and the like as given
    std::int64_t rssKb = 0;
    std::int64_t pssKb = 0;
    std::int64_t anonymousKb = 0;
};

// Every mapping of /proc/PID/smaps with its resident figures.
std::vector<Mapping> mappingsOf(pid_t pid) {
    std::vector<Mapping> mappings;
    for (const QByteArray& line : readAll(procPath(pid, QStringLiteral("smaps"))).split('\n')) {
        if (line.isEmpty()) {
            continue;
        }
        // A header reads "start-end perms offset dev inode [path]"; a figure "Name:   12 kB".
        const qsizetype colon = line.indexOf(':');
        const qsizetype space = line.indexOf(' ');
        const bool figure = colon > 0 && (space < 0 || colon < space);
        if (!figure) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() < 5) {
                continue;
            }
            Mapping mapping;
            if (fields.size() > 5) {
                // The path is everything after the inode; it may hold spaces.
                qsizetype at = 0;
                for (int field = 0; field < 5; ++field) {
                    at = line.indexOf(' ', at);
                    while (at < line.size() && line[at] == ' ') {
                        ++at;
                    }
                }
                mapping.path = QString::fromLocal8Bit(line.mid(at).trimmed());
            }
            mappings.push_back(mapping);
            continue;
        }
        if (mappings.empty()) {
            continue;
        }
        const QByteArray name = line.left(colon);
        const std::int64_t kb = line.mid(colon + 1).trimmed().split(' ').value(0).toLongLong();
        if (name == "Rss") {
            mappings.back().rssKb = kb;
        } else if (name == "Pss") {
            mappings.back().pssKb = kb;
        } else if (name == "Anonymous") {
            mappings.back().anonymousKb = kb;
        }
    }
    return mappings;
}

QString kindOf(const QString& path, const QString& executable) {
    if (path.isEmpty() || path == u"[heap]" || path.startsWith(u"[anon")) {
        return QStringLiteral("heap and anonymous memory");
    }
    if (path.startsWith(u"[stack")) {
        return QStringLiteral("stack");
    }
    if (path == executable) {
        return QStringLiteral("the executable");
    }
    const QString name = QFileInfo(path).fileName();
    if (path.contains(u"/qt6/plugins/")) {
        return QStringLiteral("Qt plugins");
    }
    if (name.startsWith(u"libQt6")) {
        return QStringLiteral("Qt libraries");
    }
    if (path.startsWith(u"/usr/share/fonts/") || path.contains(u"fontconfig") ||
        name.endsWith(u".ttf") || name.endsWith(u".otf") || name.endsWith(u".pcf.gz")) {
        return QStringLiteral("fonts and font caches");
    }
    if (name.contains(u".so")) {
        return QStringLiteral("other shared libraries");
    }
    if (path.startsWith(u"/dev/shm") || path.startsWith(u"/SYSV") || path.startsWith(u"/memfd:") ||
        path.startsWith(u"memfd:")) {
        return QStringLiteral("shared memory");
    }
    if (path.startsWith(u'[')) {
        return QStringLiteral("kernel pages");
    }
    return QStringLiteral("other files");
}

std::vector<MemoryPart> sorted(const QHash<QString, MemoryPart>& parts) {
    std::vector<MemoryPart> result(parts.cbegin(), parts.cend());
    std::sort(result.begin(), result.end(), [](const MemoryPart& a, const MemoryPart& b) {
        return a.rssKb != b.rssKb ? a.rssKb > b.rssKb : a.name < b.name;
    });
    return result;
}

}  // namespace

CpuTime cpuTime(pid_t pid) {
    CpuTime time;
    const QByteArray stat = readAll(procPath(pid, QStringLiteral("stat")));
    const qsizetype end = stat.lastIndexOf(')');
    if (end < 0) {
        return time;
    }
    // After the command's closing parenthesis: state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = stat.mid(end + 2).split(' ');
    if (fields.size() < 13) {
        return time;
    }
    const std::int64_t ticks = fields[11].toLongLong() + fields[12].toLongLong();
    time.userAndSystemNs = ticks * 1000000000 / sysconf(_SC_CLK_TCK);

    for (const auto& [thread, figures] : threadTimes(pid)) {
        ++time.threads;
        time.scheduledNs += figures.scheduledNs;
        time.wakeUps += figures.wakeUps;
        time.preemptions += figures.preemptions;
    }
    return time;
}

std::map<pid_t, ThreadTime> threadTimes(pid_t pid) {
    std::map<pid_t, ThreadTime> threads;
    const QDir tasks(procPath(pid, QStringLiteral("task")));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray schedstat = readAll(tasks.filePath(task + QStringLiteral("/schedstat")));
        const QByteArray status = readAll(tasks.filePath(task + QStringLiteral("/status")));
        if (schedstat.isEmpty() || status.isEmpty()) {
            continue;  // ended meanwhile
        }
        const QByteArray comm = readAll(tasks.filePath(task + QStringLiteral("/comm"))).trimmed();
        threads[static_cast<pid_t>(task.toInt())] = {QString::fromUtf8(comm),
                                                     schedstat.split(' ').value(0).toLongLong(),
                                                     fieldOf(status, "voluntary_ctxt_switches"),
                                                     fieldOf(status, "nonvoluntary_ctxt_switches")};
    }
    return threads;
}

Memory memory(pid_t pid) {
    const QByteArray status = readAll(procPath(pid, QStringLiteral("status")));
    const QByteArray rollup = readAll(procPath(pid, QStringLiteral("smaps_rollup")));
    return {fieldOf(status, "VmRSS"), fieldOf(status, "VmHWM"), fieldOf(rollup, "Pss"),
            fieldOf(status, "RssAnon"), fieldOf(status, "RssFile")};
}

std::vector<MemoryPart> memoryByKind(pid_t pid) {
    const QString executable = QFileInfo(procPath(pid, QStringLiteral("exe"))).symLinkTarget();
    QHash<QString, MemoryPart> parts;
    for (const Mapping& mapping : mappingsOf(pid)) {
        const QString kind = kindOf(mapping.path, executable);
        MemoryPart& part = parts[kind];
        part.name = kind;
        part.rssKb += mapping.rssKb;
        part.pssKb += mapping.pssKb;
        part.anonymousKb += mapping.anonymousKb;
    }
    return sorted(parts);
}

std::vector<MemoryPart> largestMappings(pid_t pid, int count) {
    QHash<QString, MemoryPart> parts;
    for (const Mapping& mapping : mappingsOf(pid)) {
        const QString name = mapping.path.isEmpty() ? QStringLiteral("[anonymous]")
                                                    : QFileInfo(mapping.path).fileName();
        MemoryPart& part = parts[name];
        part.name = name;
        part.rssKb += mapping.rssKb;
        part.pssKb += mapping.pssKb;
        part.anonymousKb += mapping.anonymousKb;
    }
    std::vector<MemoryPart> result = sorted(parts);
    if (result.size() > static_cast<std::size_t>(count)) {
        result.resize(static_cast<std::size_t>(count));
    }
    return result;
}

}  // namespace ProcessFigures
