// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QWidget>

// A small round mark: a filled circle, or a ring drawn inside its bounds. The checklist uses it
// for "pending" and "info" and for the folded header's readiness dot.
class StatusDot : public QWidget {
    Q_OBJECT

public:
    enum class Shape { filled, ring };

    explicit StatusDot(int diameter, QWidget* parent = nullptr);

    Shape shape() const { return shape_; }
    const QColor& color() const { return color_; }
    qreal lineWidth() const { return lineWidth_; }

    void setColor(const QColor& color);
    // A ring's line is `lineWidth` wide and lies wholly inside the dot's square.
    void setShape(Shape shape, qreal lineWidth = 1.0);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int diameter_;
    Shape shape_ = Shape::filled;
    qreal lineWidth_ = 1.0;
    QColor color_;
};
