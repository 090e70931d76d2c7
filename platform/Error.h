// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <exception>
#include <string>

// The base of every error the product throws. Errors that have no text of their own describe
// themselves the way the platform describes any error, through genericErrorDescription.
class Error : public std::exception {
public:
    virtual QString localizedDescription() const = 0;
    const char* what() const noexcept override;

private:
    mutable std::string whatText_;
};

// "The operation couldn’t be completed. (<typeName> error <caseIndex>.)"
QString genericErrorDescription(const QString& typeName, int caseIndex);

// The text of any exception: the description of our own errors, a plain text for others.
QString describeError(std::exception_ptr error);
