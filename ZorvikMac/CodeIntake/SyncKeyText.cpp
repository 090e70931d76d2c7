// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/CodeIntake/SyncKeyText.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace SyncKeyText {

std::variant<SymmetricKey, QString> parse(const QString& text) {
    QString compact = text;
    compact.remove(QRegularExpression(QStringLiteral("\\s")));
    const QString wrongForm = QCoreApplication::translate(
        "SyncKeyText", "A sync key is 32 bytes, written as base64 or as 64 hexadecimal digits.");
    if (compact.isEmpty()) {
        return wrongForm;
    }
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{64}$"));
    if (hex.match(compact).hasMatch()) {
        return *SymmetricKey::fromBytes(QByteArray::fromHex(compact.toLatin1()));
    }
    // Only hex digits, but not 64 of them: say so rather than count it as base64. 43 is the one
    // length at which such text can still be 32 bytes of base64.
    static const QRegularExpression hexDigits(QStringLiteral("^[0-9A-Fa-f]+$"));
    if (compact.size() != 43 && hexDigits.match(compact).hasMatch()) {
        return QCoreApplication::translate(
                   "SyncKeyText",
                   "This is %1 hexadecimal digits; a sync key is 64 of them, or 32 bytes of "
                   "base64.")
            .arg(compact.size());
    }
    static const QRegularExpression base64(QStringLiteral("^[A-Za-z0-9+/_-]+={0,2}$"));
    const bool urlSafe = compact.contains(u'-') || compact.contains(u'_');
    if (!base64.match(compact).hasMatch() ||
        (urlSafe && (compact.contains(u'+') || compact.contains(u'/')))) {
        return wrongForm;
    }
    QByteArray ascii = compact.toLatin1();
    while (ascii.size() % 4 != 0) {
        ascii.append('=');
    }
    const auto decoded = QByteArray::fromBase64Encoding(
        ascii, (urlSafe ? QByteArray::Base64UrlEncoding : QByteArray::Base64Encoding) |
                   QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        return wrongForm;
    }
    if (const auto key = SymmetricKey::fromBytes(decoded.decoded)) {
        return *key;
    }
    return QCoreApplication::translate("SyncKeyText",
                                       "This is %1 bytes of base64; a sync key is 32 bytes.")
        .arg(decoded.decoded.size());
}

}  // namespace SyncKeyText
