// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/desktop/QtScreens.h"

#include <QGuiApplication>
#include <QScreen>

double QtScreens::mainScreenHeight() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    return primary != nullptr ? primary->geometry().height() : 0;
}

Screens::Screen QtScreens::describe(const QScreen& screen) {
    return {fromGlobal(QRectF(screen.geometry())), fromGlobal(QRectF(screen.availableGeometry())),
            screen.devicePixelRatio(), &screen == QGuiApplication::primaryScreen()};
}

std::vector<Screens::Screen> QtScreens::screens() const {
    std::vector<Screen> all;
    for (const QScreen* screen : QGuiApplication::screens()) {
        all.push_back(describe(*screen));
    }
    return all;
}
