#pragma once

#include <QString>
#include <optional>

// What the application knows about itself and the system it runs on.
struct BundleInfo {
    // The short version string and the build number; absent when the bundle lacks them.
    std::optional<QString> shortVersion;
    std::optional<QString> build;
    // The running system's version as major.minor.patch.
    QString systemVersion;
};
