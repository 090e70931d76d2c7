// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

// A hairline one point tall across the popover, in a faint shade of the palette's text.
class PopoverDivider : public QWidget {
    Q_OBJECT

public:
    explicit PopoverDivider(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {0, 1}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};
