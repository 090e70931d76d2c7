// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/peers/NativeMessagingProbe.h"

#include <QElapsedTimer>
#include <QProcess>
#include <variant>

#include "ZorvikMacAutoFill/Host/FrameReader.h"
#include "bench/app/BenchSupport.h"

namespace NativeMessagingProbe {

namespace {
constexpr int kAnswerTimeoutMs = 10000;
}

Answer firstAnswer(const QString& program, const QStringList& arguments,
                   const QProcessEnvironment& environment, const QByteArray& requestJson,
                   const QString& errorLog) {
    Answer answer;
    QProcess host;
    host.setProcessEnvironment(environment);
    host.setStandardErrorFile(errorLog, QIODevice::Append);
    host.setProgram(program);
    host.setArguments(arguments);
    // Framed before the clock starts: the browser has its message ready when it spawns the host.
    const QByteArray frame = encodeFrame(requestJson);
    FrameReader reader;
    QElapsedTimer waited;
    const Clock::time_point spawned = Clock::now();
    waited.start();
    host.start();
    host.write(frame);
    while (answer.json.isEmpty() && waited.elapsed() < kAnswerTimeoutMs) {
        if (!host.waitForReadyRead(static_cast<int>(kAnswerTimeoutMs - waited.elapsed()))) {
            break;
        }
        reader.append(host.readAllStandardOutput());
        if (auto item = reader.next()) {
            if (const auto* json = std::get_if<QByteArray>(&*item)) {
                answer.json = *json;
                answer.milliseconds = millisecondsBetween(spawned, Clock::now());
            } else {
                answer.failure = QStringLiteral("an oversized answer");
                break;
            }
        }
    }
    if (answer.json.isEmpty() && answer.failure.isEmpty()) {
        answer.failure = host.state() == QProcess::NotRunning
                             ? QStringLiteral("it ended (exit %1) without an answer; see %2")
                                   .arg(host.exitCode())
                                   .arg(errorLog)
                             : QStringLiteral("no answer within %1 s").arg(kAnswerTimeoutMs / 1000);
    }
    // The browser closes the port: the host sees the end of its input and leaves.
    host.closeWriteChannel();
    if (!host.waitForFinished(5000)) {
        host.kill();
        host.waitForFinished(5000);
    }
    return answer;
}

}  // namespace NativeMessagingProbe
