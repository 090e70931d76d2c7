// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/desktop/LinuxStatusItem.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QTimer>
#include <utility>

LinuxStatusItem::LinuxStatusItem(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(bus), item_(bus) {
    item_.setAction([this](QPoint anchor) { runAction(anchor); });
    connect(&item_, &StatusNotifierItem::registeredChanged, this, &LinuxStatusItem::updateStandIn);

    const bool x11Widgets = qobject_cast<QApplication*>(QCoreApplication::instance()) &&
                            QGuiApplication::platformName() == QLatin1String("xcb");
    if (!x11Widgets || !bus.isConnected()) {
        return;
    }
    QDBusMessage question = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    question << QString::fromLatin1(StatusNotifierItem::watcherService);
    auto* call = new QDBusPendingCallWatcher(bus.asyncCall(question), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<bool> reply = *call;
        canStandIn_ = reply.isValid() && !reply.value();
        updateStandIn();
    });
}

LinuxStatusItem::~LinuxStatusItem() = default;

void LinuxStatusItem::updateStandIn() {
    const bool wanted = canStandIn_ && !item_.isRegistered();
    if (wanted == static_cast<bool>(standIn_)) {
        return;
    }
    if (!wanted) {
        standIn_.reset();
        Q_EMIT standInChanged();
        return;
    }
    standIn_ = std::make_unique<TrayIconStatusItem>();
    standIn_->setAction([this](QPoint anchor) { runAction(anchor); });
    standIn_->setToolTip(item_.toolTip());
    standIn_->setAttributedTitle(item_.attributedTitle());
    standIn_->setImagePosition(item_.imagePosition());
    standIn_->setImageHugsTitle(item_.imageHugsTitle());
    standIn_->setLength(item_.length());
    // Last, as it shows the icon.
    standIn_->setImage(item_.image(), item_.accessibilityDescription());
    Q_EMIT standInChanged();
}

void LinuxStatusItem::setImage(const QImage& image, const QString& accessibilityDescription) {
    item_.setImage(image, accessibilityDescription);
    if (standIn_) {
        standIn_->setImage(image, accessibilityDescription);
    }
}

void LinuxStatusItem::setAttributedTitle(const AttributedTitle& title) {
    item_.setAttributedTitle(title);
    if (standIn_) {
        standIn_->setAttributedTitle(title);
    }
}

void LinuxStatusItem::setImagePosition(ImagePosition position) {
    item_.setImagePosition(position);
    if (standIn_) {
        standIn_->setImagePosition(position);
    }
}

void LinuxStatusItem::setImageHugsTitle(bool hugs) {
    item_.setImageHugsTitle(hugs);
    if (standIn_) {
        standIn_->setImageHugsTitle(hugs);
    }
}

void LinuxStatusItem::setLength(double length) {
    item_.setLength(length);
    if (standIn_) {
        standIn_->setLength(length);
    }
}

bool LinuxStatusItem::drawsTitle() const {
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts);
    return !desktops.contains(QStringLiteral("KDE"), Qt::CaseInsensitive) &&
           !desktops.contains(QStringLiteral("XFCE"), Qt::CaseInsensitive);
}

void LinuxStatusItem::setToolTip(const QString& toolTip) {
    item_.setToolTip(toolTip);
    if (standIn_) {
        standIn_->setToolTip(toolTip);
    }
}

void LinuxStatusItem::setAction(std::function<void(QPoint anchor)> action) {
    action_ = std::move(action);
}

void LinuxStatusItem::askWhetherShown(std::function<void(bool shown)> answer) {
    // Both answers come through this object's events, which end with it. The stand-in is looked
    // at once the watcher has answered: by then it has been made, if it may be.
    const auto answerWith = [this, answer = std::move(answer)](bool hostRegistered) {
        const bool xembedTray = standIn_ != nullptr && QSystemTrayIcon::isSystemTrayAvailable();
        answer(hostRegistered || xembedTray);
    };
    if (!bus_.isConnected()) {
        QTimer::singleShot(0, this, [answerWith] { answerWith(false); });
        return;
    }
    QDBusMessage question = QDBusMessage::createMethodCall(
        QString::fromLatin1(StatusNotifierItem::watcherService),
        QStringLiteral("/StatusNotifierWatcher"), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    question << QString::fromLatin1(StatusNotifierItem::watcherService)
             << QStringLiteral("IsStatusNotifierHostRegistered");
    // No watcher is an answer too: none is to be started for the question.
    question.setAutoStartService(false);
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(question), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
            [answerWith](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *call;
                answerWith(reply.isValid() && reply.value().variant().toBool());
            });
}

void LinuxStatusItem::runAction(QPoint anchor) {
    // A copy: the action may replace itself.
    const auto action = action_;
    if (action) {
        action(anchor);
    }
}
