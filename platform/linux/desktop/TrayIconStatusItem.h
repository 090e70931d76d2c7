// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QString>
#include <functional>
#include <memory>

#include "platform/StatusItem.h"

class QSystemTrayIcon;

// The status item as a Qt tray icon, for desktops with an old X11 (XEmbed) tray but no
// StatusNotifierWatcher. It shows the image, and as its tooltip the title's text (there is no
// label beside the icon) above the tooltip text. A click (left, right or middle) runs the action
// with the centre of the icon's bottom edge; a double click is left to the two clicks before it.
// The icon is shown while it has an image. The layout values have no counterpart here.
//
// Qt picks its tray backend once per process, at the first use of QSystemTrayIcon: its own
// StatusNotifierItem when a watcher is on the session bus then, XEmbed otherwise. This class is
// therefore meant for a process that found no watcher (see LinuxStatusItem), and needs a
// QApplication.
class TrayIconStatusItem final : public QObject, public StatusItem {
    Q_OBJECT

public:
    explicit TrayIconStatusItem(QObject* parent = nullptr);
    ~TrayIconStatusItem() override;

    void setImage(const QImage& image, const QString& accessibilityDescription) override;
    void setAttributedTitle(const AttributedTitle& title) override;
    void setImagePosition(ImagePosition position) override;
    void setImageHugsTitle(bool hugs) override;
    void setLength(double length) override;
    void setToolTip(const QString& toolTip) override;
    void setAction(std::function<void(QPoint anchor)> action) override;

    // The tooltip shown: the title's text, if any, on its own line above the tooltip text.
    QString shownToolTip() const;
    // The Qt icon, for tests.
    QSystemTrayIcon& trayIcon() const { return *icon_; }

private:
    void updateToolTip();

    std::unique_ptr<QSystemTrayIcon> icon_;
    QString title_;
    QString toolTip_;
    std::function<void(QPoint)> action_;
};
