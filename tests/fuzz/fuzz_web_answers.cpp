// SPDX-License-Identifier: GPL-3.0-or-later
// Reads fuzzer input as an answer of the cloud's web service: the first byte picks the HTTP
// status (or no answer at all), the rest is the body. The answer goes through the session's
// reading and then through every reader of a call's answer, and through the courier's frame
// parser. The service, a proxy on the way or anyone on the network path can put any bytes there,
// so each reader must give a result or an error that agrees with the answer, never a crash.
//
// Seeds start with a digit so they stay readable: '0' 200, '1' 400, '2' 401, '3' 403, '4' 404,
// '5' 421, '6' 429, '7' 500, '8' 503, '9' no answer.

#include <QJsonDocument>
#include <QJsonObject>
#include <QVariantList>
#include <cmath>
#include <cstdint>
#include <optional>
#include <variant>

#include "platform/RemoteNotifications.h"
#include "platform/linux/cloud/CloudRecordCoding.h"
#include "platform/linux/cloud/CloudWebAnswers.h"
#include "platform/linux/cloud/CloudWebErrors.h"
#include "platform/linux/cloud/CloudWebSession.h"
#include "platform/linux/cloud/CourierFrame.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

constexpr int kStatuses[] = {200, 400, 401, 403, 404, 421, 429, 500, 503, 0};
constexpr std::size_t kStatusCount = sizeof(kStatuses) / sizeof(kStatuses[0]);

const QString kRecordName = QStringLiteral("pending-code");
const QString kSubscriptionID = QStringLiteral("pending-code-changes");

bool isSuccess(int status) {
    return status >= 200 && status < 300;
}

void requireDescribed(const CloudError& error, const char* invariant) {
    fuzzRequire(!error.localizedDescription().isEmpty(), invariant);
}

// Every map inside is a QVariantMap: the push's readers look into nothing else.
bool mapsAllTheWayDown(const QVariant& value) {
    if (value.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        for (auto entry = map.cbegin(); entry != map.cend(); ++entry) {
            if (!mapsAllTheWayDown(entry.value())) {
                return false;
            }
        }
        return true;
    }
    if (value.typeId() == QMetaType::QVariantList) {
        for (const QVariant& item : value.toList()) {
            if (!mapsAllTheWayDown(item)) {
                return false;
            }
        }
        return true;
    }
    return value.typeId() != QMetaType::QVariantHash && value.typeId() != QMetaType::QJsonObject &&
           value.typeId() != QMetaType::QJsonValue && value.typeId() != QMetaType::QJsonArray;
}

void checkReply(const CloudWebResponse& response, const CloudWebReply& reply) {
    if (response.failure) {
        fuzzRequire(reply.httpStatus == 0, "an HTTP status without an answer");
        fuzzRequire(reply.error.has_value(), "no answer is no error");
        fuzzRequire(reply.body.isEmpty() && !reply.serverError, "a body without an answer");
        return;
    }
    fuzzRequire(reply.httpStatus == response.status, "the status changed on the way");

    // What the body is, decided here without the session's code.
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(response.body, &parseError);
    const bool blank = response.body.trimmed().isEmpty();
    const bool isObject =
        blank || (parseError.error == QJsonParseError::NoError && document.isObject());

    fuzzRequire(reply.error.has_value() == !(isSuccess(response.status) && isObject),
                "an error for a readable success, or none for a failure");
    fuzzRequire(!isObject || blank || reply.body == document.object(),
                "the body read is not the body sent");
    fuzzRequire(isObject || reply.body.isEmpty(), "a body from what is no JSON object");
    if (reply.error) {
        requireDescribed(*reply.error, "an answer's error without a description");
    }
    if (reply.serverError) {
        fuzzRequire(!isSuccess(response.status), "a success read as the service's error");
        fuzzRequire(!reply.serverError->serverErrorCode.isEmpty(), "an error without a code");
        fuzzRequire(reply.error && *reply.error == CloudWebErrors::fromServer(*reply.serverError),
                    "the error is not the one of the service's error");
        fuzzRequire(reply.error->retryAfter() == reply.serverError->retryAfter,
                    "the service's wait was lost");
        if (const auto wait = reply.serverError->retryAfter) {
            fuzzRequire(std::isfinite(*wait) && *wait >= 0 && *wait <= 86400,
                        "a wait no client could honour");
        }
        if (const auto redirect = reply.serverError->redirectURL) {
            fuzzRequire(!redirect->isEmpty(), "an empty sign-in address");
        }
    } else if (reply.error) {
        fuzzRequire(*reply.error == CloudWebErrors::fromHttpStatus(response.status),
                    "a failure without the service's error is not read by its status");
    }
}

// A call that failed gives back its own error, never a reading of its body.
template <class Result>
void requireOwnError(const CloudWebReply& reply, const Result& result) {
    fuzzRequire(
        std::holds_alternative<CloudError>(result) && std::get<CloudError>(result) == *reply.error,
        "a failed call yields something other than its error");
}

void checkLookup(const CloudWebReply& reply) {
    const auto result = CloudWebAnswers::lookedUpRecord(reply, kRecordName);
    if (reply.error) {
        requireOwnError(reply, result);
        return;
    }
    if (const auto* error = std::get_if<CloudError>(&result)) {
        requireDescribed(*error, "a lookup error without a description");
        return;
    }
    const CloudRecord& record = std::get<CloudRecord>(result);
    fuzzRequire(record.recordName == kRecordName, "a record other than the one asked for");
    fuzzRequire(!record.recordType.isEmpty(), "a record without a type");
    // What was read must be writable and read back the same, as the embedded cloud stores it.
    std::optional<CloudRecord> again;
    try {
        again = CloudRecordCoding::decodeRecord(CloudRecordCoding::encodeRecord(record));
    } catch (const CloudError&) {
        fuzzRequire(false, "a looked-up record cannot be written");
    }
    fuzzRequire(again == record, "a looked-up record changes when written and read");
}

void checkAccount(const CloudWebReply& reply) {
    const CloudWebAnswers::AccountAnswer answer = CloudWebAnswers::accountStatus(reply);
    fuzzRequire(answer.status >= 0 && answer.status <= 4, "an account status out of range");
    fuzzRequire(answer.userRecordName.has_value() == (answer.status == 1),
                "a user without an available account, or the reverse");
    fuzzRequire(!answer.userRecordName || !answer.userRecordName->isEmpty(),
                "an empty user record name");
    // The name the user confirms a sign-in by: one line of text, never empty, never long.
    fuzzRequire(!answer.accountName || answer.userRecordName, "an account name without a user");
    if (answer.accountName) {
        const QString& name = *answer.accountName;
        fuzzRequire(!name.isEmpty() && name.size() <= 254, "an account name empty or too long");
        fuzzRequire(name == name.simplified(), "an account name of more than one plain line");
    }
    fuzzRequire(!answer.reason || answer.status == 2, "a reason for no restriction");
    fuzzRequire(!answer.reason || !answer.reason->isEmpty(), "an empty reason");
    fuzzRequire(answer.status != 1 || (isSuccess(reply.httpStatus) && !reply.error),
                "available from a failed call");
    const int status = reply.httpStatus;
    if (status == 421 || status == 401) {
        fuzzRequire(answer.status == 3, "a refused token is not noAccount");
    } else if (status == 403) {
        fuzzRequire(answer.status == 2, "a denied account is not restricted");
    } else if (status == 429 || status >= 500) {
        fuzzRequire(answer.status == 4, "a busy service is not temporarily unavailable");
    } else if (status == 0 || reply.error) {
        fuzzRequire(answer.status == 0, "an unreadable answer decided the account");
    }
}

void checkSubscription(const CloudWebReply& reply) {
    const auto error = CloudWebAnswers::savedSubscription(reply, kSubscriptionID);
    if (reply.error) {
        fuzzRequire(error == reply.error, "a failed call yields something other than its error");
    } else if (error) {
        requireDescribed(*error, "a subscription error without a description");
    }
}

void checkCourierToken(const CloudWebReply& reply) {
    const auto result = CloudWebAnswers::courierToken(reply);
    if (reply.error) {
        requireOwnError(reply, result);
        return;
    }
    if (const auto* error = std::get_if<CloudError>(&result)) {
        requireDescribed(*error, "a token error without a description");
        return;
    }
    const auto& token = std::get<CloudWebAnswers::CourierToken>(result);
    fuzzRequire(!token.apnsToken.isEmpty(), "a courier token without a push token");
    const QString scheme = token.webcourierURL.scheme();
    fuzzRequire(token.webcourierURL.isValid() && !token.webcourierURL.host().isEmpty() &&
                    (scheme == u"https" || scheme == u"http"),
                "a courier address that cannot be polled");
    if (token.ttl) {
        fuzzRequire(std::isfinite(*token.ttl) && *token.ttl > 0, "a lifetime that is none");
    }
}

void checkFrame(const QByteArray& body) {
    const CourierFrame::Frame frame = CourierFrame::parse(body);
    const bool blank = body.trimmed().isEmpty();
    fuzzRequire(std::holds_alternative<CourierFrame::KeepAlive>(frame) == blank,
                "a keep-alive that is not blank, or a blank body that is none");
    if (const auto* malformed = std::get_if<CourierFrame::Malformed>(&frame)) {
        fuzzRequire(!malformed->problem.isEmpty(), "a malformed frame without a problem");
    }
    if (blank || body.size() > CourierFrame::maximumSize) {
        fuzzRequire(blank || std::holds_alternative<CourierFrame::Malformed>(frame),
                    "an oversized frame accepted");
        return;
    }
    // The courier and the service answer in the same JSON: both readers must agree on it.
    const CloudWebReply asAnswer = CloudWebSession::readReply([&] {
        CloudWebResponse response;
        response.status = 200;
        response.body = body;
        return response;
    }());
    const auto* push = std::get_if<CourierFrame::Push>(&frame);
    fuzzRequire((push != nullptr) == !asAnswer.error,
                "the courier and the session disagree on what is a JSON object");
    if (!push) {
        return;
    }
    fuzzRequire(push->userInfo == asAnswer.body.toVariantMap(), "the push is not the frame");
    for (auto entry = push->userInfo.cbegin(); entry != push->userInfo.cend(); ++entry) {
        fuzzRequire(mapsAllTheWayDown(entry.value()), "a dictionary in a push that is no map");
    }
    // The push is handed to the notification reader; any dictionary must be readable.
    (void)CloudNotification::fromRemoteNotification(push->userInfo);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const int status = kStatuses[std::uint8_t(data[0] - '0') % kStatusCount];
    const QByteArray body(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    CloudWebResponse response;
    if (status == 0) {
        // Which failure hardly matters to the readers; the body picks one.
        const int kinds = int(CloudWebErrors::TransportFailure::other) + 1;
        response.failure =
            CloudWebErrors::TransportFailure(body.isEmpty() ? 0 : std::uint8_t(body[0]) % kinds);
        response.failureDetail = QString::fromUtf8(body);
        if (response.failureDetail.isEmpty()) {
            response.failureDetail = QStringLiteral("no answer");
        }
    } else {
        response.status = status;
        response.body = body;
    }
    const CloudWebReply reply = CloudWebSession::readReply(response);
    checkReply(response, reply);
    checkLookup(reply);
    checkAccount(reply);
    checkSubscription(reply);
    checkCourierToken(reply);
    checkFrame(body);
    return 0;
}
