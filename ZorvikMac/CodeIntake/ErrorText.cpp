// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/CodeIntake/ErrorText.h"

#include <QCoreApplication>

#include "platform/CloudError.h"

QString errorText(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const CloudError& cloud) {
        switch (cloud.code()) {
            case CloudError::networkUnavailable:
            case CloudError::networkFailure:
                return QCoreApplication::translate("ErrorText", "no network");
            case CloudError::serviceUnavailable:
            case CloudError::requestRateLimited:
                return QCoreApplication::translate("ErrorText", "iCloud is busy; will retry");
            case CloudError::notAuthenticated:
                return QCoreApplication::translate("ErrorText", "not signed in to iCloud");
            case CloudError::permissionFailure:
                return QCoreApplication::translate("ErrorText", "iCloud refused (permission)");
            case CloudError::invalidArguments:
                return QCoreApplication::translate("ErrorText", "iCloud schema: ") +
                       cloud.localizedDescription();
            case CloudError::quotaExceeded:
                return QCoreApplication::translate("ErrorText", "iCloud storage is full");
            default:
                return cloud.localizedDescription();
        }
    } catch (...) {
        return describeError(std::current_exception());
    }
}
