// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "platform/TaskContext.h"

class MainActor;
class Pasteboard;

// Puts a code on the clipboard, marked concealed, and takes it off again after a delay unless
// anything changed the clipboard meanwhile. One instance per process owns the one pending
// clearing task: each copy cancels the previous one.
class ClipboardPublisher {
public:
    ClipboardPublisher(Pasteboard& pasteboard, MainActor& mainActor)
        : pasteboard_(pasteboard), mainActor_(mainActor) {}

    // Copies `code`, marked concealed, and clears the clipboard `clearAfter` seconds later (on
    // the boot-time clock) unless its change count has moved since this copy, i.e. unless the
    // user or another program changed it meanwhile. A delay of zero or less clears on the main
    // queue's next turn. Cancels the clearing task of the previous copy.
    void copyToPasteboard(const QString& code, double clearAfter);

    // Replaces the clipboard with `text` as plain text only: not concealed, never cleared.
    void copyPlainText(const QString& text);
    // The clearing task of the latest copy.
    const TaskHandle& clearTask() const { return clearTask_; }

private:
    Pasteboard& pasteboard_;
    MainActor& mainActor_;
    TaskHandle clearTask_;
};
