// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/cloud/CourierFrame.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace CourierFrame {

Frame parse(const QByteArray& body) {
    if (body.trimmed().isEmpty()) {
        return KeepAlive{};
    }
    if (body.size() > maximumSize) {
        return Malformed{
            QStringLiteral("the courier sent %1 bytes, more than a push holds").arg(body.size())};
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        return Malformed{QStringLiteral("the courier sent no JSON: %1 at byte %2")
                             .arg(error.errorString())
                             .arg(error.offset)};
    }
    if (!document.isObject()) {
        return Malformed{QStringLiteral("the courier sent JSON that is not an object")};
    }
    return Push{document.object().toVariantMap()};
}

}  // namespace CourierFrame
