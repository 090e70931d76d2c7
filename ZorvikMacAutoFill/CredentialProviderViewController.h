// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QList>
#include <QPointer>
#include <QSize>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "ZorvikMacAutoFill/AutoFillModel.h"
#include "ZorvikMacAutoFill/CredentialRequest.h"
#include "platform/Instant.h"
#include "shared/LatestCodeStore.h"
#include "shared/symbols/InterfaceStyle.h"

class ExtensionContext;
class MainActor;

// Answers the browser's one-time-code requests from the shared latest-code file alone: fills a
// valid code at once, and otherwise leaves the panel up to wait for one. The only trace it leaves
// for the application is the fill marker. Every decision reads the file afresh.
class CredentialProviderViewController {
public:
    // The app's accent colour.
    static QColor gold() { return InterfaceStyle::gold(); }
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

    // Builds the panel, ticking on `mainActor`, in a view of viewSize.
    void loadView(MainActor& mainActor);
    void viewDidLoad();
    // The view loadView built, or null before it.
    QWidget* view() const { return view_.get(); }
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
    std::unique_ptr<QWidget> view_;
    QSize preferredContentSize_;
    // The callbacks hold this weakly: once the controller is gone they do nothing.
    std::shared_ptr<CredentialProviderViewController*> self_;
};
