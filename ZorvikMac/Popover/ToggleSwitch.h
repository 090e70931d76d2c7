// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractButton>

// An on/off switch without a label of its own, at the smallest size: a rounded track with a
// round knob that sits right while on. It is a checkable button, so `clicked(bool)` reports the
// user's flips and `setChecked` moves it without that signal. Give it an accessible name for
// screen readers, since nothing visible names it.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT

public:
    explicit ToggleSwitch(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // A focus ring only when the keyboard brought the focus, never after a click.
    bool keyboardFocus_ = false;
};
