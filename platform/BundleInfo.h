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
    // Who the application is, for finding its other running copies; absent when unknown.
    std::optional<QString> identifier;

    static constexpr auto applicationIdentifier = "K8QW41TR7N.net.brontal.zorvik";
};
