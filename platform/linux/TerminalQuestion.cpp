// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/TerminalQuestion.h"

#include <unistd.h>

#include <cerrno>

TerminalQuestion::TerminalQuestion(int input, int output) : input_(input), output_(output) {}

TerminalQuestion::~TerminalQuestion() = default;

bool TerminalQuestion::standardStreamsAreTerminal() {
    return isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1;
}

void TerminalQuestion::write(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            ::write(output_, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;  // a terminal that went away hears nothing more
        }
        written += n;
    }
}

void TerminalQuestion::ask(const QString& question,
                           std::function<void(std::optional<QString>)> answered) {
    answered_ = std::move(answered);
    // What was typed before the question is no answer to it.
    typed_.clear();
    write(question);
    if (!notifier_) {
        notifier_ = std::make_unique<QSocketNotifier>(input_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { readable(); });
    }
    notifier_->setEnabled(true);
}

void TerminalQuestion::withdraw(const QString& note) {
    if (!answered_) {
        return;
    }
    answered_ = nullptr;
    notifier_->setEnabled(false);
    write(QStringLiteral("\n") + note + u'\n');
}

void TerminalQuestion::readable() {
    char buffer[256];
    const ssize_t n = ::read(input_, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (n <= 0) {
        // The input ended (the terminal closed, or ^D): nobody is there to answer.
        notifier_->setEnabled(false);
        if (auto answered = std::exchange(answered_, nullptr)) {
            answered(std::nullopt);
        }
        return;
    }
    typed_.append(buffer, n);
    const qsizetype end = typed_.indexOf('\n');
    if (end < 0) {
        // A line no one types by hand is no answer; keep only its start.
        typed_.truncate(4096);
        return;
    }
    const QString line = QString::fromUtf8(typed_.left(end)).trimmed();
    typed_.clear();
    notifier_->setEnabled(false);
    if (auto answered = std::exchange(answered_, nullptr)) {
        answered(line);
    }
}
