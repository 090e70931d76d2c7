// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Shell/AppDelegate.h"

#include "ZorvikMac/Popover/PopoverScreen.h"
#include "ZorvikMac/Popover/PopoverView.h"
#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "ZorvikMac/Shell/HeadlessApp.h"
#include "ZorvikMac/Shell/PopoverPresenter.h"
#include "ZorvikMac/Shell/StatusItemPresenter.h"
#include "ZorvikMac/Shell/TakeOver.h"
#include "platform/Logger.h"
#include "platform/MainActor.h"
#include "platform/StatusItem.h"

AppDelegate::AppDelegate(const Platform& platform, Shell shell, const BundleInfo& bundle)
    : platform_(platform),
      shell_(std::move(shell)),
      bundle_(bundle),
      popoverScreen_(std::make_unique<PopoverScreen>()),
      self_(std::make_shared<AppDelegate*>(this)) {}

AppDelegate::~AppDelegate() {
    // The view and the presenters refer to the receiver, which the headless app owns.
    popoverView_.reset();
    popoverPresenter_.reset();
    statusItemPresenter_.reset();
}

bool AppDelegate::applicationDidFinishLaunching() {
    takeOver_ = std::make_unique<TakeOver>(shell_.notices, shell_.runningApplications, bundle_,
                                           platform_.systemLog, shell_.terminate);
    if (!takeOver_->askOlderCopiesToQuit()) {
        // A newer copy runs instead; this one shows nothing and quits once its loop runs.
        shell_.terminate();
        return false;
    }

    // The settings, the store and the receiver.
    app_ = std::make_unique<HeadlessApp>(platform_, bundle_);
    CodeReceiver& receiver = app_->receiver();

    StatusItem& item = shell_.statusItem;
    item.setLength(StatusItem::squareLength);
    item.setImage(StatusItemPresenter::statusImage(false), QStringLiteral("Zorvik"));
    std::weak_ptr<AppDelegate*> weakSelf = self_;
    item.setAction([weakSelf](QPoint anchor) {
        if (const auto self = weakSelf.lock()) {
            (*self)->togglePopover(anchor);
        }
    });
    item.setToolTip(QCoreApplication::translate("AppDelegate", toolTip));
    statusItemPresenter_ = std::make_unique<StatusItemPresenter>(item, receiver, app_->settings(),
                                                                 platform_.mainActor);
    receiver.onLatestChange = [weakSelf] {
        if (const auto self = weakSelf.lock()) {
            (*self)->statusItemPresenter_->restartTitleTimer();
        }
    };

    popoverPresenter_ =
        std::make_unique<PopoverPresenter>(shell_.popover, shell_.screens, *popoverScreen_,
                                           platform_.mainActor, platform_.systemLog, &receiver);
    popoverPresenter_->setContentViewMaker([weakSelf]() -> QWidget* {
        const auto self = weakSelf.lock();
        return self ? (*self)->makePopoverView() : nullptr;
    });

    // Notifications, push registration and the receiver's start.
    app_->launch();

    platform_.mainActor.startTimer(firstRunShowDelay, [weakSelf] {
        if (const auto self = weakSelf.lock()) {
            (*self)->shell_.statusItem.askWhetherShown([weakSelf](bool shown) {
                if (const auto self = weakSelf.lock()) {
                    (*self)->trayAnswered(shown);
                }
            });
        }
    });
    return true;
}

void AppDelegate::trayAnswered(bool shown) {
    if (!shown) {
        Logger(platform_.systemLog, QStringLiteral("net.brontal.zorvik"), QStringLiteral("shell"))
            .warning(noTrayLine);
        popoverPresenter_->showPopoverWindow(QString::fromUtf8(windowTitle));
        return;
    }
    if (app_->receiver().firstRun()) {
        popoverPresenter_->showPopover();
    }
}

PopoverView* AppDelegate::makePopoverView() {
    std::weak_ptr<AppDelegate*> weakSelf = self_;
    popoverView_ = std::make_unique<PopoverView>(
        app_->receiver(), app_->settings(), *popoverScreen_,
        [weakSelf](double width, double height) {
            if (const auto self = weakSelf.lock()) {
                (*self)->popoverPresenter_->popoverContentSizeChanged(width, height);
            }
        },
        shell_.terminate,
        PopoverEnvironment{platform_.mainActor, platform_.workspace, platform_.autoFillSettings,
                           platform_.systemLog, QTimeZone::systemTimeZone(), platform_.cloudSignIn,
                           &app_->keyPairing(), shell_.statusItem.drawsTitle()});
    return popoverView_.get();
}

void AppDelegate::applicationWillTerminate() {
    if (app_) {
        app_->applicationWillTerminate();
    }
}

void AppDelegate::togglePopover(QPoint anchor) {
    if (popoverPresenter_) {
        popoverPresenter_->togglePopover(anchor);
    }
}
