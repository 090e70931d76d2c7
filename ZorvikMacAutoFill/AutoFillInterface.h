// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSize>
#include <QtGlobal>
#include <functional>
#include <memory>

class AutoFillModel;

// The panel's window as the host sees it. Everything graphical stays behind this and
// AutoFillInterface: the helper answers most requests without ever loading the toolkit.
class AutoFillPanelWindow {
public:
    virtual ~AutoFillPanelWindow() = default;
    virtual QSize size() const = 0;
    // Shows the window, `size` and not resizable, in front of the browser and in the middle of
    // the screen. `closed` runs whenever the user closes it.
    virtual void present(QSize size, std::function<void()> closed) = 0;
    virtual void hide() = 0;
};

// The graphical interface of the helper, started once per process when a request needs the
// panel. It lives in a module of its own (see PanelModule.cpp) that the helper loads then.
class AutoFillInterface {
public:
    virtual ~AutoFillInterface() = default;
    // A hidden window of `size` holding the panel that shows `model`, ticking on the
    // interface's main actor. `model` outlives the window.
    virtual std::unique_ptr<AutoFillPanelWindow> makePanelWindow(AutoFillModel& model,
                                                                 QSize size) = 0;
};

// The module's one exported function: starts the application object (with `argc` and `argv`,
// which outlive it) and gives the interface, which the caller owns, or null. The number in its
// name goes up whenever these two classes change, so that the helper refuses a module built
// against other ones.
#define ZORVIK_AUTOFILL_INTERFACE_ENTRY zorvik_autofill_interface_1
using AutoFillInterfaceEntry = AutoFillInterface* (*)(int& argc, char** argv);
constexpr auto autoFillInterfaceEntryName = QT_STRINGIFY(ZORVIK_AUTOFILL_INTERFACE_ENTRY);
