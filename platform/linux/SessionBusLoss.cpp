// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/SessionBusLoss.h"

#include <gio/gio.h>

SessionBusLoss::SessionBusLoss(std::function<void()> lost) : lost_(std::move(lost)) {
    // The same shared connection the keyring's library talks over.
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus_ == nullptr) {
        return;
    }
    g_dbus_connection_set_exit_on_close(bus_, FALSE);
    handler_ = g_signal_connect(bus_, "closed", G_CALLBACK(onClosed), this);
}

SessionBusLoss::~SessionBusLoss() {
    if (bus_ != nullptr) {
        g_signal_handler_disconnect(bus_, handler_);
        g_object_unref(bus_);
    }
}

void SessionBusLoss::onClosed(GDBusConnection*, int, void*, void* self) {
    auto* loss = static_cast<SessionBusLoss*>(self);
    if (loss->lost_) {
        loss->lost_();
    }
}
