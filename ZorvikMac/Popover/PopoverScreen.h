// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

// The usable height (in points) of the screen the popover opens on; the popover view caps its
// own height by it. The shell sets it each time the popover is shown.
class PopoverScreen : public QObject {
    Q_OBJECT

public:
    // What is assumed while no screen is known.
    static constexpr double defaultHeight = 900;

    explicit PopoverScreen(QObject* parent = nullptr) : QObject(parent) {}

    double height() const { return height_; }
    void setHeight(double height) {
        if (height_ == height) {
            return;
        }
        height_ = height;
        Q_EMIT heightChanged(height_);
    }

Q_SIGNALS:
    void heightChanged(double height);

private:
    double height_ = defaultHeight;
};
