// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPoint>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "platform/Logger.h"
#include "platform/MainActor.h"
#include "platform/Screens.h"

class CodeReceiver;
class Popover;
class PopoverScreen;
class QWidget;

// Opens and closes the popover under the status item, fits it to the screen it opens on, and
// after every show and every size change measures the popover's window against that screen: a
// window that sticks out is closed and shown again, once, its content fitted to the usable area
// of the screen the window is on, so that the popover's placement can keep it inside. Each
// measurement is appended to a one-line layout note that the receiver keeps for the diagnostics
// report. It tells the receiver when the popover is visible, and ends the first run when the
// first popover closes. Where no tray shows the status item, it shows the popover detached, as
// a window of its own.
//
// It is the popover's delegate from construction on. Work it schedules holds it weakly.
class PopoverPresenter {
public:
    // The size offered to the content view when measuring it.
    static constexpr double measuringWidth = 340;
    static constexpr double measuringHeight = 100000;
    // The usable height assumed when no screen is known.
    static constexpr double unknownScreenHeight = 900;
    // How long after a re-show its guard holds.
    static constexpr double reshowGuardSeconds = 0.3;
    // A click on the tray item closes the open popover as it goes down (a click outside it),
    // and some panels (Xfce's) report the click once it is let go: a click reported this soon
    // after such a close is the same click, and must not open the popover again.
    static constexpr double clickCloseSeconds = 0.4;
    // The status item reports a point; the popover hangs from a square this wide around it.
    static constexpr double anchorSide = 2;

    // `receiver` may be null (nothing is then told of visibility, first run or the note).
    PopoverPresenter(Popover& popover, Screens& screens, PopoverScreen& popoverScreen,
                     MainActor& mainActor, SystemLog& systemLog, CodeReceiver* receiver);
    ~PopoverPresenter();
    PopoverPresenter(const PopoverPresenter&) = delete;
    PopoverPresenter& operator=(const PopoverPresenter&) = delete;

    // The popover's content; it is measured through its size hint (height for the width offered
    // when it has one).
    void setContentView(QWidget* view);
    // Makes the content when the popover first shows, so that a start that never opens it
    // spends neither the time nor the memory of its widgets and fonts.
    void setContentViewMaker(std::function<QWidget*()> make);

    // The status item's action: closes the popover when it is shown, else shows it under
    // `anchor` (Qt's global coordinates, where the status item was activated).
    void togglePopover(QPoint anchor);
    // Shows the popover under `anchor`; without one, under the last anchor, or, before any,
    // at the corner of the main screen's usable area by the panel (see cornerAnchor).
    void showPopover(std::optional<QPoint> anchor = std::nullopt);
    // Shows the popover detached, as a window with `title`, unless it is shown already.
    void showPopoverWindow(const QString& title);
    // The content view's size report.
    void popoverContentSizeChanged(double width, double height);
    // Measures the shown popover's window against its screen, notes it, and re-shows it once
    // when it sticks out and `reshow` allows.
    void checkPopoverLayout(bool reshow);
    // "; screens " and every attached screen's "W×H @Sx usable V", " (main)" on the main one.
    QString screensDescription() const;

    // The popover's delegate callbacks.
    void popoverDidShow();
    void popoverDidClose();

    bool isReshowing() const { return reshowing_; }
    const QString& layoutNote() const { return layoutNote_; }
    // Where the popover hangs from, in the platform's coordinates.
    QRectF anchorRect() const;
    // Before any activation, the anchor is a square just outside the corner of `screen`'s
    // usable area where the tray most likely is: the right end of a top panel (the frame reaches
    // above the usable area), else of a bottom panel, else the top of a right or a left side
    // panel; the top-right corner when no panel is reserved.
    static QRectF cornerAnchor(const Screens::Screen& screen);
    bool isDetached() const { return detached_; }

private:
    // The screen of the status item: the one holding the anchor, else the main screen.
    std::optional<Screens::Screen> statusItemScreen() const;
    // Runs checkPopoverLayout(true) on the next turn of the main queue, if still alive.
    void scheduleLayoutCheck();
    QSizeF fittingContentSize() const;
    // Fits the popover to `screen` (the status item's), makes and measures its content.
    void prepareShow(const std::optional<Screens::Screen>& screen);
    // Shows it the way it was shown last: under the anchor, or detached.
    void showAgain();

    Popover& popover_;
    Screens& screens_;
    PopoverScreen& popoverScreen_;
    MainActor& mainActor_;
    Logger log_;
    CodeReceiver* receiver_;
    QPointer<QWidget> hosting_;
    std::function<QWidget*()> makeContentView_;

    bool reshowing_ = false;
    // Whether it was last shown detached, and with which title.
    bool detached_ = false;
    QString windowTitle_;
    QString layoutNote_;
    // The last anchor given, in Qt's global coordinates.
    std::optional<QPoint> anchor_;
    std::optional<MainActor::TimerId> reshowGuard_;
    // When the popover hanging from the item last closed at a click outside it, not at the
    // item's click.
    std::optional<Instant> closedByItselfAt_;
    // Closes asked for whose end has not been reported yet.
    int closesAsked_ = 0;
    // Shared with scheduled work, which must not outlive the presenter.
    std::shared_ptr<PopoverPresenter*> self_;
};
