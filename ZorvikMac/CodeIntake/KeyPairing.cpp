// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/CodeIntake/KeyPairing.h"

#include <QPointer>
#include <algorithm>
#include <utility>

#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "ZorvikMac/CodeIntake/KeyHandoff.h"
#include "ZorvikMac/CodeIntake/PendingCode.h"
#include "ZorvikMac/CodeIntake/PendingCodeError.h"
#include "ZorvikMac/CodeIntake/SyncKeyText.h"
#include "platform/AesGcm.h"
#include "platform/CloudContainer.h"
#include "platform/Completion.h"
#include "platform/Keychain.h"
#include "platform/MainActor.h"

namespace {

using RecordAnswer = std::variant<CloudRecord, CloudError>;

Task<RecordAnswer> fetchRecord(MainActor& actor, CloudDatabase& database, QString name) {
    co_return co_await waitForCompletion<RecordAnswer>(
        actor, [&database, &name](CompletionHandler<RecordAnswer> done) {
            database.fetchRecord(name,
                                 [done](RecordAnswer answer) { done.resume(std::move(answer)); });
        });
}

}  // namespace

KeyPairing::KeyPairing(MainActor& mainActor, CloudDatabase* database, Keychain& keychain,
                       SystemLog& systemLog, QObject* parent)
    : QObject(parent),
      mainActor_(mainActor),
      database_(database),
      keychain_(keychain),
      log_(systemLog, QStringLiteral("net.brontal.zorvik"), QStringLiteral("mac")) {}

KeyPairing::~KeyPairing() {
    lookups_.cancel();
    if (expiryTimer_) {
        mainActor_.stopTimer(*expiryTimer_);
    }
}

QString KeyPairing::offerText() const {
    return offer_ ? offer_->uri().text() : QString();
}

double KeyPairing::secondsLeft() const {
    if (!offer_) {
        return 0;
    }
    return std::max(0.0, secondsBetween(mainActor_.now(), offer_->expiresAt()));
}

void KeyPairing::start() {
    lookups_.cancel();
    if (expiryTimer_) {
        mainActor_.stopTimer(*std::exchange(expiryTimer_, std::nullopt));
    }
    offer_.reset();
    offer_.emplace(PairingOffer::make(mainActor_.now()));
    lastIgnored_.reset();
    lastLookupError_.reset();
    state_ = State::offering;
    log_.info("pairing: offer open for %ld s", static_cast<long>(PairingOffer::lifetime));
    expiryTimer_ = mainActor_.startTimer(PairingOffer::lifetime, [this] {
        expiryTimer_.reset();
        expire();
    });
    lookups_ = mainActor_.spawn(lookUp(QPointer<KeyPairing>(this), mainActor_));
    Q_EMIT stateChanged();
}

void KeyPairing::cancel() {
    if (state_ == State::offering) {
        log_.info("pairing: cancelled");
        end(State::cancelled);
    }
}

void KeyPairing::expire() {
    if (state_ == State::offering) {
        log_.info("pairing: the offer ended unanswered");
        end(State::expired);
    }
}

void KeyPairing::end(State state) {
    lookups_.cancel();
    lookups_ = TaskHandle();
    if (expiryTimer_) {
        mainActor_.stopTimer(*std::exchange(expiryTimer_, std::nullopt));
    }
    // Scrubbed by its destructor.
    offer_.reset();
    lastIgnored_.reset();
    lastLookupError_.reset();
    state_ = state;
    Q_EMIT stateChanged();
}

Task<bool> KeyPairing::store(QPointer<KeyPairing> self, MainActor& actor, SymmetricKey key) {
    if (!self) {
        co_return false;
    }
    Keychain& keychain = self->keychain_;
    // Without blocking: a keyring that is slow to answer holds up only the pairing.
    const std::int32_t status = co_await waitForCompletion<std::int32_t>(
        actor, [&keychain, &key](CompletionHandler<std::int32_t> done) {
            keychain.storeLater(CloudSyncCrypto::syncKeyQuery(), key.bytes(),
                                [done](std::int32_t answer) mutable { done.resume(answer); });
        });
    if (!self) {
        co_return false;
    }
    co_return self->stored(status);
}

bool KeyPairing::stored(std::int32_t status) {
    if (status != Keychain::success) {
        log_.error("pairing: the keyring did not take the key: %{public}s",
                   Keychain::describe(status));
        return false;
    }
    if (keyStored) {
        keyStored();
    }
    return true;
}

Task<void> KeyPairing::lookUp(QPointer<KeyPairing> self, MainActor& actor) {
    while (self && self->state_ == State::offering) {
        if (self->secondsLeft() <= 0) {
            self->expire();
            co_return;
        }
        if (self->database_ != nullptr) {
            const RecordAnswer answer = co_await fetchRecord(
                actor, *self->database_, QString::fromLatin1(KeyHandoff::recordName));
            const bool cancelled = co_await isCancelled();
            if (!self || cancelled || self->state_ != State::offering) {
                co_return;
            }
            // An answer that took until after the offer's end comes too late.
            if (self->secondsLeft() <= 0) {
                self->expire();
                co_return;
            }
            if (const auto* record = std::get_if<CloudRecord>(&answer)) {
                const auto opened = KeyHandoff::open(*record, *self->offer_, actor.now());
                if (const auto* key = std::get_if<SymmetricKey>(&opened)) {
                    const bool kept = co_await store(self, actor, *key);
                    if (!self) {
                        co_return;
                    }
                    if (kept) {
                        self->log_.info("pairing: key received from the phone and stored");
                        self->end(State::paired);
                        co_return;
                    }
                } else if (self->lastIgnored_ != *record) {
                    self->lastIgnored_ = *record;
                    self->log_.info("pairing: ignored %{public}s",
                                    KeyHandoff::describe(std::get<KeyHandoff::Rejection>(opened)));
                }
                self->lastLookupError_.reset();
            } else if (const auto& error = std::get<CloudError>(answer);
                       error.code() != CloudError::unknownItem &&
                       self->lastLookupError_ != error.localizedDescription()) {
                // A cloud that cannot be asked is said once, not every 2 seconds.
                self->lastLookupError_ = error.localizedDescription();
                self->log_.error("pairing: cannot look for the hand-off: %{public}s",
                                 *self->lastLookupError_);
            }
        }
        co_await actor.sleep(std::min(lookupInterval, self ? self->secondsLeft() : 0.0));
    }
}

namespace {

// Why a typed key cannot be kept, judged by the code waiting in the cloud (the lookup's answer);
// nothing when it opens that code or no code waits.
std::optional<QString> checkAgainstWaiting(const RecordAnswer& answer, const SymmetricKey& key) {
    if (const auto* error = std::get_if<CloudError>(&answer)) {
        if (error->code() == CloudError::unknownItem) {
            return std::nullopt;
        }
        return KeyPairing::tr(
                   "This key cannot be checked now: the cloud did not answer (%1). Try again.")
            .arg(error->localizedDescription());
    }
    const auto blob = std::get<CloudRecord>(answer).field<QByteArray>(QStringLiteral("blob"));
    const QString unreadable = KeyPairing::tr(
        "This key cannot be checked: the code waiting in your cloud is in a form this version of "
        "Zorvik cannot read. Update Zorvik, or pair with the code instead.");
    if (!blob) {
        return unreadable;
    }
    try {
        (void)PendingCode::open(*blob, key);
    } catch (const AesGcmError&) {
        return KeyPairing::tr("This key does not open the code waiting in your cloud");
    } catch (const PendingCodeError&) {
        // A newer format, or no code at all: the key was never tried on it.
        return unreadable;
    } catch (const Error&) {
        // It opened, but holds no code we can read: the key is right.
    }
    return std::nullopt;
}

}  // namespace

Task<std::optional<QString>> KeyPairing::enterKey(QString text) {
    auto parsed = SyncKeyText::parse(text);
    if (const auto* problem = std::get_if<QString>(&parsed)) {
        co_return *problem;
    }
    const SymmetricKey key = std::get<SymmetricKey>(parsed);
    if (database_ != nullptr) {
        QPointer<KeyPairing> self(this);
        const RecordAnswer answer =
            co_await fetchRecord(mainActor_, *database_, QStringLiteral("pending-code"));
        if (!self) {
            co_return std::nullopt;
        }
        // A code waiting tells whether this is the phone's key; with none waiting there is
        // nothing to check against. A key that cannot be checked is not kept unchecked.
        if (const auto problem = checkAgainstWaiting(answer, key)) {
            co_return *problem;
        }
    }
    const QPointer<KeyPairing> self(this);
    const bool kept = co_await store(self, mainActor_, key);
    if (!self) {
        co_return std::nullopt;
    }
    if (!kept) {
        co_return KeyPairing::tr("The keychain did not take the key.");
    }
    log_.info("pairing: key entered by hand and stored");
    if (state_ == State::offering) {
        end(State::paired);
    }
    co_return std::nullopt;
}
