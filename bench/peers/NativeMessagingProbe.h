// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// A browser's side of one native-messaging exchange: spawns the host as the browser does, sends
// one message and times the first whole message back.
namespace NativeMessagingProbe {

struct Answer {
    double milliseconds = 0;  // from just before the spawn to the answer's last byte read
    QByteArray json;          // the first answer; empty on failure
    QString failure;          // why there is no answer
};

Answer firstAnswer(const QString& program, const QStringList& arguments,
                   const QProcessEnvironment& environment, const QByteArray& requestJson,
                   const QString& errorLog);

}  // namespace NativeMessagingProbe
