// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

#include "platform/CredentialIdentityStore.h"
#include "platform/linux/browser/ConnectedBrowsers.h"
#include "platform/linux/browser/NativeMessagingHosts.h"

class MainActor;

// The credential identities as credential-identities.json in the application-group container,
// which the AutoFill helper reads to know for which sites a code is meant. The provider is
// enabled while our native-messaging host is installed for a browser whose extension has
// connected to it at least once (the helper's record of connected browsers, kept in
// `connectionsDirectory`). Answers come through the main queue, like any platform completion.
class FileCredentialIdentityStore final : public CredentialIdentityStore {
public:
    FileCredentialIdentityStore(
        MainActor& mainActor, std::optional<QString> containerDirectory,
        QList<NativeMessagingHosts::BrowserDirectory> browsers,
        QString connectionsDirectory = ConnectedBrowsers::standardDirectory());

    // The file's path, or nothing without a container.
    std::optional<QString> identitiesPath() const;

    void getState(std::function<void(bool isEnabled)> answer) override;
    void replaceCredentialIdentityEntries(
        const QList<Identity>& identities,
        std::function<void(std::optional<QString> error)> done) override;
    void removeAllCredentialIdentities(
        std::function<void(std::optional<QString> error)> done) override;

private:
    MainActor& mainActor_;
    std::optional<QString> containerDirectory_;
    QList<NativeMessagingHosts::BrowserDirectory> browsers_;
    QString connectionsDirectory_;
};
