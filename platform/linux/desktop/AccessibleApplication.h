// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Lists the popover among the application's windows for screen readers. Qt leaves every popup
// window out of that list, which suits a menu or a combo box's list but hides a popover that
// holds the application's whole interface. A popup that names itself (an accessible name or a
// title) counts as a window of its own while it shows.
namespace AccessibleApplication {

// Once, after the application object exists.
void install();

}  // namespace AccessibleApplication
