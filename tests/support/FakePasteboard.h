// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>

#include "platform/Pasteboard.h"

// An in-memory clipboard. `changeByAnotherProgram` plays a copy made elsewhere.
class FakePasteboard final : public Pasteboard {
public:
    long clearContents() override {
        entries.clear();
        return ++count;
    }
    bool setString(const QString& value, const QString& type) override {
        entries.insert(type, value);
        return true;
    }
    std::optional<QString> string(const QString& type) const override {
        const auto found = entries.constFind(type);
        return found == entries.cend() ? std::nullopt : std::optional(*found);
    }
    long changeCount() const override { return count; }

    void changeByAnotherProgram(const QString& text) {
        entries.clear();
        entries.insert(QString::fromLatin1(stringType), text);
        ++count;
    }

    QHash<QString, QString> entries;
    long count = 0;
};
