// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMacAutoFill/Host/AutoFillHost.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>

#include "ZorvikMacAutoFill/CredentialProviderViewController.h"
#include "platform/ByteChannel.h"
#include "shared/AtomicFile.h"
#include "shared/CredentialIdentitiesFile.h"

namespace {

QJsonObject identityObject(const CredentialIdentitiesFile::Identity& identity) {
    return {
        {QStringLiteral("serviceIdentifier"),
         QJsonObject{{QStringLiteral("identifier"), identity.serviceIdentifier},
                     {QStringLiteral("type"), QStringLiteral("domain")}}},
        {QStringLiteral("label"), identity.label},
        {QStringLiteral("recordIdentifier"), identity.recordIdentifier},
    };
}

}  // namespace

AutoFillHost::AutoFillHost(Environment environment) : environment_(std::move(environment)) {}

AutoFillHost::~AutoFillHost() = default;

int AutoFillHost::run() {
    while (!inputEnded_ && !outputFailed_) {
        if (std::optional<FrameReader::Item> item = reader_.next()) {
            handle(*item);
            continue;
        }
        const QByteArray bytes = environment_.channel.read();
        if (bytes.isEmpty()) {
            inputEnded_ = true;
        } else {
            reader_.append(bytes);
        }
    }
    if (outputFailed_) {
        environment_.channel.report(
            QStringLiteral("ZorvikMacAutoFill: the browser no longer reads answers"));
        return 1;
    }
    if (reader_.isInsideFrame()) {
        environment_.channel.report(
            QStringLiteral("ZorvikMacAutoFill: the input ended inside a message"));
        return 1;
    }
    return 0;
}

void AutoFillHost::handle(const FrameReader::Item& item) {
    if (const auto* oversized = std::get_if<FrameReader::OversizedFrame>(&item)) {
        sendError(QJsonValue::Null, QStringLiteral("the message of %1 bytes is larger than "
                                                   "the 1 MiB a request may have")
                                        .arg(oversized->length));
        return;
    }
    const auto parsed = parseHostRequest(std::get<QByteArray>(item));
    if (const auto* error = std::get_if<HostRequestError>(&parsed)) {
        sendError(error->id, error->message);
        return;
    }
    if (!connected_) {
        connected_ = true;
        if (environment_.connected) {
            environment_.connected();
        }
    }
    handle(std::get<HostRequest>(parsed));
}

void AutoFillHost::handle(const HostRequest& request) {
    if (request.type == HostRequest::Type::identities) {
        answerIdentities(request);
        return;
    }
    // A fresh controller for every request: nothing remembered from an earlier one counts.
    pendingId_ = request.id;
    controller_ = std::make_unique<CredentialProviderViewController>(*this, environment_.store,
                                                                     environment_.now);
    if (request.type == HostRequest::Type::provideWithoutUserInteraction) {
        // This path never starts the graphical interface.
        controller_->provideCredentialWithoutUserInteraction(request.request);
    } else {
        provideWithInterface(request,
                             environment_.startInterface ? environment_.startInterface() : nullptr);
    }
    controller_.reset();
}

void AutoFillHost::provideWithInterface(const HostRequest& request, AutoFillInterface* interface) {
    if (interface) {
        controller_->loadView(*interface);
        controller_->viewDidLoad();
    }
    switch (request.type) {
        case HostRequest::Type::prepareInterfaceToProvide:
            controller_->prepareInterfaceToProvideCredential(request.request);
            break;
        case HostRequest::Type::prepareList:
            controller_->prepareOneTimeCodeCredentialList(request.serviceIdentifiers);
            break;
        default:
            controller_->prepareInterfaceForExtensionConfiguration();
            break;
    }
    if (!pendingId_) {
        return;
    }
    if (!interface) {
        // Without a display nobody could answer the panel; the extension must not hang.
        cancelRequest(ErrorCode::userInteractionRequired);
        return;
    }
    // Closing the panel's window is the user's cancel.
    controller_->view()->present(controller_->preferredContentSize(), [this] {
        if (pendingId_) {
            cancelRequest(ErrorCode::userCanceled);
        }
    });
    waitForUser();
}

void AutoFillHost::waitForUser() {
    QEventLoop loop;
    waiting_ = &loop;
    environment_.channel.watchInput([this] {
        const QByteArray bytes = environment_.channel.read();
        if (!bytes.isEmpty()) {
            // Later requests wait for this one.
            reader_.append(bytes);
            return;
        }
        // The browser has gone; nobody is left to answer.
        inputEnded_ = true;
        pendingId_.reset();
        if (waiting_) {
            waiting_->quit();
        }
    });
    if (pendingId_) {
        loop.exec();
    }
    environment_.channel.watchInput({});
    waiting_ = nullptr;
}

void AutoFillHost::answerIdentities(const HostRequest& request) {
    QList<CredentialIdentitiesFile::Identity> identities;
    if (environment_.identitiesPath) {
        if (const auto bytes = AtomicFile::read(*environment_.identitiesPath,
                                                qint64(FrameReader::maximumFrameSize) + 1)) {
            QString error;
            const auto stored = CredentialIdentitiesFile::decode(*bytes, &error);
            if (!stored) {
                sendError(request.id,
                          QStringLiteral("%1 is unreadable: %2")
                              .arg(QString::fromLatin1(CredentialIdentitiesFile::fileName), error));
                return;
            }
            identities = *stored;
        }
    }
    QJsonArray list;
    for (const auto& identity : CredentialIdentitiesFile::matchingHost(identities, request.host)) {
        list.append(identityObject(identity));
    }
    send(request.id, {{QStringLiteral("result"), QStringLiteral("identities")},
                      {QStringLiteral("identities"), list}});
}

void AutoFillHost::completeOneTimeCodeRequest(const QString& code) {
    endRequest(
        {{QStringLiteral("result"), QStringLiteral("code")}, {QStringLiteral("code"), code}});
}

void AutoFillHost::cancelRequest(ErrorCode code) {
    endRequest({{QStringLiteral("result"), QStringLiteral("cancelled")},
                {QStringLiteral("error"),
                 QJsonObject{{QStringLiteral("domain"), QString::fromLatin1(errorDomain)},
                             {QStringLiteral("code"), int(code)}}}});
}

void AutoFillHost::completeExtensionConfigurationRequest() {
    endRequest({{QStringLiteral("result"), QStringLiteral("configurationCompleted")}});
}

void AutoFillHost::endRequest(QJsonObject answer) {
    // Each request ends once; a second ending (a click racing the window's close) is dropped.
    if (!pendingId_) {
        return;
    }
    const QJsonValue id = *pendingId_;
    pendingId_.reset();
    if (controller_ && controller_->view()) {
        controller_->view()->hide();
    }
    send(id, std::move(answer));
    if (waiting_) {
        waiting_->quit();
    }
}

void AutoFillHost::send(const QJsonValue& id, QJsonObject answer) {
    answer.insert(QStringLiteral("id"), id);
    QByteArray json = QJsonDocument(answer).toJson(QJsonDocument::Compact);
    if (json.size() > qsizetype(FrameReader::maximumFrameSize)) {
        // The browser refuses larger messages from its host.
        json = QJsonDocument(QJsonObject{{QStringLiteral("id"), id},
                                         {QStringLiteral("result"), QStringLiteral("error")},
                                         {QStringLiteral("message"),
                                          QStringLiteral("the answer would exceed 1 MiB")}})
                   .toJson(QJsonDocument::Compact);
    }
    if (!environment_.channel.write(encodeFrame(json))) {
        outputFailed_ = true;
    }
}

void AutoFillHost::sendError(const QJsonValue& id, const QString& message) {
    send(id, {{QStringLiteral("result"), QStringLiteral("error")},
              {QStringLiteral("message"), message}});
}
