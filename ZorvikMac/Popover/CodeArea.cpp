// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Popover/CodeArea.h"

#include <QBoxLayout>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <algorithm>

#include "ZorvikMac/Popover/CodeAnnouncer.h"
#include "ZorvikMac/Popover/ExpiryBar.h"
#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "platform/MainActor.h"
#include "shared/symbols/ElidingLabel.h"
#include "shared/symbols/InterfaceStyle.h"
#include "shared/symbols/SymbolView.h"
#include "shared/symbols/Symbols.h"
#include "shared/symbols/WidgetKit.h"

namespace {

using InterfaceStyle::captionSize;
using InterfaceStyle::systemFont;
using WidgetKit::makeColumn;
using WidgetKit::makeLabel;
using WidgetKit::makeRow;
using WidgetKit::setTextColor;

constexpr int padding = 16;
constexpr long long microsecondsPerSecond = 1'000'000;

QFont codeFont() {
    QFont font = InterfaceStyle::monospacedFont(40, QFont::Bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 2);
    return font;
}

bool isWatch(const QString& device) {
    return device.toLower().contains(QStringLiteral("watch"));
}

}  // namespace

CodeArea::CodeArea(CodeReceiver& receiver, MainActor& mainActor, QWidget* parent)
    : QWidget(parent), receiver_(receiver), mainActor_(mainActor) {
    setObjectName(QStringLiteral("codeArea"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(0);
    // One of the two is visible at a time; the hidden one takes no room.
    layout->addWidget(card_ = buildCard());
    layout->addWidget(invitation_ = buildInvitation());

    applyColors();
    connect(&receiver_, &CodeReceiver::latestChanged, this, &CodeArea::showLatest);
    connect(&receiver_, &CodeReceiver::justCopiedAtChanged, this,
            [this] { draw(mainActor_.now()); });
    showLatest();
}

CodeArea::~CodeArea() {
    ticks_.cancel();
}

long long CodeArea::remainingSeconds(Instant now, Instant expiresAt) {
    // Counted in microseconds, so that no floating-point rest turns 42 into 43.
    const long long left = (expiresAt - now).count();
    return left > 0 ? (left + microsecondsPerSecond - 1) / microsecondsPerSecond : 0;
}

double CodeArea::fraction(Instant now, Instant expiresAt) {
    return std::clamp(secondsBetween(now, expiresAt) / lifetime, 0.0, 1.0);
}

QWidget* CodeArea::buildCard() {
    auto* card = new QWidget(this);
    card->setObjectName(QStringLiteral("codeCard"));
    auto* column = makeColumn(10, card);

    // The account and the device share the first baseline: both sit on the row's bottom edge,
    // and the smaller text is lifted by the difference of the descents.
    const QFont accountFont = systemFont(15, QFont::DemiBold);
    const QFont captionFont = systemFont(captionSize);
    accountName_ = makeLabel<ElidingLabel>(QStringLiteral("accountName"), accountFont, card);

    auto* from = new QWidget(card);
    from->setObjectName(QStringLiteral("fromLabel"));
    auto* fromRow = makeRow(3);
    from->setLayout(fromRow);
    deviceSymbol_ = new SymbolView(QStringLiteral("deviceSymbol"), QStringLiteral("iphone"),
                                   captionSize, Symbols::Weight::regular, from);
    fromDevice_ = makeLabel(QStringLiteral("fromDevice"), captionFont, from);
    fromRow->addWidget(deviceSymbol_, 0, Qt::AlignVCenter);
    fromRow->addWidget(fromDevice_, 0, Qt::AlignVCenter);
    const QFontMetrics account(accountFont);
    const QFontMetrics caption(captionFont);
    const int fromHeight = std::max(deviceSymbol_->height(), caption.height());
    const int captionBaselineFromBottom = (fromHeight - caption.height()) / 2 + caption.descent();
    from->setContentsMargins(0, 0, 0, std::max(account.descent() - captionBaselineFromBottom, 0));

    auto* accountRow = makeRow(8);
    accountRow->addWidget(accountName_, 1, Qt::AlignBottom);
    accountRow->addWidget(from, 0, Qt::AlignBottom);

    code_ = makeLabel(QStringLiteral("code"), codeFont(), card);
    code_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A code of unusual length is cut at the edge rather than widening the popover.
    code_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto* expiry = makeColumn(4);
    bar_ = new ExpiryBar(card);
    // The system font's figures are of equal width, so the countdown does not jitter.
    countdown_ = makeLabel(QStringLiteral("countdown"), captionFont, card);
    expiry->addWidget(bar_);
    expiry->addWidget(countdown_);

    copyButton_ = new QPushButton(card);
    copyButton_->setObjectName(QStringLiteral("copyButton"));
    copyButton_->setAutoDefault(false);
    copyButton_->setFont(systemFont(13, QFont::DemiBold));
    copyButton_->setMinimumHeight(30);
    copyButton_->setIconSize(QSize(14, 14));
    copyButton_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(copyButton_, &QPushButton::clicked, this, [this] { receiver_.copyLatest(); });
    // Ctrl+C anywhere in the popover presses the button at once; while the button is disabled
    // the key does nothing.
    copyShortcut_ = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_C), card);
    connect(copyShortcut_, &QShortcut::activated, copyButton_, &QPushButton::click);

    announcer_ = new CodeAnnouncer(card);

    column->addLayout(accountRow);
    column->addWidget(code_);
    column->addLayout(expiry);
    column->addWidget(copyButton_);
    return card;
}

QWidget* CodeArea::buildInvitation() {
    auto* invitation = new QWidget(this);
    invitation->setObjectName(QStringLiteral("invitation"));
    auto* row = makeRow(10);
    invitation->setLayout(row);
    phoneSymbol_ = new SymbolView(QStringLiteral("invitationSymbol"),
                                  QStringLiteral("iphone.and.arrow.right.outward"), 26,
                                  Symbols::Weight::light, invitation);
    auto* texts = makeColumn(2);
    auto* title = makeLabel(QStringLiteral("invitationTitle"), systemFont(13, QFont::DemiBold),
                            invitation, tr("Tap a code on your iPhone or Watch"));
    // Wide system fonts would clip it beside the symbol; it wraps instead.
    title->setWordWrap(true);
    invitationDetail_ = makeLabel(
        QStringLiteral("invitationDetail"), systemFont(captionSize), invitation,
        tr("It shows up here for 90 seconds, goes on the clipboard, and your browser offers it "
           "as From Zorvik."));
    invitationDetail_->setWordWrap(true);
    texts->addWidget(title);
    texts->addWidget(invitationDetail_);
    row->addWidget(phoneSymbol_, 0, Qt::AlignVCenter);
    row->addLayout(texts, 1);
    return invitation;
}

void CodeArea::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (const std::optional<LatestCode>& latest = receiver_.latest()) {
        announcedReceivedAt_ = latest->receivedAt;
        startTicks();
    }
}

QWidget* CodeArea::firstForKeyboard() const {
    return receiver_.latest() && copyButton_->isEnabled() ? copyButton_ : nullptr;
}

QString CodeArea::spokenCode(const QString& code) {
    QStringList characters;
    for (const QChar character : code) {
        if (!character.isSpace()) {
            characters.append(QString(character));
        }
    }
    return characters.join(QLatin1Char(' '));
}

void CodeArea::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    stopTicks();
}

void CodeArea::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        applyColors();
    }
}

void CodeArea::showLatest() {
    const std::optional<LatestCode>& latest = receiver_.latest();
    card_->setVisible(latest.has_value());
    invitation_->setVisible(!latest.has_value());
    if (!latest) {
        stopTicks();
        drawnAt_.reset();
        return;
    }
    accountName_->setText(latest->accountName);
    fromDevice_->setText(tr("from %1").arg(latest->fromDevice));
    deviceSymbol_->setName(isWatch(latest->fromDevice) ? QStringLiteral("applewatch")
                                                       : QStringLiteral("iphone"));
    code_->setText(latest->displayCode());
    const QString spoken = spokenCode(latest->code);
    code_->setAccessibleName(spoken);
    copyButton_->setAccessibleDescription(
        tr("%1: %2, from %3").arg(latest->accountName, spoken, latest->fromDevice));
    if (isVisible()) {
        if (announcedReceivedAt_ != latest->receivedAt) {
            announcedReceivedAt_ = latest->receivedAt;
            announcer_->announce(tr("New code for %1: %2").arg(latest->accountName, spoken));
        }
        startTicks();
    }
    draw(mainActor_.now());
}

void CodeArea::draw(Instant now) {
    const std::optional<LatestCode>& latest = receiver_.latest();
    if (!latest) {
        return;
    }
    drawnAt_ = now;
    remaining_ = remainingSeconds(now, latest->expiresAt);
    bar_->setFraction(fraction(now, latest->expiresAt));
    countdown_->setText(remaining_ > 0 ? tr("expires in %1 s").arg(remaining_) : tr("expired"));
    copyButton_->setEnabled(remaining_ > 0);
    copyShortcut_->setEnabled(remaining_ > 0);

    const std::optional<Instant>& copiedAt = receiver_.justCopiedAt();
    const bool copied = copiedAt && secondsBetween(*copiedAt, now) < copiedFor;
    if (showsCopied_ != copied) {
        showsCopied_ = copied;
        copyButton_->setText(copied ? tr("Copied") : tr("Copy"));
    }
    applyColors();
}

void CodeArea::applyColors() {
    const QPalette& current = palette();
    const QColor gold = InterfaceStyle::gold();
    const QColor secondary = InterfaceStyle::secondary(current);

    setTextColor(code_, remaining_ >= 1 ? gold : secondary);
    bar_->setTint(remaining_ > warningSeconds ? gold : InterfaceStyle::orange(current));
    for (QLabel* label : {fromDevice_, countdown_, invitationDetail_}) {
        setTextColor(label, secondary);
    }
    deviceSymbol_->setColor(secondary);
    phoneSymbol_->setColor(gold);

    // The prominent, gold-tinted button; disabled, it fades (see prominentButtonStyle).
    const QColor label = InterfaceStyle::textOn(gold);
    const QString style = WidgetKit::prominentButtonStyle(gold, current);
    if (copyButton_->styleSheet() != style) {
        copyButton_->setStyleSheet(style);
    }
    const QString symbol =
        showsCopied_.value_or(false) ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc");
    const QColor symbolColor = remaining_ > 0 ? label : secondary;
    if (symbol != copySymbol_ || symbolColor != copySymbolColor_) {
        copySymbol_ = symbol;
        copySymbolColor_ = symbolColor;
        copyButton_->setIcon(Symbols::icon(symbol, symbolColor, Symbols::Weight::semibold));
    }
}

void CodeArea::startTicks() {
    if (isTicking()) {
        return;
    }
    ticks_ = mainActor_.spawn(runTicks(QPointer<CodeArea>(this), mainActor_));
}

void CodeArea::stopTicks() {
    ticks_.cancel();
    ticks_ = TaskHandle();
}

Task<void> CodeArea::runTicks(QPointer<CodeArea> area, MainActor& mainActor) {
    // Each await stands in a statement of its own: g++ 12 at -O2 miscompiles a co_await inside
    // a short-circuit condition.
    for (;;) {
        const bool cancelled = co_await isCancelled();
        if (cancelled || !area) {
            co_return;
        }
        area->draw(mainActor.now());
        co_await mainActor.sleep(1);
    }
}
