// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/CodeIntake/PairingOffer.h"

#include <QHash>
#include <QUrl>
#include <QUrlQuery>

#include "platform/AesGcm.h"
#include "platform/KeyAgreement.h"

namespace {

constexpr auto kEncoding = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

// base64url without padding of exactly `size` bytes, or nothing.
std::optional<QByteArray> decodeValue(const QString& text, qsizetype size) {
    const QByteArray ascii = text.toLatin1();
    if (text.contains(u'=') || QString::fromLatin1(ascii) != text) {
        return std::nullopt;
    }
    const auto decoded = QByteArray::fromBase64Encoding(
        ascii, QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != size ||
        decoded.decoded.toBase64(kEncoding) != ascii) {
        return std::nullopt;
    }
    return decoded.decoded;
}

}  // namespace

QString PairingURI::text() const {
    return QStringLiteral("zorvik://pair?v=1&id=%1&pk=%2")
        .arg(QString::fromLatin1(pairingID.toBase64(kEncoding)),
             QString::fromLatin1(publicKey.toBase64(kEncoding)));
}

std::variant<PairingURI, QString> PairingURI::parse(const QString& text) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != u"zorvik" || url.host() != u"pair" ||
        !url.userInfo().isEmpty() || url.port() != -1 || url.hasFragment() ||
        !(url.path().isEmpty() || url.path() == u"/")) {
        return QStringLiteral("not a Zorvik pairing code");
    }
    const QUrlQuery query(url);
    QHash<QString, QString> values;
    for (const auto& [name, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (values.contains(name)) {
            return QStringLiteral("the pairing code names %1 twice").arg(name);
        }
        values.insert(name, value);
    }
    if (values.value(QStringLiteral("v")) != u"1") {
        return QStringLiteral("a pairing code of another version");
    }
    const auto id = decodeValue(values.value(QStringLiteral("id")), pairingIDSize);
    if (!id) {
        return QStringLiteral("the pairing code's id is not 16 bytes in base64url");
    }
    const auto key = decodeValue(values.value(QStringLiteral("pk")), publicKeySize);
    if (!key) {
        return QStringLiteral("the pairing code's pk is not 32 bytes in base64url");
    }
    return PairingURI{*id, *key};
}

PairingOffer PairingOffer::make(Instant now) {
    return fromKeys(AesGcm::randomBytes(PairingURI::pairingIDSize),
                    KeyAgreement::generate().privateKey, addingSeconds(now, lifetime));
}

PairingOffer PairingOffer::fromKeys(QByteArray pairingID, QByteArray privateKey,
                                    Instant expiresAt) {
    KeyAgreement::KeyPair pair = KeyAgreement::fromPrivateKey(privateKey);
    AesGcm::scrub(privateKey);
    return PairingOffer(PairingURI{std::move(pairingID), std::move(pair.publicKey)},
                        std::move(pair.privateKey), expiresAt);
}

PairingOffer::~PairingOffer() {
    scrub();
}

void PairingOffer::scrub() {
    AesGcm::scrub(privateKey_);
}
