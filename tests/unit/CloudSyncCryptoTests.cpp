// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "tests/support/FakeKeychain.h"

namespace {

using CloudSyncCrypto::Error;

Error loadError(FakeKeychain& keychain) {
    try {
        CloudSyncCrypto::loadSyncKey(keychain);
    } catch (const Error& error) {
        return error;
    }
    ADD_FAILURE() << "loadSyncKey did not throw";
    return Error::keychain(0);
}

TEST(LoadSyncKey, ReadsTheSharedGenericPasswordOf32BytesAndPassesOtherStatusesOn) {
    FakeKeychain keychain;
    EXPECT_EQ(loadError(keychain), Error::noKeyYet());
    for (int size : {0, 16, 31, 33, 64}) {
        keychain.items.insert({"net.brontal.zorvik.sync", "sync-key"}, QByteArray(size, 's'));
        EXPECT_EQ(loadError(keychain), Error::noKeyYet()) << size << " bytes";
    }
    keychain.items.insert({"net.brontal.zorvik.sync", "sync-key"}, QByteArray(32, 's'));
    EXPECT_EQ(CloudSyncCrypto::loadSyncKey(keychain).bytes(), QByteArray(32, 's'));
    const Keychain::Query expected{"net.brontal.zorvik.sync", "sync-key", true, true, true, true};
    EXPECT_EQ(keychain.lastQuery, expected);
    for (std::int32_t status : {-25308, -25291, -25293, -2070, 1, -128}) {
        keychain.failWith = status;
        EXPECT_EQ(loadError(keychain), Error::keychain(status));
    }
}

}  // namespace
