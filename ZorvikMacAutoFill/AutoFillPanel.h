// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QPointer>
#include <QWidget>
#include <optional>

#include "platform/Instant.h"
#include "platform/Task.h"
#include "platform/TaskContext.h"

class AutoFillModel;
class MainActor;
class QBoxLayout;
class QLabel;
class QPushButton;
class SymbolView;

// The AutoFill panel, 320 points wide: the waiting, expired, code and configuration states of
// the model, with the buttons that end the request through the model's callbacks. From the
// moment it is first shown it refreshes the model once a second on the main actor's clock.
class AutoFillPanel : public QWidget {
    Q_OBJECT

public:
    AutoFillPanel(AutoFillModel& model, QColor gold, MainActor& mainActor,
                  QWidget* parent = nullptr);
    ~AutoFillPanel() override;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildHeader(QBoxLayout* layout);
    QWidget* buildConfigurationBody();
    QWidget* buildCodeBody();
    QWidget* buildWaitingBody();
    void installShortcuts();

    // One turn of the once-a-second schedule: re-reads the model when time has moved on and
    // redraws the countdown for `instant`.
    void tick(Instant instant);
    static Task<void> runTicks(QPointer<AutoFillPanel> panel, MainActor& mainActor);

    // Shows the body for the model's state and fills in its texts.
    void showModel();
    void showCountdown();
    // Colours that follow the palette (secondary text, orange) and the gold accents.
    void applyColors();

    void fill();
    void cancel();
    void done();
    void refresh();
    void triggerDefaultAction();
    void triggerCancelAction();

    AutoFillModel& model_;
    QColor gold_;
    MainActor& mainActor_;
    TaskHandle ticks_;
    std::optional<Instant> lastTick_;
    // The instant the countdown is measured from: the latest tick or Refresh.
    std::optional<Instant> shownAt_;

    SymbolView* lockSymbol_ = nullptr;
    QLabel* title_ = nullptr;

    QWidget* configurationBody_ = nullptr;
    QLabel* configurationDetail_ = nullptr;
    QPushButton* doneButton_ = nullptr;

    QWidget* codeBody_ = nullptr;
    QLabel* accountName_ = nullptr;
    QLabel* fromDevice_ = nullptr;
    QLabel* code_ = nullptr;
    QLabel* countdown_ = nullptr;
    QWidget* differentSite_ = nullptr;
    SymbolView* differentSiteSymbol_ = nullptr;
    QLabel* differentSiteText_ = nullptr;
    QPushButton* codeCancelButton_ = nullptr;
    QPushButton* fillButton_ = nullptr;

    QWidget* waitingBody_ = nullptr;
    SymbolView* phoneSymbol_ = nullptr;
    QLabel* waitingDetail_ = nullptr;
    QPushButton* waitingCancelButton_ = nullptr;
    QPushButton* refreshButton_ = nullptr;
};
