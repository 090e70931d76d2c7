// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QTimeZone>
#include <QWidget>

class CodeReceiver;
class MainActor;
class QLabel;

// The popover header's readiness mark: a small orange dot and "Needs setup" while a checklist row
// needs the user, else a green dot and "Ready". Follows the receiver's probe.
class ReadinessMark : public QWidget {
    Q_OBJECT

public:
    ReadinessMark(CodeReceiver& receiver, MainActor& mainActor, QTimeZone timeZone,
                  QWidget* parent = nullptr);
    ~ReadinessMark() override;

    bool needsAttention() const { return needsAttention_; }
    QColor dotColor() const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void showProbe();
    void applyColors();

    CodeReceiver& receiver_;
    MainActor& mainActor_;
    QTimeZone timeZone_;
    bool needsAttention_ = true;
    QWidget* dot_ = nullptr;
    QLabel* caption_ = nullptr;
};
