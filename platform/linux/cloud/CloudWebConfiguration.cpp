// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/cloud/CloudWebConfiguration.h"

CloudWebConfiguration CloudWebConfiguration::fromBuild() {
    CloudWebConfiguration configuration;
    configuration.baseURL = QUrl(QStringLiteral(ZORVIK_CLOUDKIT_URL));
    configuration.containerIdentifier = QStringLiteral(ZORVIK_CLOUDKIT_CONTAINER);
    configuration.environment = QStringLiteral(ZORVIK_CLOUDKIT_ENVIRONMENT);
    configuration.apiToken = QStringLiteral(ZORVIK_CLOUDKIT_API_TOKEN);
    configuration.signInPort = ZORVIK_CLOUDKIT_SIGNIN_PORT;
    return configuration;
}

bool CloudWebConfiguration::isServiceURL(const QUrl& url) {
    return url.isValid() && (url.scheme() == u"https" || url.scheme() == u"http") &&
           !url.host().isEmpty();
}

bool CloudWebConfiguration::mayFollow(const QUrl& url) const {
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == u"https" || (allowsPlainHttp && url.scheme() == u"http"));
}

namespace {

QUrl below(const QUrl& base, const QString& path) {
    QString text = base.toString(QUrl::RemoveQuery | QUrl::RemoveFragment);
    while (text.endsWith(u'/')) {
        text.chop(1);
    }
    return QUrl(text + u'/' + path);
}

}  // namespace

QUrl CloudWebConfiguration::databaseURL(const QString& path) const {
    return below(baseURL,
                 QStringLiteral("database/1/%1/%2/%3").arg(containerIdentifier, environment, path));
}

QUrl CloudWebConfiguration::deviceURL(const QString& path) const {
    return below(baseURL,
                 QStringLiteral("device/1/%1/%2/%3").arg(containerIdentifier, environment, path));
}

QString CloudWebConfiguration::signInCallbackURL() const {
    return QStringLiteral("http://127.0.0.1:%1/zorvik-signin").arg(signInPort);
}
