// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <functional>
#include <initializer_list>
#include <memory>

// Turns Unix signals (SIGTERM from the session or `kill`, SIGINT from a terminal, SIGHUP when
// the terminal goes away) into a call on the Qt event loop, where the application can quit
// normally and tidy up. The handler only writes the signal's number into a pipe, the one thing a
// signal handler may safely do whichever thread it lands on.
class UnixSignalNotifier : public QObject {
    Q_OBJECT

public:
    // Catches the `caught` signals for the rest of the process's life; one notifier per process.
    UnixSignalNotifier(std::initializer_list<int> caught, std::function<void(int number)> handler,
                       QObject* parent = nullptr);
    ~UnixSignalNotifier() override;

    // The signal's name for a log line ("SIGTERM"), or its number when it has none here.
    static QString name(int number);

private:
    void readSignals();

    std::function<void(int)> handler_;
    std::unique_ptr<QSocketNotifier> notifier_;
};
