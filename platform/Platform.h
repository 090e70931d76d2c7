#pragma once

class AppGroupContainers;
class CredentialIdentityStore;
class Keychain;
class LoginItemService;
class MainActor;
class Pasteboard;
class SystemLog;
class UserDefaults;
class UserNotificationCenter;

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
};
