// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/CodeIntake/SyncKeyCache.h"

#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "platform/Completion.h"
#include "platform/Keychain.h"

SyncKeyCache::SyncKeyCache(Keychain& keychain, MainActor& mainActor)
    : keychain_(keychain), mainActor_(mainActor) {
    keychain_.setChangeObserver(CloudSyncCrypto::syncKeyQuery(), [this] {
        drop();
        if (listener_) {
            listener_();
        }
    });
}

SyncKeyCache::~SyncKeyCache() {
    keychain_.setChangeObserver(CloudSyncCrypto::syncKeyQuery(), nullptr);
    drop();
}

void SyncKeyCache::drop() {
    ++generation_;
    if (key_) {
        QByteArray bytes = key_->bytes();
        key_.reset();
        // Scrubbing wipes the buffer for every holder: a fetch that still holds the key (it
        // waits for the cloud) must open its code with it, and the last holder's end frees it.
        if (bytes.isDetached()) {
            AesGcm::scrub(bytes);
        }
    }
}

Task<SymmetricKey> SyncKeyCache::load() {
    // A change during the read makes its answer stale; a few tries, then the last one counts.
    for (int attempt = 0;; ++attempt) {
        if (key_) {
            co_return *key_;
        }
        const std::uint64_t generation = generation_;
        Keychain& keychain = keychain_;
        const Keychain::Result result = co_await waitForCompletion<Keychain::Result>(
            mainActor_, [&keychain](CompletionHandler<Keychain::Result> done) {
                keychain.copyMatchingLater(
                    CloudSyncCrypto::syncKeyQuery(),
                    [done](Keychain::Result answer) mutable { done.resume(std::move(answer)); });
            });
        const bool fresh = generation == generation_;
        if (!fresh && attempt < 2) {
            continue;
        }
        if (result.status == Keychain::interactionNotAllowed && quietUnlockAskedIn_ != generation) {
            quietUnlockAskedIn_ = generation;
            const std::int32_t opened = co_await waitForCompletion<std::int32_t>(
                mainActor_, [&keychain](CompletionHandler<std::int32_t> done) {
                    keychain.unlockWithoutPrompt(
                        CloudSyncCrypto::syncKeyQuery(),
                        [done](std::int32_t answer) mutable { done.resume(answer); });
                });
            if (opened == Keychain::success) {
                // Read again, once: a keyring that still answers locked is not asked again for
                // the change its own opening reported.
                quietUnlockAskedIn_ = generation_;
                attempt = -1;
                continue;
            }
        }
        const SymmetricKey key = CloudSyncCrypto::keyFrom(result);
        if (fresh) {
            key_ = key;
        }
        co_return key;
    }
}
