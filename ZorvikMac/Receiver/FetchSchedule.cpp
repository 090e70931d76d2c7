// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Receiver/FetchSchedule.h"

#include <QPointer>
#include <algorithm>

#include "ZorvikMac/Readiness/MacSettings.h"
#include "ZorvikMac/Receiver/ReadinessChecks.h"
#include "platform/MainActor.h"

// The schedule's tasks; every await stands on its own: g++ 12 at -O2 miscompiles one inside a
// condition.
struct FetchScheduleTasks {
    static Task<void> pollWhileOpen(QPointer<FetchSchedule> schedule, MainActor& mainActor) {
        if (!schedule) {
            co_return;
        }
        co_await schedule->steps_.runChecks();
        for (;;) {
            const bool cancelled = co_await isCancelled();
            if (!schedule || cancelled) {
                co_return;
            }
            co_await schedule->steps_.fetch();
            co_await mainActor.sleep(20);
        }
    }

    static Task<void> pollInTheBackground(QPointer<FetchSchedule> schedule, MainActor& mainActor,
                                          MacSettings& settings) {
        for (;;) {
            const bool cancelled = co_await isCancelled();
            if (!schedule || cancelled) {
                co_return;
            }
            co_await mainActor.sleep(std::max(settings.pollInterval(), 1.0));
            if (!schedule) {
                co_return;
            }
            if (schedule->awake_ && !schedule->popoverVisible_) {
                co_await schedule->steps_.fetch();
            }
        }
    }

    static Task<void> runChecksLater(QPointer<FetchSchedule> schedule, MainActor& mainActor) {
        co_await mainActor.sleep(15);
        const bool cancelled = co_await isCancelled();
        if (cancelled || !schedule) {
            co_return;
        }
        co_await schedule->steps_.runChecks();
    }

    static Task<void> fetchOnce(QPointer<FetchSchedule> schedule) {
        if (schedule) {
            co_await schedule->steps_.fetch();
        }
    }
};

FetchSchedule::FetchSchedule(MainActor& mainActor, MacSettings& settings, Workspace& workspace,
                             Steps steps, QObject* parent)
    : QObject(parent),
      mainActor_(mainActor),
      settings_(settings),
      workspace_(workspace),
      steps_(std::move(steps)) {}

void FetchSchedule::startIdlePolling() {
    idlePollTask_.cancel();
    idlePollTask_ = mainActor_.spawn(FetchScheduleTasks::pollInTheBackground(
        QPointer<FetchSchedule>(this), mainActor_, settings_));
}

void FetchSchedule::installWakeObservers() {
    using Event = Workspace::Event;
    const QPointer<FetchSchedule> schedule(this);
    for (const Event event :
         {Event::willSleep, Event::screensDidSleep, Event::sessionDidResignActive}) {
        wakeObservers_.append(workspace_.addObserver(event, [schedule] {
            if (schedule) {
                schedule->awake_ = false;
            }
        }));
    }
    for (const Event event :
         {Event::didWake, Event::screensDidWake, Event::sessionDidBecomeActive}) {
        wakeObservers_.append(workspace_.addObserver(event, [schedule] {
            if (schedule) {
                schedule->awake_ = true;
                schedule->mainActor_.spawn(FetchScheduleTasks::fetchOnce(schedule));
            }
        }));
    }
}

void FetchSchedule::setPopoverVisible(bool visible) {
    popoverVisible_ = visible;
    pollTask_.cancel();
    pollTask_ = TaskHandle();
}

void FetchSchedule::pollWhileOpen() {
    pollTask_.cancel();
    pollTask_ = mainActor_.spawn(
        FetchScheduleTasks::pollWhileOpen(QPointer<FetchSchedule>(this), mainActor_));
}

void FetchSchedule::scheduleRecheck(const ChecksOutcome& outcome) {
    recheckTask_.cancel();
    recheckTask_ = TaskHandle();
    if (outcome.needsAttention && (popoverVisible_ || outcome.mayMendItself)) {
        recheckTask_ = mainActor_.spawn(
            FetchScheduleTasks::runChecksLater(QPointer<FetchSchedule>(this), mainActor_));
    }
}
