// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <optional>

#include "platform/Pasteboard.h"

class QClipboard;
class QMimeData;

// The general pasteboard on the desktop clipboard (QClipboard in Clipboard mode; on X11 the
// CLIPBOARD selection). The entry is one QMimeData: the plain text as text/plain, and the
// concealed marker with "x-kde-passwordManagerHint: secret" next to it, which Klipper and CopyQ
// honour. Each write hands the clipboard the whole entry written so far, so other programs
// always see one entry offering every type.
//
// The change count is our own: clearContents raises it; a change notice for anything other
// than our own writes raises it too. Qt reports our own writes as well, at once and, on X11,
// once more a few milliseconds after a clear; those notices are recognised and left out.
class QtPasteboard final : public Pasteboard {
public:
    // The data that asks KDE's and CopyQ's histories to skip an entry.
    static constexpr auto passwordManagerHintType = "x-kde-passwordManagerHint";

    // Needs the application object.
    QtPasteboard();
    ~QtPasteboard() override;

    long clearContents() override;
    bool setString(const QString& value, const QString& type) override;
    std::optional<QString> string(const QString& type) const override;
    long changeCount() const override { return changeCount_; }

private:
    void clipboardChanged();
    QMimeData* makeEntry() const;

    QClipboard* clipboard_;
    // The entry being written: plain text, and the other types with their data in write order.
    std::optional<QString> text_;
    QList<QPair<QString, QByteArray>> data_;
    // The last entry handed to the clipboard, while the clipboard keeps it.
    QPointer<QMimeData> published_;
    long changeCount_ = 0;
    // The count when the entry was started; a different count means someone else wrote since.
    long entryCount_ = 0;
    // True while we call into the clipboard, whose change notices are then our own.
    bool writing_ = false;
    // True from our clearContents until the clipboard holds anything again.
    bool emptiedByUs_ = false;
    // Declared last so that the connection goes first.
    QObject context_;
};
