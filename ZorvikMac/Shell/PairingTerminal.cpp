// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Shell/PairingTerminal.h"

#include <cstdio>

#include "ZorvikMac/CodeIntake/KeyHandoff.h"
#include "platform/QrCode.h"

namespace PairingTerminal {

QByteArray picture(const QrCode& code) {
    const int side = code.size + 2 * quietZone;
    const auto isLight = [&code, side](int x, int y) {
        if (y >= side) {
            return false;
        }
        const int column = x - quietZone;
        const int row = y - quietZone;
        if (column < 0 || row < 0 || column >= code.size || row >= code.size) {
            return true;
        }
        return !code.isDark(column, row);
    };
    QString text;
    for (int y = 0; y < side; y += 2) {
        for (int x = 0; x < side; ++x) {
            const bool upper = isLight(x, y);
            const bool lower = isLight(x, y + 1);
            text += upper ? (lower ? u'\u2588' : u'\u2580') : (lower ? u'\u2584' : u' ');
        }
        text += u'\n';
    }
    return text.toUtf8();
}

QString Log::otherPairingLine() {
    return QStringLiteral("pairing: ignored ") +
           KeyHandoff::describe(KeyHandoff::Rejection::otherPairing);
}

void Log::write(LogLevel level, const QString& subsystem, const QString& category,
                const QString& message) {
    journal_.write(level, subsystem, category, message);
    if (journalEchoes_ || message == otherPairing_) {
        return;
    }
    if (level == LogLevel::error || message.startsWith(u"pairing: ignored")) {
        std::fprintf(stderr, "ZorvikMac: %s\n", message.toUtf8().constData());
    }
}

}  // namespace PairingTerminal
