// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Popover/PopoverFooter.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QEvent>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <chrono>

#include "ZorvikMac/Popover/PopoverLook.h"
#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "platform/MainActor.h"
#include "shared/symbols/InterfaceStyle.h"
#include "shared/symbols/Symbols.h"
#include "shared/symbols/WidgetKit.h"

namespace {

// The checks first, then one fetch, as one task on the main actor.
Task<void> checkThenFetch(QPointer<CodeReceiver> receiver) {
    if (!receiver) {
        co_return;
    }
    co_await receiver->runChecks();
    if (!receiver) {
        co_return;
    }
    co_await receiver->fetch();
}

}  // namespace

PopoverFooter::PopoverFooter(CodeReceiver& receiver, MainActor& mainActor, QTimeZone timeZone,
                             std::function<void()> quit, QWidget* parent)
    : QWidget(parent),
      receiver_(receiver),
      mainActor_(mainActor),
      timeZone_(std::move(timeZone)),
      quit_(std::move(quit)) {
    setObjectName(QStringLiteral("footer"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 8, 12, 8);
    row->setSpacing(8);

    checkNowButton_ =
        PopoverLook::makeSmallButton(QStringLiteral("checkNowButton"), tr("Check now"), this);
    checkNowButton_->setIconSize(QSize(PopoverLook::smallSymbolSide, PopoverLook::smallSymbolSide));
    connect(checkNowButton_, &QPushButton::clicked, this, &PopoverFooter::checkNow);

    const QFont caption2 = InterfaceStyle::systemFont(InterfaceStyle::caption2Size);
    lastCheck_ = WidgetKit::makeLabel(QStringLiteral("lastCheck"), caption2, this);
    build_ = WidgetKit::makeLabel(QStringLiteral("build"), caption2, this);

    quitButton_ = PopoverLook::makeTextButton(QStringLiteral("quitButton"), tr("Quit"), this);
    connect(quitButton_, &QPushButton::clicked, this, [this] {
        if (quit_) {
            quit_();
        }
    });
    // Ctrl+Q anywhere in the popover quits at once.
    auto* quitShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quitShortcut, &QShortcut::activated, quitButton_, &QPushButton::click);

    row->addWidget(checkNowButton_, 0, Qt::AlignVCenter);
    row->addWidget(lastCheck_, 0, Qt::AlignVCenter);
    row->addStretch(1);
    row->addWidget(build_, 0, Qt::AlignVCenter);
    row->addWidget(quitButton_, 0, Qt::AlignVCenter);

    connect(&receiver_, &CodeReceiver::infoChanged, this, &PopoverFooter::showInfo);
    showInfo();
    applyColors();
}

PopoverFooter::~PopoverFooter() = default;

QString PopoverFooter::timeText(Instant instant, const QTimeZone& timeZone) {
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(instant.time_since_epoch()).count();
    const QDateTime local =
        QDateTime::fromMSecsSinceEpoch(milliseconds, QTimeZone::utc()).toTimeZone(timeZone);
    return QLocale().toString(local.time(), QLocale::ShortFormat);
}

void PopoverFooter::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        applyColors();
    }
}

void PopoverFooter::showInfo() {
    const DiagnosticsInfo& info = receiver_.info();
    const std::optional<Instant> shown = info.lastFetchAt ? info.lastFetchAt : info.checkedAt;
    lastCheck_->setText(shown ? timeText(*shown, timeZone_) : QString());
    lastCheck_->setVisible(shown.has_value());
    build_->setText(info.build);
}

void PopoverFooter::checkNow() {
    // Every click starts its own task; the receiver drops a run that overlaps one under way.
    mainActor_.spawn(checkThenFetch(QPointer<CodeReceiver>(&receiver_)));
}

void PopoverFooter::applyColors() {
    const QPalette& current = palette();
    const QColor tertiary = InterfaceStyle::tertiary(current);
    WidgetKit::setTextColor(lastCheck_, tertiary);
    WidgetKit::setTextColor(build_, tertiary);
    checkNowButton_->setIcon(
        Symbols::icon(QStringLiteral("arrow.clockwise"), current.color(QPalette::ButtonText)));
}
