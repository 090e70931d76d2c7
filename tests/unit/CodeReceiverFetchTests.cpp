// SPDX-License-Identifier: GPL-3.0-or-later
#include <QFile>

#include "ZorvikMac/CodeIntake/ErrorText.h"
#include "ZorvikMac/CodeIntake/PendingCodeError.h"
#include "ZorvikMac/Readiness/SetupRow.h"
#include "tests/unit/CodeReceiverTestFixture.h"

namespace {

class CodeReceiverFetch : public CodeReceiverTest {
protected:
    QStringList fetchLogged() {
        const auto before = log.lines.size();
        fetchNow();
        return logSince(before);
    }
};

TEST_F(CodeReceiverFetch, ConstructionTakesFirstRunAndTheLastCodeFromTheStore) {
    defaults.setBool(true, "firstRunDone");
    defaults.setString("Bank", "lastReceivedName");
    defaults.setDate(actor.now(), "lastReceivedAt");
    settings.setSetupCollapsed(true);
    const CodeReceiver& r = make();
    EXPECT_FALSE(r.firstRun());
    EXPECT_EQ(r.probe().lastReceivedName, "Bank");
    EXPECT_EQ(r.probe().lastReceivedAt, actor.now());
    EXPECT_EQ(r.lastNeedsAttention(), true);
    EXPECT_FALSE(settings.setupCollapsed())
        << "a fresh probe needs attention and unfolds the checklist";
}

TEST_F(CodeReceiverFetch, AValidCodeIsPublishedEverywhereAndTheSameRecordOnlyOnce) {
    make();
    int latestChanges = 0;
    receiver->onLatestChange = [&] { ++latestChanges; };
    // The tray item hears first: the views that follow may be hidden.
    int trayHadHeard = -1;
    QObject::connect(receiver.get(), &CodeReceiver::latestChanged,
                     [&] { trayHadHeard = latestChanges; });
    putRecord(code("123456", 89.9));
    EXPECT_EQ(fetchLogged(), (QStringList{"fetch: valid code for Work from iPhone",
                                          "received Work from iPhone, expires in 89s",
                                          "fetch: code for Work from iPhone"}));
    ASSERT_TRUE(receiver->latest());
    EXPECT_EQ(receiver->latest()->code, "123456");
    EXPECT_EQ(receiver->latest()->receivedAt, actor.now());
    EXPECT_EQ(latestChanges, 1);
    EXPECT_EQ(trayHadHeard, 1);
    EXPECT_EQ(receiver->info().lastFetchAt, actor.now());
    EXPECT_EQ(receiver->probe().syncKey.kind, SyncKeyState::Kind::received);
    EXPECT_EQ(receiver->probe().lastReceivedName, "Work");
    EXPECT_EQ(receiver->probe().lastReceivedAt, actor.now());
    EXPECT_EQ(defaults.stringForKey("lastReceivedName"), "Work");
    EXPECT_EQ(defaults.dateForKey("lastReceivedAt"),
              std::chrono::floor<std::chrono::milliseconds>(actor.now()));
    EXPECT_FALSE(receiver->firstRun());
    EXPECT_TRUE(defaults.boolForKey("firstRunDone"));
    EXPECT_EQ(store->load()->code, "123456");
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), "123456");
    ASSERT_EQ(center.added.size(), 1u);
    EXPECT_EQ(center.added[0].content.userInfo.value("code"), "123456");
    EXPECT_EQ(cloud.lastFetchedName, "pending-code");

    const long copies = pasteboard.count;
    EXPECT_EQ(fetchLogged(), QStringList()) << "a fetch that changes nothing logs nothing";
    EXPECT_EQ(pasteboard.count, copies);
    EXPECT_EQ(center.added.size(), 1u);
    EXPECT_EQ(identityStore.replaceCalls, 1);
}

TEST_F(CodeReceiverFetch, OutcomesThatPublishNothing) {
    make();
    const auto expect = [&](const char* result, const QStringList& lines) {
        EXPECT_EQ(fetchLogged(), lines) << result;
        EXPECT_EQ(receiver->info().lastFetchResult, result);
        EXPECT_FALSE(receiver->latest()) << result;
    };
    expect("nothing pending", {"fetch: nothing pending"});

    // A plain expiry equal to the moment the fetch started counts as expired.
    const PendingCode expired = code("123456", 0);
    putRecord(expired);
    expect("record present but expired",
           {"fetch: expired record", "fetch: record present but expired"});

    cloud.record =
        CloudRecord{"pending-code", "PendingCode", {{"expiresAt", addingSeconds(actor.now(), 60)}}};
    expect("record without blob", {"fetch: record without blob"});
    // The same outcome again is not logged again.
    cloud.record->fields.insert("blob", QString("not bytes"));
    expect("record without blob", {});

    // Without the plain field the payload's own expiry decides; equal to now is expired too.
    putRecord(expired, false);
    expect("code expired", {"fetch: code expired"});
    putRecord(code("", 60));
    expect("code expired", {});
    EXPECT_FALSE(receiver->info().lastError);
}

TEST_F(CodeReceiverFetch, FailuresBecomeErrorTextsAndOneErrorLine) {
    make();
    // The keyring's own row says what it saw first, and its return.
    const auto expectError = [&](const QString& text, std::vector<Leveled> keyringLines = {}) {
        const auto before = log.lines.size();
        fetchNow();
        EXPECT_EQ(receiver->info().lastFetchResult, "error: " + text);
        EXPECT_EQ(receiver->info().lastError, text);
        keyringLines.push_back({LogLevel::error, "fetch failed: " + text});
        keyringLines.push_back({LogLevel::debug, "fetch: error: " + text});
        EXPECT_EQ(leveledSince(before), keyringLines);
    };
    const CloudError offline(CloudError::networkFailure, "The network connection was lost.");
    cloud.fetchError = offline;
    expectError("no network");
    // A failure that lasts (the network stays down) is one line, not one per poll...
    EXPECT_EQ(fetchLogged(), QStringList());
    // ...and the same failure after a good fetch is news again.
    cloud.fetchError.reset();
    fetchNow();
    cloud.fetchError = offline;
    expectError("no network");
    cloud.fetchError.reset();

    keychain.failWith = Keychain::authorizationFailed;
    putRecord(code());
    expectError("the keyring refused access",
                {{LogLevel::error, "keyring: the keyring refused access"}});
    EXPECT_EQ(receiver->probe().syncKey, SyncKeyState::error("the keyring refused access"));
    keychain.failWith.reset();

    QByteArray blob = code().seal(*SymmetricKey::fromBytes(QByteArray(kKey)));
    blob[4] = 9;
    cloud.record->fields.insert("blob", blob);
    expectError(
        QString::fromUtf8("The operation couldn\u2019t be completed. (PendingCodeError error 0.)"),
        {{LogLevel::info, "keyring: answers again"}});
    EXPECT_FALSE(receiver->latest());
}

// A locked keyring (automatic login) is a state the user can end, not a failure of every fetch.
TEST_F(CodeReceiverFetch, ALockedKeyringWaitsQuietlyAndCodesFlowOnceUnlocked) {
    make();
    keychain.failWith = Keychain::interactionNotAllowed;
    putRecord(code());
    const auto before = log.lines.size();
    for (int i = 0; i < 5; ++i) {
        fetchNow();
    }
    EXPECT_EQ(receiver->probe().syncKey.kind, SyncKeyState::Kind::locked);
    EXPECT_EQ(receiver->info().lastFetchResult, "record present, keyring locked");
    EXPECT_FALSE(receiver->info().lastError);
    EXPECT_FALSE(receiver->latest());
    EXPECT_EQ(logSince(before), (QStringList{"keyring locked: codes wait until it is unlocked",
                                             "fetch: record present, keyring locked"}));
    EXPECT_EQ(log.lines[before].level, LogLevel::info);

    const SetupRow row = setupRows(receiver->probe(), actor.now(), QTimeZone::utc())[1];
    EXPECT_EQ(row.action, SetupRow::Action::unlockKeyring);
    EXPECT_EQ(row.buttonTitle, "Unlock");

    // The user dismisses the prompt: still locked, one line saying so.
    keychain.unlockAnswer = Keychain::userCanceled;
    receiver->unlockKeychain();
    actor.runUntilIdle();
    EXPECT_EQ(keychain.lastQuery->service, "net.brontal.zorvik.sync");
    EXPECT_FALSE(receiver->latest());
    EXPECT_TRUE(logSince(before).contains("keyring: unlocking cancelled"));

    // Unlocked: the code is read and published at once, without waiting for the next poll.
    keychain.unlockAnswer = Keychain::success;
    receiver->unlockKeychain();
    actor.runUntilIdle();
    EXPECT_EQ(keychain.unlocks, 2);
    EXPECT_EQ(latestCode(), "123456");
    EXPECT_EQ(receiver->probe().syncKey.kind, SyncKeyState::Kind::received);
    EXPECT_EQ(errorLines(), QStringList());
}

// A wallet opened at login still reports its collection locked until asked: the app asks, without
// a prompt, at its first read and again after the keyring reports a change (a restart); a keyring
// that needs its password is asked once and left locked, with nothing shown.
TEST_F(CodeReceiverFetch, AKeyringThatOpensWithoutAPromptIsOpenedAtStartAndAfterARestart) {
    make();
    keychain.failWith = Keychain::interactionNotAllowed;
    keychain.quietUnlockAnswer = Keychain::success;
    putRecord(code());
    fetchNow();
    EXPECT_EQ(keychain.quietUnlocks, 1);
    EXPECT_EQ(keychain.unlocks, 0);
    EXPECT_EQ(latestCode(), "123456");
    EXPECT_EQ(receiver->probe().syncKey.kind, SyncKeyState::Kind::received);

    // The keyring restarts and reports its collection locked again.
    keychain.failWith = Keychain::interactionNotAllowed;
    keychain.reportChange();
    putRecord(code("654321"));
    fetchNow();
    EXPECT_EQ(keychain.quietUnlocks, 2);
    EXPECT_EQ(latestCode(), "654321");

    // Locked for real: asked once, never prompted, and the row offers Unlock as before.
    keychain.failWith = Keychain::interactionNotAllowed;
    keychain.quietUnlockAnswer = Keychain::interactionNotAllowed;
    keychain.reportChange();
    putRecord(code("777777"));
    for (int i = 0; i < 3; ++i) {
        fetchNow();
    }
    EXPECT_EQ(keychain.quietUnlocks, 3);
    EXPECT_EQ(keychain.unlocks, 0);
    EXPECT_EQ(receiver->probe().syncKey.kind, SyncKeyState::Kind::locked);
    EXPECT_EQ(setupRows(receiver->probe(), actor.now(), QTimeZone::utc())[1].action,
              SetupRow::Action::unlockKeyring);
}

// The key costs one keychain read, not one per fetch; the keychain's change reports make the
// next fetch behave exactly as a fresh read would. A missing key is a wait, not an error.
TEST_F(CodeReceiverFetch, TheKeyIsReadOnceAndDroppedWhenTheKeychainReportsAChange) {
    make();
    putRecord(code("111111"));
    fetchNow();
    putRecord(code("222222"));
    fetchNow();
    EXPECT_EQ(latestCode(), "222222");
    EXPECT_EQ(keychain.laterReads, 1);
    EXPECT_EQ(keychain.lookups, 1);

    // Deleted (secret-tool clear): refused with the texts of a missing key.
    keychain.items.clear();
    keychain.reportChange();
    putRecord(code("333333"));
    EXPECT_EQ(fetchLogged(), (QStringList{"fetch: record present but no sync key",
                                          "fetch: record present, no sync key yet"}));
    EXPECT_EQ(receiver->probe().syncKey.kind, SyncKeyState::Kind::waiting);
    EXPECT_FALSE(receiver->info().lastError);

    // Replaced by another key: a code sealed with the old one no longer opens.
    keychain.items.insert({"net.brontal.zorvik.sync", "sync-key"}, QByteArray(32, 'n'));
    keychain.reportChange();
    fetchNow();
    EXPECT_EQ(receiver->info().lastFetchResult.value_or("").left(7), "error: ");
    EXPECT_EQ(latestCode(), "222222");

    // A change that arrives while a read is on its way: that read's answer is not kept.
    keychain.items.insert({"net.brontal.zorvik.sync", "sync-key"}, QByteArray(kKey));
    keychain.reportChange();
    keychain.holdReads = true;
    putRecord(code("444444"));
    fetchNow();
    EXPECT_TRUE(receiver->isFetching()) << "the fetch waits for the keychain, the actor does not";
    keychain.items.clear();
    keychain.reportChange();
    keychain.releaseHeld();
    actor.runUntilIdle();
    EXPECT_EQ(latestCode(), "222222");
    EXPECT_EQ(receiver->info().lastFetchResult, "record present, no sync key yet");
}

// A push that comes while a fetch waits may be for a record written after that fetch read it: it
// is not dropped, and however many come, one more fetch follows.
TEST_F(CodeReceiverFetch, FetchesAskedForWhileOneWaitsBecomeOneMoreAfterIt) {
    make();
    cloud.holdFetches = true;
    fetchNow();
    EXPECT_TRUE(receiver->isFetching());
    EXPECT_EQ(fetchLogged(), QStringList());
    fetchNow();
    EXPECT_EQ(cloud.fetches, 1);
    cloud.releaseFetches();
    actor.runUntilIdle();
    EXPECT_EQ(cloud.fetches, 2);
    EXPECT_TRUE(receiver->isFetching()) << "the second waits as the first did";
    cloud.releaseFetches();
    actor.runUntilIdle();
    EXPECT_FALSE(receiver->isFetching());
    EXPECT_EQ(cloud.fetches, 2);
    EXPECT_EQ(receiver->info().lastFetchResult, "nothing pending");
}

TEST_F(CodeReceiverFetch, ACodeExpiresOnTimeWithItsTracesAndNeverByAnOlderCodesExpiry) {
    make();
    int latestChanges = 0;
    receiver->onLatestChange = [&] { ++latestChanges; };
    putRecord(code("111111", 30));
    fetchNow();
    const TaskHandle olderExpiry = receiver->expiryTask();
    actor.advance(10);
    putRecord(code("222222", 60));
    fetchNow();
    EXPECT_TRUE(olderExpiry.isCancelled());
    actor.advance(25);  // past the older code's expiry
    EXPECT_EQ(latestCode(), "222222");
    EXPECT_TRUE(QFile::exists(store->url()));

    receiver->copyLatest();
    EXPECT_TRUE(receiver->justCopiedAt());
    store->markFilled(actor.now());
    actor.advance(34.999);
    EXPECT_TRUE(receiver->latest());
    const auto before = log.lines.size();
    actor.advance(0.001);
    EXPECT_FALSE(receiver->latest());
    EXPECT_FALSE(receiver->justCopiedAt());
    EXPECT_FALSE(QFile::exists(store->url()));
    EXPECT_FALSE(QFile::exists(store->filledURL()));
    EXPECT_EQ(latestChanges, 3);
    EXPECT_TRUE(identityStore.identities.isEmpty());
    EXPECT_EQ(logSince(before), QStringList{"code expired"});
}

// The settings decide about the clipboard and the notification; copying again is the user's.
// Also: without the plain expiry field, the payload's own expiry lets the code through.
TEST_F(CodeReceiverFetch, CopyLatestCopiesWhatIsLeftOfTheCodesLife) {
    settings.setCopyToClipboard(false);
    settings.setNotify(false);
    make();
    receiver->copyLatest();
    EXPECT_EQ(pasteboard.count, 0) << "nothing to copy";
    putRecord(code("123456", 60), false);
    fetchNow();
    EXPECT_EQ(pasteboard.count, 0);
    EXPECT_TRUE(center.added.empty());
    actor.advance(20);
    receiver->copyLatest();
    EXPECT_EQ(receiver->justCopiedAt(), actor.now());
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), "123456");
    actor.advance(39.9);
    EXPECT_EQ(pasteboard.string(Pasteboard::stringType), "123456");
    actor.advance(0.1);
    EXPECT_FALSE(pasteboard.string(Pasteboard::stringType)) << "cleared when the code expires";
}

// A preview (the settings window's) shows the stored code but never fetches or polls.
TEST_F(CodeReceiverFetch, APreviewRestoresOnlyAStillValidStoredCodeAndNeverFetches) {
    const Instant now = actor.now();
    LatestCode stored{"Bank", std::nullopt, "654321", "Watch", now, now, addingSeconds(now, 40)};
    store->save(stored);
    make(true).start();
    EXPECT_EQ(receiver->latest(), store->load());
    EXPECT_EQ(receiver->idlePollTask(), TaskHandle()) << "a preview starts nothing else";
    EXPECT_EQ(workspace.observerCount(), 0u);
    putRecord(code());
    fetchNow();
    receiver->setPopoverVisible(true);
    actor.runUntilIdle();
    EXPECT_EQ(receiver->pollTask(), TaskHandle());
    EXPECT_EQ(cloud.fetches, 0);
    EXPECT_EQ(cloud.accountRequests, 0);
    EXPECT_TRUE(log.lines.empty());

    actor.advance(41);
    stored.expiresAt = addingSeconds(actor.now(), -1);
    store->save(stored);
    make(true).start();
    EXPECT_FALSE(receiver->latest());
    EXPECT_TRUE(QFile::exists(store->url())) << "an expired file is left alone";
}

TEST(ErrorText, FixedTextsForTheCloudErrorsAUserCanActOn) {
    const auto text = [](int code) {
        return errorText(std::make_exception_ptr(CloudError(code, "The description.")));
    };
    EXPECT_EQ(text(3), "no network");
    EXPECT_EQ(text(6), "iCloud is busy; will retry");
    EXPECT_EQ(text(7), "iCloud is busy; will retry");
    EXPECT_EQ(text(10), "iCloud refused (permission)");
    EXPECT_EQ(text(12), "iCloud schema: The description.");
    EXPECT_EQ(text(25), "iCloud storage is full");
    EXPECT_EQ(text(11), "The description.");
    EXPECT_EQ(text(1), "The description.");
    EXPECT_EQ(
        errorText(std::make_exception_ptr(PendingCodeError::notAPendingCode())),
        QString::fromUtf8("The operation couldn\u2019t be completed. (PendingCodeError error 2.)"));
}

}  // namespace
