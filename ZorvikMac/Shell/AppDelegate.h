#pragma once

#include <QPoint>
#include <functional>
#include <memory>

#include "BundleInfo.h"
#include "Platform.h"

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

    static constexpr auto toolTip = "Zorvik \u2014 codes from your iPhone";
    // How long after launch the first run opens the popover by itself.
    static constexpr double firstRunShowDelay = 1.0;

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
