// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include "platform/LoginItemService.h"

// A login item whose registration the test controls; `refuseWith` makes changes fail.
class FakeLoginItemService final : public LoginItemService {
public:
    Status status() const override { return current; }
    void registerApp() override {
        ++registerCalls;
        if (refuseWith) {
            throw LoginItemError(*refuseWith);
        }
        current = Status::enabled;
    }
    void unregisterApp() override {
        ++unregisterCalls;
        if (refuseWith) {
            throw LoginItemError(*refuseWith);
        }
        current = Status::notRegistered;
    }

    Status current = Status::notRegistered;
    std::optional<QString> refuseWith;
    int registerCalls = 0;
    int unregisterCalls = 0;
};
