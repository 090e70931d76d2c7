// SPDX-License-Identifier: GPL-3.0-or-later
#include "shared/ServiceDomains.h"

ServiceDomains::ServiceDomains()
    : entries_{
          {"github", {"github.com"}},
          {"gitlab", {"gitlab.com"}},
          {"bitbucket", {"bitbucket.org", "id.atlassian.com"}},
          {"atlassian", {"id.atlassian.com", "atlassian.com"}},
          {"google", {"accounts.google.com", "myaccount.google.com", "google.com"}},
          {"apple", {"appleid.apple.com", "account.apple.com", "idmsa.apple.com"}},
          {"amazon", {"amazon.com", "amazon.co.uk", "amazon.de", "amazon.fr"}},
          {"aws", {"signin.aws.amazon.com", "console.aws.amazon.com", "aws.amazon.com"}},
          {"microsoft",
           {"login.microsoftonline.com", "login.live.com", "account.live.com",
            "account.microsoft.com", "login.microsoft.com", "outlook.live.com",
            "portal.azure.com"}},
          {"dropbox", {"dropbox.com"}},
          {"facebook", {"facebook.com", "m.facebook.com"}},
          {"instagram", {"instagram.com"}},
          {"x", {"x.com", "twitter.com"}},
          {"discord", {"discord.com"}},
          {"slack", {"slack.com"}},
          {"reddit", {"reddit.com"}},
          {"paypal", {"paypal.com"}},
          {"coinbase", {"coinbase.com"}},
          {"binance", {"binance.com"}},
          {"kraken", {"kraken.com"}},
          {"namecheap", {"namecheap.com"}},
          {"cloudflare", {"dash.cloudflare.com", "cloudflare.com"}},
          {"digitalocean", {"cloud.digitalocean.com"}},
          {"linode", {"login.linode.com", "cloud.linode.com"}},
          {"heroku", {"id.heroku.com"}},
          {"vercel", {"vercel.com"}},
          {"netlify", {"app.netlify.com"}},
          {"notion", {"notion.so", "notion.com"}},
          {"evernote", {"evernote.com"}},
          {"1password", {"my.1password.com"}},
          {"bitwarden", {"vault.bitwarden.com"}},
          {"lastpass", {"lastpass.com"}},
          {"proton", {"account.proton.me", "proton.me"}},
          {"tutanota", {"app.tuta.com", "mail.tutanota.com"}},
          {"fastmail", {"app.fastmail.com"}},
          {"zoho", {"accounts.zoho.com"}},
          {"synology", {"account.synology.com", "quickconnect.to"}},
          {"ubiquiti", {"account.ui.com", "unifi.ui.com"}},
          {"nintendo", {"accounts.nintendo.com"}},
          {"steam", {"store.steampowered.com", "steamcommunity.com"}},
          {"epic", {"epicgames.com"}},
          {"playstation", {"my.account.sony.com", "playstation.com"}},
          {"xbox", {"xbox.com"}},
          {"twitch", {"twitch.tv"}},
          {"uber", {"auth.uber.com"}},
          {"airbnb", {"airbnb.com"}},
          {"booking", {"account.booking.com"}},
          {"shopify", {"accounts.shopify.com"}},
          {"stripe", {"dashboard.stripe.com", "stripe.com"}},
          {"wise", {"wise.com"}},
          {"revolut", {"app.revolut.com"}},
          {"n26", {"app.n26.com"}},
          {"robinhood", {"robinhood.com"}},
          {"fidelity", {"digital.fidelity.com"}},
          {"vanguard", {"investor.vanguard.com"}},
          {"schwab", {"client.schwab.com"}},
          {"ibkr", {"interactivebrokers.com"}},
          {"openai", {"auth.openai.com", "chatgpt.com"}},
          {"anthropic", {"claude.ai", "console.anthropic.com"}},
          {"huggingface", {"huggingface.co"}},
          {"wordpress", {"wordpress.com"}},
          {"squarespace", {"account.squarespace.com"}},
          {"mailchimp", {"login.mailchimp.com"}},
          {"porkbun", {"porkbun.com"}},
          {"tailscale", {"login.tailscale.com"}},
          {"docker", {"login.docker.com", "hub.docker.com"}},
          {"npm", {"npmjs.com"}},
          {"pypi", {"pypi.org"}},
          {"okta", {"okta.com"}},
          {"auth0", {"auth0.com"}},
          {"duo", {"duosecurity.com"}},
          {"linkedin", {"linkedin.com"}},
          {"hetzner", {"accounts.hetzner.com", "console.hetzner.cloud"}},
          {"ovh", {"ovh.com", "ovhcloud.com"}},
          {"adobe", {"auth.services.adobe.com"}},
          {"yahoo", {"login.yahoo.com"}},
      } {
    for (qsizetype i = 0; i < static_cast<qsizetype>(entries_.size()); ++i) {
        indexOfKey_.insert(entries_[static_cast<std::size_t>(i)].key, i);
    }
}

const ServiceDomains& ServiceDomains::table() {
    static const ServiceDomains built;
    return built;
}

QStringList ServiceDomains::domains(const QString& key) const {
    const auto found = indexOfKey_.constFind(key);
    return found == indexOfKey_.cend() ? QStringList{}
                                       : entries_[static_cast<std::size_t>(*found)].domains;
}

bool domainCoversHost(const QString& domain, const QString& host) {
    // Every subdomain here is some customer's own: acme.okta.com and evil.okta.com are
    // different sign-ins, and the table cannot tell which one the code is for.
    static const QStringList kSharedByTenants{
        QStringLiteral("okta.com"),        QStringLiteral("auth0.com"),
        QStringLiteral("duosecurity.com"), QStringLiteral("quickconnect.to"),
        QStringLiteral("wordpress.com"),
    };
    const QString wanted = domain.trimmed().toLower();
    const QString page = host.trimmed().toLower();
    if (wanted.isEmpty() || page.isEmpty()) {
        return false;
    }
    if (page == wanted) {
        return true;
    }
    return page.endsWith(QLatin1Char('.') + wanted) && !kSharedByTenants.contains(wanted);
}

QStringList serviceDomainsFor(const std::optional<QString>& serviceID) {
    if (!serviceID) {
        return {};
    }
    const QString key = serviceID->trimmed().toLower();
    if (key.isEmpty()) {
        return {};
    }
    return ServiceDomains::table().domains(key);
}
