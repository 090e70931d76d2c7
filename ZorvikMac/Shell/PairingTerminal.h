// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include "platform/SystemLog.h"

struct QrCode;

// What `ZorvikMac --pair` shows at a terminal: the offer's QR code drawn in text, and the few
// log lines the user waiting there must see.
namespace PairingTerminal {

// Modules of light margin around the code; scanners want some, and a terminal has few lines.
constexpr int quietZone = 2;

// The QR code as terminal text, two module rows to a line. Light modules and the margin are
// drawn ("█", "▀", "▄") and dark ones left blank, the usual way for terminals: the code reads
// dark on light in a light-on-dark terminal, and a dark-on-light terminal shows it inverted.
// With an odd number of rows, the last line's lower half is the terminal's own background.
QByteArray picture(const QrCode& code);

// The log while --pair waits at a terminal. Every line goes to the journal as usual, but the
// terminal shows the code to scan, so it gets only what the user must know: errors (the
// keychain refusing the key, say) and the hand-offs that were turned down for this offer (a
// seal that does not open, a stale record), lest the user wait out the 10 minutes for nothing.
// A hand-off for another pairing is left out: a finished pairing leaves its record in the cloud,
// and it would show at the start of every later one. With --log-to-stderr the journal's own echo
// shows every line instead.
class Log final : public SystemLog {
public:
    Log(SystemLog& journal, bool journalEchoes)
        : journal_(journal), journalEchoes_(journalEchoes), otherPairing_(otherPairingLine()) {}

    void write(LogLevel level, const QString& subsystem, const QString& category,
               const QString& message) override;

private:
    static QString otherPairingLine();

    SystemLog& journal_;
    bool journalEchoes_;
    // The line KeyPairing writes for a record of another offer.
    const QString otherPairing_;
};

}  // namespace PairingTerminal
