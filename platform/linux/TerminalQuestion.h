// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QSocketNotifier>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

// Asks the user at the terminal the process was started from, without holding up the event
// loop: the question goes to the output, and the next line typed is the answer. A question
// asked while another waits replaces it.
class TerminalQuestion {
public:
    // Reads answers from `input` and writes questions to `output`; both stay open.
    explicit TerminalQuestion(int input = 0, int output = 1);
    ~TerminalQuestion();

    // Whether the process's standard input and output are both a terminal.
    static bool standardStreamsAreTerminal();

    // `answered` gets the line without its end, trimmed; or nothing when the input ended.
    void ask(const QString& question, std::function<void(std::optional<QString> answer)> answered);
    // Drops the waiting question, telling the terminal it was answered elsewhere with `note`.
    void withdraw(const QString& note);
    bool isAsking() const { return answered_ != nullptr; }

private:
    void readable();
    void write(const QString& text);

    int input_;
    int output_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QByteArray typed_;
    std::function<void(std::optional<QString>)> answered_;
};
