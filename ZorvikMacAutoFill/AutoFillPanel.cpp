// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMacAutoFill/AutoFillPanel.h"

#include <QBoxLayout>
#include <QEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <cmath>

#include "ZorvikMacAutoFill/AutoFillModel.h"
#include "platform/MainActor.h"
#include "shared/symbols/ElidingLabel.h"
#include "shared/symbols/InterfaceStyle.h"
#include "shared/symbols/SymbolView.h"
#include "shared/symbols/Symbols.h"
#include "shared/symbols/WidgetKit.h"

namespace {

constexpr int panelWidth = 320;
constexpr int innerMargin = 16;
constexpr int headerToBody = 12;
constexpr int bodySpacing = 8;
using InterfaceStyle::captionSize;

const char* const waitingText =
    QT_TRANSLATE_NOOP("AutoFillPanel", "It will appear here within a few seconds.");
const char* const expiredText =
    QT_TRANSLATE_NOOP("AutoFillPanel", "The last code expired. Tap it again.");

using InterfaceStyle::systemFont;
using WidgetKit::makeButton;
using WidgetKit::makeColumn;
using WidgetKit::makeLabel;
using WidgetKit::makeRow;
using WidgetKit::setTextColor;

QFont codeFont() {
    QFont font = InterfaceStyle::monospacedFont(32, QFont::Bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    return font;
}

}  // namespace

AutoFillPanel::AutoFillPanel(AutoFillModel& model, QColor gold, MainActor& mainActor,
                             QWidget* parent)
    : QWidget(parent), model_(model), gold_(gold), mainActor_(mainActor) {
    setObjectName(QStringLiteral("autoFillPanel"));
    setFixedWidth(panelWidth);
    setFont(systemFont(13));
    // The panel takes the first focus itself, so no button wears a focus ring that would
    // suggest Return presses it; Tab still reaches every button.
    setFocusPolicy(Qt::StrongFocus);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(innerMargin, innerMargin, innerMargin, innerMargin);
    layout->setSpacing(headerToBody);
    buildHeader(layout);
    // Only one body is visible at a time; hidden ones take no room.
    layout->addWidget(configurationBody_ = buildConfigurationBody());
    layout->addWidget(codeBody_ = buildCodeBody());
    layout->addWidget(waitingBody_ = buildWaitingBody());
    layout->addStretch(1);

    installShortcuts();
    applyColors();

    connect(&model_, &AutoFillModel::modeChanged, this, &AutoFillPanel::showModel);
    connect(&model_, &AutoFillModel::serviceIdentifiersChanged, this, &AutoFillPanel::showModel);
    connect(&model_, &AutoFillModel::latestChanged, this, &AutoFillPanel::showModel);
    connect(&model_, &AutoFillModel::hasExpiredChanged, this, &AutoFillPanel::showModel);
    showModel();
}

AutoFillPanel::~AutoFillPanel() {
    ticks_.cancel();
}

void AutoFillPanel::buildHeader(QBoxLayout* layout) {
    auto* header = makeRow(6);
    lockSymbol_ = new SymbolView(QStringLiteral("lockSymbol"), QStringLiteral("lock.fill"), 13,
                                 Symbols::Weight::regular, this);
    title_ = makeLabel(QStringLiteral("title"), systemFont(13, QFont::DemiBold), this);
    title_->setText(tr("From Zorvik"));
    header->addWidget(lockSymbol_);
    header->addWidget(title_);
    header->addStretch(1);
    layout->addLayout(header);
}

QWidget* AutoFillPanel::buildConfigurationBody() {
    auto* body = new QWidget(this);
    body->setObjectName(QStringLiteral("configurationBody"));
    auto* column = makeColumn(bodySpacing, body);

    auto* ready = makeLabel(QStringLiteral("configurationTitle"), systemFont(13), body);
    ready->setText(tr("Zorvik is ready to fill codes in your browser."));
    ready->setWordWrap(true);

    configurationDetail_ =
        makeLabel(QStringLiteral("configurationDetail"), systemFont(captionSize), body);
    configurationDetail_->setText(tr(
        "Tap a code on your iPhone or Apple Watch; within seconds your browser offers it below the "
        "code field as From Zorvik. Nothing is stored on this computer beyond the last code, and "
        "it dies after 90 seconds."));
    configurationDetail_->setWordWrap(true);

    doneButton_ = makeButton(QStringLiteral("doneButton"), tr("Done"), body);
    doneButton_->setDefault(true);
    connect(doneButton_, &QPushButton::clicked, this, &AutoFillPanel::done);

    auto* buttons = makeRow(bodySpacing);
    buttons->addStretch(1);
    buttons->addWidget(doneButton_);

    column->addWidget(ready);
    column->addWidget(configurationDetail_);
    column->addLayout(buttons);
    return body;
}

QWidget* AutoFillPanel::buildCodeBody() {
    auto* body = new QWidget(this);
    body->setObjectName(QStringLiteral("codeBody"));
    auto* column = makeColumn(bodySpacing, body);

    // Account and device share the first baseline: both sit on the row's bottom edge, and the
    // smaller text is lifted by the difference of the two fonts' descents.
    const QFont accountFont = systemFont(14, QFont::DemiBold);
    const QFont captionFont = systemFont(captionSize);
    accountName_ = makeLabel<ElidingLabel>(QStringLiteral("accountName"), accountFont, body);
    fromDevice_ = makeLabel<ElidingLabel>(QStringLiteral("fromDevice"), captionFont, body);
    const int lift = QFontMetrics(accountFont).descent() - QFontMetrics(captionFont).descent();
    fromDevice_->setContentsMargins(0, 0, 0, std::max(lift, 0));
    auto* accountRow = makeRow(bodySpacing);
    accountRow->addWidget(accountName_, 0, Qt::AlignBottom);
    accountRow->addStretch(1);
    accountRow->addWidget(fromDevice_, 0, Qt::AlignBottom);

    code_ = makeLabel(QStringLiteral("code"), codeFont(), body);
    // A code of unusual length is cut at the panel's edge rather than widening it.
    code_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    // The system font's figures are of equal width, so the countdown does not jitter.
    countdown_ = makeLabel(QStringLiteral("countdown"), captionFont, body);
    differentSite_ = new QWidget(body);
    differentSite_->setObjectName(QStringLiteral("differentSite"));
    auto* differentSiteRow = makeRow(3);
    differentSite_->setLayout(differentSiteRow);
    differentSiteSymbol_ = new SymbolView(QStringLiteral("differentSiteSymbol"),
                                          QStringLiteral("exclamationmark.triangle.fill"),
                                          captionSize, Symbols::Weight::regular, differentSite_);
    differentSiteText_ =
        makeLabel(QStringLiteral("differentSiteText"), captionFont, differentSite_);
    differentSiteText_->setText(tr("different site"));
    differentSiteRow->addWidget(differentSiteSymbol_);
    differentSiteRow->addWidget(differentSiteText_);
    auto* expiryRow = makeRow(bodySpacing);
    expiryRow->addWidget(countdown_);
    expiryRow->addWidget(differentSite_);
    expiryRow->addStretch(1);

    codeCancelButton_ = makeButton(QStringLiteral("codeCancelButton"), tr("Cancel"), body);
    fillButton_ = makeButton(QStringLiteral("fillButton"), tr("Fill"), body);
    fillButton_->setDefault(true);
    connect(codeCancelButton_, &QPushButton::clicked, this, &AutoFillPanel::cancel);
    connect(fillButton_, &QPushButton::clicked, this, &AutoFillPanel::fill);
    auto* buttons = makeRow(bodySpacing);
    buttons->addWidget(codeCancelButton_);
    buttons->addStretch(1);
    buttons->addWidget(fillButton_);

    column->addLayout(accountRow);
    column->addWidget(code_);
    column->addLayout(expiryRow);
    column->addLayout(buttons);
    return body;
}

QWidget* AutoFillPanel::buildWaitingBody() {
    auto* body = new QWidget(this);
    body->setObjectName(QStringLiteral("waitingBody"));
    auto* column = makeColumn(bodySpacing, body);

    phoneSymbol_ = new SymbolView(QStringLiteral("phoneSymbol"),
                                  QStringLiteral("iphone.and.arrow.right.outward"), 24,
                                  Symbols::Weight::light, body);
    auto* texts = makeColumn(2);
    auto* waitingTitle =
        makeLabel(QStringLiteral("waitingTitle"), systemFont(13, QFont::DemiBold), body);
    waitingTitle->setText(tr("Tap a code on your iPhone or Watch"));
    // Too long for one line beside the symbol in wide system fonts; it wraps, never clips.
    waitingTitle->setWordWrap(true);
    waitingDetail_ = makeLabel(QStringLiteral("waitingDetail"), systemFont(captionSize), body);
    waitingDetail_->setWordWrap(true);
    texts->addWidget(waitingTitle);
    texts->addWidget(waitingDetail_);
    auto* message = makeRow(10);
    message->addWidget(phoneSymbol_);
    message->addLayout(texts, 1);

    waitingCancelButton_ = makeButton(QStringLiteral("waitingCancelButton"), tr("Cancel"), body);
    refreshButton_ = makeButton(QStringLiteral("refreshButton"), tr("Refresh"), body);
    connect(waitingCancelButton_, &QPushButton::clicked, this, &AutoFillPanel::cancel);
    connect(refreshButton_, &QPushButton::clicked, this, &AutoFillPanel::refresh);
    auto* buttons = makeRow(bodySpacing);
    buttons->addWidget(waitingCancelButton_);
    buttons->addStretch(1);
    buttons->addWidget(refreshButton_);

    column->addLayout(message);
    column->addLayout(buttons);
    return body;
}

void AutoFillPanel::installShortcuts() {
    // Not a dialog, so the keys of the default and cancel actions are wired here; they act on
    // whichever body is showing, wherever the focus is in the window.
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        connect(shortcut, &QShortcut::activated, this, &AutoFillPanel::triggerDefaultAction);
    }
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &AutoFillPanel::triggerCancelAction);
}

void AutoFillPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (ticks_ == TaskHandle()) {
        ticks_ = mainActor_.spawn(runTicks(QPointer<AutoFillPanel>(this), mainActor_));
    }
}

void AutoFillPanel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        applyColors();
    }
}

Task<void> AutoFillPanel::runTicks(QPointer<AutoFillPanel> panel, MainActor& mainActor) {
    // Each await stands in a statement of its own: g++ 12 at -O2 miscompiles a co_await inside
    // a short-circuit condition (`panel && !(co_await …)`) into an illegal instruction.
    for (;;) {
        const bool cancelled = co_await isCancelled();
        if (cancelled || !panel) {
            co_return;
        }
        panel->tick(mainActor.now());
        co_await mainActor.sleep(1);
    }
}

void AutoFillPanel::tick(Instant instant) {
    shownAt_ = instant;
    if (lastTick_ != instant) {
        lastTick_ = instant;
        model_.refresh(instant);
    }
    showCountdown();
}

void AutoFillPanel::showModel() {
    const bool configuration = model_.mode() == AutoFillModel::Mode::configuration;
    const std::optional<LatestCode>& latest = model_.latest();
    configurationBody_->setVisible(configuration);
    codeBody_->setVisible(!configuration && latest.has_value());
    waitingBody_->setVisible(!configuration && !latest.has_value());

    waitingDetail_->setText(tr(model_.hasExpired() ? expiredText : waitingText));
    if (latest) {
        accountName_->setText(latest->accountName);
        fromDevice_->setText(tr("from %1").arg(latest->fromDevice));
        code_->setText(latest->displayCode());
        differentSite_->setVisible(model_.siteMatch() == AutoFillModel::SiteMatch::no);
    }
    showCountdown();
}

void AutoFillPanel::showCountdown() {
    const std::optional<LatestCode>& latest = model_.latest();
    if (!latest) {
        return;
    }
    // Whole seconds, rounded up so the last second still reads 1, counted in microseconds so
    // that no floating-point rest turns 42 into 43; never below 0 when the instant shown is
    // already past the code's expiry.
    const auto left = (latest->expiresAt - shownAt_.value_or(mainActor_.now())).count();
    constexpr long long perSecond = 1'000'000;
    const long long seconds = left > 0 ? (left + perSecond - 1) / perSecond : 0;
    countdown_->setText(tr("expires in %1 s").arg(seconds));
}

void AutoFillPanel::applyColors() {
    const QPalette& current = palette();
    const QColor secondary = InterfaceStyle::secondary(current);
    const QColor orange = InterfaceStyle::orange(current);

    lockSymbol_->setColor(gold_);
    setTextColor(code_, gold_);
    for (QLabel* label : {configurationDetail_, fromDevice_, countdown_, waitingDetail_}) {
        setTextColor(label, secondary);
    }
    setTextColor(differentSiteText_, orange);
    differentSiteSymbol_->setColor(orange);
    phoneSymbol_->setColor(gold_);

    refreshButton_->setIcon(
        Symbols::icon(QStringLiteral("arrow.clockwise"), current.color(QPalette::ButtonText)));
    refreshButton_->setIconSize(QSize(14, 14));

    // The prominent, gold-tinted Fill button; the others keep the style's own look.
    fillButton_->setStyleSheet(WidgetKit::prominentButtonStyle(
        gold_, current, {.cornerRadius = 5, .verticalPadding = 3, .horizontalPadding = 18}));
    fillButton_->setMinimumHeight(codeCancelButton_->sizeHint().height());
}

void AutoFillPanel::fill() {
    const std::optional<LatestCode>& latest = model_.latest();
    if (!latest || !model_.onFill) {
        return;
    }
    // Copies first: the callback may end the request and delete this panel with the model.
    const auto onFill = model_.onFill;
    const QString code = latest->code;
    onFill(code);
}

void AutoFillPanel::cancel() {
    if (const auto onCancel = model_.onCancel) {
        onCancel();
    }
}

void AutoFillPanel::done() {
    if (const auto onDone = model_.onDone) {
        onDone();
    }
}

void AutoFillPanel::refresh() {
    const Instant now = mainActor_.now();
    shownAt_ = now;
    model_.refresh(now);
    showCountdown();
}

void AutoFillPanel::triggerDefaultAction() {
    if (configurationBody_->isVisibleTo(this)) {
        doneButton_->click();
    } else if (codeBody_->isVisibleTo(this)) {
        fillButton_->click();
    }
}

void AutoFillPanel::triggerCancelAction() {
    if (codeBody_->isVisibleTo(this)) {
        codeCancelButton_->click();
    } else if (waitingBody_->isVisibleTo(this)) {
        waitingCancelButton_->click();
    }
}
