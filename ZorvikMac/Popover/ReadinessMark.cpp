// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Popover/ReadinessMark.h"

#include <QBoxLayout>
#include <QEvent>
#include <QLabel>
#include <QPainter>

#include "ZorvikMac/Popover/PopoverLook.h"
#include "ZorvikMac/Readiness/SetupRow.h"
#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "platform/MainActor.h"
#include "shared/symbols/InterfaceStyle.h"
#include "shared/symbols/WidgetKit.h"

namespace {

constexpr int dotSide = 7;

// A filled circle of the mark's colour.
class Dot final : public QWidget {
public:
    explicit Dot(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("readinessDot"));
        setFixedSize(dotSide, dotSide);
    }

    QColor color;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QRectF(0, 0, dotSide, dotSide));
    }
};

}  // namespace

ReadinessMark::ReadinessMark(CodeReceiver& receiver, MainActor& mainActor, QTimeZone timeZone,
                             QWidget* parent)
    : QWidget(parent), receiver_(receiver), mainActor_(mainActor), timeZone_(std::move(timeZone)) {
    setObjectName(QStringLiteral("readinessMark"));
    auto* row = WidgetKit::makeRow(5, this);
    dot_ = new Dot(this);
    caption_ = WidgetKit::makeLabel(QStringLiteral("readinessText"),
                                    InterfaceStyle::systemFont(InterfaceStyle::captionSize), this);
    row->addWidget(dot_, 0, Qt::AlignVCenter);
    row->addWidget(caption_, 0, Qt::AlignVCenter);

    connect(&receiver_, &CodeReceiver::probeChanged, this, &ReadinessMark::showProbe);
    showProbe();
}

ReadinessMark::~ReadinessMark() = default;

QColor ReadinessMark::dotColor() const {
    return static_cast<const Dot*>(dot_)->color;
}

void ReadinessMark::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        applyColors();
    }
}

void ReadinessMark::showProbe() {
    needsAttention_ = ::needsAttention(setupRows(receiver_.probe(), mainActor_.now(), timeZone_));
    caption_->setText(needsAttention_ ? tr("Needs setup") : tr("Ready"));
    applyColors();
}

void ReadinessMark::applyColors() {
    const QPalette& current = palette();
    auto* dot = static_cast<Dot*>(dot_);
    dot->color = needsAttention_ ? InterfaceStyle::orange(current) : InterfaceStyle::green(current);
    dot->update();
    WidgetKit::setTextColor(caption_, InterfaceStyle::secondary(current));
}
