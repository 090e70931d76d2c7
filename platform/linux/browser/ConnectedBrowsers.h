#pragma once

#include <QString>

#include "Instant.h"

// The AutoFill helper's record of the browser families whose extension has started it, kept in
// the group container as connected-browsers.json ({"chromium": "<first connection>", …}). An
// installed manifest alone does not make AutoFill work: the extension must be loaded too, and
// its first connection is the proof.
namespace ConnectedBrowsers {

constexpr auto fileName = "connected-browsers.json";

enum class Family { chromium, firefox };

// Notes the family's first connection; later ones change nothing. Failures are ignored: the
// record only refines what the application reports.
void record(const QString& containerDirectory, Family family, Instant now);

bool hasConnected(const QString& containerDirectory, Family family);

}  // namespace ConnectedBrowsers
