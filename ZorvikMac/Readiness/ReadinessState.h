// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimeZone>
#include <functional>
#include <optional>

#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "ZorvikMac/CodeIntake/SyncKeyState.h"
#include "ZorvikMac/Readiness/DiagnosticsInfo.h"
#include "ZorvikMac/Readiness/SetupProbe.h"
#include "platform/Logger.h"

class MacSettings;
class MainActor;

// What the checklist and the diagnostics report show: the readiness probe and the diagnostics
// snapshot. Both change only through here, so observers hear of a real change only, and the
// checklist unfolds when it comes to need the user and folds when it no longer does.
class ReadinessState : public QObject {
    Q_OBJECT

public:
    ReadinessState(MacSettings& settings, MainActor& mainActor, const Logger& log,
                   QTimeZone timeZone, QObject* parent = nullptr);

    const SetupProbe& probe() const { return probe_; }
    const DiagnosticsInfo& info() const { return info_; }
    // Whether the checklist needed attention when last judged; absent before the first change.
    std::optional<bool> lastNeedsAttention() const { return lastNeedsAttention_; }

    void changeProbe(const std::function<void(SetupProbe&)>& change);
    void changeInfo(const std::function<void(DiagnosticsInfo&)>& change);
    // Judges whether the checklist needs the user; only a change of the answer folds or unfolds
    // it, so the user's own folding survives.
    void updateAttention();

    // The sync key's state after a read of the keychain; one log line when the keyring becomes
    // locked or unlocked, none while it stays so.
    void noteSyncKey(const SyncKeyState& state);
    // Notes how far this computer's clock is ahead of the phone's (negative: behind): told in
    // the log and the checklist once it is more than a minute, until it is no more.
    void noteClockOffset(double secondsAhead);

Q_SIGNALS:
    void probeChanged();
    void infoChanged();

private:
    MacSettings& settings_;
    MainActor& mainActor_;
    const Logger& log_;
    QTimeZone timeZone_;
    SetupProbe probe_;
    DiagnosticsInfo info_;
    std::optional<bool> lastNeedsAttention_;
};

// What a failed read of the sync key means for the checklist's row.
SyncKeyState syncKeyStateFor(const CloudSyncCrypto::Error& error);
