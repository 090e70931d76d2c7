// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QProcess>
#include <QStringList>

// Runs a Python 3 snippet as an independent reference implementation: `arguments` become
// sys.argv[1:], and what it prints is the answer. Fails the calling test when Python fails.
inline QByteArray runPythonReference(const QString& script, const QStringList& arguments) {
    QProcess python;
    python.start(QStringLiteral("python3"), QStringList{QStringLiteral("-c"), script} + arguments);
    if (!python.waitForFinished(30000) || python.exitStatus() != QProcess::NormalExit ||
        python.exitCode() != 0) {
        ADD_FAILURE() << "python3 reference failed: "
                      << python.readAllStandardError().toStdString();
        return {};
    }
    return python.readAllStandardOutput().trimmed();
}
