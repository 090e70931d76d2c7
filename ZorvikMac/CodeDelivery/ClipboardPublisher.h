#pragma once

#include <QString>

#include "TaskContext.h"

class MainActor;
class Pasteboard;

// Puts a code on the clipboard, marked concealed, and takes it off again after a delay unless
// anything changed the clipboard meanwhile. One instance per process owns the one pending
// clearing task: each copy cancels the previous one.
class ClipboardPublisher {
public:
    ClipboardPublisher(Pasteboard& pasteboard, MainActor& mainActor)
        : pasteboard_(pasteboard), mainActor_(mainActor) {}

    // Copies `code` and clears it `clearAfter` seconds later (on the boot-time clock) if the
    // clipboard still holds exactly what this copy wrote; a delay of zero or less clears at once.
    void copyToPasteboard(const QString& code, double clearAfter);

    // The clearing task of the latest copy.
    const TaskHandle& clearTask() const { return clearTask_; }

private:
    Pasteboard& pasteboard_;
    MainActor& mainActor_;
    TaskHandle clearTask_;
};
