// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <functional>

#include "platform/Task.h"
#include "platform/Workspace.h"

struct ChecksOutcome;
class MacSettings;
class MainActor;

// When the receiver fetches and re-runs its checks: every 20 seconds while the popover is open
// (after one run of the checks), every poll interval while the computer is awake and the
// popover closed, once at every wake, and the checks again 15 seconds after a run that left
// something needing the user: while the popover shows, or while what needs attention may mend
// without the user (the cloud, the push). A row only the user can mend (AutoFill, notifications)
// is checked again when the popover opens, and the key's when the keyring reports a change;
// checking them every 15 seconds behind a closed popover would wake the computer for nothing.
// Its tasks hold it weakly.
class FetchSchedule : public QObject {
public:
    // The receiver's steps the schedule runs.
    struct Steps {
        std::function<Task<void>()> fetch;
        std::function<Task<void>()> runChecks;
    };

    FetchSchedule(MainActor& mainActor, MacSettings& settings, Workspace& workspace, Steps steps,
                  QObject* parent = nullptr);

    bool isAwake() const { return awake_; }
    bool isPopoverVisible() const { return popoverVisible_; }
    const TaskHandle& idlePollTask() const { return idlePollTask_; }
    const TaskHandle& pollTask() const { return pollTask_; }
    const TaskHandle& recheckTask() const { return recheckTask_; }
    const QList<Workspace::ObserverToken>& wakeObservers() const { return wakeObservers_; }

    // Polls in the background from now on, and follows the computer's sleep and wake.
    void startIdlePolling();
    void installWakeObservers();
    // Notes whether the popover shows; the polling of an open popover stops either way.
    void setPopoverVisible(bool visible);
    // Checks, then fetches every 20 seconds, until the popover closes.
    void pollWhileOpen();
    // Runs the checks again in 15 seconds when they left something needing the user that is
    // worth checking again now (see above).
    void scheduleRecheck(const ChecksOutcome& outcome);

private:
    friend struct FetchScheduleTasks;

    MainActor& mainActor_;
    MacSettings& settings_;
    Workspace& workspace_;
    Steps steps_;
    TaskHandle pollTask_;
    TaskHandle idlePollTask_;
    TaskHandle recheckTask_;
    bool popoverVisible_ = false;
    bool awake_ = true;
    QList<Workspace::ObserverToken> wakeObservers_;
};
