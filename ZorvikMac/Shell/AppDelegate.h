// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QPoint>
#include <functional>
#include <memory>

#include "platform/BundleInfo.h"
#include "platform/Platform.h"

class DistributedNotificationCenter;
class HeadlessApp;
class Popover;
class PopoverPresenter;
class PopoverScreen;
class PopoverView;
class RunningApplications;
class Screens;
class StatusItem;
class StatusItemPresenter;
class TakeOver;

// The tray application: the headless receiver and publisher, plus the status item with the code
// as its title and the popover that hangs from it. Launches in a fixed order, with the take-over
// of older copies first, and tidies the clipboard once when the application quits.
//
// A second after launch it asks whether a tray shows the status item. Where none does, it says so
// once in the log, with what to install, and shows the popover detached, as a window of its own:
// as a copy started later takes over from the running one, starting the application again (from
// its menu entry, say) is then how the user brings the popover back. Otherwise the first run
// opens the popover under the item.
class AppDelegate {
public:
    // What the tray adds to the platform.
    struct Shell {
        StatusItem& statusItem;
        Popover& popover;
        Screens& screens;
        DistributedNotificationCenter& notices;
        RunningApplications& runningApplications;
        // Ends the application normally, so that applicationWillTerminate runs.
        std::function<void()> terminate;
    };

    static constexpr auto toolTip =
        QT_TRANSLATE_NOOP("AppDelegate", "Zorvik \u2014 codes from your iPhone");
    // How long after launch the tray is asked for, and the first run opens the popover: a panel
    // that starts with the session has come up by then.
    static constexpr double firstRunShowDelay = 1.0;
    // The detached popover's window title.
    static constexpr auto windowTitle = "Zorvik";
    static constexpr auto noTrayLine =
        "Zorvik: no tray is running on this desktop (no StatusNotifierItem host and no system "
        "tray), so Zorvik has no icon in the panel; codes still come as notifications and on the "
        "clipboard, and starting Zorvik again opens its window. On GNOME, install and enable the "
        "AppIndicator extension (package gnome-shell-extension-appindicator); on other "
        "desktops, add a system tray to the panel";

    AppDelegate(const Platform& platform, Shell shell, const BundleInfo& bundle);
    ~AppDelegate();

    // False when a newer copy runs instead: this one then shows nothing and is to quit.
    bool applicationDidFinishLaunching();
    void applicationWillTerminate();
    // The status item's action.
    void togglePopover(QPoint anchor);

    HeadlessApp& app() { return *app_; }
    PopoverPresenter& popover() { return *popoverPresenter_; }

private:
    // The popover's content, made when it first shows.
    PopoverView* makePopoverView();
    // What the status item said about being shown, a second after launch.
    void trayAnswered(bool shown);

    Platform platform_;
    Shell shell_;
    BundleInfo bundle_;
    std::unique_ptr<TakeOver> takeOver_;
    std::unique_ptr<HeadlessApp> app_;
    std::unique_ptr<PopoverScreen> popoverScreen_;
    std::unique_ptr<StatusItemPresenter> statusItemPresenter_;
    std::unique_ptr<PopoverPresenter> popoverPresenter_;
    std::unique_ptr<PopoverView> popoverView_;
    // Shared with scheduled work, which must not outlive the delegate.
    std::shared_ptr<AppDelegate*> self_;
};
