#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSet>

#include "ServiceDomains.h"

namespace {

TEST(ServiceDomains, KeysOrderAndDomainCounts) {
    const std::vector<std::pair<QString, int>> expected{
        {"github", 1},    {"gitlab", 1},      {"bitbucket", 2},    {"atlassian", 2},
        {"google", 3},    {"apple", 3},       {"amazon", 4},       {"aws", 3},
        {"microsoft", 7}, {"dropbox", 1},     {"facebook", 2},     {"instagram", 1},
        {"x", 2},         {"discord", 1},     {"slack", 1},        {"reddit", 1},
        {"paypal", 1},    {"coinbase", 1},    {"binance", 1},      {"kraken", 1},
        {"namecheap", 1}, {"cloudflare", 2},  {"digitalocean", 1}, {"linode", 2},
        {"heroku", 1},    {"vercel", 1},      {"netlify", 1},      {"notion", 2},
        {"evernote", 1},  {"1password", 1},   {"bitwarden", 1},    {"lastpass", 1},
        {"proton", 2},    {"tutanota", 2},    {"fastmail", 1},     {"zoho", 1},
        {"synology", 2},  {"ubiquiti", 2},    {"nintendo", 1},     {"steam", 2},
        {"epic", 1},      {"playstation", 2}, {"xbox", 1},         {"twitch", 1},
        {"uber", 1},      {"airbnb", 1},      {"booking", 1},      {"shopify", 1},
        {"stripe", 2},    {"wise", 1},        {"revolut", 1},      {"n26", 1},
        {"robinhood", 1}, {"fidelity", 1},    {"vanguard", 1},     {"schwab", 1},
        {"ibkr", 1},      {"openai", 2},      {"anthropic", 2},    {"huggingface", 1},
        {"wordpress", 1}, {"squarespace", 1}, {"mailchimp", 1},    {"porkbun", 1},
        {"tailscale", 1}, {"docker", 2},      {"npm", 1},          {"pypi", 1},
        {"okta", 1},      {"auth0", 1},       {"duo", 1},          {"linkedin", 1},
        {"hetzner", 2},   {"ovh", 2},         {"adobe", 1},        {"yahoo", 1}};
    const auto& entries = ServiceDomains::table().entries();
    ASSERT_EQ(entries.size(), 76u);
    ASSERT_EQ(expected.size(), 76u);
    int total = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].key, expected[i].first) << "position " << i;
        EXPECT_EQ(entries[i].domains.size(), expected[i].second) << entries[i].key.toStdString();
        total += static_cast<int>(entries[i].domains.size());
    }
    EXPECT_EQ(total, 110);
}

TEST(ServiceDomains, DomainsAreLowerCaseHostNames) {
    const QRegularExpression host(R"(^([a-z0-9]([a-z0-9-]*[a-z0-9])?\.)+[a-z]{2,}$)");
    for (const auto& entry : ServiceDomains::table().entries()) {
        EXPECT_EQ(QSet<QString>(entry.domains.begin(), entry.domains.end()).size(),
                  entry.domains.size())
            << entry.key.toStdString() << " lists a domain twice";
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

}  // namespace
