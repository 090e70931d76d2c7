// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "platform/Instant.h"

// The AutoFill helper's record of the browser families whose extension has started it,
// connected-browsers.json ({"chromium": "<first connection>", …}). An installed manifest alone
// does not make AutoFill work: the extension must be loaded too, and its first connection is the
// proof. The record lives in the user's data directory, not the group container: the container
// is emptied at logout, and a browser that connected once should not have to prove it again
// after every login.
namespace ConnectedBrowsers {

constexpr auto fileName = "connected-browsers.json";

enum class Family { chromium, firefox };

// $XDG_DATA_HOME/net.brontal.zorvik (~/.local/share/net.brontal.zorvik without it).
QString standardDirectory();

// Notes the family's first connection; later ones change nothing. Gives whether this is the
// family's first connection. Write failures are ignored: the record only refines what the
// application reports.
bool record(const QString& directory, Family family, Instant now);

bool hasConnected(const QString& directory, Family family);

// Takes over a record that an earlier version kept in `earlierDirectory` (the group container)
// and deletes it there, so that a browser that connected before is not forgotten.
void adoptEarlierRecord(const QString& earlierDirectory, const QString& directory);

}  // namespace ConnectedBrowsers
