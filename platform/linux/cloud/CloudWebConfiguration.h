// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QUrl>

// Where the cloud's web service is and which container it serves. The values come from the
// build (the CMake cache variables ZORVIK_CLOUDKIT_*); a developer may point the client at
// another base URL, such as the local test double.
struct CloudWebConfiguration {
    // The service, like https://api.apple-cloudkit.com, without a trailing slash.
    QUrl baseURL;
    QString containerIdentifier;
    // "production" or "development".
    QString environment;
    // The container's API token from the cloud console; not a secret, but empty unless the
    // build was given one.
    QString apiToken;
    // The loopback port the sign-in page sends the browser back to, as registered in the
    // console with the API token.
    quint16 signInPort = 0;
    // A developer's own service (--cloud-url, such as the local test double) may send the
    // browser and the push long-poll to plain http; the real one never does.
    bool allowsPlainHttp = false;

    static CloudWebConfiguration fromBuild();

    // An address the client may call: a valid http or https URL with a host.
    static bool isServiceURL(const QUrl& url);

    // Whether the client may follow an address the service gave (a sign-in page, a courier):
    // https with a host, or http where the developer's service allows it. Never file: or a
    // custom scheme, which would run whatever handles it on this computer.
    bool mayFollow(const QUrl& url) const;

    // False when the build has no API token: sign-in cannot work, so the embedded cloud stays.
    bool isUsable() const { return !apiToken.isEmpty() && baseURL.isValid(); }

    // …/database/1/<container>/<environment>/<path>, like path "private/records/lookup".
    QUrl databaseURL(const QString& path) const;
    // …/device/1/<container>/<environment>/<path>, for the push tokens.
    QUrl deviceURL(const QString& path) const;
    // Where the browser comes back after signing in: http://127.0.0.1:<port>/zorvik-signin.
    QString signInCallbackURL() const;
};
