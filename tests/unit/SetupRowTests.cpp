// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDateTime>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimeZone>
#include <functional>
#include <ostream>

#include "ZorvikMac/Popover/SetupActions.h"
#include "ZorvikMac/Readiness/MacSettings.h"
#include "ZorvikMac/Readiness/SetupRow.h"
#include "platform/CloudContainer.h"
#include "platform/Logger.h"
#include "platform/linux/QSettingsUserDefaults.h"
#include "tests/support/FakeLoginItemService.h"
#include "tests/support/FakeWorkspace.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/QStringPrinter.h"
#include "tests/support/RecordingSystemLog.h"

// Readable failures: gtest finds this next to SetupRow. Quoted text is streamed rather than joined
// with `+`, on which g++ 12 at -O2 warns of an overlapping copy (-Wrestrict) that cannot happen.
void PrintTo(const SetupRow& row, std::ostream* out) {
    const auto quoted = [out](const std::optional<QString>& text) -> std::ostream& {
        return text ? *out << '"' << text->toStdString() << '"' : *out << "none";
    };
    *out << "{" << rawValue(row.kind).toStdString() << ", " << caseName(row.state).toStdString()
         << ", \"" << row.title.toStdString() << "\", detail ";
    quoted(row.detail) << ", action " << (row.action ? caseName(*row.action).toStdString() : "none")
                       << ", button ";
    quoted(row.buttonTitle) << (row.spinner ? ", spinner}" : "}");
}

namespace {

using Kind = SetupRow::Kind;
using State = SetupRow::State;
using Action = SetupRow::Action;
using Cloud = CloudAccountState::Kind;

const QString kSameAccount = QStringLiteral("Sign in with the same Apple Account as your iPhone.");
const QString kPollingDetail =
    QStringLiteral("Codes still arrive by polling while the popover is open.");
const QString kAutoFillDetail =
    QStringLiteral("In your browser, the code is offered below the code field as From Zorvik.");

Instant instant(const char* iso) {
    const QDateTime parsed = QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
    EXPECT_TRUE(parsed.isValid()) << iso;
    return Instant{std::chrono::milliseconds(parsed.toMSecsSinceEpoch())};
}

const Instant kNow = instant("2025-03-07T09:41:00Z");
const QTimeZone kUtc = QTimeZone::utc();

// Every check done, nothing received yet.
const SetupProbe kReady = [] {
    SetupProbe probe;
    probe.cloud = {Cloud::signedIn, {}};
    probe.syncKey = {SyncKeyState::Kind::received, {}};
    probe.pushRegistered = probe.subscriptionSaved = probe.autoFillEnabled = true;
    probe.notifications = NotificationState::allowed;
    return probe;
}();

QList<SetupRow> rowsFor(const SetupProbe& probe) {
    return setupRows(probe, kNow, kUtc);
}

// The fields left out are empty; a spinner comes from `spinning`.
SetupRow row(Kind kind, State state, QString title, std::optional<QString> detail = {},
             std::optional<Action> action = {}, std::optional<QString> buttonTitle = {}) {
    return {
        kind, state, std::move(title), std::move(detail), action, std::move(buttonTitle), false, {},
        {},   {}};
}
SetupRow spinning(SetupRow made) {
    made.spinner = true;
    return made;
}
SetupRow cloudFailed(const char* title, std::optional<QString> detail) {
    return row(Kind::cloud, State::failed, title, detail, Action::openICloudSettings,
               "Open iCloud settings");
}
SetupRow pushFailed(const char* title) {
    return row(Kind::push, State::failed, title, kPollingDetail);
}
SetupRow loginItem(State state, const char* title) {
    return row(Kind::launchAtLogin, state, title, std::nullopt, Action::toggleLaunchAtLogin);
}

TEST(SetupRowsTest, EveryConditionGivesItsRowInKindOrder) {
    const SetupRow registering = spinning(row(Kind::push, State::pending, "Registering\u2026"));
    const SetupRow waitingForFirstCode = spinning(
        row(Kind::firstCode, State::pending,
            "Waiting for your first code \u2014 tap any account in Zorvik on your iPhone"));
    // A change to the ready probe and rows it must give. Each row reads only its own fields of the
    // probe, so one change can try a condition of each row.
    const struct {
        std::function<void(SetupProbe&)> change;
        QList<SetupRow> expected;
    } cases[] = {
        {[](SetupProbe& p) { p = {}; },
         {row(Kind::cloud, State::pending, "iCloud: checking\u2026"),
          row(Kind::syncKey, State::pending, "Keyring: checking\u2026"), registering,
          row(Kind::autoFill, State::pending, "AutoFill: checking\u2026"),
          row(Kind::notifications, State::pending, "Notifications: checking\u2026"),
          loginItem(State::info, "Launch at login: off"), waitingForFirstCode}},
        {[](SetupProbe& p) {
             p.launchAtLogin = true;
             p.lastReceivedName = "Bank";
             p.lastReceivedAt = instant("2025-03-07T08:15:00Z");
         },
         {row(Kind::cloud, State::ok, "iCloud: signed in"),
          row(Kind::syncKey, State::ok, "Key received from your iPhone"),
          row(Kind::push, State::ok, "Listening for codes"),
          row(Kind::autoFill, State::ok, "AutoFill: on", kAutoFillDetail),
          row(Kind::notifications, State::ok, "Notifications: allowed"),
          loginItem(State::ok, "Launch at login: on"),
          row(Kind::firstCode, State::ok, "Received Bank at 08:15")}},
        {[](SetupProbe& p) {
             p.cloud.kind = Cloud::notSignedIn;
             p.syncKey.kind = SyncKeyState::Kind::waiting;
             p.subscriptionSaved.reset();
             p.autoFillEnabled = false;
             p.notifications = NotificationState::notAsked;
             p.lastReceivedAt = instant("2025-03-01T08:15:00Z");
         },
         {cloudFailed("iCloud: not signed in", kSameAccount),
          spinning(row(Kind::syncKey, State::pending, "Keyring: waiting for the key",
                       "Waiting for the key: pair with your iPhone. In Zorvik on the iPhone, scan "
                       "the code this shows, and the key comes through iCloud.",
                       Action::pairWithIPhone, "Pair with iPhone\u2026")),
          registering,
          row(Kind::autoFill, State::failed, "AutoFill: off", kAutoFillDetail,
              Action::turnOnAutoFill, "Turn on AutoFill"),
          spinning(row(Kind::notifications, State::pending, "Notifications: not asked yet")),
          row(Kind::firstCode, State::ok, "Received a code at Mar 1, 08:15")}},
        {[](SetupProbe& p) {
             p.cloud.kind = Cloud::restricted;
             p.syncKey = SyncKeyState::error("the keyring service is not running");
             p.subscriptionSaved = false;
             p.subscriptionError = "Quota exceeded";
             p.notifications = NotificationState::off;
             p.lastReceivedName = "Bank";  // a name alone is no code
         },
         {cloudFailed("iCloud: restricted",
                      "Parental controls or a profile block iCloud for this app."),
          row(Kind::syncKey, State::failed, "Keyring: the keyring service is not running",
              "The key from your iPhone is kept in your keyring (the Secret Service of GNOME "
              "Keyring or KWallet). Make sure it runs, or log out and back in; codes wait until "
              "it answers."),
          pushFailed("Subscription: Quota exceeded"),
          row(Kind::notifications, State::failed, "Notifications: off",
              "Allow Zorvik so a banner shows each code with a Copy button.",
              Action::openNotificationSettings, "Open Notification settings"),
          waitingForFirstCode}},
        {[](SetupProbe& p) {
             p.cloud.kind = Cloud::temporarilyUnavailable;
             p.subscriptionSaved = false;
         },
         {cloudFailed("iCloud: temporarily unavailable",
                      "Open the Apple Account settings and finish signing in."),
          pushFailed("Subscription: could not be saved")}},
        {[](SetupProbe& p) {
             p.cloud = CloudAccountState::error("The network is down.");
             p.pushRegistered = false;
             p.pushError = "no network";
         },
         {cloudFailed("iCloud: The network is down.", std::nullopt),
          pushFailed("Push: no network")}},
        // What is known of the subscription counts only once the registration has succeeded.
        {[](SetupProbe& p) {
             p.pushRegistered = false;
             p.subscriptionSaved = false;
             p.subscriptionError = "Quota exceeded";
         },
         {pushFailed("Push: registration failed")}},
        {[](SetupProbe& p) {
             p.pushRegistered.reset();
             p.subscriptionSaved = false;
         },
         {registering}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        SetupProbe probe = kReady;
        cases[i].change(probe);
        const QList<SetupRow> rows = rowsFor(probe);
        ASSERT_EQ(rows.size(), 7);
        for (qsizetype k = 0; k < rows.size(); ++k) {
            EXPECT_EQ(rows[k].kind, static_cast<Kind>(k));
        }
        for (const SetupRow& expected : cases[i].expected) {
            EXPECT_EQ(rows[static_cast<qsizetype>(expected.kind)], expected);
        }
    }
}

TEST(SetupRowsTest, TheCloudRowOffersSigningInWhereTheDesktopHasNoAccountOfItsOwn) {
    using Backend = CloudBackendInfo::Kind;
    const QString adp = QStringLiteral(
        "Advanced Data Protection keeps this Apple Account's iCloud data away from the web. On "
        "your iPhone, turn on Settings \u2192 your name \u2192 iCloud \u2192 Access iCloud "
        "Data on the Web, then sign in again.");
    const auto signIn = [](State state, const char* title, const QString& detail) {
        return row(Kind::cloud, state, title, detail, Action::signInToICloud,
                   "Sign in to iCloud\u2026");
    };
    const auto onTheWeb = [](const char* title) {
        return row(Kind::cloud, State::ok, title,
                   "Codes come from your iPhone through iCloud on the web.",
                   Action::signOutOfICloud, "Sign out");
    };
    SetupRow confirming = row(Kind::cloud, State::pending, "iCloud: use other@example.com?",
                              "The sign-in page came back with this Apple Account. Use it only if "
                              "it is the one on your iPhone; if you did not just sign in, choose "
                              "Not mine.",
                              Action::confirmICloudAccount, "Use this account");
    confirming.secondaryAction = Action::declineICloudAccount;
    confirming.secondaryButtonTitle = QStringLiteral("Not mine");
    confirming.account = QStringLiteral("other@example.com");
    // A probe with only the cloud known, through a backend of `kind`.
    const auto probe = [](Cloud state, CloudBackendInfo::Kind kind, bool canSignIn,
                          std::optional<QString> note = {}, std::optional<QString> account = {},
                          std::optional<QString> accountToConfirm = {}) {
        SetupProbe made;
        made.cloud.kind = state;
        made.cloudBackend = {kind, canSignIn, {}, note, account, accountToConfirm, {}};
        return made;
    };
    const struct {
        SetupProbe probe;
        SetupRow expected;
    } cases[] = {
        // The embedded cloud says where codes come from, and how to get the iPhone's.
        {probe(Cloud::signedIn, Backend::embedded, true),
         signIn(State::ok, "Local cloud: in use",
                "Codes come only from zorvik-phone on this computer. Sign in to iCloud to receive "
                "your iPhone's.")},
        {probe(Cloud::signedIn, Backend::embedded, false),
         row(Kind::cloud, State::ok, "Local cloud: in use",
             "Codes come only from zorvik-phone on this computer.")},
        // Its faults name it too.
        {probe(Cloud::notSignedIn, Backend::embedded, false),
         cloudFailed("Local cloud: not signed in", kSameAccount)},
        // Signed in on the web: the row names the account and offers signing out.
        {probe(Cloud::signedIn, Backend::web, true), onTheWeb("iCloud: signed in")},
        {probe(Cloud::signedIn, Backend::web, true, {}, "me@example.com"),
         onTheWeb("iCloud: signed in as me@example.com")},
        // An account waiting for the user comes before whatever the cloud in use says.
        {probe(Cloud::signedIn, Backend::embedded, true, {}, {}, "other@example.com"), confirming},
        {probe(Cloud::notSignedIn, Backend::web, true, {}, "me@example.com", "other@example.com"),
         confirming},
        {probe(Cloud::notSignedIn, Backend::web, true),
         signIn(State::failed, "iCloud: not signed in", kSameAccount)},
        // The account's own note replaces the general advice.
        {probe(Cloud::restricted, Backend::web, true, adp),
         signIn(State::failed, "iCloud: restricted", adp)},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(setupRows(cases[i].probe, instant("2025-03-07T08:15:00Z"), kUtc).first(),
                  cases[i].expected)
            << "case " << i;
    }
}

TEST(SetupSummaryTest, OnlyTheRowsTheUserHasToSeeToCount) {
    SetupProbe withCode = kReady;
    withCode.lastReceivedAt = instant("2025-03-07T09:40:00Z");
    SetupProbe oneOpen = kReady;
    oneOpen.notifications = NotificationState::off;
    // Even shown as failing, the login item never counts; the first code only when it cannot
    // come (a clock far off), not while it is awaited.
    QList<SetupRow> optionalRowsFailed = rowsFor(kReady);
    optionalRowsFailed[5].state = State::failed;
    SetupProbe clockOff = withCode;
    clockOff.clockOffset = 3600;
    const struct {
        const char* name;
        QList<SetupRow> rows;
        bool attention;
        const char* summary;
    } cases[] = {
        {"fresh probe, all checking", rowsFor(SetupProbe{}), true, "5 items to check"},
        {"one open", rowsFor(oneOpen), true, "1 item to check"},
        {"ready, no code", rowsFor(kReady), false, "ready, waiting for your first code"},
        {"ready with a code", rowsFor(withCode), false, "all good"},
        {"login row failed", optionalRowsFailed, false, "ready, waiting for your first code"},
        {"clock off", rowsFor(clockOff), true, "1 item to check"},
        {"no first code row", rowsFor(kReady).mid(0, 6), false, "all good"},
        {"no rows", {}, false, "all good"},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(needsAttention(testCase.rows), testCase.attention) << testCase.name;
        EXPECT_EQ(setupSummary(testCase.rows), testCase.summary) << testCase.name;
    }
}

// A zone from the time-zone database, or the same standard offset where the database is missing.
QTimeZone zone(const char* id, int standardOffsetSeconds) {
    const QTimeZone named{QByteArray(id)};
    return named.isValid() ? named : QTimeZone(standardOffsetSeconds);
}

TEST(ReceivedTimeTest, OnlyTheTimeOnTheSameDayInTheGivenZoneElseTheEnglishDateToo) {
    const QTimeZone newYork = zone("America/New_York", -5 * 3600);
    const QTimeZone tokyo = zone("Asia/Tokyo", 9 * 3600);
    const struct {
        const char *date, *now;
        QTimeZone zone;
        const char* expected;
    } cases[] = {
        // Now is 22:00 on March 6 in New York, 03:00 on March 7 in UTC, 12:00 in Tokyo.
        {"2025-03-06T23:05:00Z", "2025-03-07T03:00:00Z", newYork, "18:05"},
        {"2025-03-06T23:05:00Z", "2025-03-07T03:00:00Z", kUtc, "Mar 6, 23:05"},
        {"2025-03-06T23:05:00Z", "2025-03-07T03:00:00Z", tokyo, "08:05"},
        // A zone Qt does not know reads as UTC.
        {"2025-03-06T23:05:00Z", "2025-03-07T03:00:00Z", QTimeZone(), "Mar 6, 23:05"},
        // 00:30 on March 7 in Tokyo is still March 6 in UTC and in New York.
        {"2025-03-06T15:30:00Z", "2025-03-07T09:41:00Z", tokyo, "00:30"},
        {"2025-03-06T15:30:00Z", "2025-03-07T09:41:00Z", newYork, "Mar 6, 10:30"},
        // The same day of another month or year.
        {"2024-03-07T09:00:00Z", "2025-03-07T09:41:00Z", kUtc, "Mar 7, 09:00"},
        {"2025-02-07T09:00:00Z", "2025-03-07T09:41:00Z", kUtc, "Feb 7, 09:00"},
        {"2024-12-31T23:59:59.999Z", "2025-01-01T00:00:00Z", kUtc, "Dec 31, 23:59"},
        {"2025-03-07T00:00:00Z", "2025-03-07T09:41:00Z", kUtc, "00:00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(receivedTimeText(instant(c.date), instant(c.now), c.zone), c.expected)
            << c.date << " at " << c.now << " in " << c.zone.id().toStdString();
    }
    // Month names are English whatever the locale: October is "Okt." in German.
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(receivedTimeText(instant("2024-10-15T07:05:00Z"), kNow, kUtc), "Oct 15, 07:05");
    QLocale::setDefault(saved);
}

// The names themselves show in the check log and the rows' object names, tested with those.
TEST(SetupRowKindTest, KindsReadBackOnlyFromTheirOwnRawValues) {
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(setupRowKind(rawValue(static_cast<Kind>(i))), static_cast<Kind>(i));
    }
    for (const char* other : {"", "Cloud", "cloud ", "synckey", "launch_at_login", "0", "info"}) {
        EXPECT_EQ(setupRowKind(QString::fromLatin1(other)), std::nullopt) << other;
    }
}

class SetupActionTest : public testing::Test {
protected:
    void perform(Action action, std::optional<QString> account = std::nullopt) {
        performSetupAction(
            action, settings,
            PopoverEnvironment{mainActor, workspace, autoFill, log, kUtc, cloudSignIn}, logger,
            account);
    }

    // Records, in order, what the sign-in actions ask for.
    struct RecordingSignIn : CloudAccountSignIn {
        void signIn() override { calls << "signIn"; }
        void confirmSignIn(const QString& account) override { calls << "confirm " + account; }
        void declineSignIn() override { calls << "decline"; }
        void signOut() override { calls << "signOut"; }
        QStringList calls;
    } signIn;

    ManualMainActor mainActor;
    QTemporaryDir directory;
    QSettingsUserDefaults defaults{directory.filePath("ZorvikMac.conf")};
    FakeLoginItemService loginItem;
    MacSettings settings{defaults, loginItem};
    FakeWorkspace workspace{mainActor};
    FakeAutoFillSettings autoFill;
    RecordingSystemLog log;
    Logger logger{log, QStringLiteral("net.brontal.zorvik.mac"), QStringLiteral("setup")};
    CloudAccountSignIn* cloudSignIn = nullptr;
};

TEST_F(SetupActionTest, CloudAccountActionsGoToTheCloudSignInElseTheSettingsPane) {
    // A desktop with its own cloud account has only its settings pane to offer.
    perform(Action::signInToICloud);
    perform(Action::signOutOfICloud);
    EXPECT_EQ(workspace.openedURLs, QStringList{Workspace::iCloudSettingsURL});

    cloudSignIn = &signIn;
    perform(Action::signInToICloud);
    perform(Action::signOutOfICloud);
    perform(Action::confirmICloudAccount);  // no account named, nothing to confirm
    perform(Action::declineICloudAccount, QStringLiteral("me@example.com"));
    EXPECT_EQ(signIn.calls, (QStringList{"signIn", "signOut", "decline"}));
    EXPECT_EQ(workspace.openedURLs.size(), 1);
    EXPECT_EQ(log.messages().mid(2, 2),
              (QStringList{"setup action signInToICloud", "setup action signOutOfICloud"}));
}

// AutoFill opens its provider's settings only; a settings pane opens by its URL, else the
// settings application opens.
TEST_F(SetupActionTest, EachSettingsActionOpensOnlyItsOwnPlace) {
    perform(Action::turnOnAutoFill);
    EXPECT_EQ(autoFill.opened, 1);
    EXPECT_TRUE(workspace.openedURLs.isEmpty());
    EXPECT_EQ(log.lines,
              (std::vector<RecordingSystemLog::Line>{{LogLevel::info, "net.brontal.zorvik.mac",
                                                      "setup", "setup action turnOnAutoFill"}}));
    const QStringList urls{Workspace::iCloudSettingsURL, Workspace::notificationSettingsURL};
    perform(Action::openICloudSettings);
    perform(Action::openNotificationSettings);
    EXPECT_EQ(workspace.openedURLs, urls);
    EXPECT_TRUE(workspace.openedApplications.isEmpty());
    workspace.openURLSucceeds = false;
    perform(Action::openICloudSettings);
    perform(Action::openNotificationSettings);
    EXPECT_EQ(workspace.openedURLs, urls + urls);
    EXPECT_EQ(workspace.openedApplications,
              QStringList(2, QString::fromLatin1(Workspace::systemSettingsApplication)));
    EXPECT_EQ(autoFill.opened, 1);
    const QStringList logged{"setup action openICloudSettings",
                             "setup action openNotificationSettings"};
    EXPECT_EQ(log.messages().mid(1), logged + logged);
}

TEST_F(SetupActionTest, TheLoginItemTogglesBothWaysAndARefusalIsOnlyLogged) {
    perform(Action::toggleLaunchAtLogin);
    EXPECT_TRUE(settings.launchAtLogin());
    EXPECT_EQ(loginItem.current, LoginItemService::Status::enabled);
    perform(Action::toggleLaunchAtLogin);
    EXPECT_FALSE(settings.launchAtLogin());
    EXPECT_EQ(loginItem.current, LoginItemService::Status::notRegistered);
    loginItem.refuseWith = QStringLiteral("Read-only file system");
    perform(Action::toggleLaunchAtLogin);
    EXPECT_EQ(log.messages(), QStringList(3, QStringLiteral("setup action toggleLaunchAtLogin")));
}

}  // namespace
