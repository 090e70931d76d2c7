// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>
#include <algorithm>
#include <deque>
#include <functional>
#include <optional>

#include "platform/MainActor.h"
#include "platform/linux/cloud/CloudWebConfiguration.h"
#include "platform/linux/cloud/CloudWebTransport.h"

// A web transport the test answers by hand. Nothing answers until the test calls answer(), and
// the answer then arrives through the main queue, never inline, as the network's would. A
// request cancelled before its answer is delivered never answers, also when the test answered
// it already: that is the race between a reply on the wire and the client giving up on it.
class ScriptedCloudWebTransport final : public CloudWebTransport {
public:
    struct Exchange {
        CloudWebRequest request;
        std::function<void(CloudWebResponse)> reply;
        bool answered = false;  // the test gave its answer
        bool delivered = false;
        bool cancelled = false;

        bool isOpen() const { return !answered && !cancelled; }
        // Whether the path ends in `tail`, like "tokens/create", at a segment boundary.
        bool pathEndsWith(const QString& tail) const {
            return request.url.path().endsWith(u'/' + tail);
        }
        std::optional<QString> queryItem(const QString& name) const {
            const QUrlQuery query(request.url);
            if (!query.hasQueryItem(name)) {
                return std::nullopt;
            }
            return query.queryItemValue(name, QUrl::FullyDecoded);
        }
        QJsonObject jsonBody() const { return QJsonDocument::fromJson(request.body).object(); }
    };

    explicit ScriptedCloudWebTransport(MainActor& mainActor) : mainActor_(mainActor) {}

    // A request's id is its place in `exchanges` plus one.
    RequestId send(const CloudWebRequest& request,
                   std::function<void(CloudWebResponse)> reply) override {
        exchanges.push_back({request, std::move(reply)});
        if (onSend) {
            onSend(exchanges.back());
        }
        return exchanges.size();
    }

    void cancel(RequestId id) override {
        if (id >= 1 && id <= exchanges.size() && !exchanges[id - 1].delivered) {
            exchanges[id - 1].cancelled = true;
        }
    }

    // Answers the `index`th request sent (0 is the first) through the main queue.
    void answer(std::size_t index, CloudWebResponse response) {
        ASSERT_LT(index, exchanges.size()) << "no such request was sent";
        ASSERT_FALSE(exchanges[index].answered) << "request #" << index << " answered already";
        exchanges[index].answered = true;
        mainActor_.post([this, index, response = std::move(response)]() mutable {
            Exchange& due = exchanges[index];
            if (!due.cancelled) {
                due.delivered = true;
                due.reply(std::move(response));
            }
        });
    }
    void answerLast(CloudWebResponse response) {
        answer(exchanges.size() - 1, std::move(response));
    }

    std::size_t sentCount() const { return exchanges.size(); }
    const Exchange& last() const { return exchanges.back(); }
    std::size_t openCount() const {
        return std::count_if(exchanges.begin(), exchanges.end(), std::mem_fn(&Exchange::isOpen));
    }
    bool wasCancelled(std::size_t index) const {
        return index < exchanges.size() && exchanges[index].cancelled;
    }

    static CloudWebResponse ok(const QJsonObject& body = {}, const QByteArray& rotatedToken = {}) {
        return withStatus(200, QJsonDocument(body).toJson(QJsonDocument::Compact), rotatedToken);
    }
    static CloudWebResponse withStatus(int status, const QByteArray& body,
                                       const QByteArray& rotatedToken = {}) {
        CloudWebResponse response;
        response.status = status;
        response.body = body;
        response.rotatedToken = rotatedToken;
        return response;
    }
    static CloudWebResponse failed(CloudWebErrors::TransportFailure failure) {
        CloudWebResponse response;
        response.failure = failure;
        response.failureDetail = QStringLiteral("scripted transport failure");
        return response;
    }

    // A deque: references to earlier exchanges survive later sends.
    std::deque<Exchange> exchanges;
    // Runs inside send(), after the request is recorded: what the client had done by then.
    std::function<void(const Exchange&)> onSend;

private:
    MainActor& mainActor_;
};

// A service that exists nowhere, for requests the scripted transport answers.
inline CloudWebConfiguration scriptedServiceConfiguration(const QString& apiToken) {
    CloudWebConfiguration configuration;
    configuration.baseURL = QUrl(QStringLiteral("https://cloud.example.test"));
    configuration.containerIdentifier = QStringLiteral("iCloud.net.brontal.zorvik");
    configuration.environment = QStringLiteral("development");
    configuration.apiToken = apiToken;
    return configuration;
}
