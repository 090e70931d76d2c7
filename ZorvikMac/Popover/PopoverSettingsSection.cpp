// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Popover/PopoverSettingsSection.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <functional>

#include "ZorvikMac/Popover/PopoverLook.h"
#include "ZorvikMac/Readiness/MacSettings.h"
#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "platform/MainActor.h"
#include "platform/Workspace.h"
#include "shared/symbols/InterfaceStyle.h"
#include "shared/symbols/Symbols.h"
#include "shared/symbols/WidgetKit.h"

namespace {

using InterfaceStyle::systemFont;
using PopoverLook::settingsTextSize;
using WidgetKit::makeRow;

// Runs `redraw` once, `seconds` from now, unless the owner is gone or the task was cancelled.
Task<void> redrawAfter(MainActor& mainActor, double seconds, QPointer<QObject> owner,
                       std::function<void()> redraw) {
    co_await mainActor.sleep(seconds);
    const bool cancelled = co_await isCancelled();
    if (cancelled || !owner) {
        co_return;
    }
    redraw();
}

}  // namespace

PopoverSettingsSection::PopoverSettingsSection(CodeReceiver& receiver, MacSettings& settings,
                                               MainActor& mainActor,
                                               AutoFillSettings& autoFillSettings,
                                               bool panelDrawsCode, QWidget* parent)
    : QWidget(parent),
      receiver_(receiver),
      settings_(settings),
      mainActor_(mainActor),
      autoFillSettings_(autoFillSettings) {
    setObjectName(QStringLiteral("settingsSection"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 12, 16, 12);
    column->setSpacing(8);

    column->addWidget(makeCheckBox(QStringLiteral("copyToClipboard"),
                                   tr("Copy codes to the clipboard for 90 s"),
                                   &MacSettings::copyToClipboard, &MacSettings::setCopyToClipboard,
                                   &MacSettings::copyToClipboardChanged));
    column->addWidget(makeCheckBox(QStringLiteral("showCodeInMenuBar"),
                                   panelDrawsCode ? tr("Show the code in the panel")
                                                  : tr("Show the code in the tray icon's tooltip"),
                                   &MacSettings::showCodeInMenuBar,
                                   &MacSettings::setShowCodeInMenuBar,
                                   &MacSettings::showCodeInMenuBarChanged));
    column->addWidget(
        makeCheckBox(QStringLiteral("notify"), tr("Show a notification with a Copy button"),
                     &MacSettings::notify, &MacSettings::setNotify, &MacSettings::notifyChanged));
    // While the checklist is unfolded, its own login-item row carries the switch.
    column->addWidget(launchAtLogin_ =
                          makeCheckBox(QStringLiteral("launchAtLogin"), tr("Launch at login"),
                                       &MacSettings::launchAtLogin, &MacSettings::setLaunchAtLogin,
                                       &MacSettings::launchAtLoginChanged));

    launchAtLoginError_ = WidgetKit::makeLabel(QStringLiteral("launchAtLoginError"),
                                               systemFont(InterfaceStyle::captionSize), this);
    launchAtLoginError_->setWordWrap(true);
    column->addWidget(launchAtLoginError_);

    auto* intervalRow = makeRow(6);
    auto* intervalLabel =
        WidgetKit::makeLabel(QStringLiteral("pollIntervalLabel"), systemFont(settingsTextSize),
                             this, tr("Check iCloud every"));
    pollInterval_ = new QComboBox(this);
    pollInterval_->setObjectName(QStringLiteral("pollInterval"));
    pollInterval_->setFont(systemFont(PopoverLook::smallControlTextSize));
    pollInterval_->setFixedWidth(70);
    // The label beside it names it; the picker's own label stays hidden.
    pollInterval_->setAccessibleName(intervalLabel->text());
    // The label speaks for the picker, as screen readers find through the relation.
    intervalLabel->setBuddy(pollInterval_);
    for (const double seconds : MacSettings::pollIntervalChoices()) {
        pollInterval_->addItem(tr("%1 s").arg(static_cast<long long>(seconds)), seconds);
    }
    connect(pollInterval_, &QComboBox::currentIndexChanged, this,
            &PopoverSettingsSection::pickPollInterval);
    intervalRow->addWidget(intervalLabel);
    intervalRow->addWidget(pollInterval_);
    intervalRow->addStretch(1);
    column->addLayout(intervalRow);

    auto* actionsRow = makeRow(8);
    diagnosticsButton_ =
        PopoverLook::makeSmallButton(QStringLiteral("diagnosticsButton"), QString(), this);
    diagnosticsButton_->setIconSize(
        QSize(PopoverLook::smallSymbolSide, PopoverLook::smallSymbolSide));
    connect(diagnosticsButton_, &QPushButton::clicked, this,
            &PopoverSettingsSection::copyDiagnostics);
    autoFillSettingsButton_ = PopoverLook::makeTextButton(QStringLiteral("autoFillSettingsButton"),
                                                          tr("AutoFill Settings\u2026"), this);
    connect(autoFillSettingsButton_, &QPushButton::clicked, this,
            [this] { autoFillSettings_.openCredentialProviderAppSettings(); });
    actionsRow->addWidget(diagnosticsButton_);
    actionsRow->addStretch(1);
    actionsRow->addWidget(autoFillSettingsButton_);
    column->addLayout(actionsRow);

    connect(&settings_, &MacSettings::setupCollapsedChanged, this,
            &PopoverSettingsSection::showSettings);
    connect(&settings_, &MacSettings::launchAtLoginErrorChanged, this,
            &PopoverSettingsSection::showSettings);
    connect(&settings_, &MacSettings::pollIntervalChanged, this,
            &PopoverSettingsSection::showPollInterval);
    connect(&receiver_, &CodeReceiver::probeChanged, this, &PopoverSettingsSection::showProbe);
    showSettings();
    showPollInterval();
    showProbe();
    drawDiagnosticsButton();
    applyColors();
}

PopoverSettingsSection::~PopoverSettingsSection() {
    diagnosticsRedraw_.cancel();
}

QCheckBox* PopoverSettingsSection::makeCheckBox(const QString& objectName, const QString& text,
                                                bool (MacSettings::*get)() const,
                                                void (MacSettings::*set)(bool),
                                                void (MacSettings::*changed)(bool)) {
    auto* box = new QCheckBox(text, this);
    box->setObjectName(objectName);
    box->setFont(systemFont(settingsTextSize));
    box->setChecked((settings_.*get)());
    // The settings are captured themselves, not reached through `this`: g++ 12's vptr check
    // (UndefinedBehaviorSanitizer) reads a register it never set when a lambda calls a member
    // pointer on a member of its captured `this`, and stopped the sanitizer build here.
    connect(box, &QCheckBox::toggled, this, [settings = &settings_, box, get, set](bool checked) {
        (settings->*set)(checked);
        // A change the settings refused (the login item) shows what they hold now.
        if (box->isChecked() != (settings->*get)()) {
            const QSignalBlocker blocker(box);
            box->setChecked((settings->*get)());
        }
    });
    connect(&settings_, changed, box, [box](bool value) {
        const QSignalBlocker blocker(box);
        box->setChecked(value);
    });
    return box;
}

void PopoverSettingsSection::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        applyColors();
    }
}

void PopoverSettingsSection::showSettings() {
    launchAtLogin_->setVisible(settings_.setupCollapsed());
    const std::optional<QString>& error = settings_.launchAtLoginError();
    launchAtLoginError_->setText(error.value_or(QString()));
    launchAtLoginError_->setVisible(error.has_value());
}

void PopoverSettingsSection::showProbe() {
    autoFillSettingsButton_->setVisible(receiver_.probe().autoFillEnabled == true);
    // Any redraw of the popover redraws the diagnostics button too.
    drawDiagnosticsButton();
}

void PopoverSettingsSection::showPollInterval() {
    const QSignalBlocker blocker(pollInterval_);
    // A value that is none of the choices (only an old store could hold one) selects nothing.
    pollInterval_->setCurrentIndex(
        MacSettings::pollIntervalChoices().indexOf(settings_.pollInterval()));
}

void PopoverSettingsSection::pickPollInterval(int index) {
    const QList<double>& choices = MacSettings::pollIntervalChoices();
    if (index < 0 || index >= choices.size()) {
        return;
    }
    settings_.setPollInterval(choices[index]);
}

void PopoverSettingsSection::copyDiagnostics() {
    receiver_.copyDiagnostics();
    copiedDiagnosticsAt_ = mainActor_.now();
    drawDiagnosticsButton();
    // The label has no clock of its own; it is drawn once more when it runs out.
    diagnosticsRedraw_.cancel();
    diagnosticsRedraw_ =
        mainActor_.spawn(redrawAfter(mainActor_, diagnosticsCopiedFor, QPointer<QObject>(this),
                                     [this] { drawDiagnosticsButton(); }));
}

void PopoverSettingsSection::drawDiagnosticsButton() {
    const bool copied =
        copiedDiagnosticsAt_ &&
        secondsBetween(*copiedDiagnosticsAt_, mainActor_.now()) < diagnosticsCopiedFor;
    if (showsDiagnosticsCopied_ == copied) {
        return;
    }
    showsDiagnosticsCopied_ = copied;
    diagnosticsButton_->setText(copied ? tr("Diagnostics copied") : tr("Copy diagnostics"));
    applyColors();
}

void PopoverSettingsSection::applyColors() {
    const QPalette& current = palette();
    WidgetKit::setTextColor(launchAtLoginError_, InterfaceStyle::orange(current));
    const QString symbol = showsDiagnosticsCopied_.value_or(false) ? QStringLiteral("checkmark")
                                                                   : QStringLiteral("stethoscope");
    diagnosticsButton_->setIcon(Symbols::icon(symbol, current.color(QPalette::ButtonText)));
}
