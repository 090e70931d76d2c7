// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/browser/FileCredentialIdentityStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/MainActor.h"
#include "platform/linux/browser/ConnectedBrowsers.h"
#include "shared/AtomicFile.h"
#include "shared/CredentialIdentitiesFile.h"

FileCredentialIdentityStore::FileCredentialIdentityStore(
    MainActor& mainActor, std::optional<QString> containerDirectory,
    QList<NativeMessagingHosts::BrowserDirectory> browsers, QString connectionsDirectory)
    : mainActor_(mainActor),
      containerDirectory_(std::move(containerDirectory)),
      browsers_(std::move(browsers)),
      connectionsDirectory_(std::move(connectionsDirectory)) {}

std::optional<QString> FileCredentialIdentityStore::identitiesPath() const {
    if (!containerDirectory_) {
        return std::nullopt;
    }
    return QDir(*containerDirectory_)
        .filePath(QString::fromLatin1(CredentialIdentitiesFile::fileName));
}

void FileCredentialIdentityStore::getState(std::function<void(bool isEnabled)> answer) {
    if (containerDirectory_) {
        ConnectedBrowsers::adoptEarlierRecord(*containerDirectory_, connectionsDirectory_);
    }
    bool enabled = false;
    for (const auto& browser : browsers_) {
        enabled =
            enabled || (containerDirectory_ &&
                        QFileInfo::exists(NativeMessagingHosts::manifestPath(browser.directory)) &&
                        ConnectedBrowsers::hasConnected(connectionsDirectory_, browser.family()));
    }
    mainActor_.post([answer = std::move(answer), enabled] { answer(enabled); });
}

void FileCredentialIdentityStore::replaceCredentialIdentityEntries(
    const QList<Identity>& identities, std::function<void(std::optional<QString> error)> done) {
    std::optional<QString> error;
    if (const auto path = identitiesPath()) {
        try {
            AtomicFile::makeDirectories(*containerDirectory_);
            AtomicFile::write(*path, CredentialIdentitiesFile::encode(identities));
        } catch (const Error& failure) {
            error = failure.localizedDescription();
        }
    } else {
        error =
            QStringLiteral("There is no application-group container (XDG_RUNTIME_DIR is not set)");
    }
    mainActor_.post([done = std::move(done), error] { done(error); });
}

void FileCredentialIdentityStore::removeAllCredentialIdentities(
    std::function<void(std::optional<QString> error)> done) {
    std::optional<QString> error;
    if (const auto path = identitiesPath()) {
        QFile file(*path);
        if (file.exists() && !file.remove()) {
            error = file.errorString() + QStringLiteral(": ") + *path;
        }
    }
    mainActor_.post([done = std::move(done), error] { done(error); });
}
