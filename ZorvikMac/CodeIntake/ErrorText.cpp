// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/CodeIntake/ErrorText.h"

#include "platform/CloudError.h"

QString errorText(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const CloudError& cloud) {
        switch (cloud.code()) {
            case CloudError::networkUnavailable:
            case CloudError::networkFailure:
                return QStringLiteral("no network");
            case CloudError::serviceUnavailable:
            case CloudError::requestRateLimited:
                return QStringLiteral("iCloud is busy; will retry");
            case CloudError::notAuthenticated:
                return QStringLiteral("not signed in to iCloud");
            case CloudError::permissionFailure:
                return QStringLiteral("iCloud refused (permission)");
            case CloudError::invalidArguments:
                return QStringLiteral("iCloud schema: ") + cloud.localizedDescription();
            case CloudError::quotaExceeded:
                return QStringLiteral("iCloud storage is full");
            default:
                return cloud.localizedDescription();
        }
    } catch (...) {
        return describeError(std::current_exception());
    }
}
