// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QSize>
#include <functional>
#include <memory>
#include <optional>

#include "ZorvikMacAutoFill/AutoFillInterface.h"
#include "ZorvikMacAutoFill/AutoFillModel.h"
#include "ZorvikMacAutoFill/CredentialRequest.h"
#include "platform/Instant.h"
#include "shared/LatestCodeStore.h"

class ExtensionContext;

// Answers the browser's one-time-code requests from the shared latest-code file alone: fills a
// valid code at once, and otherwise leaves the panel up to wait for one. The only trace it leaves
// for the application is the fill marker. Every decision reads the file afresh. Only the panel
// is graphical, and it comes from the interface given to loadView.
class CredentialProviderViewController {
public:
    static constexpr QSize viewSize{320, 230};

    // `store` is where the application publishes codes (nothing without a group container);
    // `now` is the wall clock.
    CredentialProviderViewController(ExtensionContext& context,
                                     std::optional<LatestCodeStore> store,
                                     std::function<Instant()> now);
    ~CredentialProviderViewController();
    CredentialProviderViewController(const CredentialProviderViewController&) = delete;
    CredentialProviderViewController& operator=(const CredentialProviderViewController&) = delete;

    AutoFillModel& model() { return *model_; }

    // Builds the panel through `interface`, in a view of viewSize.
    void loadView(AutoFillInterface& interface);
    void viewDidLoad();
    // The view loadView built, or null before it.
    AutoFillPanelWindow* view() const { return view_.get(); }
    QSize preferredContentSize() const { return preferredContentSize_; }

    void prepareInterfaceForExtensionConfiguration();
    void prepareOneTimeCodeCredentialList(const QList<CredentialServiceIdentifier>& identifiers);
    void provideCredentialWithoutUserInteraction(const CredentialRequest& request);
    void prepareInterfaceToProvideCredential(const CredentialRequest& request);

private:
    std::optional<LatestCode> loadValidCode(Instant at) const;
    void fill(const QString& code);
    void showList(const QStringList& identifiers);

    ExtensionContext& context_;
    std::function<Instant()> now_;
    std::unique_ptr<AutoFillModel> model_;
    std::unique_ptr<AutoFillPanelWindow> view_;
    QSize preferredContentSize_;
    // The callbacks hold this weakly: once the controller is gone they do nothing.
    std::shared_ptr<CredentialProviderViewController*> self_;
};
