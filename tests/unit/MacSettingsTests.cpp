// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTemporaryDir>

#include "ZorvikMac/Readiness/MacSettings.h"
#include "platform/linux/QSettingsUserDefaults.h"
#include "tests/support/FakeLoginItemService.h"

namespace {

class MacSettingsTest : public testing::Test {
protected:
    QTemporaryDir directory;
    QSettingsUserDefaults defaults{directory.filePath("ZorvikMac.conf")};
    FakeLoginItemService loginItem;
};

TEST_F(MacSettingsTest, FreshStoreGivesTheRegisteredDefaults) {
    const MacSettings settings(defaults, loginItem);
    EXPECT_TRUE(settings.copyToClipboard());
    EXPECT_TRUE(settings.notify());
    EXPECT_TRUE(settings.showCodeInMenuBar());
    EXPECT_FALSE(settings.setupCollapsed());
    EXPECT_EQ(settings.pollInterval(), 5.0);
    EXPECT_FALSE(settings.launchAtLogin());
    EXPECT_FALSE(settings.launchAtLoginError());
}

TEST_F(MacSettingsTest, StoredValuesAreReadBackAndStrayIntervalsBecomeFive) {
    defaults.setBool(false, "copyToClipboard");
    defaults.setBool(true, "setupCollapsed");
    defaults.setDouble(30, "pollInterval");
    loginItem.current = LoginItemService::Status::enabled;
    const MacSettings settings(defaults, loginItem);
    EXPECT_FALSE(settings.copyToClipboard());
    EXPECT_TRUE(settings.setupCollapsed());
    EXPECT_EQ(settings.pollInterval(), 30.0);
    EXPECT_TRUE(settings.launchAtLogin());

    for (double stray : {7.0, 2.5, 0.0, -5.0}) {
        defaults.setDouble(stray, "pollInterval");
        EXPECT_EQ(MacSettings(defaults, loginItem).pollInterval(), 5.0) << stray;
        EXPECT_EQ(defaults.doubleForKey("pollInterval"), stray) << "the stored value stays";
    }
}

TEST_F(MacSettingsTest, EveryAssignmentWritesButOnlyChangesNotify) {
    MacSettings settings(defaults, loginItem);
    QSignalSpy notifySpy(&settings, &MacSettings::notifyChanged);
    QSignalSpy intervalSpy(&settings, &MacSettings::pollIntervalChanged);
    defaults.setBool(false, "notify");  // as if someone else wrote it
    settings.setNotify(true);
    EXPECT_TRUE(defaults.boolForKey("notify")) << "an unchanged value is written all the same";
    EXPECT_EQ(notifySpy.count(), 0);
    settings.setNotify(false);
    EXPECT_EQ(notifySpy.count(), 1);
    settings.setPollInterval(60);
    settings.setPollInterval(60);
    EXPECT_EQ(intervalSpy.count(), 1);
    EXPECT_EQ(defaults.doubleForKey("pollInterval"), 60.0);
    settings.setPollInterval(7);  // later assignments keep whatever they are given
    EXPECT_EQ(settings.pollInterval(), 7.0);
}

// Assigning the value it has touches nothing.
TEST_F(MacSettingsTest, RefusedLoginItemKeepsTheErrorAndFallsBackWithOneCall) {
    MacSettings settings(defaults, loginItem);
    QSignalSpy launchSpy(&settings, &MacSettings::launchAtLoginChanged);
    QSignalSpy errorSpy(&settings, &MacSettings::launchAtLoginErrorChanged);
    settings.setLaunchAtLogin(false);
    EXPECT_EQ(loginItem.registerCalls + loginItem.unregisterCalls, 0);
    loginItem.refuseWith = "Permission denied: /home/u/.config/autostart";
    settings.setLaunchAtLogin(true);
    EXPECT_EQ(loginItem.registerCalls, 1);
    EXPECT_EQ(loginItem.unregisterCalls, 0) << "falling back must not call the system again";
    EXPECT_FALSE(settings.launchAtLogin());
    EXPECT_EQ(settings.launchAtLoginError(), "Permission denied: /home/u/.config/autostart");
    EXPECT_EQ(launchSpy.count(), 2);  // on, then back off
    EXPECT_EQ(errorSpy.count(), 1);

    loginItem.refuseWith.reset();
    settings.setLaunchAtLogin(true);
    EXPECT_EQ(loginItem.registerCalls, 2);
    EXPECT_TRUE(settings.launchAtLogin());
    EXPECT_FALSE(settings.launchAtLoginError());
    EXPECT_EQ(errorSpy.count(), 2);
}

// A success keeps the user's choice even if the system wants approval, until a refresh.
TEST_F(MacSettingsTest, RefreshFollowsTheSystemWithoutChangingIt) {
    MacSettings settings(defaults, loginItem);
    QSignalSpy launchSpy(&settings, &MacSettings::launchAtLoginChanged);
    settings.setLaunchAtLogin(true);
    loginItem.current = LoginItemService::Status::requiresApproval;
    EXPECT_TRUE(settings.launchAtLogin());
    settings.refreshLaunchAtLogin();
    EXPECT_FALSE(settings.launchAtLogin());
    EXPECT_EQ(launchSpy.count(), 2);
    EXPECT_EQ(loginItem.unregisterCalls, 0);
    settings.refreshLaunchAtLogin();
    EXPECT_EQ(launchSpy.count(), 2);
    settings.setLaunchAtLogin(true);
    EXPECT_EQ(loginItem.registerCalls, 2) << "after a refresh, a change by the user works again";
}

}  // namespace
