// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/cloud/CloudWebContainer.h"
#include "platform/linux/cloud/CloudWebSession.h"
#include "platform/linux/cloud/LocalCloud.h"
#include "platform/linux/cloud/QtCloudWebTransport.h"
#include "platform/linux/cloud/SwitchingCloud.h"
#include "platform/linux/cloud/WebCourierPush.h"

// The cloud as the app and --pair both use it: the web service once a session is stored, the
// embedded cloud otherwise (or always, with --embedded-cloud).
struct Clouds {
    Clouds(MainActor& mainActor, SystemLog& systemLog, Keychain& keychain,
           UserDefaults& userDefaults, CloudWebConfiguration configuration,
           SwitchingCloud::Options options)
        : embedded(mainActor, LocalCloud::standardRootDirectory()),
          workspace(mainActor),
          webSession(mainActor, webTransport, keychain, systemLog, std::move(configuration)),
          webCloud(webSession, CloudWebDatabase::standardStateFile()),
          webPush(mainActor, webSession, webTransport, systemLog),
          cloud(mainActor, workspace, systemLog, userDefaults, embedded,
                webSession.configuration().isUsable() ? &webCloud : nullptr,
                webSession.configuration().isUsable() ? &webPush : nullptr, options) {}

    LocalCloud embedded;
    LinuxWorkspace workspace;
    QtCloudWebTransport webTransport;
    CloudWebSession webSession;
    CloudWebContainer webCloud;
    WebCourierPush webPush;
    SwitchingCloud cloud;
};
