// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>

#include "tests/unit/CodeReceiverTestFixture.h"

namespace {

using Event = Workspace::Event;

class CodeReceiverChecks : public CodeReceiverTest {
protected:
    QStringList checkLogged() {
        const auto before = log.lines.size();
        checkNow();
        return logSince(before);
    }
    int fetchesAfter(double seconds) {
        actor.advance(seconds);
        return cloud.fetches;
    }
    int accountRequestsAfter(double seconds) {
        actor.advance(seconds);
        return cloud.accountRequests;
    }
};

TEST_F(CodeReceiverChecks, OneRunAtATimeFillsTheProbeAndLogsEveryRowThenOnlyChanges) {
    makeEverythingReady();
    identityStore.enabled = false;
    make();
    actor.spawn(receiver->runChecks());  // a second run while this one runs is dropped silently
    EXPECT_EQ(
        checkLogged(),
        (QStringList{
            "subscription saved", "check cloud: ok \u2014 iCloud: signed in",
            "check syncKey: ok \u2014 Key received from your iPhone",
            "check push: ok \u2014 Listening for codes",
            "check autoFill: failed \u2014 AutoFill: off",
            "check notifications: ok \u2014 Notifications: allowed",
            "check launchAtLogin: info \u2014 Launch at login: off",
            "check firstCode: pending \u2014 Waiting for your first code \u2014 tap any account in "
            "Zorvik on your iPhone"}));
    EXPECT_EQ(cloud.accountRequests, 1);
    EXPECT_EQ(receiver->info().checkedAt, actor.now());
    EXPECT_EQ(cloud.savedSubscriptions,
              (QList<QuerySubscription>{{"pending-code-changes", "PendingCode", 3, true}}));
    putRecord(code());
    fetchNow();
    const QStringList second = checkLogged();
    ASSERT_EQ(second.size(), 1) << second.join(u'\n').toStdString();
    EXPECT_TRUE(second[0].startsWith(u"check firstCode: ok \u2014 Received Work at "));
}

// The journal keeps what an idle desktop app writes all day: routine fetches and checks go at
// debug level and only when they change, whether nothing is pending, a code is held, or the
// checklist keeps asking for attention (AutoFill off).
TEST_F(CodeReceiverChecks, AnIdleHourWritesAtMostFiveLinesAtInfoOrAbove) {
    makeEverythingReady();
    for (const bool withCode : {false, true}) {
        identityStore.enabled = false;
        make().start();
        if (withCode) {
            putRecord(code("123456", 1800));
        }
        actor.advance(3600);
        EXPECT_LE(std::ranges::count_if(
                      log.lines, [](const auto& line) { return line.level != LogLevel::debug; }),
                  5)
            << "with a code: " << withCode << "\n"
            << logSince(0).join(u'\n').toStdString();
        EXPECT_GT(cloud.fetches, 600) << "the hour was really polled";
        receiver.reset();
        log.lines.clear();
        cloud.fetches = 0;
    }
}

// The login row carries its own switch, so its title follows the switch at once.
TEST_F(CodeReceiverChecks, TheLoginRowFollowsTheSwitchWithoutWaitingForAChecksRun) {
    make();
    ASSERT_FALSE(receiver->probe().launchAtLogin);
    settings.setLaunchAtLogin(true);
    EXPECT_TRUE(receiver->probe().launchAtLogin);

    loginItem.refuseWith = QStringLiteral("not allowed");
    settings.setLaunchAtLogin(false);
    EXPECT_TRUE(receiver->probe().launchAtLogin) << "a refused change leaves the item registered";
}

TEST_F(CodeReceiverChecks, AccountStatusesBecomeCloudStates) {
    make();
    const auto cloudAfter = [&](std::variant<int, CloudError> answer) {
        cloud.account = answer;
        checkNow();
        return receiver->probe().cloud;
    };
    EXPECT_EQ(cloudAfter(0), CloudAccountState::error("could not determine the account state"));
    EXPECT_EQ(cloudAfter(2).kind, CloudAccountState::Kind::restricted);
    EXPECT_EQ(cloudAfter(4).kind, CloudAccountState::Kind::temporarilyUnavailable);
    EXPECT_EQ(cloudAfter(7), CloudAccountState::error("unknown account state"));
    EXPECT_EQ(cloudAfter(CloudError(4, "The Internet connection appears to be offline.")),
              CloudAccountState::error("The Internet connection appears to be offline."));
}

TEST_F(CodeReceiverChecks, KeychainStatesShowInTheProbe) {
    make();
    const auto keyAfter = [&] {
        checkNow();
        return receiver->probe().syncKey;
    };
    keychain.failWith = -25293;
    EXPECT_EQ(keyAfter(), SyncKeyState::error("the keyring refused access"));
    keychain.items.clear();
    // A stopped keyring service is named, logged as an error once while it lasts, and its end
    // is told too.
    const auto before = log.lines.size();
    keychain.failWith = -25291;
    EXPECT_EQ(keyAfter(), SyncKeyState::error("the keyring service is not running"));
    keyAfter();
    keychain.failWith.reset();
    EXPECT_EQ(keyAfter().kind, SyncKeyState::Kind::waiting);
    auto keyringLines = leveledSince(before);
    std::erase_if(keyringLines,
                  [](const Leveled& line) { return !line.second.startsWith("keyring"); });
    EXPECT_EQ(keyringLines, (std::vector<Leveled>{
                                {LogLevel::error, "keyring: the keyring service is not running"},
                                {LogLevel::info, "keyring: answers again"}}));
}

TEST_F(CodeReceiverChecks, AFailedSubscriptionIsReportedAndRetriedWithTheNextRun) {
    cloud.subscriptionError = CloudError(9, "No account.");
    make();
    const auto before = log.lines.size();
    checkNow();
    EXPECT_EQ(receiver->probe().subscriptionSaved, false);
    EXPECT_EQ(receiver->probe().subscriptionError, "not signed in to iCloud");
    EXPECT_EQ(receiver->info().lastError, "Subscription: not signed in to iCloud");
    EXPECT_EQ(leveledSince(before).at(0),
              Leveled(LogLevel::error, "subscription failed: not signed in to iCloud"));
    cloud.subscriptionError.reset();
    actor.advance(15);
    EXPECT_EQ(cloud.savedSubscriptions.size(), 2);
    EXPECT_EQ(receiver->probe().subscriptionSaved, true);
    EXPECT_FALSE(receiver->probe().subscriptionError);
}

// Behind a closed popover only what may mend without the user is checked again: checking a row
// only the user can mend every 15 s would wake the computer for nothing.
TEST_F(CodeReceiverChecks, RechecksEvery15SecondsWhileSomethingNeedsAttentionThatCanChange) {
    remote.registered = true;
    make();
    checkNow();  // notifications not asked yet: needs the user, who cannot see the checklist
    EXPECT_EQ(receiver->recheckTask(), TaskHandle()) << "closed popover, only the user can mend";
    EXPECT_EQ(accountRequestsAfter(60), 1);

    receiver->setPopoverVisible(true);  // the user looks: every 15 s while it shows
    actor.runUntilIdle();
    EXPECT_EQ(cloud.accountRequests, 2);
    EXPECT_EQ(accountRequestsAfter(14.9), 2);
    EXPECT_EQ(accountRequestsAfter(0.1), 3);
    receiver->setPopoverVisible(false);
    EXPECT_EQ(accountRequestsAfter(15), 4) << "the run already scheduled still comes";
    EXPECT_EQ(accountRequestsAfter(60), 4);

    cloud.account = 4;  // temporarily unavailable: may mend by itself, popover closed or not
    checkNow();
    EXPECT_EQ(accountRequestsAfter(15), 6);
    EXPECT_EQ(accountRequestsAfter(15), 7);
    cloud.account = 3;  // signed out: the cloud's and the push's rows wait for the user
    checkNow();
    EXPECT_EQ(receiver->recheckTask(), TaskHandle());
    EXPECT_EQ(accountRequestsAfter(60), 8);
    cloud.account = 4;
    cloud.backend.accountToConfirm = QStringLiteral("someone@example.com");  // the user decides
    checkNow();
    EXPECT_EQ(receiver->recheckTask(), TaskHandle());
    EXPECT_EQ(accountRequestsAfter(60), 9);
    cloud.backend.accountToConfirm.reset();
    cloud.account = 1;
    makeEverythingReady();
    checkNow();
    EXPECT_EQ(cloud.accountRequests, 10);
    EXPECT_EQ(receiver->recheckTask(), TaskHandle())
        << "a run that needs nothing schedules nothing";
    EXPECT_EQ(accountRequestsAfter(60), 10);
}

// The checks may make the keyring report in turn (a quiet unlock, the cloud's session stored):
// its reports bring them at most every 15 s, never in a loop, until the key has come.
TEST_F(CodeReceiverChecks, KeyringReportsCheckAtMostEvery15sAndAKeyThatArrivesOpensTheCode) {
    remote.registered = true;
    keychain.items.clear();
    putRecord(code("654321"));
    make().start();
    actor.runUntilIdle();
    EXPECT_EQ(receiver->probe().syncKey.kind, SyncKeyState::Kind::waiting);
    EXPECT_EQ(receiver->recheckTask(), TaskHandle());
    const int before = cloud.accountRequests;
    keychain.reportChange();
    keychain.reportChange();
    actor.runUntilIdle();
    EXPECT_EQ(cloud.accountRequests, before + 1);
    keychain.reportChange();
    actor.runUntilIdle();
    EXPECT_EQ(cloud.accountRequests, before + 1) << "a report right after a run waits its turn";
    EXPECT_EQ(accountRequestsAfter(14.9), before + 1);
    EXPECT_EQ(accountRequestsAfter(0.1), before + 2);
    EXPECT_EQ(accountRequestsAfter(60), before + 2) << "no report, no run";

    keychain.items.insert({"net.brontal.zorvik.sync", "sync-key"}, QByteArray(kKey));
    keychain.reportChange();
    actor.runUntilIdle();
    EXPECT_EQ(receiver->probe().syncKey.kind, SyncKeyState::Kind::received);
    EXPECT_EQ(cloud.accountRequests, before + 3) << "shown at once";
    EXPECT_EQ(latestCode(), "654321");
    keychain.reportChange();
    EXPECT_EQ(accountRequestsAfter(60), before + 3) << "a received key is read at the next code";
}

TEST_F(CodeReceiverChecks, TheChecklistFoldsOnlyWhenAttentionChanges) {
    make();
    EXPECT_FALSE(settings.setupCollapsed());
    makeEverythingReady();
    checkNow();
    EXPECT_TRUE(settings.setupCollapsed()) << "folds when nothing needs attention any more";
    settings.setSetupCollapsed(false);  // the user unfolds it
    checkNow();
    EXPECT_FALSE(settings.setupCollapsed()) << "an equal result leaves the user's choice alone";
    putRecord(code());
    fetchNow();  // the probe changes (last code), attention does not
    EXPECT_FALSE(settings.setupCollapsed()) << "a probe change with equal attention leaves it too";
    keychain.items.clear();
    keychain.reportChange();
    settings.setSetupCollapsed(true);
    checkNow();
    EXPECT_FALSE(settings.setupCollapsed()) << "unfolds when attention is needed again";
}

// While the popover is open it checks, then fetches every 20 s; background polling (every 5 s,
// never under 1 s) leaves the fetching to that loop.
TEST_F(CodeReceiverChecks, PollsEvery5SecondsWithAOneSecondFloorOrEvery20WhileThePopoverShows) {
    makeEverythingReady();
    make();
    receiver->setPopoverVisible(true);
    actor.runUntilIdle();
    EXPECT_EQ(cloud.accountRequests, 1);
    EXPECT_EQ(cloud.fetches, 1);
    EXPECT_EQ(fetchesAfter(20), 2);
    receiver->setPopoverVisible(false);
    EXPECT_EQ(fetchesAfter(100), 2) << "no background polling was started";

    receiver->start();
    actor.runUntilIdle();
    EXPECT_EQ(cloud.fetches, 3) << "start fetches once after the checks";
    EXPECT_EQ(fetchesAfter(5), 4);
    settings.setPollInterval(0.5);
    EXPECT_EQ(fetchesAfter(5), 5) << "the wait already under way still lasts 5 s";
    EXPECT_EQ(fetchesAfter(1), 6);
    EXPECT_EQ(fetchesAfter(0.5), 6);
    EXPECT_EQ(fetchesAfter(0.5), 7);
    receiver->setPopoverVisible(true);
    actor.runUntilIdle();
    const int atOpen = cloud.fetches;
    EXPECT_EQ(fetchesAfter(19.9), atOpen);
    EXPECT_EQ(fetchesAfter(0.1), atOpen + 1);
}

TEST_F(CodeReceiverChecks, SleepStopsBackgroundFetchesAndWakeFetchesAtOnce) {
    makeEverythingReady();
    make().start();
    actor.runUntilIdle();
    EXPECT_EQ(workspace.observerCount(), 6u);
    const auto fire = [&](Event event) {
        workspace.fire(event);
        actor.runUntilIdle();
        return cloud.fetches;
    };
    for (const Event sleep :
         {Event::willSleep, Event::screensDidSleep, Event::sessionDidResignActive}) {
        const int asleep = fire(sleep);
        EXPECT_FALSE(receiver->isAwake());
        EXPECT_EQ(fetchesAfter(30), asleep);
        EXPECT_EQ(fire(Event::didWake), asleep + 1);
        EXPECT_TRUE(receiver->isAwake());
    }
    for (const Event wake : {Event::screensDidWake, Event::sessionDidBecomeActive}) {
        const int before = cloud.fetches;
        EXPECT_EQ(fire(wake), before + 1);
    }
}

TEST_F(CodeReceiverChecks, PushesForOurSubscriptionFetchOthersOnlyCount) {
    make();
    const QVariantMap ours{
        {"ck", QVariantMap{{"qry", QVariantMap{{"sid", "pending-code-changes"}, {"fo", 1}}}}}};
    const QVariantMap theirs{{"ck", QVariantMap{{"qry", QVariantMap{{"sid", "something-else"}}}}}};
    const auto push = [&](const QVariantMap& userInfo) {
        const auto before = log.lines.size();
        receiver->handleRemoteNotification(userInfo);
        actor.runUntilIdle();
        return logSince(before);
    };
    EXPECT_EQ(push(ours).value(0), "push received: subscription pending-code-changes");
    EXPECT_EQ(cloud.fetches, 1);
    EXPECT_EQ(receiver->info().lastPushAt, actor.now());

    actor.advance(1);
    EXPECT_EQ(push(theirs), QStringList{"push received: subscription something-else"});
    EXPECT_EQ(cloud.fetches, 1);
    EXPECT_EQ(receiver->info().lastPushAt, actor.now());

    EXPECT_EQ(push({{"aps", QVariantMap{}}}).value(0), "push received: subscription ?");
    EXPECT_EQ(cloud.fetches, 2) << "a push that cannot be read fetches too";
}

TEST_F(CodeReceiverChecks, PushRegistrationIsRecordedAndLogged) {
    make();
    auto before = log.lines.size();
    receiver->setPushRegistration(false, "no directory watch: Permission denied");
    EXPECT_EQ(receiver->probe().pushRegistered, false);
    EXPECT_EQ(receiver->probe().pushError, "no directory watch: Permission denied");
    EXPECT_EQ(receiver->info().lastError, "no directory watch: Permission denied");
    EXPECT_EQ(leveledSince(before).at(0),
              Leveled(LogLevel::error,
                      "push registration failed: no directory watch: Permission denied"));
    before = log.lines.size();
    receiver->setPushRegistration(false, std::nullopt);
    EXPECT_EQ(logSince(before).value(0), "push registration failed: ?");
    EXPECT_FALSE(receiver->probe().pushError);
    receiver->setPushRegistration(true, std::nullopt);
    EXPECT_EQ(receiver->probe().pushRegistered, true);
    EXPECT_EQ(log.lines.back().message, "push registered");
}

// The tasks a start leaves on the main actor outlive a receiver that goes before they run.
TEST_F(CodeReceiverChecks, StartLogsAndItsTasksEndQuietlyWhenTheReceiverIsGone) {
    make().start();
    EXPECT_EQ(log.lines.front().message, "start: version 1.2 (42) on Linux 6.1 firstRun=true");
    receiver.reset();
    actor.advance(30);
    EXPECT_EQ(cloud.accountRequests, 0);
    EXPECT_EQ(cloud.fetches, 0);
}

TEST_F(CodeReceiverChecks, DiagnosticsUseTheCurrentPollIntervalAndGoOnTheClipboardAsPlainText) {
    make();
    settings.setPollInterval(60);
    const DiagnosticsInfo kept = receiver->info();
    const QString report = receiver->diagnosticsSnapshot();
    EXPECT_TRUE(report.startsWith("Zorvik for Linux 1.2 (42) \u2014 Linux 6.1\nChecked: never\n"));
    EXPECT_TRUE(report.contains("\nLast push: never (background poll every 60 s covers it)\n"));
    EXPECT_EQ(receiver->info(), kept) << "the snapshot leaves the kept info alone";

    pasteboard.clearContents();
    pasteboard.setString("123456", Pasteboard::concealedType);
    const long before = pasteboard.changeCount();
    const auto firstLine = log.lines.size();
    receiver->copyDiagnostics();
    EXPECT_GT(pasteboard.changeCount(), before);
    EXPECT_EQ(pasteboard.entries.keys(), QStringList{Pasteboard::stringType})
        << "plain text only, not marked concealed";
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), report);
    EXPECT_EQ(logSince(firstLine), QStringList{"diagnostics copied"});
}

}  // namespace
