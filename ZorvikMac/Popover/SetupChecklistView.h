// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>
#include <map>

#include "ZorvikMac/Popover/PopoverEnvironment.h"
#include "ZorvikMac/Readiness/SetupRow.h"
#include "platform/Logger.h"
#include "platform/Task.h"
#include "platform/TaskContext.h"

class CodeReceiver;
class FoldingBox;
class MacSettings;
class QAbstractButton;
class QLabel;
class QPushButton;
class StatusDot;

// The foldable setup checklist at the top of the popover: the seven readiness rows with their
// state symbols, details and controls, or, folded, a one-line summary.
//
// It keeps no state of its own: folded or not is the setting `setupCollapsed`, and everything
// shown is drawn again from the receiver's probe and the settings whenever they announce a
// change. Clicking the header flips the setting and animates the fold.
class SetupChecklistView : public QWidget {
    Q_OBJECT

public:
    // How long the header's click takes to fold or open the rows, in seconds, and how many
    // steps it draws on the way.
    static constexpr double foldDuration = 0.15;
    static constexpr int foldSteps = 10;

    SetupChecklistView(CodeReceiver& receiver, MacSettings& settings,
                       PopoverEnvironment environment, QWidget* parent = nullptr);
    ~SetupChecklistView() override;

    // The button of the first row that needs the user, while the rows are unfolded; else
    // nothing.
    QWidget* firstNeedingUser() const;
    // What a screen reader says of a row's state ("done", "needs attention", "waiting").
    static QString spokenState(SetupRow::State state);

protected:
    void changeEvent(QEvent* event) override;

private:
    class Chevron;
    class HeaderButton;
    class RowView;

    QWidget* buildHeader();
    QWidget* buildRows();

    // Everything drawn from the probe and the settings, as of now.
    void refresh();
    void showHeader(const QList<SetupRow>& rows);
    void showRows(const QList<SetupRow>& rows);
    void showLaunchAtLogin();
    // Puts the chevron and the rows where the setting says, at once or with the animation.
    void showFolding(bool animated);
    void applyColors();

    void toggleFolded();
    void recheck();
    void perform(SetupRow::Action action, const std::optional<QString>& account);
    void flipLaunchAtLogin(bool on);

    static Task<void> fold(QPointer<SetupChecklistView> view, MainActor& mainActor, qreal fromAngle,
                           qreal toAngle, qreal fromShare, qreal toShare);
    static Task<void> runChecks(QPointer<CodeReceiver> receiver);

    CodeReceiver& receiver_;
    MacSettings& settings_;
    PopoverEnvironment environment_;
    Logger logger_;

    HeaderButton* header_ = nullptr;
    Chevron* chevron_ = nullptr;
    QLabel* title_ = nullptr;
    StatusDot* dot_ = nullptr;
    QLabel* summary_ = nullptr;
    FoldingBox* rowsBox_ = nullptr;
    std::map<SetupRow::Kind, RowView*> rowViews_;
    QPushButton* recheckButton_ = nullptr;

    // Set while the header's own click changes the setting, so that change is animated.
    bool animateFolding_ = false;
    TaskHandle folding_;
};
