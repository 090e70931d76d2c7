// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Readiness/DiagnosticsReport.h"

#include <QStringList>
#include <cmath>

#include "ZorvikMac/Readiness/SetupRow.h"
#include "platform/BundleInfo.h"
#include "shared/Iso8601.h"

namespace {

// Dates in UTC to the second with a trailing Z, as support tooling reads them.
class ReportDateFormatter {
public:
    QString string(Instant date) const {
        return Iso8601::format(date).value_or(QStringLiteral("?"));
    }
    QString stringOrNever(const std::optional<Instant>& date) const {
        return date ? string(*date) : QStringLiteral("never");
    }
};

QString marker(SetupRow::State state) {
    switch (state) {
        case SetupRow::State::ok:
            return QStringLiteral("OK");
        case SetupRow::State::pending:
            return QStringLiteral("WAIT");
        case SetupRow::State::failed:
            return QStringLiteral("FAIL");
        case SetupRow::State::info:
            break;
    }
    return QStringLiteral("--");
}

QString yesNoPending(const std::optional<bool>& value, const std::optional<QString>& error) {
    QString text = !value ? QStringLiteral("pending")
                          : (*value ? QStringLiteral("yes") : QStringLiteral("no"));
    if (error) {
        text += QStringLiteral(" (") + *error + QLatin1Char(')');
    }
    return text;
}

}  // namespace

QString diagnosticsText(const SetupProbe& probe, const DiagnosticsInfo& info, Instant now,
                        const QTimeZone& timeZone) {
    const ReportDateFormatter dates;
    QStringList lines;
    lines.append(BundleInfo::reportHeading(info.appVersion, info.build, info.macOSVersion));
    lines.append(QStringLiteral("Checked: ") + dates.stringOrNever(info.checkedAt));
    // Support needs to know which cloud answered before reading the rows.
    if (!probe.cloudBackend.description.isEmpty()) {
        lines.append(QStringLiteral("Cloud: ") + probe.cloudBackend.description);
    }
    for (const SetupRow& row : setupRows(probe, now, timeZone)) {
        lines.append(QLatin1Char('[') + marker(row.state) + QStringLiteral("] ") + row.title);
    }
    lines.append(QStringLiteral("Push registered: ") +
                 yesNoPending(probe.pushRegistered, probe.pushError));
    lines.append(QStringLiteral("Subscription saved: ") +
                 yesNoPending(probe.subscriptionSaved, probe.subscriptionError));
    QString lastPush = QStringLiteral("Last push: ") + dates.stringOrNever(info.lastPushAt);
    if (!info.lastPushAt) {
        lastPush += QStringLiteral(" (background poll every %1 s covers it)")
                        .arg(static_cast<long long>(std::trunc(info.pollInterval)));
    }
    lines.append(lastPush);
    lines.append(QStringLiteral("Last fetch: ") + dates.stringOrNever(info.lastFetchAt) +
                 QStringLiteral(" \u2014 ") +
                 info.lastFetchResult.value_or(QStringLiteral("none yet")));
    if (info.layout) {
        lines.append(QStringLiteral("Layout: ") + *info.layout);
    }
    if (probe.lastReceivedAt) {
        lines.append(QStringLiteral("Last received: ") +
                     probe.lastReceivedName.value_or(QStringLiteral("code")) +
                     QStringLiteral(" at ") + dates.string(*probe.lastReceivedAt));
    } else {
        lines.append(QStringLiteral("Last received: never"));
    }
    lines.append(QStringLiteral("Last error: ") + info.lastError.value_or(QStringLiteral("none")));
    return lines.join(QLatin1Char('\n'));
}
