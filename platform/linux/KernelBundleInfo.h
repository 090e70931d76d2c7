#pragma once

#include "BundleInfo.h"

// The bundle information on Linux: the version and build compiled in, and the system version
// taken from the kernel release (major.minor.patch).
BundleInfo kernelBundleInfo(const QString& version, const QString& build);

// "6.1.0" from a release such as "6.1.0-27-amd64" or "6.18"; "?" when it has no such start.
QString systemVersionFromKernelRelease(const QString& release);
