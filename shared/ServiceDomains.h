// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// The built-in table from a service key to the web domains on which that service asks for
// one-time codes. Built once, on first use; it never changes.
class ServiceDomains {
public:
    struct Entry {
        QString key;
        QStringList domains;
    };

    static const ServiceDomains& table();

    // Every key with its domains, in table order.
    const std::vector<Entry>& entries() const { return entries_; }
    // The domains of an exact key, or an empty list.
    QStringList domains(const QString& key) const;

private:
    ServiceDomains();

    std::vector<Entry> entries_;
    QHash<QString, qsizetype> indexOfKey_;
};

// Whether a code for `domain` may be offered on the page of `host`: the domain itself, or a
// subdomain of it unless the domain hands its subdomains to different customers (okta.com,
// auth0.com, duosecurity.com, quickconnect.to, wordpress.com), where one tenant's code must not
// appear on another tenant's page. Case and surrounding white space do not count.
bool domainCoversHost(const QString& domain, const QString& host);

// The domains of a code's service: the key is trimmed of white space and line ends and
// lower-cased first; an absent, empty or unknown key has none.
QStringList serviceDomainsFor(const std::optional<QString>& serviceID);
