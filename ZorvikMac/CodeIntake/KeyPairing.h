// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>

#include "ZorvikMac/CodeIntake/PairingOffer.h"
#include "ZorvikMac/CodeIntake/SymmetricKey.h"
#include "platform/CloudRecord.h"
#include "platform/Logger.h"
#include "platform/MainActor.h"
#include "platform/Task.h"

class CloudDatabase;
class Keychain;

// Receives the sync key from the phone. While an offer is open (10 minutes at most), the record
// "key-handoff" is looked up every 2 seconds; one that answers the offer gives the sync key,
// which replaces the one in the keychain, because the user asked for this pairing. Any other
// record is ignored with one log line saying why. The offer's private key lives in memory only
// and is scrubbed when the offer ends: on success, on cancel, or when its time is up.
//
// The user may also type the key instead; it is saved only if it opens the code waiting in the
// cloud, when one is waiting.
class KeyPairing : public QObject {
    Q_OBJECT

public:
    static constexpr double lookupInterval = 2;

    enum class State { idle, offering, paired, expired, cancelled };

    KeyPairing(MainActor& mainActor, CloudDatabase* database, Keychain& keychain,
               SystemLog& systemLog, QObject* parent = nullptr);
    ~KeyPairing() override;

    State state() const { return state_; }
    // The open offer's code text, empty when none is open.
    QString offerText() const;
    // Seconds until the open offer ends, 0 when none is open.
    double secondsLeft() const;

    // Opens a new offer, ending any open one.
    void start();
    void cancel();
    // Saves a key the user typed. Nothing when saved, else what the user reads.
    Task<std::optional<QString>> enterKey(QString text);

    // Runs after a key was stored, by either way.
    std::function<void()> keyStored;

Q_SIGNALS:
    void stateChanged();

private:
    static Task<void> lookUp(QPointer<KeyPairing> self, MainActor& actor);
    void expire();
    void end(State state);
    // Stores the key without blocking; false (and an error line) when the keychain refuses it.
    static Task<bool> store(QPointer<KeyPairing> self, MainActor& actor, SymmetricKey key);
    bool stored(std::int32_t status);

    MainActor& mainActor_;
    CloudDatabase* database_;
    Keychain& keychain_;
    Logger log_;
    State state_ = State::idle;
    std::optional<PairingOffer> offer_;
    TaskHandle lookups_;
    // Ends the offer when its time is up, also while a look-up is still waiting for its answer.
    std::optional<MainActor::TimerId> expiryTimer_;
    // The last record ignored, so the same one is logged once, not every 2 seconds.
    std::optional<CloudRecord> lastIgnored_;
    // The last failure of a lookup, said once until a lookup finds a record (a flaky link that
    // fails between "no record" answers is not said every 2 seconds).
    std::optional<QString> lastLookupError_;
};
