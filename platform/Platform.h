#pragma once

class MainActor;
class SystemLog;
class Keychain;
class AppGroupContainers;

// The desktop platform the product runs on, built once by main and handed to whoever needs it.
struct Platform {
    MainActor& mainActor;
    SystemLog& systemLog;
    Keychain& keychain;
    AppGroupContainers& appGroupContainers;
};
