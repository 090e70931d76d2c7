// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <functional>
#include <memory>
#include <optional>

#include "ZorvikMacAutoFill/ExtensionContext.h"
#include "ZorvikMacAutoFill/Host/FrameReader.h"
#include "ZorvikMacAutoFill/Host/HostRequest.h"
#include "platform/Instant.h"
#include "shared/LatestCodeStore.h"

class AutoFillInterface;
class ByteChannel;
class CredentialProviderViewController;
class QEventLoop;

// The native-messaging host around the credential provider: reads the extension's requests,
// hands each to a fresh controller and frames the controller's ending of the request as the
// answer. Requests are answered one after the other; while the panel waits for the user, later
// requests wait too.
class AutoFillHost final : public ExtensionContext {
public:
    struct Environment {
        ByteChannel& channel;
        // Where the application publishes codes; nothing without a group container.
        std::optional<LatestCodeStore> store;
        // credential-identities.json; nothing without a group container.
        std::optional<QString> identitiesPath;
        std::function<Instant()> now;
        // Starts the graphical interface on first use and gives it, or null when the panel
        // cannot be shown (no display, or the interface would not start).
        std::function<AutoFillInterface*()> startInterface;
        // Called once, at the first well-formed request: the extension has truly connected.
        std::function<void()> connected;
    };

    explicit AutoFillHost(Environment environment);
    ~AutoFillHost() override;

    // Answers requests until the input ends; gives the process's exit status.
    int run();

    void completeOneTimeCodeRequest(const QString& code) override;
    void cancelRequest(ErrorCode code) override;
    void completeExtensionConfigurationRequest() override;

private:
    void handle(const FrameReader::Item& item);
    void handle(const HostRequest& request);
    void answerIdentities(const HostRequest& request);
    void provideWithInterface(const HostRequest& request, AutoFillInterface* interface);
    void waitForUser();
    void endRequest(QJsonObject answer);
    void send(const QJsonValue& id, QJsonObject answer);
    void sendError(const QJsonValue& id, const QString& message);

    Environment environment_;
    FrameReader reader_;
    std::unique_ptr<CredentialProviderViewController> controller_;
    // The request the controller is working on, until it is answered.
    std::optional<QJsonValue> pendingId_;
    QEventLoop* waiting_ = nullptr;
    bool inputEnded_ = false;
    bool outputFailed_ = false;
    bool connected_ = false;
};
