// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QTimer>
#include <functional>

#include "platform/StatusItem.h"

class StatusNotifierItemAdaptor;

// The status item as a StatusNotifierItem (the KDE/freedesktop tray protocol with the Ayatana
// label extension) on a D-Bus connection, the session bus by default.
//
// It owns the bus name "org.kde.StatusNotifierItem-<pid>-<n>" (n counts the items of this
// process, from 1) and serves the object /StatusNotifierItem, then registers that name with
// org.kde.StatusNotifierWatcher, and again every time the watcher name gets a new owner (a panel
// that restarts) or the watcher announces a host (StatusNotifierHostRegistered), which then reads
// the item's current icon and label, and a second after the watcher dropped the item while its
// name stayed on the bus (ten times in a row at most, until a host appears). Nothing blocks: the
// name and the registration are asked for asynchronously. Only one item can be served per
// connection at a time, as the object path is fixed.
//
// What hosts see:
// - the image as IconPixmap, drawn centred into squares of 16, 22, 24, 32 and 48 pixels,
//   straight-alpha ARGB32 with every pixel in network byte order; IconAccessibleDesc is the
//   image's accessibility description; NewIcon when either changes;
// - the title's text as XAyatanaLabel, and as XAyatanaLabelGuide the same text with every
//   character but blanks replaced by "0", so that hosts that size the label by its guide keep
//   the width steady for a code of that shape and reserve nothing when there is no title;
//   XAyatanaNewLabel(label, guide) when the text changes. The title's colour, font and baseline
//   offset cannot be expressed in the protocol; they are kept for the getters only;
// - the tooltip text as the title of ToolTip and the title's text (the code) as its description,
//   so that hosts that draw no label (swaybar, KDE Plasma, waybar) show the code on hover and
//   drop it with the label; NewToolTip when either changes;
// - Title "Zorvik", Id "net.brontal.zorvik", Category "ApplicationStatus", Status "Active" and no
//   menu ("/NO_DBUSMENU", ItemIsMenu false), so that every click reaches us. These never change,
//   so NewTitle and NewStatus are never sent.
// Activate, SecondaryActivate and ContextMenu all run the action with the point the host passes,
// turned into device-independent pixels (some hosts pass 0, 0); Scroll does nothing. The image
// position, image hugging and length have no counterpart (hosts lay out icon and label themselves)
// and are only kept.
class StatusNotifierItem final : public QObject, public StatusItem {
    Q_OBJECT

public:
    static constexpr auto watcherService = "org.kde.StatusNotifierWatcher";
    static constexpr auto objectPath = "/StatusNotifierItem";
    // The square sizes IconPixmap carries, in pixels.
    static constexpr int iconSizes[] = {16, 22, 24, 32, 48};

    explicit StatusNotifierItem(QDBusConnection bus = QDBusConnection::sessionBus(),
                                QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    void setImage(const QImage& image, const QString& accessibilityDescription) override;
    void setAttributedTitle(const AttributedTitle& title) override;
    void setImagePosition(ImagePosition position) override;
    void setImageHugsTitle(bool hugs) override;
    void setLength(double length) override;
    void setToolTip(const QString& toolTip) override;
    void setAction(std::function<void(QPoint anchor)> action) override;

    // The values last set, as the shell set them.
    const QImage& image() const { return image_; }
    const QString& accessibilityDescription() const { return accessibilityDescription_; }
    const AttributedTitle& attributedTitle() const { return title_; }
    ImagePosition imagePosition() const { return imagePosition_; }
    bool imageHugsTitle() const { return imageHugsTitle_; }
    double length() const { return length_; }
    const QString& toolTip() const { return toolTip_; }
    bool hasAction() const { return static_cast<bool>(action_); }

    // What the item shows as its label and the label's guide.
    const QString& label() const { return title_.text; }
    QString labelGuide() const { return labelGuideFor(title_.text); }
    static QString labelGuideFor(const QString& label);

    // A screen as the toolkit sees it: geometry in device-independent pixels, and its ratio.
    struct ScreenScale {
        QRect geometry;
        qreal devicePixelRatio = 1;
    };
    // Hosts report clicks in the display's own pixels, while windows are placed in
    // device-independent ones, scaled about each screen's top-left corner. A point on no
    // screen is returned as it is.
    static QPoint logicalPoint(QPoint nativePoint, const QList<ScreenScale>& screens);

    // The bus name once it is owned; empty before, and when no name could be had.
    const QString& serviceName() const { return serviceName_; }
    // Whether the watcher has accepted the item (and has not left since).
    bool isRegistered() const { return registered_; }

    // Runs the action, as a click on the item does.
    void activate(QPoint anchor);

Q_SIGNALS:
    // Once the bus name is owned, or could not be had (`serviceName` empty then).
    void serviceNameChanged(const QString& name);
    void registeredChanged(bool registered);

private Q_SLOTS:
    void hostRegistered();
    void itemUnregistered(const QString& item);

private:
    void requestName(int attempt);
    void registerWithWatcher();
    void setRegistered(bool registered);

    QDBusConnection bus_;
    QDBusServiceWatcher watcher_;
    StatusNotifierItemAdaptor* adaptor_ = nullptr;
    // Whether this item serves the object path on the connection.
    bool exported_ = false;
    // The name asked for last, until the bus answers.
    QString requestedName_;
    QString serviceName_;
    bool registered_ = false;
    // Counts the registration calls, so that only the newest one's answer counts.
    int registrationGeneration_ = 0;
    // Registers again a moment after the watcher dropped the item; counts how often in a row.
    static constexpr int kReregistrationDelayMs = 1000;
    static constexpr int kMaxReregistrations = 10;
    QTimer reregistration_;
    int reregistrations_ = 0;

    QImage image_;
    QString accessibilityDescription_;
    AttributedTitle title_;
    ImagePosition imagePosition_ = ImagePosition::imageOnly;
    bool imageHugsTitle_ = false;
    double length_ = squareLength;
    QString toolTip_;
    std::function<void(QPoint)> action_;
};
