// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Popover/ToggleSwitch.h"

#include <QFocusEvent>
#include <QPainter>

#include "shared/symbols/InterfaceStyle.h"

namespace {

constexpr int trackWidth = 26;
constexpr int trackHeight = 15;
constexpr qreal knobInset = 1.5;

}  // namespace

ToggleSwitch::ToggleSwitch(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize ToggleSwitch::sizeHint() const {
    return {trackWidth, trackHeight};
}

QSize ToggleSwitch::minimumSizeHint() const {
    return sizeHint();
}

void ToggleSwitch::focusInEvent(QFocusEvent* event) {
    keyboardFocus_ =
        event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    QAbstractButton::focusInEvent(event);
}

void ToggleSwitch::focusOutEvent(QFocusEvent* event) {
    keyboardFocus_ = false;
    QAbstractButton::focusOutEvent(event);
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colors = palette();
    const bool dark = InterfaceStyle::isDark(colors);

    const QRectF track =
        QRectF(0, 0, trackWidth, trackHeight)
            .translated((width() - trackWidth) / 2.0, (height() - trackHeight) / 2.0);
    const qreal radius = track.height() / 2;
    QColor trackColor;
    if (isChecked()) {
        trackColor = colors.color(QPalette::Highlight);
    } else {
        trackColor = colors.color(QPalette::WindowText);
        trackColor.setAlphaF(dark ? 0.22f : 0.14f);
    }
    if (isDown()) {
        trackColor = trackColor.darker(115);
    }
    painter.setOpacity(isEnabled() ? 1.0 : 0.45);
    painter.setPen(Qt::NoPen);
    painter.setBrush(trackColor);
    painter.drawRoundedRect(track, radius, radius);

    const qreal knobSide = track.height() - 2 * knobInset;
    const qreal knobLeft =
        isChecked() ? track.right() - knobInset - knobSide : track.left() + knobInset;
    const QRectF knob(knobLeft, track.top() + knobInset, knobSide, knobSide);
    QColor outline = Qt::black;
    outline.setAlphaF(dark ? 0.35f : 0.18f);
    painter.setPen(QPen(outline, 0.5));
    painter.setBrush(dark && !isChecked() ? QColor(0xD8, 0xD8, 0xDA) : QColor(Qt::white));
    painter.drawEllipse(knob);

    if (keyboardFocus_ && hasFocus()) {
        QColor ring = colors.color(QPalette::Highlight);
        ring.setAlphaF(0.6f);
        painter.setPen(QPen(ring, 2));
        painter.setBrush(Qt::NoBrush);
        // On the track's edge: the switch is exactly as large as its track.
        painter.drawRoundedRect(track.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }
}
