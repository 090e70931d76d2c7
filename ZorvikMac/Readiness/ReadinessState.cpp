// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Readiness/ReadinessState.h"

#include <cmath>

#include "ZorvikMac/Readiness/MacSettings.h"
#include "ZorvikMac/Readiness/SetupRow.h"
#include "platform/Keychain.h"
#include "platform/MainActor.h"

namespace {
// How far apart the phone's clock and ours may be before the user hears of it: a code's trip
// through the cloud takes seconds, and clocks set automatically agree far better than this.
constexpr double kClockTolerance = 60;
}  // namespace

ReadinessState::ReadinessState(MacSettings& settings, MainActor& mainActor, const Logger& log,
                               QTimeZone timeZone, QObject* parent)
    : QObject(parent),
      settings_(settings),
      mainActor_(mainActor),
      log_(log),
      timeZone_(std::move(timeZone)) {}

void ReadinessState::changeProbe(const std::function<void(SetupProbe&)>& change) {
    SetupProbe changed = probe_;
    change(changed);
    if (changed == probe_) {
        return;
    }
    probe_ = std::move(changed);
    Q_EMIT probeChanged();
    updateAttention();
}

void ReadinessState::changeInfo(const std::function<void(DiagnosticsInfo&)>& change) {
    DiagnosticsInfo changed = info_;
    change(changed);
    if (changed == info_) {
        return;
    }
    info_ = std::move(changed);
    Q_EMIT infoChanged();
}

void ReadinessState::updateAttention() {
    const bool needs = needsAttention(setupRows(probe_, mainActor_.now(), timeZone_));
    if (lastNeedsAttention_ != needs) {
        settings_.setSetupCollapsed(!needs);
    }
    lastNeedsAttention_ = needs;
}

void ReadinessState::noteSyncKey(const SyncKeyState& state) {
    const SyncKeyState was = probe_.syncKey;
    const bool wasLocked = was.kind == SyncKeyState::Kind::locked;
    const bool locked = state.kind == SyncKeyState::Kind::locked;
    changeProbe([&](SetupProbe& probe) { probe.syncKey = state; });
    if (locked && !wasLocked) {
        log_.info("keyring locked: codes wait until it is unlocked");
    } else if (wasLocked && !locked) {
        log_.info("keyring unlocked");
    }
    const bool failing = state.kind == SyncKeyState::Kind::error;
    const bool wasFailing = was.kind == SyncKeyState::Kind::error;
    if (failing && state != was) {
        log_.error("keyring: %{public}s", state.message);
    } else if (wasFailing && !failing && state.kind != SyncKeyState::Kind::checking) {
        log_.info("keyring: answers again");
    }
}

void ReadinessState::noteClockOffset(double secondsAhead) {
    const std::optional<double> offset =
        std::abs(secondsAhead) > kClockTolerance ? std::optional(secondsAhead) : std::nullopt;
    if (offset.has_value() == probe_.clockOffset.has_value()) {
        if (offset) {
            changeProbe([&](SetupProbe& probe) { probe.clockOffset = offset; });
        }
        return;
    }
    changeProbe([&](SetupProbe& probe) { probe.clockOffset = offset; });
    if (offset) {
        log_.error("%{public}s", clockOffsetText(*offset));
    } else {
        log_.info("this computer's clock agrees with the phone's again");
    }
}

SyncKeyState syncKeyStateFor(const CloudSyncCrypto::Error& error) {
    if (error.kind() == CloudSyncCrypto::Error::Kind::noKeyYet) {
        return {SyncKeyState::Kind::waiting, {}};
    }
    if (error.status() == Keychain::interactionNotAllowed) {
        return {SyncKeyState::Kind::locked, {}};
    }
    return SyncKeyState::error(Keychain::describe(error.status()));
}
