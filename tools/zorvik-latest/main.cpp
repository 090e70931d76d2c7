// SPDX-License-Identifier: GPL-3.0-or-later
// zorvik-latest: looks at and writes the shared latest-code file the way the desktop does.
#include <sys/stat.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

#include "ZorvikMac/CodeIntake/PendingCode.h"
#include "platform/Error.h"
#include "platform/linux/XdgAppGroupContainers.h"
#include "shared/LatestCodeStore.h"

namespace {

const char* const kUsage = R"(Usage: zorvik-latest COMMAND

Works with the shared latest-code file in the application-group container.

Commands:
  save    read an opened code's JSON (the output of 'zorvik-phone open') on stdin and save it
          as the latest code, received now
  show    print where the file is, its permissions, its content and whether the code is valid
  clear   delete the latest code and its fill marker

Options:
  --version   print the version
  -h, --help  show this text

Exit status: 0 done, 1 the operation failed, 2 bad input.
)";

void print(const QString& text) {
    std::fputs(text.toUtf8().constData(), stdout);
}
int fail(int code, const QString& text) {
    std::fputs(("zorvik-latest: " + text + "\n").toUtf8().constData(), stderr);
    return code;
}

Instant now() {
    return std::chrono::time_point_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now());
}

int save(const LatestCodeStore& store) {
    QFile input;
    (void)input.open(stdin, QIODevice::ReadOnly);
    PendingCode pending;
    try {
        pending = PendingCode::decode(input.readAll());
    } catch (const Error& error) {
        return fail(2, "stdin does not hold an opened code: " + error.localizedDescription());
    }
    const LatestCode latest{pending.accountName, pending.serviceID, pending.code,
                            pending.fromDevice,  pending.issuedAt,  now(),
                            pending.expiresAt};
    try {
        store.save(latest);
    } catch (const Error& error) {
        return fail(1, error.localizedDescription());
    }
    print("saved " + store.url() + "\n");
    return 0;
}

int show(const LatestCodeStore& store) {
    print("file: " + store.url() + "\n");
    struct stat status {};
    if (stat(QFile::encodeName(store.url()).constData(), &status) != 0) {
        print("no latest code\n");
        return 0;
    }
    print(QString::asprintf("mode: %04o\n", status.st_mode & 07777));
    QFile file(store.url());
    if (file.open(QIODevice::ReadOnly)) {
        print("content: " + QString::fromUtf8(file.readAll()) + "\n");
    }
    if (const auto latest = store.load()) {
        const double left = secondsBetween(now(), latest->expiresAt);
        print("shown as: " + latest->displayCode() + "\n");
        print(latest->isValid(now()) ? QString::asprintf("valid for %.0f more seconds\n", left)
                                     : QStringLiteral("expired\n"));
    } else {
        print("unreadable: the file does not hold a latest code\n");
    }
    if (const auto filled = store.filledAt()) {
        print(QString::asprintf("filled %.0f seconds ago\n", secondsBetween(*filled, now())));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    if (arguments.isEmpty() || arguments.contains("--help") || arguments.contains("-h")) {
        std::fputs(kUsage, arguments.isEmpty() ? stderr : stdout);
        return arguments.isEmpty() ? 2 : 0;
    }
    if (arguments.contains("--version")) {
        std::fputs("zorvik-latest " ZORVIK_VERSION "\n", stdout);
        return 0;
    }
    const auto store = LatestCodeStore::make(XdgAppGroupContainers());
    if (!store) {
        return fail(1, "there is no shared container: XDG_RUNTIME_DIR is not set");
    }
    if (arguments.size() != 1) {
        return fail(2, "one command at a time (see --help)");
    }
    const QString& command = arguments.first();
    if (command == "save") {
        return save(*store);
    }
    if (command == "show") {
        return show(*store);
    }
    if (command == "clear") {
        store->clear();
        return 0;
    }
    return fail(2, "unknown command '" + command + "' (see --help)");
}
