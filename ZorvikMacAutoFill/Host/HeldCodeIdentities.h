// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "platform/Instant.h"
#include "shared/LatestCode.h"

// The application registers a code's credential identities when the code arrives, and only
// while AutoFill is on, which it learns from a browser's first connection. A code that arrived
// before that connection would never be offered; so at a browser family's first connection the
// helper registers the identities of the code the application holds, if it is still valid.
namespace HeldCodeIdentities {

// Writes the identities of the code `heldCode` gives (the shared latest code) to
// `identitiesPath`. Failures are ignored: the next code the application publishes registers its
// identities anyway.
void publish(const std::function<std::optional<LatestCode>()>& heldCode,
             const QString& identitiesPath, Instant now);

}  // namespace HeldCodeIdentities
