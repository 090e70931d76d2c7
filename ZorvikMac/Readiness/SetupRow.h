// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QTimeZone>
#include <optional>

#include "ZorvikMac/Readiness/SetupProbe.h"
#include "platform/Instant.h"

// One line of the setup checklist in the popover: what it is about, how it stands, its text and
// what its button does.
struct SetupRow {
    // Its texts, and the checklist's, are translated in this context.
    Q_DECLARE_TR_FUNCTIONS(SetupRow)

public:
    // The order is the order of the checklist.
    enum class Kind { cloud, syncKey, push, autoFill, notifications, launchAtLogin, firstCode };
    enum class State { ok, pending, failed, info };
    enum class Action {
        openICloudSettings,
        openNotificationSettings,
        turnOnAutoFill,
        toggleLaunchAtLogin,
        signInToICloud,
        signOutOfICloud,
        pairWithIPhone,
        unlockKeyring,
        confirmICloudAccount,
        declineICloudAccount,
    };

    Kind kind = Kind::cloud;
    State state = State::pending;
    QString title;
    std::optional<QString> detail;
    std::optional<Action> action;
    std::optional<QString> buttonTitle;
    // A small activity indicator next to the title while something is on its way.
    bool spinner = false;
    // A second button beside the first, for a choice between two.
    std::optional<Action> secondaryAction;
    std::optional<QString> secondaryButtonTitle;
    // The account the row asks the user about; its buttons answer for that account only.
    std::optional<QString> account;

    bool operator==(const SetupRow&) const = default;
};

// The raw value of a kind is its case name ("cloud", "syncKey", …).
QString rawValue(SetupRow::Kind kind);
// Nothing for any text that is not exactly a kind's raw value.
std::optional<SetupRow::Kind> setupRowKind(const QString& rawValue);
// The case names, as they appear in the log.
QString caseName(SetupRow::State state);
QString caseName(SetupRow::Action action);

// The seven rows of the checklist for `probe`, in kind order. `now` and `timeZone` decide how
// the time of the last received code reads.
QList<SetupRow> setupRows(const SetupProbe& probe, Instant now, const QTimeZone& timeZone);

// `date` as a time of day ("09:41") when it falls on the same calendar day as `now` in
// `timeZone`, else with the month and day in front ("Mar 7, 09:41"). English month names and a
// 24-hour clock whatever the user's locale.
QString receivedTimeText(Instant date, Instant now, const QTimeZone& timeZone);

// Whether any row that the user has to see to (all but the login item and the first code) is
// still pending or has failed.
bool needsAttention(const QList<SetupRow>& rows);

// What to tell the user of a clock `secondsAhead` of the phone's (negative: behind), in
// rounded minutes, hours or days, with how to set it right.
QString clockOffsetText(double secondsAhead);

// One line for the collapsed checklist: how many rows need the user, else how far setup is.
QString setupSummary(const QList<SetupRow>& rows);
