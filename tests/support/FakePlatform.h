// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTemporaryDir>

#include "platform/Platform.h"
#include "platform/linux/QSettingsUserDefaults.h"
#include "tests/support/FakeCloudContainer.h"
#include "tests/support/FakeCredentialIdentityStore.h"
#include "tests/support/FakeKeychain.h"
#include "tests/support/FakeLoginItemService.h"
#include "tests/support/FakePasteboard.h"
#include "tests/support/FakeRemoteNotifications.h"
#include "tests/support/FakeUserNotificationCenter.h"
#include "tests/support/FakeWorkspace.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/RecordingSystemLog.h"
#include "tests/support/TemporaryAppGroupContainers.h"

// The whole platform in fakes on virtual time, for tests of what main would launch. A fixture
// derives from it, so the fakes exist before whatever it builds from platform().
struct FakePlatform {
    Platform platform() {
        return {actor,  log,           keychain, containers, defaults,  loginItem, pasteboard,
                center, identityStore, cloud,    remote,     workspace, autoFill};
    }

    ManualMainActor actor;
    RecordingSystemLog log;
    FakeKeychain keychain;
    TemporaryAppGroupContainers containers;
    QTemporaryDir directory;
    QSettingsUserDefaults defaults{directory.filePath("ZorvikMac.conf")};
    FakeLoginItemService loginItem;
    FakePasteboard pasteboard;
    FakeUserNotificationCenter center{actor};
    FakeCredentialIdentityStore identityStore{actor};
    FakeCloudContainer cloud{actor};
    FakeRemoteNotifications remote;
    FakeWorkspace workspace{actor};
    FakeAutoFillSettings autoFill;
};
