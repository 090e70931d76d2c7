// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/desktop/TrayIconStatusItem.h"

#include <QCursor>
#include <QIcon>
#include <QPixmap>
#include <QRect>
#include <QSystemTrayIcon>
#include <utility>

TrayIconStatusItem::TrayIconStatusItem(QObject* parent)
    : QObject(parent), icon_(std::make_unique<QSystemTrayIcon>()) {
    connect(icon_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick || !action_) {
                    return;
                }
                const QRect geometry = icon_->geometry();
                const QPoint anchor = geometry.isValid()
                                          ? QPoint(geometry.x() + geometry.width() / 2,
                                                   geometry.y() + geometry.height())
                                          : QCursor::pos();
                // A copy: the action may replace itself.
                const auto action = action_;
                action(anchor);
            });
}

TrayIconStatusItem::~TrayIconStatusItem() = default;

void TrayIconStatusItem::setImage(const QImage& image,
                                  const QString& /*accessibilityDescription*/) {
    if (image.isNull()) {
        icon_->hide();
        icon_->setIcon(QIcon());
        return;
    }
    icon_->setIcon(QIcon(QPixmap::fromImage(image)));
    icon_->show();
}

void TrayIconStatusItem::setAttributedTitle(const AttributedTitle& title) {
    if (title.text != title_) {
        title_ = title.text;
        updateToolTip();
    }
}

void TrayIconStatusItem::setImagePosition(ImagePosition /*position*/) {}

void TrayIconStatusItem::setImageHugsTitle(bool /*hugs*/) {}

void TrayIconStatusItem::setLength(double /*length*/) {}

void TrayIconStatusItem::setToolTip(const QString& toolTip) {
    if (toolTip != toolTip_) {
        toolTip_ = toolTip;
        updateToolTip();
    }
}

void TrayIconStatusItem::setAction(std::function<void(QPoint anchor)> action) {
    action_ = std::move(action);
}

QString TrayIconStatusItem::shownToolTip() const {
    if (title_.isEmpty()) {
        return toolTip_;
    }
    if (toolTip_.isEmpty()) {
        return title_;
    }
    return title_ + QLatin1Char('\n') + toolTip_;
}

void TrayIconStatusItem::updateToolTip() {
    icon_->setToolTip(shownToolTip());
}
