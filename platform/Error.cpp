// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Error.h"

const char* Error::what() const noexcept {
    try {
        whatText_ = localizedDescription().toStdString();
    } catch (...) {
        return "Error";
    }
    return whatText_.c_str();
}

QString genericErrorDescription(const QString& typeName, int caseIndex) {
    return QStringLiteral("The operation couldn\u2019t be completed. (%1 error %2.)")
        .arg(typeName)
        .arg(caseIndex);
}

QString describeError(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const Error& known) {
        return known.localizedDescription();
    } catch (const std::exception& other) {
        return QString::fromUtf8(other.what());
    } catch (...) {
        return genericErrorDescription(QStringLiteral("UnknownError"), 0);
    }
}
