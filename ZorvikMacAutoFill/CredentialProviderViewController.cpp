// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMacAutoFill/CredentialProviderViewController.h"

#include "ZorvikMacAutoFill/ExtensionContext.h"
#include "shared/ServiceDomains.h"

namespace {

// Whether `code` is for the page that asks: the identity the request names is one of the code's
// domains, and that domain covers the page's host. Anything else is answered as if there were
// no code, so that a request cannot even learn one is held.
bool isForPage(const LatestCode& code, const CredentialRequest& request) {
    const QString asked =
        request.credentialIdentity.serviceIdentifier.identifier.trimmed().toLower();
    return code.domains().contains(asked) && domainCoversHost(asked, request.pageHost);
}

}  // namespace

CredentialProviderViewController::CredentialProviderViewController(
    ExtensionContext& context, std::optional<LatestCodeStore> store, std::function<Instant()> now)
    : context_(context),
      now_(std::move(now)),
      model_(std::make_unique<AutoFillModel>(std::move(store))),
      self_(std::make_shared<CredentialProviderViewController*>(this)) {}

CredentialProviderViewController::~CredentialProviderViewController() {
    // The panel refers to the model; it goes first.
    view_.reset();
}

void CredentialProviderViewController::loadView(AutoFillInterface& interface) {
    view_ = interface.makePanelWindow(*model_, viewSize);
    preferredContentSize_ = view_->size();
}

void CredentialProviderViewController::viewDidLoad() {
    std::weak_ptr<CredentialProviderViewController*> weakSelf = self_;
    model_->onFill = [weakSelf](const QString& code) {
        if (const auto self = weakSelf.lock()) {
            (*self)->fill(code);
        }
    };
    model_->onCancel = [weakSelf] {
        if (const auto self = weakSelf.lock()) {
            (*self)->context_.cancelRequest(ExtensionContext::ErrorCode::userCanceled);
        }
    };
    model_->onDone = [weakSelf] {
        if (const auto self = weakSelf.lock()) {
            (*self)->context_.completeExtensionConfigurationRequest();
        }
    };
}

void CredentialProviderViewController::prepareInterfaceForExtensionConfiguration() {
    model_->setMode(AutoFillModel::Mode::configuration);
    model_->refresh(now_());
}

void CredentialProviderViewController::prepareOneTimeCodeCredentialList(
    const QList<CredentialServiceIdentifier>& identifiers) {
    QStringList texts;
    for (const CredentialServiceIdentifier& identifier : identifiers) {
        texts.append(identifier.identifier);
    }
    showList(texts);
}

void CredentialProviderViewController::provideCredentialWithoutUserInteraction(
    const CredentialRequest& request) {
    if (request.type != CredentialRequest::oneTimeCodeType) {
        context_.cancelRequest(ExtensionContext::ErrorCode::userInteractionRequired);
        return;
    }
    const std::optional<LatestCode> code = loadValidCode(now_());
    if (!code || !isForPage(*code, request)) {
        context_.cancelRequest(ExtensionContext::ErrorCode::userInteractionRequired);
        return;
    }
    fill(code->code);
}

void CredentialProviderViewController::prepareInterfaceToProvideCredential(
    const CredentialRequest& request) {
    // The panel names the page itself, so that it can tell the user when the code is for
    // another site; only a code for this page is filled without the user's say.
    showList({request.pageHost});
    const std::optional<LatestCode> code = loadValidCode(now_());
    if (code && isForPage(*code, request)) {
        fill(code->code);
    }
}

void CredentialProviderViewController::showList(const QStringList& identifiers) {
    model_->setServiceIdentifiers(identifiers);
    model_->setMode(AutoFillModel::Mode::list);
    model_->refresh(now_());
}

std::optional<LatestCode> CredentialProviderViewController::loadValidCode(Instant at) const {
    const std::optional<LatestCodeStore>& store = model_->store();
    if (!store) {
        return std::nullopt;
    }
    std::optional<LatestCode> code = store->load();
    if (!code || !code->isValid(at)) {
        return std::nullopt;
    }
    return code;
}

void CredentialProviderViewController::fill(const QString& code) {
    if (const std::optional<LatestCodeStore>& store = model_->store()) {
        store->markFilled(now_());
    }
    context_.completeOneTimeCodeRequest(code);
}
