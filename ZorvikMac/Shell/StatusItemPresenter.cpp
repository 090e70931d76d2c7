// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Shell/StatusItemPresenter.h"

#include <QGuiApplication>
#include <QPalette>

#include "ZorvikMac/Readiness/MacSettings.h"
#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "platform/MainActor.h"
#include "platform/StatusItem.h"
#include "shared/symbols/InterfaceStyle.h"
#include "shared/symbols/Symbols.h"

namespace {

// Status areas ask for sizes from 16 to 48 pixels; one large drawing serves them all.
constexpr qreal statusImagePixelRatio = 4;

Task<void> tickEverySecond(std::weak_ptr<StatusItemPresenter*> presenter, MainActor& mainActor) {
    for (;;) {
        co_await mainActor.sleep(1.0);
        const bool cancelled = co_await isCancelled();
        const auto alive = presenter.lock();
        if (cancelled || !alive) {
            co_return;
        }
        (*alive)->refreshStatusItem();
    }
}

}  // namespace

StatusItemPresenter::StatusItemPresenter(StatusItem& item, CodeReceiver& receiver,
                                         MacSettings& settings, MainActor& mainActor)
    : item_(item),
      receiver_(receiver),
      settings_(settings),
      mainActor_(mainActor),
      self_(std::make_shared<StatusItemPresenter*>(this)) {}

StatusItemPresenter::~StatusItemPresenter() {
    if (titleTimer_) {
        titleTimer_->cancel();
    }
}

QImage StatusItemPresenter::statusImage(bool open) {
    // Drawn once each: the item is refreshed every second while a code is shown, and rendering
    // the symbol is most of that tick's work.
    const auto draw = [](const QString& name) {
        return Symbols::image(name, 13, InterfaceStyle::gold(), statusImagePixelRatio,
                              Symbols::Weight::semibold);
    };
    static const QImage closedImage = draw(QStringLiteral("lock.fill"));
    static const QImage openImage = draw(QStringLiteral("lock.open.fill"));
    return open ? openImage : closedImage;
}

void StatusItemPresenter::restartTitleTimer() {
    if (titleTimer_) {
        titleTimer_->cancel();
        titleTimer_.reset();
    }
    refreshStatusItem();
    if (receiver_.latest()) {
        // It keeps ticking past the code's expiry until the receiver drops the code.
        titleTimer_ = mainActor_.spawn(tickEverySecond(self_, mainActor_));
    }
}

bool StatusItemPresenter::usedLongEnoughAgo(const LatestCode& code, Instant now) const {
    // A copy or fill from before this code arrived belongs to an earlier code.
    const auto ofThisCode = [&code](std::optional<Instant> usedAt) {
        return usedAt && !(*usedAt < code.receivedAt) ? usedAt : std::nullopt;
    };
    std::optional<Instant> usedAt = ofThisCode(receiver_.justCopiedAt());
    if (!usedAt && receiver_.store()) {
        usedAt = ofThisCode(receiver_.store()->filledAt());
    }
    return usedAt.has_value() && now >= addingSeconds(*usedAt, hideDelayAfterUse);
}

void StatusItemPresenter::refreshStatusItem() {
    const std::optional<LatestCode>& latest = receiver_.latest();
    item_.setImage(statusImage(latest.has_value()), QStringLiteral("Zorvik"));

    const Instant now = mainActor_.now();
    const bool shown = settings_.showCodeInMenuBar() && latest && now < latest->expiresAt &&
                       !latest->code.isEmpty() && !usedLongEnoughAgo(*latest, now);
    if (!shown) {
        item_.setAttributedTitle({});
        item_.setImagePosition(StatusItem::ImagePosition::imageOnly);
        item_.setLength(StatusItem::squareLength);
        return;
    }
    const double left = secondsBetween(now, latest->expiresAt);
    const QPalette palette = QGuiApplication::palette();
    StatusItem::AttributedTitle title;
    title.text = latest->displayCode();
    title.foregroundColor = left <= quietColourFrom ? InterfaceStyle::secondary(palette)
                                                    : palette.color(QPalette::WindowText);
    title.fontPointSize = 13;
    title.semibold = true;
    title.baselineOffset = 0.5;
    item_.setAttributedTitle(title);
    item_.setImagePosition(StatusItem::ImagePosition::imageLeading);
    item_.setImageHugsTitle(true);
    item_.setLength(StatusItem::variableLength);
}
