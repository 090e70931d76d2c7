// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QString>
#include <optional>
#include <variant>

#include "platform/Instant.h"

// The user's preferences store. Registered defaults live in memory and answer for every key the
// user never wrote. Reads are typed: a value of another type reads as absent, false or 0.
class UserDefaults {
public:
    using Value = std::variant<bool, double, QString, Instant>;

    virtual ~UserDefaults() = default;
    virtual void registerDefaults(const QHash<QString, Value>& defaults) = 0;

    virtual bool boolForKey(const QString& key) const = 0;
    virtual double doubleForKey(const QString& key) const = 0;
    virtual std::optional<QString> stringForKey(const QString& key) const = 0;
    virtual std::optional<Instant> dateForKey(const QString& key) const = 0;

    virtual void setBool(bool value, const QString& key) = 0;
    virtual void setDouble(double value, const QString& key) = 0;
    virtual void setString(const QString& value, const QString& key) = 0;
    virtual void setDate(Instant value, const QString& key) = 0;
};
