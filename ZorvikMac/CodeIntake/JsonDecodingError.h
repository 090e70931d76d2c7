// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Error.h"

// A JSON document that does not hold the expected record. The texts are the platform's; the
// coding path says which field was wrong, for tests and debugging only.
class JsonDecodingError : public Error {
public:
    enum class Kind { typeMismatch, valueNotFound, keyNotFound, dataCorrupted };

    JsonDecodingError(Kind kind, QString codingPath)
        : kind_(kind), codingPath_(std::move(codingPath)) {}

    Kind kind() const { return kind_; }
    const QString& codingPath() const { return codingPath_; }
    QString localizedDescription() const override {
        return kind_ == Kind::keyNotFound || kind_ == Kind::valueNotFound
                   ? QStringLiteral("The data couldn\u2019t be read because it is missing.")
                   : QStringLiteral(
                         "The data couldn\u2019t be read because it isn\u2019t in the correct "
                         "format.");
    }

private:
    Kind kind_;
    QString codingPath_;
};
