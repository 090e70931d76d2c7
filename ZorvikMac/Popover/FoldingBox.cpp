// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Popover/FoldingBox.h"

#include <QEvent>
#include <algorithm>
#include <cmath>

FoldingBox::FoldingBox(QWidget* content, QWidget* parent) : QWidget(parent), content_(content) {
    content_->setParent(this);
    // Not Fixed: a layout caps a fixed item at its size hint, which is the height at the hint's
    // width, and the box must be as tall as the content is at the width it gets.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    placeContent();
}

void FoldingBox::setRevealed(qreal share) {
    share = std::clamp(share, 0.0, 1.0);
    if (share == revealed_) {
        return;
    }
    revealed_ = share;
    setVisible(revealed_ > 0);
    updateGeometry();
}

int FoldingBox::contentHeight(int width) const {
    const int forWidth = content_->hasHeightForWidth() ? content_->heightForWidth(width) : -1;
    return forWidth >= 0 ? forWidth : content_->sizeHint().height();
}

QSize FoldingBox::sizeHint() const {
    const int width = content_->sizeHint().width();
    return {width, heightForWidth(width)};
}

QSize FoldingBox::minimumSizeHint() const {
    // No taller than the revealed part: the rest is clipped, never squeezed.
    return {content_->minimumSizeHint().width(), 0};
}

int FoldingBox::heightForWidth(int width) const {
    return static_cast<int>(std::ceil(revealed_ * contentHeight(width)));
}

bool FoldingBox::event(QEvent* event) {
    // The content's layout asks its parent to lay out again when its size wishes change.
    if (event->type() == QEvent::LayoutRequest) {
        updateGeometry();
        placeContent();
    }
    return QWidget::event(event);
}

void FoldingBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeContent();
}

void FoldingBox::placeContent() {
    content_->setGeometry(0, 0, width(), contentHeight(width()));
}
