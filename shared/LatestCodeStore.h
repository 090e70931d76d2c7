// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

#include "platform/Instant.h"
#include "shared/LatestCode.h"

class AppGroupContainers;

// The two files the application and the AutoFill helper share in their group container:
// latest-code.json, the last published code (written by the application), and
// latest-code.filled, the moment the helper last filled it in (written by the helper).
// Both are replaced atomically; there is no lock between the two processes.
class LatestCodeStore {
public:
    static constexpr auto groupIdentifier = "K8QW41TR7N.net.brontal.zorvik.mac";

    // The store in the group's container, or nothing when the platform has no container.
    static std::optional<LatestCodeStore> make(const AppGroupContainers& containers);
    explicit LatestCodeStore(QString url) : url_(std::move(url)) {}

    const QString& url() const { return url_; }
    QString filledURL() const;

    // Writes the code (compact JSON, owner read and write only). Throws the error of the
    // failing step; the previous file stays intact when the write itself fails.
    void save(const LatestCode& code) const;
    // The stored code, or nothing for a missing, unreadable or malformed file.
    std::optional<LatestCode> load() const;
    // Deletes both files (empties the code's file when it cannot be deleted); whatever fails is
    // ignored.
    void clear() const;
    // Notes that the code was filled in at `now`; failures are ignored.
    void markFilled(Instant now) const;
    // When the code was last filled in, or nothing.
    std::optional<Instant> filledAt() const;

    bool operator==(const LatestCodeStore&) const = default;

private:
    QString url_;
};

// The marker's text: the seconds since 1970 in the shortest form that reads back to the same
// double, always with a decimal point ("1767225600.0", "1767225600.25").
QByteArray formatFilledMarker(Instant instant);
// The instant a marker's text names, or nothing: the text must be one number and nothing else.
std::optional<Instant> parseFilledMarker(QByteArrayView text);
