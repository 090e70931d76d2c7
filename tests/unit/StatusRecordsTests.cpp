#include <gtest/gtest.h>

#include "DiagnosticsInfo.h"
#include "SetupProbe.h"

namespace {

TEST(StatusRecords, FreshValues) {
    const SetupProbe probe;
    EXPECT_EQ(probe.cloud.kind, CloudAccountState::Kind::checking);
    EXPECT_EQ(probe.syncKey.kind, SyncKeyState::Kind::checking);
    EXPECT_EQ(probe.notifications, NotificationState::checking);
    EXPECT_FALSE(probe.pushRegistered || probe.subscriptionSaved || probe.autoFillEnabled);
    EXPECT_FALSE(probe.launchAtLogin);
    EXPECT_FALSE(probe.lastReceivedAt);

    const DiagnosticsInfo info;
    EXPECT_EQ(info.appVersion, "?");
    EXPECT_EQ(info.build, "?");
    EXPECT_EQ(info.macOSVersion, "?");
    EXPECT_FALSE(info.checkedAt || info.lastPushAt || info.lastFetchAt);
    EXPECT_FALSE(info.lastFetchResult || info.lastError || info.layout);
    EXPECT_EQ(info.pollInterval, 5.0);
}

TEST(StatusRecords, ErrorMessagesTakePartInEquality) {
    SetupProbe first;
    SetupProbe second;
    first.cloud = CloudAccountState::error("unknown account state");
    second.cloud = CloudAccountState::error("could not determine the account state");
    EXPECT_NE(first, second);
    second.cloud = CloudAccountState::error("unknown account state");
    EXPECT_EQ(first, second);
    EXPECT_NE(SyncKeyState::error("keychain error -25308"),
              SyncKeyState::error("keychain error -25293"));
    EXPECT_NE((SyncKeyState{SyncKeyState::Kind::waiting, {}}),
              (SyncKeyState{SyncKeyState::Kind::received, {}}));
    second.notifications = NotificationState::off;
    EXPECT_NE(first, second);
}

}  // namespace
