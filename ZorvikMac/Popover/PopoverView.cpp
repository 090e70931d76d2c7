// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Popover/PopoverView.h"

#include <QBoxLayout>
#include <QEvent>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "ZorvikMac/Popover/CodeArea.h"
#include "ZorvikMac/Popover/PairingView.h"
#include "ZorvikMac/Popover/PopoverDivider.h"
#include "ZorvikMac/Popover/PopoverFooter.h"
#include "ZorvikMac/Popover/PopoverLook.h"
#include "ZorvikMac/Popover/PopoverScreen.h"
#include "ZorvikMac/Popover/PopoverSettingsSection.h"
#include "ZorvikMac/Popover/ReadinessMark.h"
#include "ZorvikMac/Popover/SetupChecklistView.h"
#include "ZorvikMac/Readiness/MacSettings.h"
#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "shared/symbols/InterfaceStyle.h"
#include "shared/symbols/SymbolView.h"
#include "shared/symbols/WidgetKit.h"

namespace {

using InterfaceStyle::systemFont;

// A plain container that tells its owner each time its layout has settled anew, so the popover
// re-measures the parts whose size changes do not reach its own layout (the scroll area's
// content) or reach it only later.
class MeasuredBox final : public QWidget {
public:
    MeasuredBox(const QString& objectName, std::function<void()> onLayout, QWidget* parent)
        : QWidget(parent), onLayout_(std::move(onLayout)) {
        setObjectName(objectName);
    }

protected:
    bool event(QEvent* event) override {
        // The widget's layout has handled the request by the time the widget sees it.
        const bool handled = QWidget::event(event);
        if (event->type() == QEvent::LayoutRequest && onLayout_) {
            onLayout_();
        }
        return handled;
    }

private:
    std::function<void()> onLayout_;
};

// The height `widget` wants at `width`, wrapped text included.
int heightAt(const QWidget* widget, int width) {
    return widget->hasHeightForWidth() ? widget->heightForWidth(width)
                                       : widget->sizeHint().height();
}

}  // namespace

PopoverView::PopoverView(CodeReceiver& receiver, MacSettings& settings, PopoverScreen& screen,
                         std::function<void(double, double)> onSize, std::function<void()> quit,
                         PopoverEnvironment environment, QWidget* parent)
    : QWidget(parent), screen_(screen), onSize_(std::move(onSize)), environment_(environment) {
    setObjectName(QStringLiteral("popoverView"));
    // The window is called after it; the product's name is not translated.
    setAccessibleName(QStringLiteral("Zorvik"));
    setFixedWidth(PopoverLook::width);
    setFont(systemFont(13));
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);

    auto* column = WidgetKit::makeColumn(0, this);
    column->addWidget(header_ = buildHeader(receiver));
    column->addWidget(new PopoverDivider(this));

    scrollArea_ = new QScrollArea(this);
    scrollArea_->setObjectName(QStringLiteral("scrollArea"));
    scrollArea_->setFrameShape(QFrame::NoFrame);
    // Tab goes to the controls inside, which the area scrolls into view; the area itself has
    // nothing to say.
    scrollArea_->setFocusPolicy(Qt::NoFocus);
    scrollArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Until the first measurement the content counts as fitting (see measure).
    scrollArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea_->setWidgetResizable(true);
    scrollArea_->viewport()->setBackgroundRole(QPalette::Window);
    scrollArea_->viewport()->setAutoFillBackground(false);
    scrollArea_->setWidget(scrollContent_ = buildScrollContent(receiver, settings));
    scrollArea_->setFixedHeight(cappedScrollHeight(
        {estimatedHeaderHeight, estimatedBottomHeight, estimatedScrollContentHeight}));
    column->addWidget(scrollArea_);

    column->addWidget(new PopoverDivider(this));
    column->addWidget(bottom_ = buildBottom(receiver, settings, std::move(quit)));
    // Should the window be taller than asked for, the room goes below the footer.
    column->addStretch(1);

    connect(&screen_, &PopoverScreen::heightChanged, this, &PopoverView::measure);
    applyColors();
}

PopoverView::~PopoverView() = default;

double PopoverView::scrollHeight(double screenHeight, double headerHeight, double bottomHeight,
                                 double contentHeight) {
    const double available = std::max(
        screenHeight - screenMargin - (headerHeight + bottomHeight + 3), minimumScrollHeight);
    const double content = contentHeight > 0 ? contentHeight : 0;
    return std::min(available, content);
}

QWidget* PopoverView::buildHeader(CodeReceiver& receiver) {
    auto* header = new MeasuredBox(
        QStringLiteral("header"), [this] { measure(); }, this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(8);
    lockSymbol_ = new SymbolView(QStringLiteral("lockSymbol"), QStringLiteral("lock.fill"), 13,
                                 Symbols::Weight::semibold, header);
    // Where no rounded face is installed, the rounded design is the system font.
    productName_ =
        WidgetKit::makeLabel(QStringLiteral("productName"), systemFont(13, QFont::DemiBold), header,
                             QStringLiteral("Zorvik"));
    platformName_ = WidgetKit::makeLabel(QStringLiteral("platformName"), systemFont(13), header,
                                         tr("for Linux"));
    readinessMark_ =
        new ReadinessMark(receiver, environment_.mainActor, environment_.timeZone, header);
    row->addWidget(lockSymbol_, 0, Qt::AlignVCenter);
    row->addWidget(productName_, 0, Qt::AlignVCenter);
    row->addWidget(platformName_, 0, Qt::AlignVCenter);
    row->addStretch(1);
    row->addWidget(readinessMark_, 0, Qt::AlignVCenter);
    return header;
}

QWidget* PopoverView::buildScrollContent(CodeReceiver& receiver, MacSettings& settings) {
    auto* content = new MeasuredBox(
        QStringLiteral("scrollContent"), [this] { measure(); }, this);
    auto* column = WidgetKit::makeColumn(0, content);

    auto* checklistPadding = new QWidget(content);
    checklistPadding->setObjectName(QStringLiteral("checklistPadding"));
    auto* padded = WidgetKit::makeColumn(0, checklistPadding);
    padded->setContentsMargins(16, 12, 16, 12);
    padded->addWidget(
        checklist_ = new SetupChecklistView(receiver, settings, environment_, checklistPadding));

    if (environment_.keyPairing != nullptr) {
        column->addWidget(
            new PairingView(*environment_.keyPairing, environment_.mainActor, content));
    }
    column->addWidget(checklistPadding);
    column->addWidget(new PopoverDivider(content));
    column->addWidget(codeArea_ = new CodeArea(receiver, environment_.mainActor, content));
    // Taller than its content (never, as the area is capped by it), the room goes below.
    column->addStretch(1);
    return content;
}

QWidget* PopoverView::buildBottom(CodeReceiver& receiver, MacSettings& settings,
                                  std::function<void()> quit) {
    auto* bottom = new MeasuredBox(
        QStringLiteral("bottom"), [this] { measure(); }, this);
    auto* column = WidgetKit::makeColumn(0, bottom);
    settingsSection_ = new PopoverSettingsSection(receiver, settings, environment_.mainActor,
                                                  environment_.autoFillSettings,
                                                  environment_.panelDrawsCode, bottom);
    column->addWidget(settingsSection_);
    column->addWidget(new PopoverDivider(bottom));
    column->addWidget(new PopoverFooter(receiver, environment_.mainActor, environment_.timeZone,
                                        std::move(quit), bottom));
    return bottom;
}

PopoverView::Heights PopoverView::measuredHeights() const {
    return {header_->sizeHint().height(), heightAt(bottom_, PopoverLook::width),
            heightAt(scrollContent_, PopoverLook::width)};
}

int PopoverView::cappedScrollHeight(const Heights& heights) const {
    // Whole points, rounded down so the cap is never exceeded.
    return static_cast<int>(std::floor(
        scrollHeight(screen_.height(), heights.header, heights.bottom, heights.scrollContent)));
}

int PopoverView::scrollAreaHeight() const {
    return scrollArea_->height();
}

QSize PopoverView::sizeHint() const {
    ensurePolished();
    const Heights heights = measuredHeights();
    // Two dividers of one point each stand between the three parts.
    return {PopoverLook::width,
            heights.header + 1 + cappedScrollHeight(heights) + 1 + heights.bottom};
}

bool PopoverView::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::LayoutRequest) {
        measure();
    }
    return handled;
}

void PopoverView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    laidOut_ = true;
    measure();
    focusFirst();
}

void PopoverView::focusFirst() {
    QWidget* first = codeArea_->firstForKeyboard();
    if (first == nullptr) {
        first = checklist_->firstNeedingUser();
    }
    // Else the first control Tab reaches.
    for (QWidget* next = nextInFocusChain(); first == nullptr && next != this;
         next = next->nextInFocusChain()) {
        if (isAncestorOf(next) && next->isVisibleTo(this) && next->isEnabled() &&
            (next->focusPolicy() & Qt::TabFocus) == Qt::TabFocus) {
            first = next;
        }
    }
    if (first != nullptr) {
        first->setFocus(Qt::PopupFocusReason);
        scrollArea_->ensureWidgetVisible(first);
    }
}

void PopoverView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        applyColors();
    }
}

void PopoverView::measure() {
    if (measuring_ || !laidOut_) {
        return;
    }
    measuring_ = true;
    const Heights heights = measuredHeights();
    headerHeight_ = heights.header;
    bottomHeight_ = heights.bottom;
    scrollContentHeight_ = heights.scrollContent;
    const int scroll = cappedScrollHeight(heights);
    // Content that fits at the full width never shows the scroll bar: once shown, the bar would
    // narrow the content, wrap its text onto more lines and so keep itself needed.
    scrollArea_->setVerticalScrollBarPolicy(scrollContentHeight_ > scroll ? Qt::ScrollBarAsNeeded
                                                                          : Qt::ScrollBarAlwaysOff);
    if (scrollArea_->maximumHeight() != scroll || scrollArea_->minimumHeight() != scroll) {
        scrollArea_->setFixedHeight(scroll);
    }
    const QSize wanted(PopoverLook::width, headerHeight_ + 1 + scroll + 1 + bottomHeight_);
    if (wanted != reportedSize_) {
        reportedSize_ = wanted;
        if (onSize_) {
            onSize_(wanted.width(), wanted.height());
        }
    }
    measuring_ = false;
}

void PopoverView::applyColors() {
    // Setting the background role during construction changes the palette before the parts
    // exist; they are coloured once built.
    if (lockSymbol_ == nullptr) {
        return;
    }
    lockSymbol_->setColor(InterfaceStyle::gold());
    WidgetKit::setTextColor(platformName_, InterfaceStyle::secondary(palette()));
}
