// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSettings>

#include "platform/UserDefaults.h"

// The user-defaults store in an INI file, by default $XDG_CONFIG_HOME/net.brontal.zorvik/
// ZorvikMac.conf. The file keeps no types, so reads are typed here: booleans as true/false,
// doubles in C notation, dates as ISO 8601 strings with milliseconds in UTC. Every write goes
// to disk at once, into a file only the user may read (0600, in a 0700 folder).
class QSettingsUserDefaults final : public UserDefaults {
public:
    explicit QSettingsUserDefaults(const QString& filePath);

    static QString standardFilePath();

    void registerDefaults(const QHash<QString, Value>& defaults) override;
    bool boolForKey(const QString& key) const override;
    double doubleForKey(const QString& key) const override;
    std::optional<QString> stringForKey(const QString& key) const override;
    std::optional<Instant> dateForKey(const QString& key) const override;
    void setBool(bool value, const QString& key) override;
    void setDouble(double value, const QString& key) override;
    void setString(const QString& value, const QString& key) override;
    void setDate(Instant value, const QString& key) override;

private:
    // The stored text of a key, else its registered default as text.
    std::optional<QString> text(const QString& key) const;
    void write(const QString& key, const QString& text);

    mutable QSettings settings_;
    QHash<QString, QString> registered_;
};
