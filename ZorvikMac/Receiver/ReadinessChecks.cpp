// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Receiver/ReadinessChecks.h"

#include <algorithm>

#include "ZorvikMac/CodeDelivery/CredentialIdentities.h"
#include "ZorvikMac/CodeDelivery/Notifier.h"
#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "ZorvikMac/CodeIntake/ErrorText.h"
#include "ZorvikMac/CodeIntake/SyncKeyCache.h"
#include "ZorvikMac/Readiness/MacSettings.h"
#include "ZorvikMac/Readiness/ReadinessState.h"
#include "ZorvikMac/Readiness/SetupProbe.h"
#include "ZorvikMac/Readiness/SetupRow.h"
#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "platform/CloudContainer.h"
#include "platform/Completion.h"
#include "platform/MainActor.h"
#include "platform/OnChangeLogger.h"
#include "platform/RemoteNotifications.h"

ReadinessChecks::ReadinessChecks(Services services, MacSettings& settings, ReadinessState& state,
                                 OnChangeLogger& routineLog)
    : services_(std::move(services)), settings_(settings), state_(state), routineLog_(routineLog) {}

Task<ChecksOutcome> ReadinessChecks::run() {
    co_await checkAccount();
    co_await checkKeychain();
    if (services_.remoteNotifications.isRegisteredForRemoteNotifications()) {
        state_.changeProbe([](SetupProbe& probe) { probe.pushRegistered = true; });
    }
    co_await ensureSubscription();
    if (services_.credentialIdentities != nullptr) {
        const bool enabled = co_await services_.credentialIdentities->isAutoFillEnabled();
        state_.changeProbe([&](SetupProbe& probe) { probe.autoFillEnabled = enabled; });
    }
    if (services_.notifier != nullptr) {
        const NotificationState state = co_await services_.notifier->notificationState();
        state_.changeProbe([&](SetupProbe& probe) { probe.notifications = state; });
    }
    settings_.refreshLaunchAtLogin();
    state_.changeProbe([&](SetupProbe& probe) { probe.launchAtLogin = settings_.launchAtLogin(); });
    const Instant now = services_.mainActor.now();
    state_.changeInfo([&](DiagnosticsInfo& info) { info.checkedAt = now; });
    const QList<SetupRow> rows = setupRows(state_.probe(), now, services_.timeZone);
    for (const SetupRow& row : rows) {
        routineLog_.write(LogLevel::debug, QStringLiteral("check ") + rawValue(row.kind),
                          "check %{public}s: %{public}s \u2014 %{public}s", rawValue(row.kind),
                          caseName(row.state), row.title);
    }
    co_return ChecksOutcome{needsAttention(rows), mayMendItself(state_.probe(), rows)};
}

bool ReadinessChecks::mayMendItself(const SetupProbe& probe, const QList<SetupRow>& rows) {
    const auto open = [&rows](SetupRow::Kind kind) {
        return std::any_of(rows.cbegin(), rows.cend(), [kind](const SetupRow& row) {
            return row.kind == kind &&
                   (row.state == SetupRow::State::pending || row.state == SetupRow::State::failed);
        });
    };
    // An account signed out, restricted or waiting for the user to confirm it is the user's to
    // mend, and so is everything the push needs from it.
    if (probe.cloudBackend.accountToConfirm) {
        return false;
    }
    using Account = CloudAccountState::Kind;
    switch (probe.cloud.kind) {
        case Account::checking:
        case Account::temporarilyUnavailable:
        case Account::error:
            return open(SetupRow::Kind::cloud);
        case Account::signedIn:
            return open(SetupRow::Kind::push);
        case Account::notSignedIn:
        case Account::restricted:
            return false;
    }
    return false;
}

Task<void> ReadinessChecks::checkAccount() {
    if (services_.cloudContainer == nullptr) {
        co_return;
    }
    CloudContainer& container = *services_.cloudContainer;
    const auto answer = co_await waitForCompletion<std::variant<int, CloudError>>(
        services_.mainActor, [&container](CompletionHandler<std::variant<int, CloudError>> done) {
            container.accountStatus(
                [done](std::variant<int, CloudError> status) { done.resume(std::move(status)); });
        });
    CloudAccountState state;
    if (const auto* error = std::get_if<CloudError>(&answer)) {
        state = CloudAccountState::error(error->localizedDescription());
    } else {
        switch (std::get<int>(answer)) {
            case CloudContainer::couldNotDetermine:
                state = CloudAccountState::error("could not determine the account state");
                break;
            case CloudContainer::available:
                state = {CloudAccountState::Kind::signedIn, {}};
                break;
            case CloudContainer::restricted:
                state = {CloudAccountState::Kind::restricted, {}};
                break;
            case CloudContainer::noAccount:
                state = {CloudAccountState::Kind::notSignedIn, {}};
                break;
            case CloudContainer::temporarilyUnavailable:
                state = {CloudAccountState::Kind::temporarilyUnavailable, {}};
                break;
            default:
                state = CloudAccountState::error("unknown account state");
        }
    }
    const CloudBackendInfo backend = container.backendInfo();
    state_.changeProbe([&](SetupProbe& probe) {
        probe.cloud = state;
        probe.cloudBackend = backend;
    });
    // A cloud that tells its time is the better judge of this computer's clock.
    if (backend.clockAhead) {
        state_.noteClockOffset(*backend.clockAhead);
    }
}

Task<void> ReadinessChecks::checkKeychain() {
    SyncKeyState state;
    try {
        co_await services_.syncKeys.load();
        state = {SyncKeyState::Kind::received, {}};
    } catch (const CloudSyncCrypto::Error& error) {
        state = syncKeyStateFor(error);
    } catch (const Error& error) {
        state = SyncKeyState::error(error.localizedDescription());
    }
    state_.noteSyncKey(state);
}

Task<void> ReadinessChecks::ensureSubscription() {
    if (services_.database == nullptr) {
        co_return;
    }
    CloudDatabase& database = *services_.database;
    QuerySubscription subscription;
    subscription.subscriptionID = QString::fromLatin1(CodeReceiver::subscriptionID);
    subscription.recordType = QString::fromLatin1(CodeReceiver::recordType);
    subscription.firesOn = QuerySubscription::onRecordCreation | QuerySubscription::onRecordUpdate;
    subscription.shouldSendContentAvailable = true;
    const auto failure = co_await waitForCompletion<std::optional<CloudError>>(
        services_.mainActor, [&](CompletionHandler<std::optional<CloudError>> done) {
            database.saveSubscription(subscription, [done](std::optional<CloudError> error) {
                done.resume(std::move(error));
            });
        });
    if (!failure) {
        state_.changeProbe([](SetupProbe& probe) {
            probe.subscriptionSaved = true;
            probe.subscriptionError.reset();
        });
        routineLog_.write(LogLevel::info, QStringLiteral("subscription"), "subscription saved");
        co_return;
    }
    const QString text = errorText(std::make_exception_ptr(*failure));
    state_.changeProbe([&](SetupProbe& probe) {
        probe.subscriptionSaved = false;
        probe.subscriptionError = text;
    });
    state_.changeInfo([&](DiagnosticsInfo& info) { info.lastError = "Subscription: " + text; });
    routineLog_.write(LogLevel::error, QStringLiteral("subscription"),
                      "subscription failed: %{public}s", text);
}
