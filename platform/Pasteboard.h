// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

// The user's general clipboard. It holds one entry, which offers its contents in one or more
// types. The change count goes up with every change of the contents: by one for each
// clearContents, and by at least one for each change the user or another program makes, even a
// copy of the same text. Adding to our own entry does not raise it, so the count read right
// after our own writes already includes them and stays put until something else happens.
class Pasteboard {
public:
    // The plain-text type and the marker that asks clipboard histories not to record an entry.
    static constexpr auto stringType = "public.utf8-plain-text";
    static constexpr auto concealedType = "org.nspasteboard.ConcealedType";

    virtual ~Pasteboard() = default;
    // Empties the clipboard and starts a new entry; answers the new change count.
    virtual long clearContents() = 0;
    // Adds `value` for `type` to the entry started by clearContents. False when it could not be
    // written, e.g. because another program has taken the clipboard since.
    virtual bool setString(const QString& value, const QString& type) = 0;
    // The current entry's value for `type`, whoever put it there; nothing when it lacks the type.
    virtual std::optional<QString> string(const QString& type) const = 0;
    virtual long changeCount() const = 0;
};
