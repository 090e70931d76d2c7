// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Receiver/CodeReceiver.h"

#include <QPointer>
#include <algorithm>
#include <cmath>

#include "ZorvikMac/CodeDelivery/ClipboardPublisher.h"
#include "ZorvikMac/CodeDelivery/CredentialIdentities.h"
#include "ZorvikMac/CodeDelivery/Notifier.h"
#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "ZorvikMac/CodeIntake/ErrorText.h"
#include "ZorvikMac/CodeIntake/PendingCode.h"
#include "ZorvikMac/Readiness/DiagnosticsReport.h"
#include "ZorvikMac/Readiness/MacSettings.h"
#include "platform/CloudContainer.h"
#include "platform/Completion.h"
#include "platform/Keychain.h"
#include "platform/MainActor.h"
#include "platform/RemoteNotifications.h"
#include "platform/UserDefaults.h"

namespace {

const QString kFirstRunDone = QStringLiteral("firstRunDone");
const QString kLastReceivedAt = QStringLiteral("lastReceivedAt");
const QString kLastReceivedName = QStringLiteral("lastReceivedName");

// Cleared when the code it was armed for expires, unless a newer code replaced it meanwhile.
Task<void> expireWhenDue(QPointer<CodeReceiver> receiver, MainActor& mainActor, LatestCode code) {
    co_await mainActor.sleep(std::max(0.0, secondsBetween(mainActor.now(), code.expiresAt)));
    const bool cancelled = co_await isCancelled();
    if (cancelled || !receiver) {
        co_return;
    }
    if (receiver->latest() == code) {
        receiver->expireLatest();
    }
}

Task<void> checkThenFetch(QPointer<CodeReceiver> receiver) {
    if (!receiver) {
        co_return;
    }
    co_await receiver->runChecks();
    if (receiver) {
        co_await receiver->fetch();
    }
}

Task<void> fetchOnce(QPointer<CodeReceiver> receiver) {
    if (receiver) {
        co_await receiver->fetch();
    }
}

// Identity-store work nobody waits for; its errors are dropped.
Task<void> registerIdentities(CredentialIdentities& identities, LatestCode code) {
    co_await identities.registerCode(std::move(code));
}

Task<void> removeIdentities(CredentialIdentities& identities) {
    co_await identities.removeAll();
}

// Nothing when the cloud has no such record, which is what most polls find: no exception.
Task<std::optional<CloudRecord>> fetchRecord(MainActor& mainActor, CloudDatabase& database,
                                             const QString& name) {
    auto answer = co_await waitForCompletion<std::variant<CloudRecord, CloudError>>(
        mainActor, [&](CompletionHandler<std::variant<CloudRecord, CloudError>> done) {
            database.fetchRecord(name, [done](std::variant<CloudRecord, CloudError> result) {
                done.resume(std::move(result));
            });
        });
    if (auto* error = std::get_if<CloudError>(&answer)) {
        if (error->code() == CloudError::unknownItem) {
            co_return std::nullopt;
        }
        throw *error;
    }
    co_return std::get<CloudRecord>(std::move(answer));
}

QString orQuestionMark(const std::optional<QString>& text) {
    return text.value_or(QStringLiteral("?"));
}

}  // namespace

CodeReceiver::CodeReceiver(MacSettings& settings, std::optional<LatestCodeStore> store,
                           bool isPreview, UserDefaults& defaults, Services services,
                           QObject* parent)
    : QObject(parent),
      settings_(settings),
      store_(std::move(store)),
      isPreview_(isPreview),
      defaults_(defaults),
      services_(std::move(services)),
      log_(services_.systemLog, QStringLiteral("net.brontal.zorvik"), QStringLiteral("mac")),
      database_(!isPreview_ && services_.cloudContainer != nullptr
                    ? &services_.cloudContainer->privateCloudDatabase()
                    : nullptr),
      state_(settings_, services_.mainActor, log_, services_.timeZone),
      checks_({services_.mainActor, services_.cloudContainer, database_, syncKeys_,
               services_.remoteNotifications, services_.credentialIdentities, services_.notifier,
               services_.timeZone},
              settings_, state_, routineLog_),
      schedule_(services_.mainActor, settings_, services_.workspace,
                {[this] { return fetch(); }, [this] { return runChecks(); }}) {
    connect(&state_, &ReadinessState::probeChanged, this, &CodeReceiver::probeChanged);
    connect(&state_, &ReadinessState::infoChanged, this, &CodeReceiver::infoChanged);
    firstRun_ = !defaults_.boolForKey(kFirstRunDone);
    // A fresh probe needs attention, so the first change unfolds the checklist.
    state_.changeProbe([&](SetupProbe& probe) { probe.launchAtLogin = settings_.launchAtLogin(); });
    state_.changeProbe(
        [&](SetupProbe& probe) { probe.lastReceivedAt = defaults_.dateForKey(kLastReceivedAt); });
    state_.changeProbe([&](SetupProbe& probe) {
        probe.lastReceivedName = defaults_.stringForKey(kLastReceivedName);
    });
    if (state_.lastNeedsAttention() == std::nullopt) {
        state_.updateAttention();
    }
    // The row's switch changes the setting; its title should not wait for the next checks.
    connect(&settings_, &MacSettings::launchAtLoginChanged, this, [this](bool value) {
        state_.changeProbe([value](SetupProbe& probe) { probe.launchAtLogin = value; });
    });
    state_.changeInfo([&](DiagnosticsInfo& info) {
        info.appVersion = services_.bundle.shortVersion.value_or(QStringLiteral("?"));
        info.build = services_.bundle.build.value_or(QStringLiteral("?"));
        info.macOSVersion = services_.bundle.systemVersion;
    });
}

void CodeReceiver::setFirstRun(bool firstRun) {
    if (firstRun_ != firstRun) {
        firstRun_ = firstRun;
        Q_EMIT firstRunChanged(firstRun);
    }
}

void CodeReceiver::setLatestValue(std::optional<LatestCode> code) {
    const bool changed = latest_ != code;
    latest_ = std::move(code);
    // The tray item first: its label is what the user watches for, while the views that hear
    // latestChanged may well be hidden.
    if (onLatestChange) {
        onLatestChange();
    }
    if (changed) {
        Q_EMIT latestChanged();
    }
}

void CodeReceiver::setJustCopiedAt(std::optional<Instant> at) {
    if (justCopiedAt_ == at) {
        return;
    }
    justCopiedAt_ = at;
    Q_EMIT justCopiedAtChanged();
}

// MARK: Fetching and publishing

Task<void> CodeReceiver::fetch() {
    if (database_ == nullptr) {
        co_return;
    }
    // What is asked for while a fetch runs may be for a record written after that fetch read
    // it (a push), so one more fetch follows, however many were asked for meanwhile.
    if (fetching_) {
        fetchAgain_ = true;
        co_return;
    }
    fetching_ = true;
    do {
        fetchAgain_ = false;
        co_await fetchRecordAndDeliver();
    } while (fetchAgain_);
    fetching_ = false;
}

Task<void> CodeReceiver::fetchRecordAndDeliver() {
    MainActor& mainActor = services_.mainActor;
    const Instant now = mainActor.now();
    std::exception_ptr failure;
    try {
        const std::optional<CloudRecord> record =
            co_await fetchRecord(mainActor, *database_, QString::fromLatin1(recordName));
        const auto expiresAt =
            record ? record->field<Instant>(QStringLiteral("expiresAt")) : std::nullopt;
        const auto blob = record ? record->field<QByteArray>(QStringLiteral("blob")) : std::nullopt;
        // A record that changed since the last fetch was written after it, so its code's issue
        // time tells how far the phone's clock and ours are apart. An expired one is opened too:
        // a clock far ahead of the phone's makes every new code look expired.
        const std::optional<Instant> writtenAfter = blob && lastFetch_ && *blob != lastFetch_->blob
                                                        ? std::optional(lastFetch_->at)
                                                        : std::nullopt;
        lastFetch_ = SeenRecord{blob.value_or(QByteArray()), now};
        if (!record) {
            state_.changeInfo(
                [](DiagnosticsInfo& info) { info.lastFetchResult = "nothing pending"; });
        } else if (expiresAt && *expiresAt <= now) {
            if (writtenAfter) {
                co_await judgeClockBy(*blob, *writtenAfter, now);
            }
            state_.changeInfo(
                [](DiagnosticsInfo& info) { info.lastFetchResult = "record present but expired"; });
            routineLog_.write(LogLevel::debug, QStringLiteral("fetch step"),
                              "fetch: expired record");
        } else if (!blob) {
            state_.changeInfo(
                [](DiagnosticsInfo& info) { info.lastFetchResult = "record without blob"; });
        } else {
            const SymmetricKey key = co_await syncKeys_.load();
            state_.noteSyncKey({SyncKeyState::Kind::received, {}});
            const PendingCode code = PendingCode::open(*blob, key);
            judgeClock(code.issuedAt, writtenAfter, now);
            if (now < code.expiresAt && !code.code.isEmpty()) {
                state_.changeInfo([&](DiagnosticsInfo& info) {
                    info.lastFetchResult =
                        "code for " + code.accountName + " from " + code.fromDevice;
                });
                routineLog_.write(LogLevel::debug, QStringLiteral("fetch step"),
                                  "fetch: valid code for %{public}s from %{public}s",
                                  code.accountName, code.fromDevice);
                deliver(code, now);
            } else {
                state_.changeInfo(
                    [](DiagnosticsInfo& info) { info.lastFetchResult = "code expired"; });
            }
        }
    } catch (const CloudSyncCrypto::Error& error) {
        const SyncKeyState state = syncKeyStateFor(error);
        if (state.kind == SyncKeyState::Kind::waiting) {
            state_.noteSyncKey(state);
            state_.changeInfo([](DiagnosticsInfo& info) {
                info.lastFetchResult = "record present, no sync key yet";
            });
            routineLog_.write(LogLevel::debug, QStringLiteral("fetch step"),
                              "fetch: record present but no sync key");
        } else if (state.kind == SyncKeyState::Kind::locked) {
            // Not a failure of this fetch: the codes wait for the user to unlock the keyring.
            state_.noteSyncKey(state);
            state_.changeInfo([](DiagnosticsInfo& info) {
                info.lastFetchResult = "record present, keyring locked";
            });
        } else {
            // The keyring failed: its row says so without waiting for the next checks.
            state_.noteSyncKey(state);
            failure = std::current_exception();
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        const QString text = errorText(failure);
        state_.changeInfo([&](DiagnosticsInfo& info) {
            info.lastFetchResult = "error: " + text;
            info.lastError = text;
        });
        // A failure that repeats at every poll (no network) is one line until it changes.
        routineLog_.write(LogLevel::error, QStringLiteral("fetch failure"),
                          "fetch failed: %{public}s", text);
    } else {
        routineLog_.forget(QStringLiteral("fetch failure"));
    }
    state_.changeInfo([&](DiagnosticsInfo& info) { info.lastFetchAt = mainActor.now(); });
    routineLog_.write(LogLevel::debug, QStringLiteral("fetch result"), "fetch: %{public}s",
                      orQuestionMark(state_.info().lastFetchResult));
}

void CodeReceiver::deliver(const PendingCode& code, Instant now) {
    if (latest_ && latest_->issuedAt == code.issuedAt && latest_->code == code.code) {
        // A save that failed is tried again at every fetch while the code is valid.
        if (storeFailed_) {
            saveForAutoFill(*latest_);
        }
        return;
    }
    // Never held longer than the code's own lifetime, whatever this computer's clock says.
    const Instant heldUntil =
        std::min(code.expiresAt,
                 addingSeconds(now, std::max(0.0, secondsBetween(code.issuedAt, code.expiresAt))));
    const LatestCode latest{code.accountName, code.serviceID, code.code,
                            code.fromDevice,  code.issuedAt,  now,
                            heldUntil};
    saveForAutoFill(latest);
    setLatest(latest);
    state_.changeProbe([&](SetupProbe& probe) {
        probe.lastReceivedAt = now;
        probe.lastReceivedName = code.accountName;
    });
    defaults_.setDate(now, kLastReceivedAt);
    defaults_.setString(code.accountName, kLastReceivedName);
    if (firstRun_) {
        setFirstRun(false);
        defaults_.setBool(true, kFirstRunDone);
    }
    const double secondsLeft = secondsBetween(now, heldUntil);
    if (settings_.copyToClipboard()) {
        services_.clipboard.copyToPasteboard(code.code, secondsLeft);
    }
    if (settings_.notify() && !isPreview_ && services_.notifier != nullptr) {
        services_.notifier->post(latest);
    }
    if (!isPreview_ && services_.credentialIdentities != nullptr) {
        services_.mainActor.spawn(registerIdentities(*services_.credentialIdentities, latest));
    }
    log_.info("received %{public}s from %{public}s, expires in %lds", code.accountName,
              code.fromDevice, static_cast<long>(secondsLeft));
}

Task<void> CodeReceiver::judgeClockBy(QByteArray blob, Instant writtenAfter, Instant now) {
    try {
        const SymmetricKey key = co_await syncKeys_.load();
        judgeClock(PendingCode::open(blob, key).issuedAt, writtenAfter, now);
    } catch (...) {
        // Only a hint about the clock: the record's outcome is told as for any expired one.
    }
}

void CodeReceiver::judgeClock(Instant issuedAt, std::optional<Instant> writtenAfter, Instant now) {
    if (issuedAt > now) {
        // Issued in our future: never a stale record, the clocks disagree.
        state_.noteClockOffset(secondsBetween(issuedAt, now));
    } else if (writtenAfter) {
        // Issued long before the fetch that still did not see it: our clock is ahead by at least
        // that much. A record written while the computer slept or was offline says nothing.
        state_.noteClockOffset(std::max(0.0, secondsBetween(issuedAt, *writtenAfter)));
    }
}

namespace {
constexpr auto saveFailure = "could not save the code for AutoFill: ";
}  // namespace

void CodeReceiver::saveForAutoFill(const LatestCode& latest) {
    if (!store_) {
        return;
    }
    try {
        store_->save(latest);
        if (storeFailed_) {
            storeFailed_ = false;
            routineLog_.forget(QStringLiteral("save failure"));
            log_.info("the code is saved for AutoFill again");
            state_.changeInfo([](DiagnosticsInfo& info) {
                if (info.lastError && info.lastError->startsWith(QLatin1String(saveFailure))) {
                    info.lastError.reset();
                }
            });
        }
    } catch (const Error& error) {
        // The code is still published everywhere else, but AutoFill must not go on offering
        // the code this one replaces.
        store_->clear();
        storeFailed_ = true;
        const QString text = QLatin1String(saveFailure) + error.localizedDescription();
        // Tried again at every fetch: one line until the cause changes.
        routineLog_.write(LogLevel::error, QStringLiteral("save failure"), "%{public}s", text);
        state_.changeInfo([&](DiagnosticsInfo& info) { info.lastError = text; });
    }
}

void CodeReceiver::setLatest(std::optional<LatestCode> code) {
    setLatestValue(code);
    expiryTask_.cancel();
    if (code) {
        expiryTask_ = services_.mainActor.spawn(
            expireWhenDue(QPointer<CodeReceiver>(this), services_.mainActor, *code));
    }
}

void CodeReceiver::expireLatest() {
    setLatestValue(std::nullopt);
    setJustCopiedAt(std::nullopt);
    if (store_) {
        store_->clear();
    }
    log_.info("code expired");
    if (!isPreview_ && services_.credentialIdentities != nullptr) {
        services_.mainActor.spawn(removeIdentities(*services_.credentialIdentities));
    }
}

void CodeReceiver::copyLatest() {
    const Instant now = services_.mainActor.now();
    if (!latest_ || !(now < latest_->expiresAt) || latest_->code.isEmpty()) {
        return;
    }
    services_.clipboard.copyToPasteboard(latest_->code, secondsBetween(now, latest_->expiresAt));
    setJustCopiedAt(services_.mainActor.now());
}

QString CodeReceiver::diagnosticsSnapshot() const {
    DiagnosticsInfo snapshot = state_.info();
    snapshot.pollInterval = settings_.pollInterval();
    return diagnosticsText(state_.probe(), snapshot, services_.mainActor.now(), services_.timeZone);
}

void CodeReceiver::copyDiagnostics() {
    services_.clipboard.copyPlainText(diagnosticsSnapshot());
    log_.info("diagnostics copied");
}

// MARK: Start, checks and polling

void CodeReceiver::start() {
    if (store_) {
        if (auto stored = store_->load(); stored && stored->isValid(services_.mainActor.now())) {
            setLatest(std::move(stored));
        }
    }
    if (isPreview_) {
        return;
    }
    log_.info("start: version %{public}s (%{public}s) on %{public}s firstRun=%{bool}d",
              state_.info().appVersion, state_.info().build, state_.info().macOSVersion, firstRun_);
    services_.mainActor.spawn(checkThenFetch(QPointer<CodeReceiver>(this)));
    // A key that was missing, locked away or unreadable and may now be there shows in its row
    // at once, and a code that waited for it is opened: the checks behind a closed popover do
    // not repeat for the key. A key already received is read again by the next fetch of a code,
    // which notes what it finds. The checks themselves may make the keyring report (a quiet
    // unlock, the cloud's session stored), so they follow its reports at most every 15 s.
    syncKeys_.setChangeListener([this] {
        if (state_.probe().syncKey.kind == SyncKeyState::Kind::received || keyCheckPending_) {
            return;
        }
        MainActor& mainActor = services_.mainActor;
        const double wait =
            keyCheckedAt_
                ? std::max(0.0, keyCheckSpacing - secondsBetween(*keyCheckedAt_, mainActor.now()))
                : 0.0;
        keyCheckPending_ = true;
        mainActor.spawn(checkAfterKeyChange(QPointer<CodeReceiver>(this), mainActor, wait));
    });
    schedule_.startIdlePolling();
    schedule_.installWakeObservers();
}

Task<void> CodeReceiver::runChecks() {
    if (isPreview_ || checking_) {
        co_return;
    }
    checking_ = true;
    const ChecksOutcome outcome = co_await checks_.run();
    schedule_.scheduleRecheck(outcome);
    checking_ = false;
}

Task<void> CodeReceiver::checkAfterKeyChange(QPointer<CodeReceiver> receiver, MainActor& mainActor,
                                             double wait) {
    // Through the queue even without a wait: the report may come inside a keychain call.
    co_await mainActor.sleep(wait);
    if (!receiver) {
        co_return;
    }
    receiver->keyCheckPending_ = false;
    receiver->keyCheckedAt_ = mainActor.now();
    co_await checkThenFetch(receiver);
}

void CodeReceiver::unlockKeychain() {
    services_.mainActor.spawn(unlockThenFetch(QPointer<CodeReceiver>(this)));
}

// The keyring's answer may take as long as the user spends on its password prompt.
Task<void> CodeReceiver::unlockThenFetch(QPointer<CodeReceiver> receiver) {
    if (!receiver) {
        co_return;
    }
    Keychain& keychain = receiver->services_.keychain;
    const std::int32_t status = co_await waitForCompletion<std::int32_t>(
        receiver->services_.mainActor, [&keychain](CompletionHandler<std::int32_t> done) {
            keychain.unlock(CloudSyncCrypto::syncKeyQuery(),
                            [done](std::int32_t answer) mutable { done.resume(answer); });
        });
    if (!receiver) {
        co_return;
    }
    if (status == Keychain::userCanceled) {
        receiver->log_.info("keyring: unlocking cancelled");
    } else if (status != Keychain::success) {
        receiver->log_.error("keyring: cannot unlock: %{public}s", Keychain::describe(status));
    }
    co_await receiver->runChecks();
    if (receiver) {
        co_await receiver->fetch();
    }
}

void CodeReceiver::setPopoverVisible(bool visible) {
    schedule_.setPopoverVisible(visible);
    settings_.refreshLaunchAtLogin();
    state_.changeProbe([&](SetupProbe& probe) { probe.launchAtLogin = settings_.launchAtLogin(); });
    if (visible && !isPreview_) {
        schedule_.pollWhileOpen();
    }
}

void CodeReceiver::handleRemoteNotification(const QVariantMap& userInfo) {
    state_.changeInfo([&](DiagnosticsInfo& info) { info.lastPushAt = services_.mainActor.now(); });
    const auto notification = CloudNotification::fromRemoteNotification(userInfo);
    const auto subscription = notification ? notification->subscriptionID : std::nullopt;
    log_.info("push received: subscription %{public}s", orQuestionMark(subscription));
    if (subscription && *subscription != QLatin1String(subscriptionID)) {
        return;
    }
    services_.mainActor.spawn(fetchOnce(QPointer<CodeReceiver>(this)));
}

void CodeReceiver::setPushRegistration(bool success, std::optional<QString> error) {
    state_.changeProbe([&](SetupProbe& probe) {
        probe.pushRegistered = success;
        probe.pushError = success ? std::nullopt : error;
    });
    if (error) {
        state_.changeInfo([&](DiagnosticsInfo& info) { info.lastError = error; });
    }
    if (success) {
        log_.info("push registered");
    } else {
        log_.error("push registration failed: %{public}s", orQuestionMark(error));
    }
}

void CodeReceiver::setLayoutNote(const QString& note) {
    state_.changeInfo([&](DiagnosticsInfo& info) { info.layout = note; });
}
