// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QSignalSpy>

#include "ZorvikMacAutoFill/AutoFillModel.h"
#include "shared/Iso8601.h"
#include "tests/support/TemporaryAppGroupContainers.h"

namespace {

const Instant kReceived = *Iso8601::parse(u"2026-03-01T12:00:02Z");
const Instant kExpiry = *Iso8601::parse(u"2026-03-01T12:01:30Z");

LatestCode code(std::optional<QString> serviceID = QStringLiteral("github"),
                const QString& text = QStringLiteral("123456")) {
    return {"Work GitHub", std::move(serviceID),         text,
            "iPhone",      addingSeconds(kReceived, -2), kReceived,
            kExpiry};
}

class AutoFillModelTest : public testing::Test {
protected:
    TemporaryAppGroupContainers containers;
    std::optional<LatestCodeStore> store = LatestCodeStore::make(containers);
    AutoFillModel model{store};
};

TEST(AutoFillModelHostTest, ReducesDomainsAndURLsToLowerCaseHosts) {
    const auto host = [](const char* text) { return AutoFillModel::normalizedHost(text); };
    EXPECT_EQ(host("  GitHub.com \n"), "github.com");
    EXPECT_EQ(host("https://Login.Example.COM:8443/path?q=1#x"), "login.example.com");
    EXPECT_EQ(host("example.com/login/step"), "example.com") << "no scheme: the part before /";
    EXPECT_EQ(host("//example.com//a"), "example.com");
    EXPECT_EQ(host("file:///tmp/page.html"), "file:") << "a URL without a host is split";
    EXPECT_EQ(host("///"), "///") << "no piece at all leaves the whole text";
    EXPECT_EQ(host(""), std::nullopt);
    EXPECT_EQ(host(" \t\r\n"), std::nullopt);
}

// Only a valid code is offered; an expired one is told apart from none, which is also what a
// malformed file or a missing container give.
TEST_F(AutoFillModelTest, RefreshKeepsOnlyAValidCodeAndTellsAnExpiredOneApart) {
    const auto read = [&](Instant at) {
        model.refresh(at);
        return std::pair(model.latest().has_value(), model.hasExpired());
    };
    EXPECT_EQ(read(kReceived), std::pair(false, false)) << "no file";

    store->save(code());
    model.refresh(addingSeconds(kExpiry, -0.001));
    EXPECT_EQ(model.latest(), code());
    EXPECT_EQ(read(kExpiry), std::pair(false, true)) << "offered only strictly before its expiry";

    store->save(code(QStringLiteral("github"), QString()));
    EXPECT_EQ(read(kReceived), std::pair(false, true)) << "an empty code is never offered";

    QFile file(store->url());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{\"code\": \"123456\"");
    file.close();
    EXPECT_EQ(read(kReceived), std::pair(false, false)) << "a malformed file";

    AutoFillModel withoutContainer{std::nullopt};
    withoutContainer.refresh(kReceived);
    EXPECT_FALSE(withoutContainer.latest());
    EXPECT_FALSE(withoutContainer.hasExpired());
}

TEST_F(AutoFillModelTest, AnnouncesOnlyRealChanges) {
    QSignalSpy modes(&model, &AutoFillModel::modeChanged);
    QSignalSpy sites(&model, &AutoFillModel::serviceIdentifiersChanged);
    QSignalSpy latest(&model, &AutoFillModel::latestChanged);
    QSignalSpy expired(&model, &AutoFillModel::hasExpiredChanged);
    const auto counts = [&] {
        return QList<qsizetype>{modes.count(), sites.count(), latest.count(), expired.count()};
    };

    model.setMode(AutoFillModel::Mode::list);
    model.setServiceIdentifiers({});
    model.refresh(kReceived);
    EXPECT_EQ(counts(), (QList<qsizetype>{0, 0, 0, 0}));

    model.setMode(AutoFillModel::Mode::configuration);
    model.setServiceIdentifiers({"github.com"});
    model.setServiceIdentifiers({"github.com"});
    store->save(code());
    model.refresh(kReceived);
    model.refresh(addingSeconds(kReceived, 1));
    EXPECT_EQ(counts(), (QList<qsizetype>{1, 1, 1, 0})) << "the same code read twice is no change";

    model.refresh(kExpiry);
    EXPECT_EQ(counts(), (QList<qsizetype>{1, 1, 2, 1}));
}

TEST_F(AutoFillModelTest, SiteMatchComparesHostsWithTheCodesDomains) {
    const auto matchFor = [&](std::optional<QString> serviceID, QStringList sites) {
        store->save(code(std::move(serviceID)));
        model.setServiceIdentifiers(sites);
        model.refresh(kReceived);
        return model.siteMatch();
    };
    using Match = AutoFillModel::SiteMatch;
    EXPECT_EQ(matchFor("github", {"github.com"}), Match::yes);
    EXPECT_EQ(matchFor("github", {"https://Gist.GitHub.com/login"}), Match::yes)
        << "a subdomain, from a URL";
    EXPECT_EQ(matchFor("github", {"example.com", "", "api.github.com"}), Match::yes)
        << "any requested site, empty ones skipped";
    EXPECT_EQ(matchFor("google", {"mail.google.com"}), Match::yes) << "any of the domains";
    EXPECT_EQ(matchFor("no-such-service", {"github.com"}), Match::no)
        << "a service without domains never matches";
    EXPECT_EQ(matchFor(std::nullopt, {"github.com"}), Match::undetermined);
    EXPECT_EQ(matchFor("github", {}), Match::undetermined);
    EXPECT_EQ(matchFor("github", {"  "}), Match::no) << "sites were given, none usable";

    store->clear();
    model.refresh(kReceived);
    EXPECT_EQ(model.siteMatch(), Match::undetermined) << "no code";
}

}  // namespace
