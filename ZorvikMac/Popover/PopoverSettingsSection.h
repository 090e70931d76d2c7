// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <optional>

#include "platform/Instant.h"
#include "platform/TaskContext.h"

class AutoFillSettings;
class CodeReceiver;
class MacSettings;
class MainActor;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

// The popover's settings: check boxes bound both ways to the settings, the login item's error,
// the poll interval, "Copy diagnostics" and, while AutoFill is on, "AutoFill Settings…".
class PopoverSettingsSection : public QWidget {
    Q_OBJECT

public:
    // How long "Copy diagnostics" reads "Diagnostics copied" after a click.
    static constexpr double diagnosticsCopiedFor = 3;

    PopoverSettingsSection(CodeReceiver& receiver, MacSettings& settings, MainActor& mainActor,
                           AutoFillSettings& autoFillSettings, bool panelDrawsCode = true,
                           QWidget* parent = nullptr);
    ~PopoverSettingsSection() override;

    // When "Copy diagnostics" was last clicked; absent until then.
    const std::optional<Instant>& copiedDiagnosticsAt() const { return copiedDiagnosticsAt_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    QCheckBox* makeCheckBox(const QString& objectName, const QString& text,
                            bool (MacSettings::*get)() const, void (MacSettings::*set)(bool),
                            void (MacSettings::*changed)(bool));
    void showSettings();
    void showProbe();
    void showPollInterval();
    void pickPollInterval(int index);
    void copyDiagnostics();
    // Draws the diagnostics button for the moment of drawing.
    void drawDiagnosticsButton();
    void applyColors();

    CodeReceiver& receiver_;
    MacSettings& settings_;
    MainActor& mainActor_;
    AutoFillSettings& autoFillSettings_;
    std::optional<Instant> copiedDiagnosticsAt_;
    // The redraw at the moment "Diagnostics copied" runs out.
    TaskHandle diagnosticsRedraw_;
    std::optional<bool> showsDiagnosticsCopied_;

    QCheckBox* launchAtLogin_ = nullptr;
    QLabel* launchAtLoginError_ = nullptr;
    QComboBox* pollInterval_ = nullptr;
    QPushButton* diagnosticsButton_ = nullptr;
    QPushButton* autoFillSettingsButton_ = nullptr;
};
