// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QStringList>

#include "ZorvikMac/Readiness/DiagnosticsReport.h"
#include "shared/Iso8601.h"

namespace {

const Instant kNow = addingSeconds(*Iso8601::parse(u"2025-03-07T08:41:05Z"), 0.734);

DiagnosticsInfo freshInfo() {
    DiagnosticsInfo info;
    info.appVersion = "1.2";
    info.build = "42";
    info.macOSVersion = "Debian GNU/Linux 12 (bookworm), Linux 6.1.0-27-amd64";
    info.pollInterval = 5.9;  // written as whole seconds
    return info;
}

QStringList linesOf(const SetupProbe& probe, const DiagnosticsInfo& info) {
    return diagnosticsText(probe, info, kNow, QTimeZone::utc()).split('\n');
}

TEST(DiagnosticsReportTest, AFreshReceiverReadsLineByLine) {
    const QString report = diagnosticsText(SetupProbe{}, freshInfo(), kNow, QTimeZone::utc());
    EXPECT_EQ(
        report.split('\n'),
        (QStringList{
            "Zorvik for Linux 1.2 (42) \u2014 Debian GNU/Linux 12 (bookworm), Linux 6.1.0-27-amd64",
            "Checked: never",
            "[WAIT] iCloud: checking\u2026",
            "[WAIT] Keyring: checking\u2026",
            "[WAIT] Registering\u2026",
            "[WAIT] AutoFill: checking\u2026",
            "[WAIT] Notifications: checking\u2026",
            "[--] Launch at login: off",
            "[WAIT] Waiting for your first code \u2014 tap any account in Zorvik on your "
            "iPhone",
            "Push registered: pending",
            "Subscription saved: pending",
            "Last push: never (background poll every 5 s covers it)",
            "Last fetch: never \u2014 none yet",
            "Last received: never",
            "Last error: none",
        }));
    EXPECT_FALSE(report.endsWith('\n'));
}

TEST(DiagnosticsReportTest, EveryKnownValueIsWrittenWithDatesInUtcToTheSecond) {
    SetupProbe probe;
    probe.cloud = {CloudAccountState::Kind::signedIn, {}};
    probe.cloudBackend.kind = CloudBackendInfo::Kind::web;
    probe.cloudBackend.canSignIn = true;
    probe.cloudBackend.description = "iCloud on the web (iCloud.net.brontal.zorvik, production)";
    probe.pushRegistered = false;
    probe.pushError = "denied";
    probe.subscriptionSaved = true;
    probe.lastReceivedAt = addingSeconds(*Iso8601::parse(u"2025-03-07T09:40:59+01:00"), 0.999);
    DiagnosticsInfo info = freshInfo();
    info.checkedAt = kNow;
    info.lastPushAt = *Iso8601::parse(u"2025-03-07T08:40:00Z");
    info.lastFetchAt = addingSeconds(*Iso8601::parse(u"2025-03-07T08:40:01Z"), 0.5);
    info.lastFetchResult = "no pending code";
    info.lastError = "The operation couldn’t be completed.";
    info.layout = "below the item";

    const QStringList lines = linesOf(probe, info);
    ASSERT_EQ(lines.size(), 17) << "the cloud in use and the layout note add a line each";
    EXPECT_EQ(lines[1], "Checked: 2025-03-07T08:41:05Z") << "fractions are dropped";
    EXPECT_EQ(lines[2], "Cloud: iCloud on the web (iCloud.net.brontal.zorvik, production)");
    EXPECT_EQ(lines[3], "[OK] iCloud: signed in");
    EXPECT_EQ(lines[10], "Push registered: no (denied)");
    EXPECT_EQ(lines[11], "Subscription saved: yes");
    EXPECT_EQ(lines[12], "Last push: 2025-03-07T08:40:00Z") << "no poll sentence after a push";
    EXPECT_EQ(lines[13], "Last fetch: 2025-03-07T08:40:01Z \u2014 no pending code");
    EXPECT_EQ(lines[14], "Layout: below the item");
    EXPECT_EQ(lines[15], "Last received: code at 2025-03-07T08:40:59Z")
        << "no account name gives the word code";
    EXPECT_EQ(lines[16], "Last error: The operation couldn’t be completed.");

    probe.lastReceivedName = "Work GitHub";
    probe.subscriptionError = "quota";
    probe.subscriptionSaved.reset();
    info.layout.reset();
    const QStringList again = linesOf(probe, info);
    ASSERT_EQ(again.size(), 16) << "no layout note, no blank line";
    EXPECT_EQ(again[11], "Subscription saved: pending (quota)");
    EXPECT_EQ(again[14], "Last received: Work GitHub at 2025-03-07T08:40:59Z");
}

}  // namespace
