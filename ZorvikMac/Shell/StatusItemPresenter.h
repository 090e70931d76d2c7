// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <memory>
#include <optional>

#include "platform/Instant.h"
#include "platform/TaskContext.h"
#include "shared/LatestCode.h"

class CodeReceiver;
class MacSettings;
class MainActor;
class StatusItem;

// Shows the receiver's state on the status item: a closed padlock, or an open one while a code
// is held, and the code itself as the item's title while the user wants it, the code is valid
// and it has not been used for 10 seconds. The title turns to the quieter colour in the code's
// last 15 seconds. While a code is held the item is refreshed every second.
class StatusItemPresenter {
public:
    static constexpr double hideDelayAfterUse = 10;
    static constexpr double quietColourFrom = 15;

    StatusItemPresenter(StatusItem& item, CodeReceiver& receiver, MacSettings& settings,
                        MainActor& mainActor);
    ~StatusItemPresenter();

    // The padlock, open or closed, in the accent colour at 13 points, semibold, drawn large
    // enough for every size a status area asks for.
    static QImage statusImage(bool open);

    // Runs after every change of the receiver's code: refreshes at once, then every second
    // while a code is held.
    void restartTitleTimer();
    void refreshStatusItem();

    bool isTitleTimerRunning() const { return titleTimer_.has_value(); }

private:
    // Whether the code was copied or filled at least the hide delay before `now`.
    bool usedLongEnoughAgo(const LatestCode& code, Instant now) const;

    StatusItem& item_;
    CodeReceiver& receiver_;
    MacSettings& settings_;
    MainActor& mainActor_;
    std::optional<TaskHandle> titleTimer_;
    // Shared with the timer's task, which must not outlive this presenter.
    std::shared_ptr<StatusItemPresenter*> self_;
};
