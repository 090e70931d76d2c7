// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Popover/CodeAnnouncer.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QTimer>

namespace {

QAccessibleInterface* notificationFor(const QString& className, QObject* object) {
    if (className == QLatin1String("CodeAnnouncer") && object->isWidgetType()) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Notification);
    }
    return nullptr;
}

}  // namespace

CodeAnnouncer::CodeAnnouncer(QWidget* parent) : QWidget(parent) {
    static const bool installed = [] {
        QAccessible::installFactory(notificationFor);
        return true;
    }();
    (void)installed;
    setObjectName(QStringLiteral("announcer"));
    setFixedSize(0, 0);
    setFocusPolicy(Qt::NoFocus);
    // Hidden between announcements, so that showing what holds it announces nothing.
    hide();
}

void CodeAnnouncer::announce(const QString& text) {
    // Screen readers speak a notification as it starts showing. Showing it lays its parent out
    // again, which waits for the layout under way (a new code's card) to finish.
    QTimer::singleShot(0, this, [this, text] {
        hide();
        setAccessibleName(text);
        show();
    });
}
