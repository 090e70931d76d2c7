// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSet>

#include "shared/ServiceDomains.h"

namespace {

// Lookups trim and lower-case the key, so a key with a capital or a blank could never be found.
TEST(ServiceDomains, KeysAreUniqueLowerCaseWordsAndDomainsLowerCaseHostNames) {
    const QRegularExpression key("^[a-z0-9]+$");
    const QRegularExpression host(R"(^([a-z0-9]([a-z0-9-]*[a-z0-9])?\.)+[a-z]{2,}$)");
    QSet<QString> keys;
    for (const auto& entry : ServiceDomains::table().entries()) {
        SCOPED_TRACE(entry.key.toStdString());
        EXPECT_TRUE(key.match(entry.key).hasMatch());
        EXPECT_FALSE(keys.contains(entry.key)) << "listed twice";
        keys.insert(entry.key);
        EXPECT_FALSE(entry.domains.isEmpty());
        EXPECT_EQ(QSet<QString>(entry.domains.begin(), entry.domains.end()).size(),
                  entry.domains.size())
            << "a domain listed twice";
        for (const QString& domain : entry.domains) {
            EXPECT_TRUE(host.match(domain).hasMatch()) << domain.toStdString();
        }
    }
}

TEST(ServiceDomains, LookupTrimsAndLowerCasesButNeverGuesses) {
    EXPECT_EQ(serviceDomainsFor(QString(" GitHub \n")), QStringList{"github.com"});
    EXPECT_EQ(serviceDomainsFor(QString("\tX\r\n")).size(), 2);
    EXPECT_EQ(serviceDomainsFor(QString("microsoft")).size(), 7);
    for (const char* none : {"", "   ", "git", "githubb", "g ithub", "github.com"}) {
        EXPECT_TRUE(serviceDomainsFor(QString(none)).isEmpty()) << none;
    }
    EXPECT_TRUE(serviceDomainsFor(std::nullopt).isEmpty());
}

TEST(DomainCoversHost, ASubdomainIsCoveredUnlessTheDomainIsSharedByTenants) {
    const struct {
        const char* domain;
        const char* host;
        bool covered;
    } rows[]{
        {"github.com", "github.com", true},
        {"GitHub.com ", " GIST.github.com", true},
        {"github.com", "notgithub.com", false},
        {"github.com", "github.com.evil.example", false},
        {"accounts.google.com", "google.com", false},
        {"", "github.com", false},
        {"github.com", "", false},
        // Each tenant's own subdomain: one tenant's code is never offered on another's page.
        {"okta.com", "okta.com", true},
        {"okta.com", "evil.okta.com", false},
        {"auth0.com", "acme.us.auth0.com", false},
        {"duosecurity.com", "api-1234.duosecurity.com", false},
        {"quickconnect.to", "mynas.quickconnect.to", false},
        {"wordpress.com", "someone.wordpress.com", false},
        {"wordpress.com", "WordPress.com", true},
        // Only those domains themselves: a service's own subdomain of them is a domain of its own.
        {"login.okta.com", "eu.login.okta.com", true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(domainCoversHost(QString::fromLatin1(row.domain), QString::fromLatin1(row.host)),
                  row.covered)
            << row.domain << " / " << row.host;
    }
}

}  // namespace
