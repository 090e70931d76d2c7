// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <memory>

#include "ZorvikMacAutoFill/AutoFillInterface.h"

class MainActor;

// The AutoFill panel in a top-level window of its own, as the browser's request shows it.
class PanelWindow final : public AutoFillPanelWindow {
public:
    PanelWindow(AutoFillModel& model, MainActor& mainActor, QSize size);
    ~PanelWindow() override;

    QWidget* widget() const { return window_.get(); }

    QSize size() const override;
    void present(QSize size, std::function<void()> closed) override;
    void hide() override;

private:
    std::unique_ptr<QWidget> window_;
};
