// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class AppGroupContainers;
class AutoFillSettings;
class CloudAccountSignIn;
class CloudContainer;
class CredentialIdentityStore;
class DiagnosticsChannel;
class Keychain;
class LoginItemService;
class MainActor;
class Pasteboard;
class SystemLog;
class UserDefaults;
class UserNotificationCenter;
class RemoteNotifications;
class Workspace;

// The desktop platform the product runs on, built once by main and handed to whoever needs it.
struct Platform {
    MainActor& mainActor;
    SystemLog& systemLog;
    Keychain& keychain;
    AppGroupContainers& appGroupContainers;
    UserDefaults& userDefaults;
    LoginItemService& loginItemService;
    Pasteboard& pasteboard;
    UserNotificationCenter& userNotificationCenter;
    CredentialIdentityStore& credentialIdentityStore;
    // The container "iCloud.net.brontal.zorvik".
    CloudContainer& cloudContainer;
    RemoteNotifications& remoteNotifications;
    Workspace& workspace;
    AutoFillSettings& autoFillSettings;
    // Signing in to the cloud in the browser, where the desktop has no account of its own.
    CloudAccountSignIn* cloudSignIn = nullptr;
    // Where the running copy offers its diagnostics report to `ZorvikMac --diagnostics`.
    DiagnosticsChannel* diagnostics = nullptr;
};
