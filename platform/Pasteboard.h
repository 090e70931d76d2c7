#pragma once

#include <QString>
#include <optional>

// The user's general clipboard. Every change of its contents, by us or by another program,
// raises the change count; reading it right after our own writes already includes them.
class Pasteboard {
public:
    // The plain-text type and the marker that asks clipboard histories not to record an entry.
    static constexpr auto stringType = "public.utf8-plain-text";
    static constexpr auto concealedType = "org.nspasteboard.ConcealedType";

    virtual ~Pasteboard() = default;
    // Empties the clipboard and starts a new entry; answers the new change count.
    virtual long clearContents() = 0;
    // Adds `value` for `type` to the entry started by clearContents.
    virtual bool setString(const QString& value, const QString& type) = 0;
    virtual std::optional<QString> string(const QString& type) const = 0;
    virtual long changeCount() const = 0;
};
