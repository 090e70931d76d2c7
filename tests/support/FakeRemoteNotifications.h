// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/RemoteNotifications.h"

// A push channel the test drives by hand.
class FakeRemoteNotifications final : public RemoteNotifications {
public:
    void setHandlers(Handlers newHandlers) override { handlers = std::move(newHandlers); }
    void registerForRemoteNotifications() override { ++registrations; }
    bool isRegisteredForRemoteNotifications() const override { return registered; }

    Handlers handlers;
    bool registered = false;
    int registrations = 0;
};
