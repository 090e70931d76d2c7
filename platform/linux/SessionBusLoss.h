// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

typedef struct _GDBusConnection GDBusConnection;

// Tells when the desktop session's bus goes away (the session ended, or its bus died). GLib's
// own answer to that is to raise SIGTERM, which reads in the log like any other quit; with this
// in place GLib leaves the process alone and `lost` says why it ends.
class SessionBusLoss {
public:
    explicit SessionBusLoss(std::function<void()> lost);
    ~SessionBusLoss();
    SessionBusLoss(const SessionBusLoss&) = delete;
    SessionBusLoss& operator=(const SessionBusLoss&) = delete;

private:
    static void onClosed(GDBusConnection* bus, int remotePeerVanished, void* error, void* self);

    std::function<void()> lost_;
    GDBusConnection* bus_ = nullptr;
    unsigned long handler_ = 0;
};
