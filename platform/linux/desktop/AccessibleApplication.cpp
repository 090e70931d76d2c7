// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/desktop/AccessibleApplication.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QApplication>
#include <QWidget>

namespace {

bool isNamedPopup(const QWidget* window) {
    return window->isVisible() && window->windowType() == Qt::Popup &&
           !(window->accessibleName().isEmpty() && window->windowTitle().isEmpty());
}

class Application final : public QAccessibleApplication {
public:
    int childCount() const override {
        return QAccessibleApplication::childCount() + static_cast<int>(namedPopups().size());
    }

    QAccessibleInterface* child(int index) const override {
        const int own = QAccessibleApplication::childCount();
        if (index < own) {
            return QAccessibleApplication::child(index);
        }
        const QList<QWidget*> popups = namedPopups();
        const int at = index - own;
        return at < popups.size() ? QAccessible::queryAccessibleInterface(popups.at(at)) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        const int own = QAccessibleApplication::indexOfChild(child);
        if (own >= 0 || child == nullptr) {
            return own;
        }
        const qsizetype at = namedPopups().indexOf(child->object());
        return at < 0 ? -1 : QAccessibleApplication::childCount() + static_cast<int>(at);
    }

    QAccessibleInterface* focusChild() const override {
        if (QAccessibleInterface* focused = QAccessibleApplication::focusChild()) {
            return focused;
        }
        // A popup has the keyboard without being the active window Qt looks for.
        QWidget* popup = QApplication::activePopupWidget();
        return popup != nullptr && isNamedPopup(popup)
                   ? QAccessible::queryAccessibleInterface(popup)
                   : nullptr;
    }

private:
    static QList<QWidget*> namedPopups() {
        QList<QWidget*> popups;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (isNamedPopup(window)) {
                popups.append(window);
            }
        }
        return popups;
    }
};

QAccessibleInterface* interfaceFor(const QString& className, QObject* object) {
    if (object == qApp && className == QLatin1String("QApplication")) {
        return new Application;
    }
    // Such a popup is a window to screen readers too, not a part of one.
    if (className == QLatin1String("QWidget") && object->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(object);
        if (widget->isWindow() && widget->windowType() == Qt::Popup &&
            !widget->accessibleName().isEmpty()) {
            return new QAccessibleWidget(widget, QAccessible::Window);
        }
    }
    return nullptr;
}

}  // namespace

namespace AccessibleApplication {

void install() {
    QAccessible::installFactory(interfaceFor);
}

}  // namespace AccessibleApplication
