// SPDX-License-Identifier: GPL-3.0-or-later
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

#include "platform/linux/cloud/LocalCloud.h"
#include "platform/linux/keyring/SecretServiceKeychain.h"
#include "tools/zorvik-phone/PhoneTool.h"

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    SecretServiceKeychain keychain;

    QFile input;
    (void)input.open(stdin, QIODevice::ReadOnly);
    QFile output;
    (void)output.open(stdout, QIODevice::WriteOnly);
    PhoneTool::Io io{
        [&input] { return input.readAll(); },
        [&output](const QByteArray& bytes) {
            output.write(bytes);
            output.flush();
        },
        [](const QString& text) { std::fputs(text.toUtf8().constData(), stderr); },
        isatty(STDOUT_FILENO) == 1,
        LocalCloud::standardRootDirectory(),
    };
    PhoneTool tool(
        keychain,
        [] {
            return std::chrono::time_point_cast<std::chrono::microseconds>(
                std::chrono::system_clock::now());
        },
        io);
    return tool.run(application.arguments().mid(1));
}
