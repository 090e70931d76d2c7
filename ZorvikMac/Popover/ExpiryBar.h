// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QWidget>

// The code card's progress bar: a thin rounded track, filled from the left by the share of the
// code's lifetime that is left, in a tint the card picks.
class ExpiryBar : public QWidget {
    Q_OBJECT

public:
    explicit ExpiryBar(QWidget* parent = nullptr);

    // Between 0 (empty) and 1 (full); anything outside is limited to that range.
    double fraction() const { return fraction_; }
    void setFraction(double fraction);
    const QColor& tint() const { return tint_; }
    void setTint(const QColor& tint);

    QSize sizeHint() const override { return {100, barHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int barHeight = 4;

    double fraction_ = 0;
    QColor tint_;
};
