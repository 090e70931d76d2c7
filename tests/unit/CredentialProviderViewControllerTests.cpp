// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QFile>

#include "ZorvikMacAutoFill/CredentialProviderViewController.h"
#include "ZorvikMacAutoFill/ExtensionContext.h"
#include "shared/Iso8601.h"
#include "tests/support/TemporaryAppGroupContainers.h"

namespace {

const Instant kNow = *Iso8601::parse(u"2026-03-01T12:00:10Z");

// The browser's side of a request: how it was ended, in order.
class RecordingExtensionContext final : public ExtensionContext {
public:
    void completeOneTimeCodeRequest(const QString& code) override {
        endings.append("code " + code);
    }
    void cancelRequest(ErrorCode code) override {
        endings.append(QStringLiteral("cancel %1").arg(int(code)));
    }
    void completeExtensionConfigurationRequest() override { endings.append("configured"); }
    QStringList endings;
};

// A request for the identity of `site`, from a page on `page` (the site itself unless given).
CredentialRequest requestFor(const QString& site, int type = CredentialRequest::oneTimeCodeType,
                             std::optional<QString> page = std::nullopt) {
    return {type, {{site, "domain"}, "record-1"}, page.value_or(site)};
}

class CredentialProviderTest : public testing::Test {
protected:
    void makeController(std::optional<LatestCodeStore> from) {
        controller = std::make_unique<CredentialProviderViewController>(context, std::move(from),
                                                                        [this] { return now; });
    }
    void SetUp() override { makeController(store); }
    void saveCode(double secondsLeft, std::optional<QString> serviceID = "github") {
        store->save({"Work GitHub", std::move(serviceID), "654321", "iPhone",
                     addingSeconds(kNow, -5), addingSeconds(kNow, -4),
                     addingSeconds(kNow, secondsLeft)});
    }
    AutoFillModel& model() { return controller->model(); }
    // Asks for a code without the panel; gives how the request ended.
    QString provide(const QString& identity = "github.com", std::optional<QString> page = {},
                    int type = CredentialRequest::oneTimeCodeType) {
        controller->provideCredentialWithoutUserInteraction(requestFor(identity, type, page));
        return context.endings.value(context.endings.size() - 1);
    }

    TemporaryAppGroupContainers containers;
    std::optional<LatestCodeStore> store = LatestCodeStore::make(containers);
    RecordingExtensionContext context;
    Instant now = kNow;
    std::unique_ptr<CredentialProviderViewController> controller;
};

TEST_F(CredentialProviderTest, WithoutInteractionFillsAValidCodeAndDeclinesWith100Otherwise) {
    saveCode(60);
    EXPECT_EQ(provide("github.com", {}, CredentialRequest::passwordType), "cancel 100")
        << "passwords are never answered";
    saveCode(0);
    EXPECT_EQ(provide(), "cancel 100") << "a code expiring now is not filled";
    store->clear();
    EXPECT_EQ(provide(), "cancel 100") << "no file";
    EXPECT_EQ(store->filledAt(), std::nullopt) << "nothing filled, nothing marked";

    saveCode(60);
    EXPECT_EQ(provide(), "code 654321");
    EXPECT_EQ(store->filledAt(), kNow);
    // A directory where the marker file should go makes its write fail, but not the fill.
    ASSERT_TRUE(QFile::remove(store->filledURL()) && QDir().mkpath(store->filledURL()));
    EXPECT_EQ(provide(), "code 654321");
    EXPECT_EQ(store->filledAt(), std::nullopt);

    makeController(std::nullopt);
    EXPECT_EQ(provide(), "cancel 100") << "no container";
    EXPECT_EQ(context.endings.size(), 6);
}

TEST_F(CredentialProviderTest, ACodeGoesOnlyToAPageItsIdentitiesCoverElseItIsAsIfThereWereNone) {
    saveCode(60);
    // The panel path fills nothing for another page, and shows the page, not the identity.
    controller->prepareInterfaceToProvideCredential(
        requestFor("github.com", CredentialRequest::oneTimeCodeType, "evil.example"));
    EXPECT_TRUE(context.endings.isEmpty());
    EXPECT_EQ(model().serviceIdentifiers(), QStringList{"evil.example"});
    EXPECT_EQ(model().siteMatch(), AutoFillModel::SiteMatch::no);

    EXPECT_EQ(provide("GitHub.com", "gist.github.com"), "code 654321") << "a subdomain";
    // The identity of the code, asked for from a page of another site.
    EXPECT_EQ(provide("github.com", "evil.example"), "cancel 100");
    // An identity the code does not have, on its own page.
    EXPECT_EQ(provide("evil.example", "evil.example"), "cancel 100");
    EXPECT_EQ(provide("com", "github.com"), "cancel 100");
    saveCode(60, "some-other-service");
    EXPECT_EQ(provide("github.com", "github.com"), "cancel 100") << "a code of no known site";
}

TEST_F(CredentialProviderTest, TheInterfacePathFillsAtOnceOrLeavesTheWaitingPanel) {
    controller->prepareInterfaceToProvideCredential(requestFor(" GitHub.com "));
    EXPECT_TRUE(context.endings.isEmpty()) << "no code: the panel stays up";
    EXPECT_EQ(model().serviceIdentifiers(), QStringList{" GitHub.com "});

    saveCode(-1);
    controller->prepareInterfaceToProvideCredential(requestFor("github.com"));
    EXPECT_TRUE(context.endings.isEmpty());
    EXPECT_TRUE(model().hasExpired()) << "the panel says the code expired";

    saveCode(30);
    controller->prepareInterfaceToProvideCredential(
        requestFor("github.com", CredentialRequest::passwordType));
    EXPECT_EQ(context.endings, QStringList{"code 654321"})
        << "filled before the user does anything, whatever the request's type";
    EXPECT_EQ(store->filledAt(), kNow);
}

TEST_F(CredentialProviderTest, TheListAndConfigurationRequestsSwitchTheModeAndRefresh) {
    saveCode(30);
    controller->prepareInterfaceForExtensionConfiguration();
    EXPECT_EQ(model().mode(), AutoFillModel::Mode::configuration);
    EXPECT_TRUE(model().latest());

    controller->prepareOneTimeCodeCredentialList(
        {{"https://github.com/login", "URL"}, {"example.com", "domain"}});
    EXPECT_EQ(model().mode(), AutoFillModel::Mode::list);
    EXPECT_EQ(model().serviceIdentifiers(),
              (QStringList{"https://github.com/login", "example.com"}));
    EXPECT_TRUE(context.endings.isEmpty()) << "the list waits for the user's Fill";
}

TEST_F(CredentialProviderTest, ThePanelsButtonsEndTheRequestThroughTheContext) {
    saveCode(30);
    controller->viewDidLoad();
    model().onFill("111 222");
    model().onCancel();
    model().onDone();
    EXPECT_EQ(context.endings, (QStringList{"code 111 222", "cancel 1", "configured"}));
    EXPECT_EQ(store->filledAt(), kNow) << "a fill from the panel is marked too";

    // The callbacks outlive the controller only as no-ops.
    const auto fill = model().onFill;
    const auto cancel = model().onCancel;
    controller.reset();
    fill("333444");
    cancel();
    EXPECT_EQ(context.endings.size(), 3);
}

}  // namespace
