// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/CodeDelivery/ClipboardPublisher.h"

#include "platform/MainActor.h"
#include "platform/Pasteboard.h"

namespace {

// The pasteboard and the actor outlive the task: the actor destroys the tasks it has not finished
// when it goes, and the platform's pasteboard is there for as long as the actor runs.
Task<void> clearLater(MainActor& mainActor, Pasteboard& pasteboard, double clearAfter, long count) {
    if (clearAfter > 0) {
        co_await mainActor.sleep(clearAfter);
    }
    // A cancelled wait ends early; the task then stops here. (The await stands on its own:
    // g++ 12 at -O2 miscompiles one inside a condition.)
    const bool cancelled = co_await isCancelled();
    if (cancelled) {
        co_return;
    }
    // Anything that changed the clipboard since, even a copy of the same text, keeps it.
    if (pasteboard.changeCount() == count) {
        pasteboard.clearContents();
    }
}

}  // namespace

void ClipboardPublisher::copyToPasteboard(const QString& code, double clearAfter) {
    pasteboard_.clearContents();
    pasteboard_.setString(code, QString::fromLatin1(Pasteboard::stringType));
    pasteboard_.setString(QString(), QString::fromLatin1(Pasteboard::concealedType));
    const long count = pasteboard_.changeCount();
    clearTask_.cancel();
    clearTask_ = mainActor_.spawn(clearLater(mainActor_, pasteboard_, clearAfter, count));
}

void ClipboardPublisher::copyPlainText(const QString& text) {
    pasteboard_.clearContents();
    pasteboard_.setString(text, QString::fromLatin1(Pasteboard::stringType));
}
