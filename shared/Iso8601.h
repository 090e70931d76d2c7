// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>
#include <optional>

#include "platform/Instant.h"

// Internet date-times (RFC 3339 profile of ISO 8601) with whole seconds, the one form the
// shared files and the sealed payload use: 2026-01-02T03:04:05Z, or with a numeric offset
// (+01:00) in place of Z. Anything else, a fraction of a second included, is rejected.
namespace Iso8601 {

// Nothing as well for an instant that `format` could not write (an offset moving year 0000 or
// 9999 across the edge), so whatever parses can be written back.
std::optional<Instant> parse(QStringView text);

// UTC with the fraction of a second dropped; nothing for years outside 0000–9999.
std::optional<QString> format(Instant instant);

}  // namespace Iso8601
