// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/zorvik-phone/WebCloudWriter.h"

#include <QEventLoop>
#include <QJsonArray>

#include "platform/Keychain.h"
#include "platform/SystemLog.h"
#include "platform/linux/QtMainActor.h"
#include "platform/linux/cloud/CloudRecordCoding.h"
#include "platform/linux/cloud/CloudWebSession.h"
#include "platform/linux/cloud/LoopbackSignIn.h"
#include "platform/linux/cloud/QtCloudWebTransport.h"

namespace {

// Holds the phone's session for one run.
class MemoryKeychain final : public Keychain {
public:
    Result copyMatching(const Query&) override {
        return data_ ? Result{success, data_} : Result{itemNotFound, std::nullopt};
    }
    std::int32_t add(const Query& query, const QByteArray& data) override {
        return store(query, data);
    }
    std::int32_t store(const Query&, const QByteArray& data) override {
        data_ = data;
        return success;
    }
    std::int32_t remove(const Query&) override {
        data_.reset();
        return success;
    }

private:
    std::optional<QByteArray> data_;
};

// The tool says what went wrong itself; the session's log lines are not for its user.
class SilentLog final : public SystemLog {
public:
    void write(LogLevel, const QString&, const QString&, const QString&) override {}
};

}  // namespace

struct WebCloudWriter::Connection {
    QtMainActor actor;
    QtCloudWebTransport transport;
    MemoryKeychain keychain;
    SilentLog log;
    CloudWebSession session;

    Connection(const QUrl& baseURL, const QString& apiToken)
        : session(actor, transport, keychain, log, configuration(baseURL, apiToken)) {}

    static CloudWebConfiguration configuration(const QUrl& baseURL, const QString& apiToken) {
        CloudWebConfiguration configuration = CloudWebConfiguration::fromBuild();
        configuration.baseURL = baseURL;
        configuration.apiToken = apiToken;
        return configuration;
    }

    CloudWebReply call(const QByteArray& method, const QString& path, const QJsonObject& body,
                       bool authenticated = true) {
        QEventLoop loop;
        CloudWebReply answer;
        session.call(
            CloudWebSession::Api::database, method, path, body,
            [&](CloudWebReply reply) {
                answer = std::move(reply);
                loop.quit();
            },
            authenticated);
        loop.exec();
        return answer;
    }

    // The service names its sign-in page; the page sends the browser on with the session.
    std::optional<QString> signIn() {
        const CloudWebReply refused = call("GET", QStringLiteral("public/users/caller"), {}, false);
        if (!refused.serverError || !refused.serverError->redirectURL) {
            return refused.error ? refused.error->localizedDescription()
                                 : QStringLiteral("the service offered no sign-in page");
        }
        QEventLoop loop;
        CloudWebResponse page;
        CloudWebRequest request;
        request.method = "GET";
        request.url = QUrl(*refused.serverError->redirectURL);
        transport.send(request, [&](CloudWebResponse response) {
            page = std::move(response);
            loop.quit();
        });
        loop.exec();
        const QByteArray token = LoopbackSignIn::sessionToken(QUrl::fromEncoded(page.location));
        if (token.isEmpty()) {
            return QStringLiteral("the sign-in page did not hand out a session (HTTP %1)")
                .arg(page.status);
        }
        // The keychain in memory answers at once.
        std::int32_t stored = Keychain::otherFailure;
        session.adoptToken(token, [&stored](std::int32_t status) { stored = status; });
        if (stored != Keychain::success) {
            return QStringLiteral("the session could not be kept: ") + Keychain::describe(stored);
        }
        return std::nullopt;
    }

    std::optional<QString> modify(const QJsonObject& operation, bool* existed = nullptr) {
        const QJsonObject body{
            {QStringLiteral("operations"), QJsonArray{operation}},
            {QStringLiteral("zoneID"),
             QJsonObject{{QStringLiteral("zoneName"), QStringLiteral("_defaultZone")}}},
        };
        const CloudWebReply reply = call("POST", QStringLiteral("private/records/modify"), body);
        if (reply.error) {
            return reply.error->localizedDescription();
        }
        const QJsonObject item =
            reply.body.value(QStringLiteral("records")).toArray().first().toObject();
        if (const auto error = CloudWebErrors::serverError(item)) {
            if (existed != nullptr && error->serverErrorCode == u"NOT_FOUND") {
                *existed = false;
                return std::nullopt;
            }
            return CloudWebErrors::fromServer(*error).localizedDescription();
        }
        if (existed != nullptr) {
            *existed = true;
        }
        return std::nullopt;
    }
};

WebCloudWriter::WebCloudWriter(QUrl baseURL, QString apiToken)
    : baseURL_(std::move(baseURL)), apiToken_(std::move(apiToken)) {}

WebCloudWriter::~WebCloudWriter() = default;
WebCloudWriter::WebCloudWriter(WebCloudWriter&&) noexcept = default;
WebCloudWriter& WebCloudWriter::operator=(WebCloudWriter&&) noexcept = default;

std::optional<QString> WebCloudWriter::signIn() {
    if (connection_) {
        return std::nullopt;
    }
    auto connection = std::make_unique<Connection>(baseURL_, apiToken_);
    if (auto problem = connection->signIn()) {
        return QStringLiteral("cannot sign in to %1: %2").arg(baseURL_.toString(), *problem);
    }
    connection_ = std::move(connection);
    return std::nullopt;
}

std::optional<QString> WebCloudWriter::save(const CloudRecord& record) {
    if (auto problem = signIn()) {
        return problem;
    }
    QJsonObject wire;
    try {
        wire = CloudRecordCoding::encodeRecord(record);
    } catch (const CloudError& error) {
        return error.localizedDescription();
    }
    return connection_->modify({{QStringLiteral("operationType"), QStringLiteral("forceReplace")},
                                {QStringLiteral("record"), wire}});
}

std::optional<QString> WebCloudWriter::remove(const QString& recordName, bool& existed) {
    if (auto problem = signIn()) {
        return problem;
    }
    return connection_->modify(
        {{QStringLiteral("operationType"), QStringLiteral("forceDelete")},
         {QStringLiteral("record"), QJsonObject{{QStringLiteral("recordName"), recordName}}}},
        &existed);
}
