// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/Task.h"
#include "platform/TaskContext.h"

class MainActor;

// A small indeterminate progress spinner: spokes that fade round the circle. It turns on the main
// actor's clock, and only while it is shown, so a hidden spinner costs nothing and tests move it
// on virtual time.
class ActivitySpinner : public QWidget {
    Q_OBJECT

public:
    static constexpr int side = 10;
    static constexpr int spokes = 8;
    // Seconds from one spoke to the next.
    static constexpr double step = 0.1;

    explicit ActivitySpinner(MainActor& mainActor, QWidget* parent = nullptr);
    ~ActivitySpinner() override;

    // Which spoke is the brightest, 0 to spokes - 1.
    int phase() const { return phase_; }
    bool isSpinning() const { return spinning_ != TaskHandle(); }

    QSize sizeHint() const override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    static Task<void> spin(QPointer<ActivitySpinner> spinner, MainActor& mainActor);
    void stop();

    MainActor& mainActor_;
    TaskHandle spinning_;
    int phase_ = 0;
};
