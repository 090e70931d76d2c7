// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/zorvik-phone/CommandLine.h"

std::optional<CommandLine> CommandLine::parse(const QStringList& words,
                                              const QSet<QString>& valueOptions,
                                              const QSet<QString>& flags, QString& error) {
    CommandLine line;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        if (!word.startsWith(u"--")) {
            line.positional_.append(word);
            continue;
        }
        const qsizetype equals = word.indexOf(u'=');
        const QString name = word.mid(2, equals < 0 ? -1 : equals - 2);
        if (flags.contains(name)) {
            if (equals >= 0) {
                error = QStringLiteral("--%1 takes no value").arg(name);
                return std::nullopt;
            }
            line.flags_.insert(name);
        } else if (valueOptions.contains(name)) {
            if (line.values_.contains(name)) {
                error = QStringLiteral("--%1 is given twice").arg(name);
                return std::nullopt;
            }
            if (equals >= 0) {
                line.values_.insert(name, word.mid(equals + 1));
            } else if (i + 1 < words.size()) {
                line.values_.insert(name, words[++i]);
            } else {
                error = QStringLiteral("--%1 needs a value").arg(name);
                return std::nullopt;
            }
        } else {
            error = QStringLiteral("unknown option --%1").arg(name);
            return std::nullopt;
        }
    }
    return line;
}

std::optional<QString> CommandLine::value(const QString& name) const {
    const auto found = values_.constFind(name);
    if (found == values_.cend()) {
        return std::nullopt;
    }
    return *found;
}
