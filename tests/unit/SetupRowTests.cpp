#include <gtest/gtest.h>

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>
#include <functional>
#include <ostream>

#include "FakeLoginItemService.h"
#include "FakeWorkspace.h"
#include "Logger.h"
#include "MacSettings.h"
#include "ManualMainActor.h"
#include "RecordingSystemLog.h"
#include "SetupActions.h"
#include "SetupRow.h"
#include "UserDefaults.h"

// Readable failures: gtest finds these next to the types.
static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

void PrintTo(const SetupRow& row, std::ostream* out) {
    *out << "{" << rawValue(row.kind).toStdString() << ", " << caseName(row.state).toStdString()
         << ", \"" << row.title.toStdString() << "\", detail "
         << (row.detail ? "\"" + row.detail->toStdString() + "\"" : "none") << ", action "
         << (row.action ? caseName(*row.action).toStdString() : "none") << ", button "
         << (row.buttonTitle ? "\"" + row.buttonTitle->toStdString() + "\"" : "none")
         << (row.spinner ? ", spinner}" : "}");
}

namespace {

using Kind = SetupRow::Kind;
using State = SetupRow::State;
using Action = SetupRow::Action;

const QString kOpenICloud = QStringLiteral("Open iCloud settings");
const QString kKeychainDetail = QStringLiteral(
    "Waiting for the key: turn on iCloud \u2192 Passwords & Keychain on this Mac and on the "
    "iPhone; it can take a few minutes.");
const QString kPollingDetail =
    QStringLiteral("Codes still arrive by polling while the popover is open.");
const QString kAutoFillDetail =
    QStringLiteral("In Safari, the code appears in the field as From Zorvik.");
const QString kWaitingForFirstCode =
    QStringLiteral("Waiting for your first code \u2014 tap any account in Zorvik on your iPhone");

Instant instant(const char* iso) {
    const QDateTime parsed = QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
    EXPECT_TRUE(parsed.isValid()) << iso;
    return Instant{std::chrono::milliseconds(parsed.toMSecsSinceEpoch())};
}

const Instant kNow = instant("2025-03-07T09:41:00Z");
const QTimeZone kUtc = QTimeZone::utc();

// A zone from the time-zone database, or the same standard offset where the database is missing.
QTimeZone zone(const char* id, int standardOffsetSeconds) {
    const QTimeZone named{QByteArray(id)};
    return named.isValid() ? named : QTimeZone(standardOffsetSeconds);
}

// Every check done, nothing received yet.
SetupProbe readyProbe() {
    SetupProbe probe;
    probe.cloud = {CloudAccountState::Kind::signedIn, {}};
    probe.syncKey = {SyncKeyState::Kind::received, {}};
    probe.pushRegistered = true;
    probe.subscriptionSaved = true;
    probe.autoFillEnabled = true;
    probe.notifications = NotificationState::allowed;
    return probe;
}

SetupRow rowOf(const QList<SetupRow>& rows, Kind kind) {
    for (const SetupRow& row : rows) {
        if (row.kind == kind) {
            return row;
        }
    }
    ADD_FAILURE() << "no row " << rawValue(kind).toStdString();
    return {};
}

TEST(SetupRowsTest, AFreshProbeGivesTheSevenRowsInOrder) {
    const QList<SetupRow> expected{
        {.kind = Kind::cloud,
         .state = State::pending,
         .title = QStringLiteral("iCloud: checking\u2026")},
        {.kind = Kind::syncKey,
         .state = State::pending,
         .title = QStringLiteral("iCloud Keychain: checking\u2026")},
        {.kind = Kind::push,
         .state = State::pending,
         .title = QStringLiteral("Registering\u2026"),
         .spinner = true},
        {.kind = Kind::autoFill,
         .state = State::pending,
         .title = QStringLiteral("AutoFill: checking\u2026")},
        {.kind = Kind::notifications,
         .state = State::pending,
         .title = QStringLiteral("Notifications: checking\u2026")},
        {.kind = Kind::launchAtLogin,
         .state = State::info,
         .title = QStringLiteral("Launch at login: off"),
         .action = Action::toggleLaunchAtLogin},
        {.kind = Kind::firstCode,
         .state = State::pending,
         .title = kWaitingForFirstCode,
         .spinner = true},
    };
    const QList<SetupRow> rows = setupRows(SetupProbe{}, kNow, kUtc);
    ASSERT_EQ(rows.size(), expected.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i], expected[i]) << "row " << i;
    }
    EXPECT_TRUE(needsAttention(rows));
    EXPECT_EQ(setupSummary(rows), "5 items to check");
}

TEST(SetupRowsTest, EverythingReadyButNoCodeWaitsForTheFirstCode) {
    const QList<SetupRow> rows = setupRows(readyProbe(), kNow, kUtc);
    EXPECT_FALSE(needsAttention(rows));
    EXPECT_EQ(setupSummary(rows), "ready, waiting for your first code");
    EXPECT_EQ(rowOf(rows, Kind::firstCode).state, State::pending);
}

TEST(SetupRowsTest, EverythingReadyWithACodeIsAllGood) {
    SetupProbe probe = readyProbe();
    probe.lastReceivedAt = instant("2025-03-07T09:40:00Z");
    probe.launchAtLogin = true;
    const QList<SetupRow> rows = setupRows(probe, kNow, kUtc);
    EXPECT_FALSE(needsAttention(rows));
    EXPECT_EQ(setupSummary(rows), "all good");
}

TEST(SetupRowsTest, LaunchAtLoginOffNeverCounts) {
    SetupProbe probe = readyProbe();
    probe.launchAtLogin = false;
    probe.lastReceivedAt = instant("2025-03-07T09:40:00Z");
    const QList<SetupRow> rows = setupRows(probe, kNow, kUtc);
    EXPECT_EQ(rowOf(rows, Kind::launchAtLogin).state, State::info);
    EXPECT_FALSE(needsAttention(rows));
    EXPECT_EQ(setupSummary(rows), "all good");

    // Even when the list were to show it as failing, neither it nor the first code counts.
    QList<SetupRow> edited = rows;
    for (SetupRow& row : edited) {
        if (row.kind == Kind::launchAtLogin || row.kind == Kind::firstCode) {
            row.state = State::failed;
        }
    }
    EXPECT_FALSE(needsAttention(edited));
    EXPECT_EQ(setupSummary(edited), "ready, waiting for your first code");
}

TEST(SetupRowsTest, OneOrTwoOpenRowsAreCounted) {
    SetupProbe probe = readyProbe();
    probe.notifications = NotificationState::off;
    EXPECT_EQ(setupSummary(setupRows(probe, kNow, kUtc)), "1 item to check");
    EXPECT_TRUE(needsAttention(setupRows(probe, kNow, kUtc)));
    probe.autoFillEnabled.reset();  // still checking counts as well
    EXPECT_EQ(setupSummary(setupRows(probe, kNow, kUtc)), "2 items to check");
}

TEST(SetupRowsTest, EmptyListsAndListsWithoutFirstCodeRow) {
    EXPECT_FALSE(needsAttention({}));
    EXPECT_EQ(setupSummary({}), "all good");
    QList<SetupRow> rows = setupRows(readyProbe(), kNow, kUtc);
    rows.removeLast();
    ASSERT_EQ(rows.size(), 6);
    EXPECT_EQ(setupSummary(rows), "all good");
}

TEST(SetupRowsTest, UnsavedSubscriptionWithoutTextSaysItCouldNotBeSaved) {
    SetupProbe probe = readyProbe();
    probe.subscriptionSaved = false;
    const SetupRow push = rowOf(setupRows(probe, kNow, kUtc), Kind::push);
    EXPECT_EQ(push.title, "Subscription: could not be saved");
    EXPECT_EQ(push.state, State::failed);
    EXPECT_EQ(push.detail, kPollingDetail);
}

TEST(SetupRowsTest, FailedPushRegistrationWinsOverAnyKnownSubscription) {
    SetupProbe probe = readyProbe();
    probe.pushRegistered = false;
    probe.pushError = QStringLiteral("no connection to the push service");
    for (std::optional<bool> saved : {std::optional(true), std::optional(false)}) {
        probe.subscriptionSaved = saved;
        probe.subscriptionError = QStringLiteral("quota exceeded");
        const SetupRow push = rowOf(setupRows(probe, kNow, kUtc), Kind::push);
        EXPECT_EQ(push.title, "Push: no connection to the push service");
        EXPECT_EQ(push.state, State::failed);
    }
}

TEST(ReceivedTimeTest, YesterdayShowsTheDateAndTodayOnlyTheTime) {
    SetupProbe probe = readyProbe();
    probe.lastReceivedName = QStringLiteral("Bank");
    probe.lastReceivedAt = instant("2025-03-06T23:05:00Z");
    EXPECT_EQ(rowOf(setupRows(probe, kNow, kUtc), Kind::firstCode).title,
              "Received Bank at Mar 6, 23:05");
    probe.lastReceivedAt = instant("2025-03-07T23:05:00Z");
    const Instant lateEvening = instant("2025-03-07T23:59:59Z");
    EXPECT_EQ(rowOf(setupRows(probe, lateEvening, kUtc), Kind::firstCode).title,
              "Received Bank at 23:05");
    probe.lastReceivedName.reset();
    const SetupRow firstCode = rowOf(setupRows(probe, lateEvening, kUtc), Kind::firstCode);
    EXPECT_EQ(firstCode.title, "Received a code at 23:05");
    EXPECT_EQ(firstCode.state, State::ok);
    EXPECT_FALSE(firstCode.spinner);
}

TEST(ReceivedTimeTest, TheDayIsDecidedInTheGivenZone) {
    const QTimeZone newYork = zone("America/New_York", -5 * 3600);
    const QTimeZone tokyo = zone("Asia/Tokyo", 9 * 3600);
    ASSERT_TRUE(newYork.isValid());
    ASSERT_TRUE(tokyo.isValid());

    // 22:00 on March 6 in New York, 03:00 on March 7 in UTC.
    const Instant evening = instant("2025-03-07T03:00:00Z");
    const Instant received = instant("2025-03-06T23:05:00Z");
    EXPECT_EQ(receivedTimeText(received, evening, newYork), "18:05");
    EXPECT_EQ(receivedTimeText(received, evening, kUtc), "Mar 6, 23:05");
    EXPECT_EQ(receivedTimeText(received, evening, tokyo), "08:05");

    // 00:30 on March 7 in Tokyo is still March 6 in UTC and in New York.
    const Instant afterMidnightInTokyo = instant("2025-03-06T15:30:00Z");
    EXPECT_EQ(receivedTimeText(afterMidnightInTokyo, kNow, tokyo), "00:30");
    EXPECT_EQ(receivedTimeText(afterMidnightInTokyo, kNow, kUtc), "Mar 6, 15:30");
    EXPECT_EQ(receivedTimeText(afterMidnightInTokyo, kNow, newYork), "Mar 6, 10:30");
}

TEST(ReceivedTimeTest, SameDayOfAnotherMonthOrYearShowsTheDate) {
    EXPECT_EQ(receivedTimeText(instant("2024-03-07T09:00:00Z"), kNow, kUtc), "Mar 7, 09:00");
    EXPECT_EQ(receivedTimeText(instant("2025-02-07T09:00:00Z"), kNow, kUtc), "Feb 7, 09:00");
    EXPECT_EQ(receivedTimeText(instant("2024-12-31T23:59:59.999Z"), instant("2025-01-01T00:00:00Z"),
                               kUtc),
              "Dec 31, 23:59");
    EXPECT_EQ(receivedTimeText(instant("2025-03-07T00:00:00Z"), kNow, kUtc), "00:00");
}

TEST(ReceivedTimeTest, MonthNamesAreEnglishWhateverTheLocale) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QStringList expected{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const Instant later = instant("2025-06-01T12:00:00Z");
    for (int month = 1; month <= 12; ++month) {
        const QDateTime date(QDate(2024, month, 15), QTime(7, 5), kUtc);
        const Instant at{std::chrono::milliseconds(date.toMSecsSinceEpoch())};
        EXPECT_EQ(receivedTimeText(at, later, kUtc), expected[month - 1] + " 15, 07:05");
    }
    QLocale::setDefault(saved);
}

// One probe condition and the row it must give.
struct TableCase {
    const char* name;
    std::function<void(SetupProbe&)> change;
    SetupRow expected;
};

TEST(SetupRowsTest, EveryConditionGivesItsRow) {
    const auto cloudFailed = [](QString title, std::optional<QString> detail) {
        return SetupRow{.kind = Kind::cloud,
                        .state = State::failed,
                        .title = std::move(title),
                        .detail = std::move(detail),
                        .action = Action::openICloudSettings,
                        .buttonTitle = kOpenICloud};
    };
    const std::vector<TableCase> cases{
        {"cloud checking",
         [](SetupProbe& p) { p.cloud = {}; },
         {.kind = Kind::cloud, .state = State::pending, .title = "iCloud: checking\u2026"}},
        {"cloud signed in",
         [](SetupProbe& p) { p.cloud.kind = CloudAccountState::Kind::signedIn; },
         {.kind = Kind::cloud, .state = State::ok, .title = "iCloud: signed in"}},
        {"cloud not signed in",
         [](SetupProbe& p) { p.cloud.kind = CloudAccountState::Kind::notSignedIn; },
         cloudFailed("iCloud: not signed in",
                     "Sign in with the same Apple Account as your iPhone.")},
        {"cloud restricted",
         [](SetupProbe& p) { p.cloud.kind = CloudAccountState::Kind::restricted; },
         cloudFailed("iCloud: restricted",
                     "Parental controls or a profile block iCloud for this app.")},
        {"cloud temporarily unavailable",
         [](SetupProbe& p) { p.cloud.kind = CloudAccountState::Kind::temporarilyUnavailable; },
         cloudFailed("iCloud: temporarily unavailable",
                     "Open the Apple Account settings and finish signing in.")},
        {"cloud error",
         [](SetupProbe& p) { p.cloud = CloudAccountState::error("The network is down."); },
         cloudFailed("iCloud: The network is down.", std::nullopt)},
        {"key checking",
         [](SetupProbe& p) { p.syncKey = {}; },
         {.kind = Kind::syncKey,
          .state = State::pending,
          .title = "iCloud Keychain: checking\u2026"}},
        {"key received",
         [](SetupProbe& p) { p.syncKey.kind = SyncKeyState::Kind::received; },
         {.kind = Kind::syncKey, .state = State::ok, .title = "Key received from your iPhone"}},
        {"key waiting",
         [](SetupProbe& p) { p.syncKey.kind = SyncKeyState::Kind::waiting; },
         {.kind = Kind::syncKey,
          .state = State::pending,
          .title = "iCloud Keychain: waiting for the key",
          .detail = kKeychainDetail,
          .action = Action::openICloudSettings,
          .buttonTitle = kOpenICloud,
          .spinner = true}},
        {"key error",
         [](SetupProbe& p) { p.syncKey = SyncKeyState::error("keyring is locked"); },
         {.kind = Kind::syncKey,
          .state = State::failed,
          .title = "iCloud Keychain: keyring is locked",
          .detail = kKeychainDetail,
          .action = Action::openICloudSettings,
          .buttonTitle = kOpenICloud}},
        {"push unknown",
         [](SetupProbe& p) {
             p.pushRegistered.reset();
             p.subscriptionSaved = false;
         },
         {.kind = Kind::push,
          .state = State::pending,
          .title = "Registering\u2026",
          .spinner = true}},
        {"push registered, subscription unknown",
         [](SetupProbe& p) { p.subscriptionSaved.reset(); },
         {.kind = Kind::push,
          .state = State::pending,
          .title = "Registering\u2026",
          .spinner = true}},
        {"push registered, subscription saved",
         [](SetupProbe&) {},
         {.kind = Kind::push, .state = State::ok, .title = "Listening for codes"}},
        {"subscription failed with text",
         [](SetupProbe& p) {
             p.subscriptionSaved = false;
             p.subscriptionError = "Quota exceeded";
         },
         {.kind = Kind::push,
          .state = State::failed,
          .title = "Subscription: Quota exceeded",
          .detail = kPollingDetail}},
        {"subscription failed without text",
         [](SetupProbe& p) { p.subscriptionSaved = false; },
         {.kind = Kind::push,
          .state = State::failed,
          .title = "Subscription: could not be saved",
          .detail = kPollingDetail}},
        {"push failed with text",
         [](SetupProbe& p) {
             p.pushRegistered = false;
             p.pushError = "no network";
         },
         {.kind = Kind::push,
          .state = State::failed,
          .title = "Push: no network",
          .detail = kPollingDetail}},
        {"push failed without text",
         [](SetupProbe& p) {
             p.pushRegistered = false;
             p.subscriptionSaved.reset();
         },
         {.kind = Kind::push,
          .state = State::failed,
          .title = "Push: registration failed",
          .detail = kPollingDetail}},
        {"autofill unknown",
         [](SetupProbe& p) { p.autoFillEnabled.reset(); },
         {.kind = Kind::autoFill, .state = State::pending, .title = "AutoFill: checking\u2026"}},
        {"autofill on",
         [](SetupProbe&) {},
         {.kind = Kind::autoFill,
          .state = State::ok,
          .title = "AutoFill: on",
          .detail = kAutoFillDetail}},
        {"autofill off",
         [](SetupProbe& p) { p.autoFillEnabled = false; },
         {.kind = Kind::autoFill,
          .state = State::failed,
          .title = "AutoFill: off",
          .detail = kAutoFillDetail,
          .action = Action::turnOnAutoFill,
          .buttonTitle = "Turn on AutoFill"}},
        {"notifications checking",
         [](SetupProbe& p) { p.notifications = NotificationState::checking; },
         {.kind = Kind::notifications,
          .state = State::pending,
          .title = "Notifications: checking\u2026"}},
        {"notifications not asked",
         [](SetupProbe& p) { p.notifications = NotificationState::notAsked; },
         {.kind = Kind::notifications,
          .state = State::pending,
          .title = "Notifications: not asked yet",
          .spinner = true}},
        {"notifications allowed",
         [](SetupProbe&) {},
         {.kind = Kind::notifications, .state = State::ok, .title = "Notifications: allowed"}},
        {"notifications off",
         [](SetupProbe& p) { p.notifications = NotificationState::off; },
         {.kind = Kind::notifications,
          .state = State::failed,
          .title = "Notifications: off",
          .detail = "Allow Zorvik so a banner shows each code with a Copy button.",
          .action = Action::openNotificationSettings,
          .buttonTitle = "Open Notification settings"}},
        {"launch at login on",
         [](SetupProbe& p) { p.launchAtLogin = true; },
         {.kind = Kind::launchAtLogin,
          .state = State::ok,
          .title = "Launch at login: on",
          .action = Action::toggleLaunchAtLogin}},
        {"launch at login off",
         [](SetupProbe& p) { p.launchAtLogin = false; },
         {.kind = Kind::launchAtLogin,
          .state = State::info,
          .title = "Launch at login: off",
          .action = Action::toggleLaunchAtLogin}},
        {"no code yet",
         [](SetupProbe& p) { p.lastReceivedName = "Bank"; },
         {.kind = Kind::firstCode,
          .state = State::pending,
          .title = kWaitingForFirstCode,
          .spinner = true}},
        {"a code with a name",
         [](SetupProbe& p) {
             p.lastReceivedName = "Bank";
             p.lastReceivedAt = instant("2025-03-07T08:15:00Z");
         },
         {.kind = Kind::firstCode, .state = State::ok, .title = "Received Bank at 08:15"}},
        {"a code without a name",
         [](SetupProbe& p) { p.lastReceivedAt = instant("2025-03-01T08:15:00Z"); },
         {.kind = Kind::firstCode, .state = State::ok, .title = "Received a code at Mar 1, 08:15"}},
    };

    QList<Kind> covered;
    for (const TableCase& testCase : cases) {
        SetupProbe probe = readyProbe();
        testCase.change(probe);
        const QList<SetupRow> rows = setupRows(probe, kNow, kUtc);
        ASSERT_EQ(rows.size(), 7) << testCase.name;
        for (qsizetype i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].kind, static_cast<Kind>(i)) << testCase.name;
        }
        EXPECT_EQ(rowOf(rows, testCase.expected.kind), testCase.expected) << testCase.name;
        if (!covered.contains(testCase.expected.kind)) {
            covered.append(testCase.expected.kind);
        }
    }
    EXPECT_EQ(covered.size(), 7);
}

TEST(SetupRowKindTest, RawValuesAreTheCaseNamesAndConvertBack) {
    const QStringList names{"cloud",         "syncKey",       "push",     "autoFill",
                            "notifications", "launchAtLogin", "firstCode"};
    for (qsizetype i = 0; i < names.size(); ++i) {
        const auto kind = static_cast<Kind>(i);
        EXPECT_EQ(rawValue(kind), names[i]);
        EXPECT_EQ(setupRowKind(names[i]), kind) << names[i].toStdString();
    }
    for (const char* other :
         {"", "Cloud", "cloud ", "synckey", "firstcode", "launch_at_login", "0", "info"}) {
        EXPECT_EQ(setupRowKind(QString::fromLatin1(other)), std::nullopt) << other;
    }
}

TEST(SetupRowKindTest, StatesAndActionsLogUnderTheirCaseNames) {
    EXPECT_EQ(caseName(State::ok), "ok");
    EXPECT_EQ(caseName(State::pending), "pending");
    EXPECT_EQ(caseName(State::failed), "failed");
    EXPECT_EQ(caseName(State::info), "info");
    EXPECT_EQ(caseName(Action::openICloudSettings), "openICloudSettings");
    EXPECT_EQ(caseName(Action::openNotificationSettings), "openNotificationSettings");
    EXPECT_EQ(caseName(Action::turnOnAutoFill), "turnOnAutoFill");
    EXPECT_EQ(caseName(Action::toggleLaunchAtLogin), "toggleLaunchAtLogin");
}

// A user-defaults store in memory; the settings under test need only its plain reads.
class MemoryUserDefaults final : public UserDefaults {
public:
    void registerDefaults(const QHash<QString, Value>& defaults) override {
        registered_.insert(defaults);
    }
    bool boolForKey(const QString& key) const override {
        const auto* value = find(key);
        return value != nullptr && std::holds_alternative<bool>(*value) && std::get<bool>(*value);
    }
    double doubleForKey(const QString& key) const override {
        const auto* value = find(key);
        return value != nullptr && std::holds_alternative<double>(*value) ? std::get<double>(*value)
                                                                          : 0;
    }
    std::optional<QString> stringForKey(const QString& key) const override {
        const auto* value = find(key);
        return value != nullptr && std::holds_alternative<QString>(*value)
                   ? std::optional(std::get<QString>(*value))
                   : std::nullopt;
    }
    std::optional<Instant> dateForKey(const QString& key) const override {
        const auto* value = find(key);
        return value != nullptr && std::holds_alternative<Instant>(*value)
                   ? std::optional(std::get<Instant>(*value))
                   : std::nullopt;
    }
    void setBool(bool value, const QString& key) override { stored_.insert(key, value); }
    void setDouble(double value, const QString& key) override { stored_.insert(key, value); }
    void setString(const QString& value, const QString& key) override {
        stored_.insert(key, value);
    }
    void setDate(Instant value, const QString& key) override { stored_.insert(key, value); }

private:
    const Value* find(const QString& key) const {
        if (const auto stored = stored_.constFind(key); stored != stored_.cend()) {
            return &*stored;
        }
        const auto registered = registered_.constFind(key);
        return registered == registered_.cend() ? nullptr : &*registered;
    }

    QHash<QString, Value> registered_;
    QHash<QString, Value> stored_;
};

class SetupActionTest : public testing::Test {
protected:
    void perform(Action action) {
        performSetupAction(action, settings, workspace, autoFill, logger);
    }

    ManualMainActor mainActor;
    MemoryUserDefaults defaults;
    FakeLoginItemService loginItem;
    MacSettings settings{defaults, loginItem};
    FakeWorkspace workspace{mainActor};
    FakeAutoFillSettings autoFill;
    RecordingSystemLog log;
    Logger logger{log, QStringLiteral("net.brontal.zorvik.mac"), QStringLiteral("setup")};
};

TEST_F(SetupActionTest, SettingsPanesOpenByTheirURLs) {
    perform(Action::openICloudSettings);
    perform(Action::openNotificationSettings);
    EXPECT_EQ(workspace.openedURLs,
              (QStringList{Workspace::iCloudSettingsURL, Workspace::notificationSettingsURL}));
    EXPECT_TRUE(workspace.openedApplications.isEmpty());
    EXPECT_EQ(autoFill.opened, 0);
    EXPECT_EQ(log.messages(), (QStringList{"setup action openICloudSettings",
                                           "setup action openNotificationSettings"}));
}

TEST_F(SetupActionTest, APaneThatDoesNotOpenFallsBackToTheSettingsApplication) {
    workspace.openURLSucceeds = false;
    perform(Action::openICloudSettings);
    EXPECT_EQ(workspace.openedURLs, QStringList{Workspace::iCloudSettingsURL});
    EXPECT_EQ(workspace.openedApplications, QStringList{Workspace::systemSettingsApplication});
    perform(Action::openNotificationSettings);
    EXPECT_EQ(workspace.openedURLs,
              (QStringList{Workspace::iCloudSettingsURL, Workspace::notificationSettingsURL}));
    EXPECT_EQ(workspace.openedApplications, (QStringList{Workspace::systemSettingsApplication,
                                                         Workspace::systemSettingsApplication}));
}

TEST_F(SetupActionTest, TurningOnAutoFillOpensTheProviderSettingsOnly) {
    perform(Action::turnOnAutoFill);
    EXPECT_EQ(autoFill.opened, 1);
    EXPECT_TRUE(workspace.openedURLs.isEmpty());
    EXPECT_TRUE(workspace.openedApplications.isEmpty());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], (RecordingSystemLog::Line{LogLevel::info, "net.brontal.zorvik.mac",
                                                      "setup", "setup action turnOnAutoFill"}));
}

TEST_F(SetupActionTest, TheLoginItemTogglesBothWays) {
    ASSERT_FALSE(settings.launchAtLogin());
    perform(Action::toggleLaunchAtLogin);
    EXPECT_TRUE(settings.launchAtLogin());
    EXPECT_EQ(loginItem.current, LoginItemService::Status::enabled);
    EXPECT_EQ(loginItem.registerCalls, 1);
    perform(Action::toggleLaunchAtLogin);
    EXPECT_FALSE(settings.launchAtLogin());
    EXPECT_EQ(loginItem.unregisterCalls, 1);
    EXPECT_EQ(log.messages(), (QStringList{"setup action toggleLaunchAtLogin",
                                           "setup action toggleLaunchAtLogin"}));
}

TEST_F(SetupActionTest, ARefusedToggleIsOnlyLogged) {
    loginItem.refuseWith = QStringLiteral("Read-only file system");
    perform(Action::toggleLaunchAtLogin);
    EXPECT_FALSE(settings.launchAtLogin());
    EXPECT_EQ(settings.launchAtLoginError(), "Read-only file system");
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].level, LogLevel::info);
    EXPECT_EQ(log.lines[0].message, "setup action toggleLaunchAtLogin");
}

TEST(FakeWorkspaceTest, EventsReachTheirObserversThroughTheQueue) {
    ManualMainActor mainActor;
    FakeWorkspace workspace(mainActor);
    QStringList seen;
    workspace.addObserver(Workspace::Event::willSleep, [&] { seen << "sleep"; });
    const auto removed =
        workspace.addObserver(Workspace::Event::willSleep, [&] { seen << "removed"; });
    workspace.addObserver(Workspace::Event::didWake, [&] { seen << "wake"; });
    workspace.fire(Workspace::Event::willSleep);
    EXPECT_TRUE(seen.isEmpty()) << "never inline";
    workspace.removeObserver(removed);
    mainActor.runUntilIdle();
    EXPECT_EQ(seen, QStringList{"sleep"});
}

}  // namespace
