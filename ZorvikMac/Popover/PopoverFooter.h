// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTimeZone>
#include <QWidget>
#include <functional>
#include <optional>

#include "platform/Instant.h"

class CodeReceiver;
class MainActor;
class QLabel;
class QPushButton;

// The popover's last row: "Check now", the time of the last fetch (else of the last check), the
// build number and "Quit" (Ctrl+Q, the platform's Command-Q).
class PopoverFooter : public QWidget {
    Q_OBJECT

public:
    PopoverFooter(CodeReceiver& receiver, MainActor& mainActor, QTimeZone timeZone,
                  std::function<void()> quit, QWidget* parent = nullptr);
    ~PopoverFooter() override;

    // The time of day the footer shows for `instant`: the user's short time style in `timeZone`.
    static QString timeText(Instant instant, const QTimeZone& timeZone);

protected:
    void changeEvent(QEvent* event) override;

private:
    void showInfo();
    void checkNow();
    void applyColors();

    CodeReceiver& receiver_;
    MainActor& mainActor_;
    QTimeZone timeZone_;
    std::function<void()> quit_;

    QPushButton* checkNowButton_ = nullptr;
    QLabel* lastCheck_ = nullptr;
    QLabel* build_ = nullptr;
    QPushButton* quitButton_ = nullptr;
};
