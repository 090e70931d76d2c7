// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

// A subcommand's options: "--name value", "--name=value" or a bare "--flag". Anything the
// subcommand does not know is an error, so a typo never goes unnoticed.
class CommandLine {
public:
    // Nothing, with `error` set, when the words do not fit.
    static std::optional<CommandLine> parse(const QStringList& words,
                                            const QSet<QString>& valueOptions,
                                            const QSet<QString>& flags, QString& error);

    bool has(const QString& name) const { return values_.contains(name) || flags_.contains(name); }
    std::optional<QString> value(const QString& name) const;
    const QStringList& positional() const { return positional_; }

private:
    QHash<QString, QString> values_;
    QSet<QString> flags_;
    QStringList positional_;
};
