// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

// What the application knows about itself and the system it runs on.
struct BundleInfo {
    // The short version string and the build number; absent when the bundle lacks them.
    std::optional<QString> shortVersion;
    std::optional<QString> build;
    // The running system as a user names it, for reports: on Linux the distribution and the
    // kernel's release.
    QString systemVersion;
    // Who the application is, for finding its other running copies; absent when unknown.
    std::optional<QString> identifier;

    static constexpr auto applicationIdentifier = "K8QW41TR7N.net.brontal.zorvik";

    // The first line of every diagnostics report: the product, its version and build, the system.
    static QString reportHeading(const QString& version, const QString& build,
                                 const QString& system) {
        return QStringLiteral("Zorvik for Linux %1 (%2) \u2014 %3").arg(version, build, system);
    }
};
