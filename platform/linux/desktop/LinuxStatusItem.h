// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <memory>

#include "platform/StatusItem.h"
#include "platform/linux/desktop/StatusNotifierItem.h"
#include "platform/linux/desktop/TrayIconStatusItem.h"

// The status item of the application on Linux desktops: always a StatusNotifierItem, which
// every current panel shows (and which registers itself whenever a watcher appears), and, while
// no watcher has accepted it, an X11 tray icon standing in for it on the older panels that only
// know XEmbed.
//
// The stand-in is possible only when the bus had no watcher as the item was made, the
// application runs on X11 (xcb) and is a QApplication: Qt picks its tray backend once per
// process, and with a watcher present it would have been a second StatusNotifierItem. Nothing
// else in the process may use QSystemTrayIcon before. When a watcher accepts the item later, the
// stand-in goes; when that watcher leaves, it comes back. Qt docks it as soon as an XEmbed tray
// is there, also one that starts later. Whether there was a watcher is asked without blocking,
// so the stand-in appears a moment after construction.
class LinuxStatusItem final : public QObject, public StatusItem {
    Q_OBJECT

public:
    explicit LinuxStatusItem(QDBusConnection bus = QDBusConnection::sessionBus(),
                             QObject* parent = nullptr);
    ~LinuxStatusItem() override;

    void setImage(const QImage& image, const QString& accessibilityDescription) override;
    void setAttributedTitle(const AttributedTitle& title) override;
    void setImagePosition(ImagePosition position) override;
    // Plasma's and Xfce's trays draw no label beside an item, only its tooltip.
    bool drawsTitle() const override;
    void setImageHugsTitle(bool hugs) override;
    void setLength(double length) override;
    void setToolTip(const QString& toolTip) override;
    void setAction(std::function<void(QPoint anchor)> action) override;
    void askWhetherShown(std::function<void(bool shown)> answer) override;

    // Also the keeper of the values last set.
    StatusNotifierItem& statusNotifierItem() { return item_; }
    // Whether the X11 tray icon may stand in (known shortly after construction).
    bool canStandIn() const { return canStandIn_; }
    // The X11 tray icon while it stands in, else null.
    TrayIconStatusItem* standIn() const { return standIn_.get(); }

Q_SIGNALS:
    // The stand-in came or went.
    void standInChanged();

private:
    void updateStandIn();
    void runAction(QPoint anchor);

    QDBusConnection bus_;
    StatusNotifierItem item_;
    bool canStandIn_ = false;
    std::unique_ptr<TrayIconStatusItem> standIn_;
    std::function<void(QPoint)> action_;
};
