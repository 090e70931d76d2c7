#pragma once

#include <QTemporaryDir>

#include "FakeCloudContainer.h"
#include "FakeCredentialIdentityStore.h"
#include "FakeKeychain.h"
#include "FakeLoginItemService.h"
#include "FakePasteboard.h"
#include "FakeRemoteNotifications.h"
#include "FakeUserNotificationCenter.h"
#include "FakeWorkspace.h"
#include "ManualMainActor.h"
#include "Platform.h"
#include "QSettingsUserDefaults.h"
#include "RecordingSystemLog.h"
#include "TemporaryAppGroupContainers.h"

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
