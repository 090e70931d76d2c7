// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Popover/SetupChecklistView.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QEasingCurve>
#include <QEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "ZorvikMac/Popover/ActivitySpinner.h"
#include "ZorvikMac/Popover/FoldingBox.h"
#include "ZorvikMac/Popover/SetupActions.h"
#include "ZorvikMac/Popover/StatusDot.h"
#include "ZorvikMac/Popover/ToggleSwitch.h"
#include "ZorvikMac/Readiness/MacSettings.h"
#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "platform/MainActor.h"
#include "shared/symbols/InterfaceStyle.h"
#include "shared/symbols/Symbols.h"
#include "shared/symbols/WidgetKit.h"

namespace {

using InterfaceStyle::captionSize;
using InterfaceStyle::systemFont;
using WidgetKit::makeColumn;
using WidgetKit::makeRow;
using WidgetKit::setTextColor;

constexpr int stackSpacing = 8;
constexpr int headerSpacing = 6;
constexpr int rowSpacing = 8;
constexpr int textSpacing = 2;
constexpr int titleSpinnerSpacing = 6;
constexpr int minimumGapBeforeControl = 4;
constexpr int symbolColumnWidth = 14;
// The state symbol sits this far below the row's top, and a round mark a further 3.
constexpr int symbolDrop = 2;
constexpr int markDrop = 3;
constexpr int markDiameter = 9;
constexpr qreal ringWidth = 1.5;
constexpr int headerDotDiameter = 7;
constexpr qreal chevronSize = 9;
constexpr int titleSize = 12;
// The font of small controls.
constexpr int smallControlSize = 11;
constexpr int recheckDrop = 2;

const char* const welcomeTitle =
    QT_TRANSLATE_NOOP("SetupChecklistView", "Welcome \u2014 let's check this computer");
const char* const plainTitle = QT_TRANSLATE_NOOP("SetupChecklistView", "Setup");

// A label whose text starts at its top left corner.
QLabel* makeLabel(const QString& objectName, const QFont& font, QWidget* parent) {
    QLabel* label = WidgetKit::makeLabel(objectName, font, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QPushButton* makeSmallButton(const QString& objectName, QWidget* parent) {
    QPushButton* button = WidgetKit::makeButton(objectName, QString(), parent);
    button->setFont(systemFont(smallControlSize));
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

// A label that wraps only when it must: it asks for the width of its text on one line (a plain
// wrapping label asks for far less and wraps short texts early) and takes the height it needs
// at the width it gets.
class WrappingLabel final : public QLabel {
public:
    using QLabel::QLabel;

    QSize sizeHint() const override {
        const QMargins margins = contentsMargins();
        // One pixel more, so rounding never pushes the last word onto a second line.
        const int width =
            fontMetrics().size(0, text()).width() + margins.left() + margins.right() + 1;
        return {width, heightForWidth(width)};
    }
};

QLabel* makeWrappingLabel(const QString& objectName, const QFont& font, QWidget* parent) {
    auto* label = WidgetKit::makeLabel<WrappingLabel>(objectName, font, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    return label;
}

// The state symbol of a row, in its column 14 wide: a check mark or a cross drawn from the
// symbols, or a round mark for pending and info, each dropped as far as the row asks.
class StateSymbol final : public QWidget {
public:
    explicit StateSymbol(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("symbol"));
        setFixedSize(symbolColumnWidth, symbolDrop + symbolColumnWidth);
        mark_ = new StatusDot(markDiameter, this);
        mark_->setObjectName(QStringLiteral("mark"));
        mark_->move((symbolColumnWidth - markDiameter) / 2, symbolDrop + markDrop);
    }

    // `colors` is the checklist's palette, which reaches this symbol only after the checklist
    // has heard of a change.
    void setState(SetupRow::State state, const QPalette& colors) {
        state_ = state;
        switch (state) {
            case SetupRow::State::ok:
            case SetupRow::State::failed:
                mark_->hide();
                break;
            case SetupRow::State::pending:
                mark_->setShape(StatusDot::Shape::filled);
                mark_->setColor(InterfaceStyle::orange(colors));
                mark_->show();
                break;
            case SetupRow::State::info: {
                QColor quiet = InterfaceStyle::secondary(colors);
                quiet.setAlphaF(0.5f);
                mark_->setShape(StatusDot::Shape::ring, ringWidth);
                mark_->setColor(quiet);
                mark_->show();
                break;
            }
        }
        update();
    }

    SetupRow::State state() const { return state_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QString name;
        QColor color;
        if (state_ == SetupRow::State::ok) {
            name = QStringLiteral("checkmark.circle.fill");
            color = InterfaceStyle::green(palette());
        } else if (state_ == SetupRow::State::failed) {
            name = QStringLiteral("xmark.circle.fill");
            color = InterfaceStyle::red(palette());
        } else {
            return;
        }
        QPainter painter(this);
        painter.drawPixmap(0, symbolDrop,
                           Symbols::boxPixmap(name, symbolColumnWidth, color, devicePixelRatioF()));
    }

private:
    SetupRow::State state_ = SetupRow::State::pending;
    StatusDot* mark_ = nullptr;
};

// The eased share of the way for `progress` (0 to 1): slow at both ends, as the platform's
// ease-in-ease-out timing curve.
qreal easeInEaseOut(qreal progress) {
    static const QEasingCurve curve = [] {
        QEasingCurve bezier(QEasingCurve::BezierSpline);
        bezier.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
        return bezier;
    }();
    return curve.valueForProgress(progress);
}

}  // namespace

// The header's chevron, turned about its centre: 0° points right (folded), 90° down.
class SetupChecklistView::Chevron final : public QWidget {
public:
    explicit Chevron(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("chevron"));
        const int side = Symbols::boxSide(chevronSize);
        setFixedSize(side, side);
    }

    qreal angle() const { return angle_; }
    void setAngle(qreal degrees) {
        if (angle_ != degrees) {
            angle_ = degrees;
            update();
        }
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QPixmap symbol = Symbols::pixmap(QStringLiteral("chevron.right"), chevronSize,
                                               InterfaceStyle::secondary(palette()),
                                               devicePixelRatioF(), Symbols::Weight::bold);
        const QSizeF size = symbol.deviceIndependentSize();
        painter.translate(width() / 2.0, height() / 2.0);
        painter.rotate(angle_);
        painter.drawPixmap(QPointF(-size.width() / 2, -size.height() / 2), symbol);
    }

private:
    qreal angle_ = 0;
};

// A plain button as wide as the checklist: its whole row answers a click, it draws no bezel,
// and it shows a focus ring only when the keyboard brought the focus.
class SetupChecklistView::HeaderButton final : public QAbstractButton {
public:
    explicit HeaderButton(QWidget* parent) : QAbstractButton(parent) {
        setObjectName(QStringLiteral("header"));
        // A button's children would draw in the button text colour; these are window texts.
        setBackgroundRole(QPalette::Window);
        setForegroundRole(QPalette::WindowText);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override { return layout() ? layout()->sizeHint() : QSize(); }
    QSize minimumSizeHint() const override { return layout() ? layout()->minimumSize() : QSize(); }

protected:
    void focusInEvent(QFocusEvent* event) override {
        keyboardFocus_ =
            event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
        QAbstractButton::focusInEvent(event);
    }
    void focusOutEvent(QFocusEvent* event) override {
        keyboardFocus_ = false;
        QAbstractButton::focusOutEvent(event);
    }
    void paintEvent(QPaintEvent*) override {
        if (!keyboardFocus_ || !hasFocus()) {
            return;
        }
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor ring = palette().color(QPalette::Highlight);
        ring.setAlphaF(0.6f);
        painter.setPen(QPen(ring, 2));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
    }

private:
    bool keyboardFocus_ = false;
};

// One row of the checklist: state symbol, title with its spinner, detail, and the row's switch
// or button. The row is named after its kind ("row.autoFill") and keeps that kind for good.
class SetupChecklistView::RowView final : public QWidget {
public:
    RowView(SetupRow::Kind kind, MainActor& mainActor, QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("row.") + rawValue(kind));

        symbol = new StateSymbol(this);
        title = makeWrappingLabel(QStringLiteral("title"), systemFont(titleSize), this);
        spinner = new ActivitySpinner(mainActor, this);
        spinner->setObjectName(QStringLiteral("spinner"));
        // The spinner stands on the first line's baseline, as text beside it would.
        const int ascent = QFontMetrics(title->font()).ascent();
        spinner->setContentsMargins(0, std::max(0, ascent - ActivitySpinner::side), 0, 0);
        spinner->setFixedSize(spinner->sizeHint());
        detail = makeWrappingLabel(QStringLiteral("detail"), systemFont(captionSize), this);
        toggle = new ToggleSwitch(this);
        toggle->setObjectName(QStringLiteral("switch"));
        button = makeSmallButton(QStringLiteral("button"), this);
        // A choice between two (use this account or not) sits under the texts, where both
        // buttons and a long title have room.
        choiceButton = makeSmallButton(QStringLiteral("choiceButton"), this);
        secondaryButton = makeSmallButton(QStringLiteral("secondaryButton"), this);

        auto* titleRow = makeRow(titleSpinnerSpacing);
        titleRow->addWidget(title);
        titleRow->addWidget(spinner, 0, Qt::AlignTop);
        titleRow->addStretch(1);
        auto* texts = makeColumn(textSpacing);
        texts->addLayout(titleRow);
        texts->addWidget(detail);
        auto* choices = makeRow(titleSpinnerSpacing);
        choices->addWidget(choiceButton);
        choices->addWidget(secondaryButton);
        choices->addStretch(1);
        texts->addLayout(choices);

        auto* row = makeRow(rowSpacing, this);
        row->addWidget(symbol, 0, Qt::AlignTop);
        row->addLayout(texts);
        row->addSpacerItem(
            new QSpacerItem(minimumGapBeforeControl, 0, QSizePolicy::MinimumExpanding));
        row->addWidget(toggle, 0, Qt::AlignTop);
        row->addWidget(button, 0, Qt::AlignTop);
    }

    void setRow(const SetupRow& row, bool launchAtLogin, const QPalette& colors) {
        action = row.action;
        secondaryAction = row.secondaryAction;
        account = row.account;
        symbol->setState(row.state, colors);
        // The tick, cross or dot says as much as the title: a screen reader reads it first.
        symbol->setAccessibleName(SetupChecklistView::spokenState(row.state));
        title->setText(row.title);
        spinner->setVisible(row.spinner);
        // An item in order keeps its explanation to itself, except AutoFill, whose detail says
        // where the codes appear.
        const bool showsDetail = row.detail.has_value() && (row.state != SetupRow::State::ok ||
                                                            row.kind == SetupRow::Kind::autoFill);
        detail->setText(row.detail.value_or(QString()));
        detail->setVisible(showsDetail);
        const bool isSwitch = row.action == SetupRow::Action::toggleLaunchAtLogin;
        toggle->setVisible(isSwitch);
        if (isSwitch) {
            toggle->setChecked(launchAtLogin);
            toggle->setAccessibleName(SetupChecklistView::tr("Launch at login"));
        }
        const bool hasButton = !isSwitch && row.action.has_value() && row.buttonTitle.has_value();
        const bool isChoice = hasButton && row.secondaryAction.has_value();
        button->setText(row.buttonTitle.value_or(QString()));
        button->setVisible(hasButton && !isChoice);
        choiceButton->setText(row.buttonTitle.value_or(QString()));
        choiceButton->setVisible(isChoice);
        secondaryButton->setText(row.secondaryButtonTitle.value_or(QString()));
        secondaryButton->setVisible(isChoice);
    }

    void applyColors(const QColor& secondary) { setTextColor(detail, secondary); }

    std::optional<SetupRow::Action> action;
    std::optional<SetupRow::Action> secondaryAction;
    std::optional<QString> account;
    StateSymbol* symbol = nullptr;
    QLabel* title = nullptr;
    ActivitySpinner* spinner = nullptr;
    QLabel* detail = nullptr;
    ToggleSwitch* toggle = nullptr;
    QPushButton* button = nullptr;
    QPushButton* choiceButton = nullptr;
    QPushButton* secondaryButton = nullptr;
};

SetupChecklistView::SetupChecklistView(CodeReceiver& receiver, MacSettings& settings,
                                       PopoverEnvironment environment, QWidget* parent)
    : QWidget(parent),
      receiver_(receiver),
      settings_(settings),
      environment_(std::move(environment)),
      logger_(environment_.systemLog, QStringLiteral("net.brontal.zorvik"), QStringLiteral("mac")) {
    setObjectName(QStringLiteral("setupChecklist"));
    auto* stack = makeColumn(stackSpacing, this);
    stack->addWidget(buildHeader());
    stack->addWidget(buildRows());

    connect(&receiver_, &CodeReceiver::probeChanged, this, &SetupChecklistView::refresh);
    connect(&receiver_, &CodeReceiver::firstRunChanged, this, &SetupChecklistView::refresh);
    connect(&settings_, &MacSettings::setupCollapsedChanged, this, [this] {
        refresh();
        showFolding(animateFolding_);
    });
    connect(&settings_, &MacSettings::launchAtLoginChanged, this,
            &SetupChecklistView::showLaunchAtLogin);

    applyColors();
    refresh();
    showFolding(false);
}

SetupChecklistView::~SetupChecklistView() {
    folding_.cancel();
}

QWidget* SetupChecklistView::buildHeader() {
    header_ = new HeaderButton(this);
    chevron_ = new Chevron(header_);
    title_ =
        makeLabel(QStringLiteral("headerTitle"), systemFont(titleSize, QFont::DemiBold), header_);
    dot_ = new StatusDot(headerDotDiameter, header_);
    dot_->setObjectName(QStringLiteral("headerDot"));
    summary_ = makeLabel(QStringLiteral("headerSummary"), systemFont(captionSize), header_);

    auto* row = makeRow(headerSpacing, header_);
    for (QWidget* part : std::initializer_list<QWidget*>{chevron_, title_, dot_, summary_}) {
        // The button takes every click on its row, also those on its texts.
        part->setAttribute(Qt::WA_TransparentForMouseEvents);
        row->addWidget(part, 0, Qt::AlignVCenter);
    }
    row->addStretch(1);

    connect(header_, &QAbstractButton::clicked, this, &SetupChecklistView::toggleFolded);
    return header_;
}

QWidget* SetupChecklistView::buildRows() {
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("rowsContent"));
    auto* stack = makeColumn(stackSpacing, content);
    for (const SetupRow::Kind kind :
         {SetupRow::Kind::cloud, SetupRow::Kind::syncKey, SetupRow::Kind::push,
          SetupRow::Kind::autoFill, SetupRow::Kind::notifications, SetupRow::Kind::launchAtLogin,
          SetupRow::Kind::firstCode}) {
        auto* row = new RowView(kind, environment_.mainActor, content);
        connect(row->button, &QPushButton::clicked, this, [this, row] {
            if (row->action) {
                perform(*row->action, row->account);
            }
        });
        connect(row->choiceButton, &QPushButton::clicked, this, [this, row] {
            if (row->action) {
                perform(*row->action, row->account);
            }
        });
        connect(row->secondaryButton, &QPushButton::clicked, this, [this, row] {
            if (row->secondaryAction) {
                perform(*row->secondaryAction, row->account);
            }
        });
        connect(row->toggle, &QAbstractButton::clicked, this,
                &SetupChecklistView::flipLaunchAtLogin);
        rowViews_.emplace(kind, row);
        stack->addWidget(row);
    }

    recheckButton_ = makeSmallButton(QStringLiteral("recheckButton"), content);
    recheckButton_->setText(tr("Re-check"));
    recheckButton_->setIconSize(QSize(smallControlSize, smallControlSize));
    connect(recheckButton_, &QPushButton::clicked, this, &SetupChecklistView::recheck);
    auto* recheckRow = makeRow(0);
    recheckRow->setContentsMargins(0, recheckDrop, 0, 0);
    recheckRow->addWidget(recheckButton_);
    recheckRow->addStretch(1);
    stack->addLayout(recheckRow);

    rowsBox_ = new FoldingBox(content, this);
    rowsBox_->setObjectName(QStringLiteral("rows"));
    return rowsBox_;
}

void SetupChecklistView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        applyColors();
        refresh();
    }
}

void SetupChecklistView::applyColors() {
    const QPalette& colors = palette();
    const QColor secondary = InterfaceStyle::secondary(colors);
    setTextColor(summary_, secondary);
    for (const auto& [kind, row] : rowViews_) {
        row->applyColors(secondary);
    }
    recheckButton_->setIcon(
        Symbols::icon(QStringLiteral("arrow.clockwise"), colors.color(QPalette::ButtonText)));
}

void SetupChecklistView::refresh() {
    const QList<SetupRow> rows =
        setupRows(receiver_.probe(), environment_.mainActor.now(), environment_.timeZone);
    showHeader(rows);
    showRows(rows);
}

void SetupChecklistView::showHeader(const QList<SetupRow>& rows) {
    const bool collapsed = settings_.setupCollapsed();
    header_->setAccessibleName(collapsed ? tr("Show setup") : tr("Hide setup"));
    title_->setText(tr(receiver_.firstRun() && !collapsed ? welcomeTitle : plainTitle));
    dot_->setVisible(collapsed);
    summary_->setVisible(collapsed);
    const QPalette& colors = palette();
    dot_->setColor(needsAttention(rows) ? InterfaceStyle::orange(colors)
                                        : InterfaceStyle::green(colors));
    summary_->setText(setupSummary(rows));
}

void SetupChecklistView::showRows(const QList<SetupRow>& rows) {
    QList<SetupRow::Kind> shown;
    for (const SetupRow& row : rows) {
        const auto found = rowViews_.find(row.kind);
        if (found == rowViews_.end()) {
            continue;
        }
        found->second->setRow(row, settings_.launchAtLogin(), palette());
        found->second->setVisible(true);
        shown.append(row.kind);
    }
    for (const auto& [kind, view] : rowViews_) {
        if (!shown.contains(kind)) {
            view->setVisible(false);
        }
    }
}

QWidget* SetupChecklistView::firstNeedingUser() const {
    if (settings_.setupCollapsed()) {
        return nullptr;
    }
    for (const auto& [kind, row] : rowViews_) {
        if (row->isHidden() || (row->symbol->state() != SetupRow::State::failed &&
                                row->symbol->state() != SetupRow::State::pending)) {
            continue;
        }
        for (QPushButton* button : {row->button, row->choiceButton}) {
            if (!button->isHidden() && button->isEnabled()) {
                return button;
            }
        }
    }
    return nullptr;
}

QString SetupChecklistView::spokenState(SetupRow::State state) {
    switch (state) {
        case SetupRow::State::ok:
            return tr("done");
        case SetupRow::State::failed:
            return tr("needs attention");
        case SetupRow::State::pending:
            return tr("waiting");
        case SetupRow::State::info:
            return tr("optional");
    }
    Q_UNREACHABLE();
}

void SetupChecklistView::showLaunchAtLogin() {
    for (const auto& [kind, row] : rowViews_) {
        row->toggle->setChecked(settings_.launchAtLogin());
    }
}

void SetupChecklistView::showFolding(bool animated) {
    const bool collapsed = settings_.setupCollapsed();
    const qreal toAngle = collapsed ? 0 : 90;
    const qreal toShare = collapsed ? 0 : 1;
    folding_.cancel();
    folding_ = TaskHandle();
    if (!animated) {
        chevron_->setAngle(toAngle);
        rowsBox_->setRevealed(toShare);
        return;
    }
    folding_ = environment_.mainActor.spawn(fold(QPointer<SetupChecklistView>(this),
                                                 environment_.mainActor, chevron_->angle(), toAngle,
                                                 rowsBox_->revealed(), toShare));
}

Task<void> SetupChecklistView::fold(QPointer<SetupChecklistView> view, MainActor& mainActor,
                                    qreal fromAngle, qreal toAngle, qreal fromShare,
                                    qreal toShare) {
    // Each await in a statement of its own (g++ 12 at -O2 miscompiles one inside a condition).
    for (int step = 1; step <= foldSteps; ++step) {
        co_await mainActor.sleep(foldDuration / foldSteps);
        const bool cancelled = co_await isCancelled();
        if (cancelled || !view) {
            co_return;
        }
        const qreal eased = step == foldSteps ? 1.0 : easeInEaseOut(qreal(step) / foldSteps);
        view->chevron_->setAngle(fromAngle + (toAngle - fromAngle) * eased);
        view->rowsBox_->setRevealed(fromShare + (toShare - fromShare) * eased);
    }
    view->folding_ = TaskHandle();
}

void SetupChecklistView::toggleFolded() {
    animateFolding_ = true;
    settings_.setSetupCollapsed(!settings_.setupCollapsed());
    animateFolding_ = false;
}

void SetupChecklistView::recheck() {
    environment_.mainActor.spawn(runChecks(QPointer<CodeReceiver>(&receiver_)));
}

Task<void> SetupChecklistView::runChecks(QPointer<CodeReceiver> receiver) {
    if (receiver) {
        co_await receiver->runChecks();
    }
}

void SetupChecklistView::perform(SetupRow::Action action, const std::optional<QString>& account) {
    if (action == SetupRow::Action::unlockKeyring) {
        receiver_.unlockKeychain();
    }
    performSetupAction(action, settings_, environment_, logger_, account);
}

void SetupChecklistView::flipLaunchAtLogin(bool on) {
    settings_.setLaunchAtLogin(on);
    // When the system refuses, the setting falls back; the switch shows what it holds now.
    showLaunchAtLogin();
}
