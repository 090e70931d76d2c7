// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include "ZorvikMacAutoFill/AutoFillInterface.h"

// Finds and loads the module with the helper's graphical interface, zorvik-autofill-panel.so.
// The helper answers a code without it; only a request that shows the panel loads it, so that
// no other request waits for the toolkit's libraries.
namespace PanelModuleLoader {

constexpr auto fileName = "zorvik-autofill-panel.so";

// Where the module may be for the helper at `executable`, in the order tried: beside it (the
// build tree), then in `installedDirectory`, a path relative to the helper's folder (the
// installed tree, such as ../lib/x86_64-linux-gnu/zorvik).
QStringList candidates(const QString& executable, const QString& installedDirectory);

struct Result {
    AutoFillInterfaceEntry entry = nullptr;
    // Why there is no entry, for the user: which files were tried and what failed.
    QString problem;
};

// Loads the first of `candidates` that exists and looks up its entry point. The module stays
// loaded for the rest of the process.
Result load(const QStringList& candidates);

}  // namespace PanelModuleLoader
