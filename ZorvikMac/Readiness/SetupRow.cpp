// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Readiness/SetupRow.h"

#include <QDateTime>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>

namespace {

using Kind = SetupRow::Kind;
using State = SetupRow::State;
using Action = SetupRow::Action;

const char* const kOpenICloudSettings = QT_TRANSLATE_NOOP("SetupRow", "Open iCloud settings");
const char* const kSignIn = QT_TRANSLATE_NOOP("SetupRow", "Sign in to iCloud…");
const char* const kWebDetail =
    QT_TRANSLATE_NOOP("SetupRow", "Codes come from your iPhone through iCloud on the web.");
const char* const kConfirmDetail = QT_TRANSLATE_NOOP(
    "SetupRow",
    "The sign-in page came back with this Apple Account. Use it only if it is the one on your "
    "iPhone; if you did not just sign in, choose Not mine.");
const char* const kEmbeddedDetail = QT_TRANSLATE_NOOP(
    "SetupRow",
    "Codes come only from zorvik-phone on this computer. Sign in to iCloud to receive your "
    "iPhone's.");
const char* const kEmbeddedOnlyDetail =
    QT_TRANSLATE_NOOP("SetupRow", "Codes come only from zorvik-phone on this computer.");
// This desktop has no synchronised keychain: the key comes by pairing with the phone.
const char* const kKeychainDetail = QT_TRANSLATE_NOOP(
    "SetupRow",
    "Waiting for the key: pair with your iPhone. In Zorvik on the iPhone, scan the code this "
    "shows, and the key comes through iCloud.");
const char* const kPair = QT_TRANSLATE_NOOP("SetupRow", "Pair with iPhone…");
const char* const kKeyringFaultDetail = QT_TRANSLATE_NOOP(
    "SetupRow",
    "The key from your iPhone is kept in your keyring (the Secret Service of GNOME Keyring or "
    "KWallet). Make sure it runs, or log out and back in; codes wait until it answers.");
const char* const kLockedDetail = QT_TRANSLATE_NOOP(
    "SetupRow",
    "Your keyring is locked, so the key from your iPhone cannot be read and codes wait. Unlock "
    "it with your login password.");
const char* const kPollingDetail =
    QT_TRANSLATE_NOOP("SetupRow", "Codes still arrive by polling while the popover is open.");
const char* const kAutoFillDetail = QT_TRANSLATE_NOOP(
    "SetupRow", "In your browser, the code is offered below the code field as From Zorvik.");

constexpr std::array kKinds{Kind::cloud,    Kind::syncKey,       Kind::push,
                            Kind::autoFill, Kind::notifications, Kind::launchAtLogin,
                            Kind::firstCode};

SetupRow row(Kind kind, State state, QString title) {
    SetupRow made;
    made.kind = kind;
    made.state = state;
    made.title = std::move(title);
    return made;
}

SetupRow withSpinner(SetupRow made) {
    made.spinner = true;
    return made;
}

SetupRow withDetail(SetupRow made, QString detail) {
    made.detail = std::move(detail);
    return made;
}

SetupRow withAction(SetupRow made, Action action, std::optional<QString> buttonTitle) {
    made.action = action;
    made.buttonTitle = std::move(buttonTitle);
    return made;
}

SetupRow cloudRow(const CloudAccountState& cloud, const CloudBackendInfo& backend) {
    using Backend = CloudBackendInfo::Kind;
    // Where the desktop has no system account, the fix for every account problem is to sign in
    // to the web service; where it has one, its settings.
    const bool signsIn = backend.canSignIn && backend.kind != Backend::unknown;
    // The folder zorvik-phone writes is no iCloud, and the row says which cloud it speaks of.
    const QString name =
        backend.kind == Backend::embedded ? SetupRow::tr("Local cloud") : QStringLiteral("iCloud");
    const auto titled = [&](const QString& words) { return name + QStringLiteral(": ") + words; };
    const auto failed = [&](QString title, std::optional<QString> detail) {
        SetupRow made = row(Kind::cloud, State::failed, std::move(title));
        made.detail = backend.note ? backend.note : std::move(detail);
        if (signsIn) {
            return withAction(std::move(made), Action::signInToICloud, SetupRow::tr(kSignIn));
        }
        return withAction(std::move(made), Action::openICloudSettings,
                          SetupRow::tr(kOpenICloudSettings));
    };
    if (backend.accountToConfirm) {
        // Whoever can reach the browser's way back can send a session: the user decides.
        SetupRow made = withAction(
            withDetail(row(Kind::cloud, State::pending,
                           SetupRow::tr("iCloud: use %1?").arg(*backend.accountToConfirm)),
                       SetupRow::tr(kConfirmDetail)),
            Action::confirmICloudAccount, SetupRow::tr("Use this account"));
        made.secondaryAction = Action::declineICloudAccount;
        made.secondaryButtonTitle = SetupRow::tr("Not mine");
        made.account = backend.accountToConfirm;
        return made;
    }
    switch (cloud.kind) {
        case CloudAccountState::Kind::checking:
            return row(Kind::cloud, State::pending, titled(SetupRow::tr("checking…")));
        case CloudAccountState::Kind::signedIn:
            if (backend.kind == Backend::web) {
                const QString title =
                    backend.account ? SetupRow::tr("iCloud: signed in as %1").arg(*backend.account)
                                    : SetupRow::tr("iCloud: signed in");
                return withAction(
                    withDetail(row(Kind::cloud, State::ok, title), SetupRow::tr(kWebDetail)),
                    Action::signOutOfICloud, SetupRow::tr("Sign out"));
            }
            if (backend.kind == Backend::embedded) {
                SetupRow made =
                    withDetail(row(Kind::cloud, State::ok, titled(SetupRow::tr("in use"))),
                               backend.note.value_or(signsIn ? SetupRow::tr(kEmbeddedDetail)
                                                             : SetupRow::tr(kEmbeddedOnlyDetail)));
                return signsIn ? withAction(std::move(made), Action::signInToICloud,
                                            SetupRow::tr(kSignIn))
                               : made;
            }
            return row(Kind::cloud, State::ok, SetupRow::tr("iCloud: signed in"));
        case CloudAccountState::Kind::notSignedIn:
            return failed(titled(SetupRow::tr("not signed in")),
                          SetupRow::tr("Sign in with the same Apple Account as your iPhone."));
        case CloudAccountState::Kind::restricted:
            return failed(
                titled(QStringLiteral("restricted")),
                SetupRow::tr("Parental controls or a profile block iCloud for this app."));
        case CloudAccountState::Kind::temporarilyUnavailable:
            return failed(titled(SetupRow::tr("temporarily unavailable")),
                          SetupRow::tr("Open the Apple Account settings and finish signing in."));
        case CloudAccountState::Kind::error:
            return failed(titled(cloud.message), std::nullopt);
    }
    Q_UNREACHABLE();
}

SetupRow syncKeyRow(const SyncKeyState& syncKey) {
    switch (syncKey.kind) {
        case SyncKeyState::Kind::checking:
            return row(Kind::syncKey, State::pending, SetupRow::tr("Keyring: checking…"));
        case SyncKeyState::Kind::received:
            return row(Kind::syncKey, State::ok, SetupRow::tr("Key received from your iPhone"));
        case SyncKeyState::Kind::waiting:
            return withSpinner(
                withAction(withDetail(row(Kind::syncKey, State::pending,
                                          SetupRow::tr("Keyring: waiting for the key")),
                                      SetupRow::tr(kKeychainDetail)),
                           Action::pairWithIPhone, SetupRow::tr(kPair)));
        case SyncKeyState::Kind::locked:
            return withAction(
                withDetail(row(Kind::syncKey, State::failed, SetupRow::tr("Keyring locked")),
                           SetupRow::tr(kLockedDetail)),
                Action::unlockKeyring, SetupRow::tr("Unlock"));
        case SyncKeyState::Kind::error:
            // Pairing again would not help: the keyring itself does not answer.
            return withDetail(
                row(Kind::syncKey, State::failed, SetupRow::tr("Keyring: ") + syncKey.message),
                SetupRow::tr(kKeyringFaultDetail));
    }
    Q_UNREACHABLE();
}

SetupRow pushRow(const SetupProbe& probe) {
    const auto registering = [] {
        return withSpinner(row(Kind::push, State::pending, SetupRow::tr("Registering…")));
    };
    if (!probe.pushRegistered) {
        return registering();
    }
    if (!*probe.pushRegistered) {
        // The subscription cannot have been saved for pushes that never come.
        return withDetail(row(Kind::push, State::failed,
                              SetupRow::tr("Push: ") +
                                  probe.pushError.value_or(SetupRow::tr("registration failed"))),
                          SetupRow::tr(kPollingDetail));
    }
    if (!probe.subscriptionSaved) {
        return registering();
    }
    if (*probe.subscriptionSaved) {
        return row(Kind::push, State::ok, SetupRow::tr("Listening for codes"));
    }
    return withDetail(row(Kind::push, State::failed,
                          SetupRow::tr("Subscription: ") +
                              probe.subscriptionError.value_or(SetupRow::tr("could not be saved"))),
                      SetupRow::tr(kPollingDetail));
}

SetupRow autoFillRow(std::optional<bool> enabled) {
    if (!enabled) {
        return row(Kind::autoFill, State::pending, SetupRow::tr("AutoFill: checking…"));
    }
    if (*enabled) {
        return withDetail(row(Kind::autoFill, State::ok, SetupRow::tr("AutoFill: on")),
                          SetupRow::tr(kAutoFillDetail));
    }
    return withAction(withDetail(row(Kind::autoFill, State::failed, SetupRow::tr("AutoFill: off")),
                                 SetupRow::tr(kAutoFillDetail)),
                      Action::turnOnAutoFill, SetupRow::tr("Turn on AutoFill"));
}

SetupRow notificationsRow(NotificationState notifications) {
    switch (notifications) {
        case NotificationState::checking:
            return row(Kind::notifications, State::pending,
                       SetupRow::tr("Notifications: checking…"));
        case NotificationState::notAsked:
            return withSpinner(row(Kind::notifications, State::pending,
                                   SetupRow::tr("Notifications: not asked yet")));
        case NotificationState::allowed:
            return row(Kind::notifications, State::ok, SetupRow::tr("Notifications: allowed"));
        case NotificationState::off:
            return withAction(
                withDetail(
                    row(Kind::notifications, State::failed, SetupRow::tr("Notifications: off")),
                    SetupRow::tr("Allow Zorvik so a banner shows each code with a Copy button.")),
                Action::openNotificationSettings, SetupRow::tr("Open Notification settings"));
        case NotificationState::noService:
            return withDetail(
                row(Kind::notifications, State::failed,
                    SetupRow::tr("Notifications: no notification service is running on this "
                                 "desktop")),
                SetupRow::tr("Codes still reach the clipboard and this panel. Start your "
                             "desktop's notification service (or one such as dunst) to see "
                             "each code as a banner with a Copy button."));
    }
    Q_UNREACHABLE();
}

SetupRow launchAtLoginRow(bool launchAtLogin) {
    // The whole row is the switch; it has no button of its own.
    return withAction(
        launchAtLogin ? row(Kind::launchAtLogin, State::ok, SetupRow::tr("Launch at login: on"))
                      : row(Kind::launchAtLogin, State::info, SetupRow::tr("Launch at login: off")),
        Action::toggleLaunchAtLogin, std::nullopt);
}

SetupRow firstCodeRow(const SetupProbe& probe, Instant now, const QTimeZone& timeZone) {
    if (probe.clockOffset) {
        return row(Kind::firstCode, State::failed, clockOffsetText(*probe.clockOffset));
    }
    if (!probe.lastReceivedAt) {
        return withSpinner(
            row(Kind::firstCode, State::pending,
                SetupRow::tr(
                    "Waiting for your first code — tap any account in Zorvik on your iPhone")));
    }
    return row(Kind::firstCode, State::ok,
               SetupRow::tr("Received %1 at %2")
                   .arg(probe.lastReceivedName.value_or(SetupRow::tr("a code")),
                        receivedTimeText(*probe.lastReceivedAt, now, timeZone)));
}

QDateTime inZone(Instant instant, const QTimeZone& timeZone) {
    const auto milliseconds =
        std::chrono::floor<std::chrono::milliseconds>(instant.time_since_epoch()).count();
    // A zone Qt does not know reads as UTC rather than as an invalid date.
    return QDateTime::fromMSecsSinceEpoch(milliseconds,
                                          timeZone.isValid() ? timeZone : QTimeZone::utc());
}

// The rows the user has to see to: all but the login item, and the first code unless it
// cannot come.
bool countsForAttention(const SetupRow& row) {
    if (row.kind == Kind::firstCode) {
        return row.state == State::failed;
    }
    return row.kind != Kind::launchAtLogin &&
           (row.state == State::pending || row.state == State::failed);
}

QString amountOfTime(double seconds) {
    // One and more are told apart in the texts, as in the languages translated so far.
    const auto counted = [](double count, const char* one, const char* more) {
        const long whole = std::max(1L, std::lround(count));
        return whole == 1 ? SetupRow::tr(one) : SetupRow::tr(more).arg(whole);
    };
    if (seconds < 59.5 * 60) {
        return counted(seconds / 60, QT_TRANSLATE_NOOP("SetupRow", "1 minute"),
                       QT_TRANSLATE_NOOP("SetupRow", "%1 minutes"));
    }
    if (seconds < 47.5 * 3600) {
        return counted(seconds / 3600, QT_TRANSLATE_NOOP("SetupRow", "1 hour"),
                       QT_TRANSLATE_NOOP("SetupRow", "%1 hours"));
    }
    return counted(seconds / 86400, QT_TRANSLATE_NOOP("SetupRow", "1 day"),
                   QT_TRANSLATE_NOOP("SetupRow", "%1 days"));
}

}  // namespace

QString rawValue(SetupRow::Kind kind) {
    switch (kind) {
        case Kind::cloud:
            return QStringLiteral("cloud");
        case Kind::syncKey:
            return QStringLiteral("syncKey");
        case Kind::push:
            return QStringLiteral("push");
        case Kind::autoFill:
            return QStringLiteral("autoFill");
        case Kind::notifications:
            return QStringLiteral("notifications");
        case Kind::launchAtLogin:
            return QStringLiteral("launchAtLogin");
        case Kind::firstCode:
            return QStringLiteral("firstCode");
    }
    Q_UNREACHABLE();
}

std::optional<SetupRow::Kind> setupRowKind(const QString& text) {
    for (const Kind kind : kKinds) {
        if (rawValue(kind) == text) {
            return kind;
        }
    }
    return std::nullopt;
}

QString caseName(SetupRow::State state) {
    switch (state) {
        case State::ok:
            return QStringLiteral("ok");
        case State::pending:
            return QStringLiteral("pending");
        case State::failed:
            return QStringLiteral("failed");
        case State::info:
            return QStringLiteral("info");
    }
    Q_UNREACHABLE();
}

QString caseName(SetupRow::Action action) {
    switch (action) {
        case Action::openICloudSettings:
            return QStringLiteral("openICloudSettings");
        case Action::openNotificationSettings:
            return QStringLiteral("openNotificationSettings");
        case Action::turnOnAutoFill:
            return QStringLiteral("turnOnAutoFill");
        case Action::toggleLaunchAtLogin:
            return QStringLiteral("toggleLaunchAtLogin");
        case Action::signInToICloud:
            return QStringLiteral("signInToICloud");
        case Action::signOutOfICloud:
            return QStringLiteral("signOutOfICloud");
        case Action::pairWithIPhone:
            return QStringLiteral("pairWithIPhone");
        case Action::unlockKeyring:
            return QStringLiteral("unlockKeyring");
        case Action::confirmICloudAccount:
            return QStringLiteral("confirmICloudAccount");
        case Action::declineICloudAccount:
            return QStringLiteral("declineICloudAccount");
    }
    Q_UNREACHABLE();
}

QList<SetupRow> setupRows(const SetupProbe& probe, Instant now, const QTimeZone& timeZone) {
    return {
        cloudRow(probe.cloud, probe.cloudBackend),
        syncKeyRow(probe.syncKey),
        pushRow(probe),
        autoFillRow(probe.autoFillEnabled),
        notificationsRow(probe.notifications),
        launchAtLoginRow(probe.launchAtLogin),
        firstCodeRow(probe, now, timeZone),
    };
}

QString receivedTimeText(Instant date, Instant now, const QTimeZone& timeZone) {
    // Fixed English abbreviations: the text must not follow the user's locale.
    static constexpr std::array<const char*, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDateTime local = inZone(date, timeZone);
    const QString time = QStringLiteral("%1:%2")
                             .arg(local.time().hour(), 2, 10, QLatin1Char('0'))
                             .arg(local.time().minute(), 2, 10, QLatin1Char('0'));
    if (local.date() == inZone(now, timeZone).date()) {
        return time;
    }
    return QStringLiteral("%1 %2, %3")
        .arg(QLatin1String(kMonths[static_cast<std::size_t>(local.date().month() - 1)]))
        .arg(local.date().day())
        .arg(time);
}

QString clockOffsetText(double secondsAhead) {
    const QString amount = amountOfTime(std::abs(secondsAhead));
    const QString howToFix = SetupRow::tr(
        "set it automatically in the system's date and time settings, or with "
        "\"timedatectl set-ntp true\"");
    if (secondsAhead > 0) {
        return SetupRow::tr(
                   "This computer's clock is about %1 ahead of your iPhone's, so codes "
                   "arrive expired: %2")
            .arg(amount, howToFix);
    }
    return SetupRow::tr("This computer's clock is about %1 behind your iPhone's: %2")
        .arg(amount, howToFix);
}

bool needsAttention(const QList<SetupRow>& rows) {
    return std::any_of(rows.cbegin(), rows.cend(), countsForAttention);
}

QString setupSummary(const QList<SetupRow>& rows) {
    const auto open = std::count_if(rows.cbegin(), rows.cend(), countsForAttention);
    if (open == 1) {
        return SetupRow::tr("1 item to check");
    }
    if (open > 1) {
        return SetupRow::tr("%1 items to check").arg(open);
    }
    const auto firstCode = std::find_if(rows.cbegin(), rows.cend(), [](const SetupRow& row) {
        return row.kind == Kind::firstCode;
    });
    if (firstCode != rows.cend() && firstCode->state != State::ok) {
        return SetupRow::tr("ready, waiting for your first code");
    }
    return SetupRow::tr("all good");
}
