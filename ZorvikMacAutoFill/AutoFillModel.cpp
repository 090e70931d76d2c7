// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMacAutoFill/AutoFillModel.h"

#include <QUrl>

#include "shared/ServiceDomains.h"

AutoFillModel::AutoFillModel(std::optional<LatestCodeStore> store, QObject* parent)
    : QObject(parent), store_(std::move(store)) {}

void AutoFillModel::setMode(Mode mode) {
    if (mode_ == mode) {
        return;
    }
    mode_ = mode;
    Q_EMIT modeChanged(mode_);
}

void AutoFillModel::setServiceIdentifiers(const QStringList& identifiers) {
    if (serviceIdentifiers_ == identifiers) {
        return;
    }
    serviceIdentifiers_ = identifiers;
    Q_EMIT serviceIdentifiersChanged(serviceIdentifiers_);
}

void AutoFillModel::refresh(Instant now) {
    const std::optional<LatestCode> record = store_ ? store_->load() : std::nullopt;
    std::optional<LatestCode> latest;
    if (record && record->isValid(now)) {
        latest = record;
    }
    const bool hasExpired = record.has_value() && !latest.has_value();
    if (latest_ != latest) {
        latest_ = std::move(latest);
        Q_EMIT latestChanged(latest_);
    }
    if (hasExpired_ != hasExpired) {
        hasExpired_ = hasExpired;
        Q_EMIT hasExpiredChanged(hasExpired_);
    }
}

AutoFillModel::SiteMatch AutoFillModel::siteMatch() const {
    if (!latest_ || !latest_->serviceID || serviceIdentifiers_.isEmpty()) {
        return SiteMatch::undetermined;
    }
    const QStringList domains = latest_->domains();
    for (const QString& identifier : serviceIdentifiers_) {
        const std::optional<QString> host = normalizedHost(identifier);
        if (!host) {
            continue;
        }
        for (const QString& domain : domains) {
            if (domainCoversHost(domain, *host)) {
                return SiteMatch::yes;
            }
        }
    }
    return SiteMatch::no;
}

std::optional<QString> AutoFillModel::normalizedHost(const QString& identifier) {
    const QString text = identifier.trimmed().toLower();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    if (text.contains(QStringLiteral("://"))) {
        const QUrl url(text);
        if (url.isValid() && !url.host().isEmpty()) {
            return url.host();
        }
    }
    const QStringList pieces = text.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const QString host = pieces.isEmpty() ? text : pieces.first();
    if (host.isEmpty()) {
        return std::nullopt;
    }
    return host;
}
