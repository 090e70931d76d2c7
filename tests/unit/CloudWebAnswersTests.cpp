#include <gtest/gtest.h>

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <chrono>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "CloudWebAnswers.h"
#include "CloudWebErrors.h"
#include "CloudWebSession.h"
#include "CourierFrame.h"
#include "LoopbackSignIn.h"
#include "RemoteNotifications.h"

namespace {

using CloudWebErrors::TransportFailure;

QJsonObject object(const char* json) {
    const QJsonDocument document = QJsonDocument::fromJson(json);
    EXPECT_TRUE(document.isObject()) << json;
    return document.object();
}

CloudWebResponse httpAnswer(int status, const QByteArray& body) {
    CloudWebResponse response;
    response.status = status;
    response.body = body;
    return response;
}

CloudWebResponse noAnswer(TransportFailure failure, const QString& detail) {
    CloudWebResponse response;
    response.failure = failure;
    response.failureDetail = detail;
    return response;
}

// Every answer below goes through readReply first, as the session hands it on, so the readers
// are tested on what they really get and not on a reply no session would build.
CloudWebReply reply(int status, const QByteArray& body) {
    return CloudWebSession::readReply(httpAnswer(status, body));
}

CloudWebReply transportFailure() {
    return CloudWebSession::readReply(noAnswer(TransportFailure::hostNotFound, "no such host"));
}

std::string text(const QString& string) {
    return string.toStdString();
}

// The service's answers as they appear in its documentation and in captures.
constexpr auto kAuthenticationRequired =
    R"({"uuid":"4f02f7aa","serverErrorCode":"AUTHENTICATION_REQUIRED",
        "reason":"request needs authorization","redirectURL":"https://sign-in.example/auth"})";
constexpr auto kAdvancedDataProtection =
    R"({"serverErrorCode":"ACCESS_DENIED","reason":"private db access disabled for this account"})";
constexpr auto kThrottled =
    R"({"uuid":"u","serverErrorCode":"THROTTLED","reason":"slow down","retryAfter":10})";
constexpr auto kTryAgainLater =
    R"({"serverErrorCode":"TRY_AGAIN_LATER","reason":"busy","retryAfter":"30"})";
constexpr auto kInternalError = R"({"serverErrorCode":"INTERNAL_ERROR","reason":"oops"})";
constexpr auto kHtml = "<html><body>502 Bad Gateway</body></html>";

// ---------------------------------------------------------------------------------------------
// CloudWebErrors

struct CodeRow {
    const char* serverErrorCode;
    int code;
};

// The service's codes and those of its JavaScript library, with the native numbers written out
// so that a wrong enumerator value shows up here too.
const std::vector<CodeRow> kCodeTable{
    {"ACCESS_DENIED", 10},
    {"ATOMIC_ERROR", 22},
    {"AUTHENTICATION_FAILED", 9},
    {"AUTHENTICATION_REQUIRED", 9},
    {"BAD_REQUEST", 12},
    {"CONFLICT", 14},
    {"EXISTS", 14},
    {"INTERNAL_ERROR", 1},
    {"NOT_FOUND", 11},
    {"QUOTA_EXCEEDED", 25},
    {"THROTTLED", 7},
    {"TRY_AGAIN_LATER", 6},
    {"VALIDATING_REFERENCE_ERROR", 31},
    {"ZONE_NOT_FOUND", 26},
    {"UNIQUE_FIELD_ERROR", 19},
    {"SERVICE_UNAVAILABLE", 6},
    {"NETWORK_ERROR", 4},
    {"INVALID_ARGUMENTS", 12},
    {"SIGN_IN_FAILED", 9},
    {"AUTH_PERSIST_ERROR", 9},
    {"UNKNOWN_ERROR", 1},
    {"UNEXPECTED_SERVER_RESPONSE", 1},
    // Codes we do not know, including near misses, are internal errors.
    {"SOMETHING_NEW", 1},
    {"not_found", 1},
    {"NOT_FOUND ", 1},
    {"", 1},
};

TEST(CloudWebErrors, AnErrorObjectBecomesTheCloudErrorOfItsCode) {
    for (const CodeRow& row : kCodeTable) {
        if (*row.serverErrorCode == '\0') {
            continue;  // an empty code is no error object at all, see below
        }
        QJsonObject json{{"serverErrorCode", row.serverErrorCode}, {"reason", "because"}};
        const auto error = CloudWebErrors::serverError(json);
        ASSERT_TRUE(error) << row.serverErrorCode;
        const CloudError cloudError = CloudWebErrors::fromServer(*error);
        EXPECT_EQ(cloudError.code(), row.code) << row.serverErrorCode;
        // Support reads both the service's sentence and its code.
        EXPECT_TRUE(cloudError.localizedDescription().contains("because")) << row.serverErrorCode;
        EXPECT_TRUE(cloudError.localizedDescription().contains(row.serverErrorCode))
            << row.serverErrorCode;
    }
}

TEST(CloudWebErrors, OnlyAnObjectWithAServerErrorCodeIsAnError) {
    for (const char* json : {
             R"({})",
             R"({"reason":"no code"})",
             R"({"serverErrorCode":""})",
             R"({"serverErrorCode":404})",
             R"({"serverErrorCode":null})",
             R"({"serverErrorCode":["NOT_FOUND"]})",
             R"({"records":[{"serverErrorCode":"NOT_FOUND"}]})",
         }) {
        EXPECT_FALSE(CloudWebErrors::serverError(object(json))) << json;
    }
}

TEST(CloudWebErrors, AnErrorObjectKeepsItsReasonAndSignInAddress) {
    const auto error = CloudWebErrors::serverError(object(kAuthenticationRequired));
    ASSERT_TRUE(error);
    EXPECT_EQ(*error,
              (CloudWebErrors::ServerError{"AUTHENTICATION_REQUIRED", "request needs authorization",
                                           std::nullopt, "https://sign-in.example/auth"}));
}

TEST(CloudWebErrors, RetryAfterIsSecondsAsANumberOrNumericText) {
    const struct {
        QJsonValue value;
        std::optional<double> seconds;
    } rows[]{
        {10, 10.0},
        {2.5, 2.5},
        {86400, 86400.0},
        {"30", 30.0},
        {" 7 ", 7.0},
        // What is no number of seconds a client could wait is dropped, not guessed at.
        {"soon", std::nullopt},
        {"10s", std::nullopt},
        {-1, std::nullopt},
        {86401, std::nullopt},
        {1e300, std::nullopt},
        {"nan", std::nullopt},
        {QJsonArray{10}, std::nullopt},
    };
    for (const auto& row : rows) {
        const QString shown =
            QString::fromUtf8(QJsonDocument(QJsonArray{row.value}).toJson(QJsonDocument::Compact));
        const auto error = CloudWebErrors::serverError(
            {{"serverErrorCode", "THROTTLED"}, {"retryAfter", row.value}});
        ASSERT_TRUE(error) << text(shown);
        EXPECT_EQ(error->retryAfter, row.seconds) << text(shown);
        // The wait reaches the cloud error the rest of the application reads.
        EXPECT_EQ(CloudWebErrors::fromServer(*error).retryAfter(), row.seconds) << text(shown);
    }
    const auto withoutWait = CloudWebErrors::serverError(object(R"({"serverErrorCode":"X"})"));
    ASSERT_TRUE(withoutWait);
    EXPECT_FALSE(withoutWait->retryAfter);
}

TEST(CloudWebErrors, AnHttpStatusWithoutAnErrorObjectMapsByItsClass) {
    const struct {
        int status;
        int code;
    } rows[]{
        {421, 9},  {401, 9},  {429, 7},  {500, 6},  {502, 6},  {503, 6}, {504, 6},
        {599, 6},  {400, 12}, {403, 12}, {404, 12}, {405, 12},  // the wrong path answers this
        {409, 12}, {413, 12}, {499, 12}, {200, 1},              // a success whose body was not JSON
        {204, 1},
    };
    for (const auto& row : rows) {
        const CloudError error = CloudWebErrors::fromHttpStatus(row.status);
        EXPECT_EQ(error.code(), row.code) << row.status;
        EXPECT_TRUE(error.localizedDescription().contains(QString::number(row.status)))
            << row.status;
        EXPECT_FALSE(error.retryAfter()) << row.status;
    }
}

TEST(CloudWebErrors, TransportFailuresAreUnavailableOrFailedNetworks) {
    const struct {
        TransportFailure failure;
        int code;
    } rows[]{
        {TransportFailure::hostNotFound, 3},
        {TransportFailure::connectionRefused, 3},
        {TransportFailure::noNetwork, 3},
        {TransportFailure::timedOut, 4},
        {TransportFailure::connectionClosed, 4},
        {TransportFailure::secureChannel, 4},
        {TransportFailure::other, 4},
    };
    for (const auto& row : rows) {
        const CloudError error = CloudWebErrors::fromTransport(row.failure, "detail of the socket");
        EXPECT_EQ(error.code(), row.code) << int(row.failure);
        EXPECT_EQ(error.localizedDescription(), "detail of the socket") << int(row.failure);
    }
}

// ---------------------------------------------------------------------------------------------
// CloudWebSession::readReply

struct ReplyRow {
    const char* name;
    CloudWebResponse response;
    int httpStatus;
    QJsonObject body;
    std::optional<int> errorCode;
    std::optional<QString> serverErrorCode;
};

TEST(CloudWebReadReply, AnAnswerBecomesItsObjectOrTheErrorItStandsFor) {
    const ReplyRow rows[]{
        {"200 with an object", httpAnswer(200, R"({"records":[]})"), 200,
         object(R"({"records":[]})"), std::nullopt, std::nullopt},
        // tokens/register may answer nothing at all.
        {"200 empty", httpAnswer(200, ""), 200, {}, std::nullopt, std::nullopt},
        {"200 blank", httpAnswer(200, " \r\n\t"), 200, {}, std::nullopt, std::nullopt},
        {"204 empty", httpAnswer(204, ""), 204, {}, std::nullopt, std::nullopt},
        {"200 not JSON", httpAnswer(200, kHtml), 200, {}, 1, std::nullopt},
        {"200 truncated JSON", httpAnswer(200, R"({"records":[)"), 200, {}, 1, std::nullopt},
        {"200 JSON array", httpAnswer(200, R"([{"records":[]}])"), 200, {}, 1, std::nullopt},
        {"200 JSON string", httpAnswer(200, R"("ok")"), 200, {}, 1, std::nullopt},
        {"421 sign-in needed", httpAnswer(421, kAuthenticationRequired), 421,
         object(kAuthenticationRequired), 9, "AUTHENTICATION_REQUIRED"},
        {"403 advanced data protection", httpAnswer(403, kAdvancedDataProtection), 403,
         object(kAdvancedDataProtection), 10, "ACCESS_DENIED"},
        {"429 throttled", httpAnswer(429, kThrottled), 429, object(kThrottled), 7, "THROTTLED"},
        {"500 internal error", httpAnswer(500, kInternalError), 500, object(kInternalError), 1,
         "INTERNAL_ERROR"},
        // The status decides when the body names no error.
        {"503 HTML", httpAnswer(503, kHtml), 503, {}, 6, std::nullopt},
        {"500 empty", httpAnswer(500, ""), 500, {}, 6, std::nullopt},
        {"405 HTML", httpAnswer(405, kHtml), 405, {}, 12, std::nullopt},
        {"404 object without a code", httpAnswer(404, R"({"message":"no"})"), 404,
         object(R"({"message":"no"})"), 12, std::nullopt},
        {"401 empty", httpAnswer(401, ""), 401, {}, 9, std::nullopt},
        {"421 HTML", httpAnswer(421, kHtml), 421, {}, 9, std::nullopt},
        {"429 empty", httpAnswer(429, ""), 429, {}, 7, std::nullopt},
        {"no answer",
         noAnswer(TransportFailure::connectionRefused, "refused"),
         0,
         {},
         3,
         std::nullopt},
        {"timed out", noAnswer(TransportFailure::timedOut, "timeout"), 0, {}, 4, std::nullopt},
    };
    for (const ReplyRow& row : rows) {
        SCOPED_TRACE(row.name);
        const CloudWebReply answer = CloudWebSession::readReply(row.response);
        EXPECT_EQ(answer.httpStatus, row.httpStatus);
        EXPECT_EQ(answer.body, row.body);
        EXPECT_EQ(answer.error.has_value(), row.errorCode.has_value());
        if (answer.error && row.errorCode) {
            EXPECT_EQ(answer.error->code(), *row.errorCode);
            EXPECT_FALSE(answer.error->localizedDescription().isEmpty());
        }
        ASSERT_EQ(answer.serverError.has_value(), row.serverErrorCode.has_value());
        if (answer.serverError) {
            EXPECT_EQ(answer.serverError->serverErrorCode, *row.serverErrorCode);
        }
    }
}

TEST(CloudWebReadReply, ASignInRefusalKeepsWhereToSignIn) {
    const CloudWebReply answer = reply(421, kAuthenticationRequired);
    ASSERT_TRUE(answer.serverError);
    EXPECT_EQ(answer.serverError->redirectURL, "https://sign-in.example/auth");
    EXPECT_TRUE(answer.error->localizedDescription().contains("request needs authorization"));
}

TEST(CloudWebReadReply, AnAdvancedDataProtectionRefusalKeepsTheServicesReason) {
    const CloudWebReply answer = reply(403, kAdvancedDataProtection);
    ASSERT_TRUE(answer.serverError);
    EXPECT_EQ(answer.serverError->reason, "private db access disabled for this account");
    ASSERT_TRUE(answer.error);
    EXPECT_TRUE(answer.error->localizedDescription().contains("private db access disabled"));
}

TEST(CloudWebReadReply, TheServicesWaitReachesTheError) {
    const struct {
        int status;
        const char* body;
        double seconds;
    } rows[]{{429, kThrottled, 10}, {503, kTryAgainLater, 30}};
    for (const auto& row : rows) {
        const CloudWebReply answer = reply(row.status, row.body);
        ASSERT_TRUE(answer.error) << row.status;
        EXPECT_EQ(answer.error->retryAfter(), row.seconds) << row.status;
    }
}

TEST(CloudWebReadReply, ATransportFailureKeepsTheTransportsWords) {
    const CloudWebReply answer =
        CloudWebSession::readReply(noAnswer(TransportFailure::secureChannel, "bad certificate"));
    EXPECT_EQ(answer.httpStatus, 0);
    ASSERT_TRUE(answer.error);
    EXPECT_EQ(answer.error->code(), 4);
    EXPECT_EQ(answer.error->localizedDescription(), "bad certificate");
    EXPECT_FALSE(answer.serverError);
}

// ---------------------------------------------------------------------------------------------
// CloudWebAnswers::lookedUpRecord

constexpr auto kFoundRecord = R"({"records":[{
    "recordName":"pending-code","recordType":"PendingCode","recordChangeTag":"lo5d1jwm",
    "fields":{
      "blob":{"value":"AAECAwQF","type":"BYTES"},
      "expiresAt":{"value":1767225600000,"type":"TIMESTAMP"}},
    "pluginFields":{},
    "created":{"timestamp":1767225540000,"userRecordName":"_b133e609","deviceID":"2"},
    "modified":{"timestamp":1767225540000,"userRecordName":"_b133e609","deviceID":"2"},
    "deleted":false}]})";

TEST(CloudWebAnswersLookup, AFoundRecordIsDecodedWithItsBytesAndInstant) {
    const auto result = CloudWebAnswers::lookedUpRecord(reply(200, kFoundRecord), "pending-code");
    ASSERT_TRUE(std::holds_alternative<CloudRecord>(result))
        << text(std::get<CloudError>(result).localizedDescription());
    const CloudRecord& record = std::get<CloudRecord>(result);
    EXPECT_EQ(record.recordName, "pending-code");
    EXPECT_EQ(record.recordType, "PendingCode");
    EXPECT_EQ(record.field<QByteArray>("blob"), QByteArray("\x00\x01\x02\x03\x04\x05", 6));
    EXPECT_EQ(record.field<Instant>("expiresAt"),
              Instant(std::chrono::milliseconds(1767225600000)));
    // Bookkeeping keys of the wire format are no fields.
    EXPECT_EQ(record.fields.size(), 2);
}

TEST(CloudWebAnswersLookup, TheRecordAskedForIsPickedAmongOthers) {
    const auto result = CloudWebAnswers::lookedUpRecord(reply(200, R"({"records":[
        {"recordName":"other","serverErrorCode":"NOT_FOUND"},
        {"recordName":"pending-code","recordType":"PendingCode",
         "fields":{"blob":{"type":"BYTES","value":"AQ=="}}}]})"),
                                                        "pending-code");
    ASSERT_TRUE(std::holds_alternative<CloudRecord>(result));
    EXPECT_EQ(std::get<CloudRecord>(result).field<QByteArray>("blob"), QByteArray("\x01", 1));
}

TEST(CloudWebAnswersLookup, WhatIsNoRecordBecomesTheRightError) {
    const struct {
        const char* name;
        CloudWebReply reply;
        int code;
        std::optional<double> retryAfter;
        const char* described;
    } rows[]{
        // The service answers 200 and puts the miss in place of the record.
        {"record not found",
         reply(200, R"({"records":[{"recordName":"pending-code","reason":"Record not found",
                                    "serverErrorCode":"NOT_FOUND"}]})"),
         11, std::nullopt, "Record not found"},
        {"zone not found", reply(200, R"({"records":[{"recordName":"pending-code",
                                    "serverErrorCode":"ZONE_NOT_FOUND"}]})"),
         26, std::nullopt, "ZONE_NOT_FOUND"},
        {"item throttled",
         reply(200, R"({"records":[{"recordName":"pending-code","serverErrorCode":"THROTTLED",
                                    "retryAfter":5}]})"),
         7, 5.0, "THROTTLED"},
        {"no records", reply(200, "{}"), 1, std::nullopt, "records"},
        {"empty body", reply(200, ""), 1, std::nullopt, "records"},
        {"records not an array", reply(200, R"({"records":{"pending-code":{}}})"), 1, std::nullopt,
         "records"},
        {"item not an object", reply(200, R"({"records":["pending-code"]})"), 1, std::nullopt,
         "not an object"},
        {"record not mentioned",
         reply(200, R"({"records":[{"recordName":"other","recordType":"T"}]})"), 1, std::nullopt,
         "pending-code"},
        {"empty records", reply(200, R"({"records":[]})"), 1, std::nullopt, "pending-code"},
        {"undecodable field",
         reply(200, R"({"records":[{"recordName":"pending-code","recordType":"PendingCode",
                                    "fields":{"blob":{"type":"BYTES","value":"not base64!"}}}]})"),
         1, std::nullopt, "blob"},
        {"record without a type", reply(200, R"({"records":[{"recordName":"pending-code"}]})"), 1,
         std::nullopt, "recordType"},
        // Errors of the whole call pass through as the session read them.
        {"sign-in needed", reply(421, kAuthenticationRequired), 9, std::nullopt,
         "request needs authorization"},
        {"throttled call", reply(429, kThrottled), 7, 10.0, "slow down"},
        {"service down", reply(503, kHtml), 6, std::nullopt, "503"},
        {"no network", transportFailure(), 3, std::nullopt, "no such host"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto result = CloudWebAnswers::lookedUpRecord(row.reply, "pending-code");
        ASSERT_TRUE(std::holds_alternative<CloudError>(result));
        const CloudError& error = std::get<CloudError>(result);
        EXPECT_EQ(error.code(), row.code);
        EXPECT_EQ(error.retryAfter(), row.retryAfter);
        EXPECT_TRUE(error.localizedDescription().contains(row.described))
            << text(error.localizedDescription());
        if (row.reply.error) {
            EXPECT_EQ(error, *row.reply.error);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// CloudWebAnswers::accountStatus

TEST(CloudWebAnswersAccount, TheAnswerOfUsersCallerIsAnAccountStatus) {
    using Answer = CloudWebAnswers::AccountAnswer;
    const struct {
        const char* name;
        CloudWebReply reply;
        Answer expected;
    } rows[]{
        {"users array",
         reply(200, R"({"users":[{"userRecordName":"_b133e609","lookupInfo":{},
                                  "nameComponents":{"givenName":"A"}}]})"),
         {1, std::nullopt, "_b133e609"}},
        {"identity at the top",
         reply(200, R"({"userRecordName":"_top"})"),
         {1, std::nullopt, "_top"}},
        {"users array wins",
         reply(200, R"({"users":[{"userRecordName":"_a"}],
                                           "userRecordName":"_b"})"),
         {1, std::nullopt, "_a"}},
        {"the first user is the caller",
         reply(200, R"({"users":[{"userRecordName":"_first"},{"userRecordName":"_second"}]})"),
         {1, std::nullopt, "_first"}},
        {"no name", reply(200, "{}"), {0, std::nullopt, std::nullopt}},
        {"empty body", reply(200, ""), {0, std::nullopt, std::nullopt}},
        {"no users", reply(200, R"({"users":[]})"), {0, std::nullopt, std::nullopt}},
        {"user without a name",
         reply(200, R"({"users":[{"lookupInfo":{}}]})"),
         {0, std::nullopt, std::nullopt}},
        {"empty name",
         reply(200, R"({"users":[{"userRecordName":""}]})"),
         {0, std::nullopt, std::nullopt}},
        {"name not text",
         reply(200, R"({"users":[{"userRecordName":42}]})"),
         {0, std::nullopt, std::nullopt}},
        {"not JSON", reply(200, kHtml), {0, std::nullopt, std::nullopt}},
        {"JSON array", reply(200, R"([{"userRecordName":"_x"}])"), {0, std::nullopt, std::nullopt}},
        {"sign-in needed", reply(421, kAuthenticationRequired), {3, std::nullopt, std::nullopt}},
        {"token rejected",
         reply(401, R"({"serverErrorCode":"AUTHENTICATION_FAILED","reason":"no"})"),
         {3, std::nullopt, std::nullopt}},
        {"token rejected without a body", reply(401, ""), {3, std::nullopt, std::nullopt}},
        {"advanced data protection",
         reply(403, kAdvancedDataProtection),
         {2, "private db access disabled for this account", std::nullopt}},
        {"access denied without a reason",
         reply(403, R"({"serverErrorCode":"ACCESS_DENIED"})"),
         {2, std::nullopt, std::nullopt}},
        {"throttled", reply(429, kThrottled), {4, std::nullopt, std::nullopt}},
        {"try again later", reply(503, kTryAgainLater), {4, std::nullopt, std::nullopt}},
        {"internal error", reply(500, kInternalError), {4, std::nullopt, std::nullopt}},
        {"bad gateway", reply(502, kHtml), {4, std::nullopt, std::nullopt}},
        {"no answer", transportFailure(), {0, std::nullopt, std::nullopt}},
        {"not found",
         reply(404, R"({"serverErrorCode":"NOT_FOUND"})"),
         {0, std::nullopt, std::nullopt}},
        {"bad request",
         reply(400, R"({"serverErrorCode":"BAD_REQUEST"})"),
         {0, std::nullopt, std::nullopt}},
    };
    for (const auto& row : rows) {
        const Answer answer = CloudWebAnswers::accountStatus(row.reply);
        EXPECT_EQ(answer.status, row.expected.status) << row.name;
        EXPECT_EQ(answer.reason, row.expected.reason) << row.name;
        EXPECT_EQ(answer.userRecordName, row.expected.userRecordName) << row.name;
    }
}

// ---------------------------------------------------------------------------------------------
// CloudWebAnswers::savedSubscription

constexpr auto kSavedSubscription = R"({"subscriptions":[{
    "subscriptionID":"pending-code-changes","subscriptionType":"query",
    "query":{"recordType":"PendingCode"},"firesOn":["create","update"],
    "notificationInfo":{"shouldSendContentAvailable":true},"zoneID":{"zoneName":"_defaultZone"}}]})";

QByteArray subscriptionError(const char* serverErrorCode, const char* reason) {
    return QJsonDocument(
               QJsonObject{{"subscriptions",
                            QJsonArray{QJsonObject{{"subscriptionID", "pending-code-changes"},
                                                   {"serverErrorCode", serverErrorCode},
                                                   {"reason", reason}}}}})
        .toJson();
}

TEST(CloudWebAnswersSubscription, ASavedOrExistingSubscriptionIsNoError) {
    const struct {
        const char* name;
        CloudWebReply reply;
    } rows[]{
        {"saved", reply(200, kSavedSubscription)},
        {"exists", reply(200, subscriptionError("EXISTS", "exists"))},
        // The service's code for a duplicate is not documented; its sentence says it.
        {"duplicate",
         reply(200, subscriptionError("BAD_REQUEST", "subscription is duplicate of 'abc'"))},
        {"already exists",
         reply(200, subscriptionError("BAD_REQUEST", "Subscription Already Exists"))},
        {"saved after another's error", reply(200, R"({"subscriptions":[
             {"subscriptionID":"other","serverErrorCode":"QUOTA_EXCEEDED"},
             {"subscriptionID":"pending-code-changes","subscriptionType":"query"}]})")},
    };
    for (const auto& row : rows) {
        const auto error = CloudWebAnswers::savedSubscription(row.reply, "pending-code-changes");
        EXPECT_FALSE(error) << row.name << ": " << text(error->localizedDescription());
    }
}

TEST(CloudWebAnswersSubscription, AnyOtherAnswerIsTheRightError) {
    const struct {
        const char* name;
        CloudWebReply reply;
        int code;
    } rows[]{
        {"quota", reply(200, subscriptionError("QUOTA_EXCEEDED", "full")), 25},
        {"bad request", reply(200, subscriptionError("BAD_REQUEST", "invalid firesOn")), 12},
        {"unknown code", reply(200, subscriptionError("SOMETHING_NEW", "hm")), 1},
        {"no subscriptions", reply(200, "{}"), 1},
        {"subscriptions not an array", reply(200, R"({"subscriptions":"pending"})"), 1},
        {"not mentioned", reply(200, R"({"subscriptions":[{"subscriptionID":"other"}]})"), 1},
        {"another one exists", reply(200, R"({"subscriptions":[{"subscriptionID":"other",
                                          "serverErrorCode":"EXISTS"}]})"),
         1},
        {"sign-in needed", reply(421, kAuthenticationRequired), 9},
        {"not JSON", reply(200, kHtml), 1},
        {"no network", transportFailure(), 3},
    };
    for (const auto& row : rows) {
        const auto error = CloudWebAnswers::savedSubscription(row.reply, "pending-code-changes");
        ASSERT_TRUE(error) << row.name;
        EXPECT_EQ(error->code(), row.code) << row.name;
        if (row.reply.error) {
            EXPECT_EQ(*error, *row.reply.error) << row.name;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// CloudWebAnswers::courierToken

QByteArray tokenAnswer(const QJsonValue& apnsToken, const QJsonValue& webcourierURL) {
    QJsonObject body{{"apnsEnvironment", "production"}};
    if (!apnsToken.isUndefined()) {
        body.insert("apnsToken", apnsToken);
    }
    if (!webcourierURL.isUndefined()) {
        body.insert("webcourierURL", webcourierURL);
    }
    return QJsonDocument(body).toJson();
}

TEST(CloudWebAnswersCourierToken, TheTokenComesWithTheAddressAndTheLifetimeItNames) {
    const struct {
        const char* url;
        std::optional<double> ttl;
    } rows[]{
        {"https://webcourier.push.apple.com:443/aps?tok=0a1b&ttl=43200", 43200.0},
        {"https://webcourier.sandbox.push.apple.com/aps?ttl=60&tok=0a1b", 60.0},
        {"http://127.0.0.1:8080/aps?tok=0a1b&ttl=43200", 43200.0},
        // Without a usable lifetime the token is still good; only its renewal is unplanned.
        {"https://webcourier.push.apple.com/aps?tok=0a1b", std::nullopt},
        {"https://webcourier.push.apple.com/aps?tok=0a1b&ttl=", std::nullopt},
        {"https://webcourier.push.apple.com/aps?tok=0a1b&ttl=forever", std::nullopt},
        {"https://webcourier.push.apple.com/aps?tok=0a1b&ttl=0", std::nullopt},
        {"https://webcourier.push.apple.com/aps?tok=0a1b&ttl=-60", std::nullopt},
        {"https://webcourier.push.apple.com/aps?tok=0a1b&ttl=1e300", std::nullopt},
    };
    for (const auto& row : rows) {
        const auto result = CloudWebAnswers::courierToken(reply(200, tokenAnswer("0a1b", row.url)));
        ASSERT_TRUE(std::holds_alternative<CloudWebAnswers::CourierToken>(result)) << row.url;
        const auto& token = std::get<CloudWebAnswers::CourierToken>(result);
        EXPECT_EQ(token.apnsToken, "0a1b") << row.url;
        // The courier is polled at exactly the address the service gave.
        EXPECT_EQ(token.webcourierURL, QUrl(row.url)) << row.url;
        EXPECT_EQ(token.ttl, row.ttl) << row.url;
    }
}

TEST(CloudWebAnswersCourierToken, AnAnswerWithoutAUsableTokenOrAddressIsAnError) {
    const QJsonValue absent(QJsonValue::Undefined);
    const QString good = "https://webcourier.push.apple.com/aps?tok=0a1b&ttl=43200";
    const struct {
        const char* name;
        CloudWebReply reply;
        int code;
        const char* described;
    } rows[]{
        {"no token", reply(200, tokenAnswer(absent, good)), 1, "apnsToken"},
        {"empty token", reply(200, tokenAnswer("", good)), 1, "apnsToken"},
        {"token not text", reply(200, tokenAnswer(42, good)), 1, "apnsToken"},
        {"no address", reply(200, tokenAnswer("0a1b", absent)), 1, "webcourierURL"},
        {"address not text", reply(200, tokenAnswer("0a1b", 7)), 1, "webcourierURL"},
        {"not an address", reply(200, tokenAnswer("0a1b", "courier please")), 1, "webcourierURL"},
        {"no host", reply(200, tokenAnswer("0a1b", "https:///aps?ttl=1")), 1, "webcourierURL"},
        {"file scheme", reply(200, tokenAnswer("0a1b", "file:///etc/passwd")), 1, "webcourierURL"},
        {"other scheme", reply(200, tokenAnswer("0a1b", "wss://webcourier.example/aps")), 1,
         "webcourierURL"},
        {"broken escape", reply(200, tokenAnswer("0a1b", "https://webcourier.example/a%zz")), 1,
         "webcourierURL"},
        {"sign-in needed", reply(421, kAuthenticationRequired), 9, "request needs authorization"},
        {"wrong path", reply(405, kHtml), 12, "405"},
        {"no network", transportFailure(), 3, "no such host"},
    };
    for (const auto& row : rows) {
        const auto result = CloudWebAnswers::courierToken(row.reply);
        ASSERT_TRUE(std::holds_alternative<CloudError>(result)) << row.name;
        const CloudError& error = std::get<CloudError>(result);
        EXPECT_EQ(error.code(), row.code) << row.name;
        EXPECT_TRUE(error.localizedDescription().contains(row.described))
            << row.name << ": " << text(error.localizedDescription());
    }
}

// ---------------------------------------------------------------------------------------------
// CourierFrame

// A courier frame as captured: the same dictionary a native push carries.
constexpr auto kCourierFrame = R"({"aps":{"content-available":1},
 "ck":{"ce":2,"cid":"iCloud.net.brontal.zorvik","ckuserid":"_b133e609",
       "nid":"4a65fb63-98ea-4710-a41e-6d479c63aa41",
       "qry":{"dbs":1,"fo":1,"rid":"pending-code","sid":"pending-code-changes",
              "zid":"_defaultZone","zoid":"_b133e609"}}})";

// A JSON object of exactly `size` bytes.
QByteArray objectOfSize(qsizetype size) {
    const QByteArray frame = R"({"p":""})";
    QByteArray padded = frame;
    padded.insert(6, QByteArray(size - frame.size(), 'x'));
    return padded;
}

TEST(CourierFrame, AnEmptyAnswerIsAKeepAlive) {
    for (const QByteArray& body :
         {QByteArray(), QByteArray(" "), QByteArray("\r\n"), QByteArray("\t \n \r\n")}) {
        EXPECT_TRUE(std::holds_alternative<CourierFrame::KeepAlive>(CourierFrame::parse(body)))
            << body.toHex().toStdString();
    }
}

TEST(CourierFrame, AFrameIsThePushDictionaryWithNestedMaps) {
    const auto frame = CourierFrame::parse(kCourierFrame);
    ASSERT_TRUE(std::holds_alternative<CourierFrame::Push>(frame));
    const QVariantMap& userInfo = std::get<CourierFrame::Push>(frame).userInfo;
    // Nested dictionaries must be maps: that is what the push channel's readers look into.
    ASSERT_EQ(userInfo.value("ck").typeId(), QMetaType::QVariantMap);
    const QVariantMap ck = userInfo.value("ck").toMap();
    ASSERT_EQ(ck.value("qry").typeId(), QMetaType::QVariantMap);
    EXPECT_EQ(ck.value("qry").toMap().value("sid").toString(), "pending-code-changes");
    EXPECT_EQ(userInfo.value("aps").toMap().value("content-available").toInt(), 1);

    const auto notification = CloudNotification::fromRemoteNotification(userInfo);
    ASSERT_TRUE(notification);
    EXPECT_EQ(notification->subscriptionID, "pending-code-changes");
    EXPECT_EQ(notification->recordName, "pending-code");
    EXPECT_EQ(notification->queryNotificationReason, 1);
}

TEST(CourierFrame, WhatIsNoSingleObjectIsMalformed) {
    const struct {
        const char* name;
        QByteArray body;
    } rows[]{
        {"not JSON", "<html>gateway timeout</html>"},
        {"truncated", R"({"aps":{"content-available":1})"},
        {"array", R"([{"aps":{}}])"},
        {"string", R"("push")"},
        {"number", "1"},
        {"two objects", "{}{}"},
        {"too large", objectOfSize(CourierFrame::maximumSize + 1)},
    };
    for (const auto& row : rows) {
        const auto frame = CourierFrame::parse(row.body);
        ASSERT_TRUE(std::holds_alternative<CourierFrame::Malformed>(frame)) << row.name;
        EXPECT_FALSE(std::get<CourierFrame::Malformed>(frame).problem.isEmpty()) << row.name;
    }
}

TEST(CourierFrame, AFrameOfTheLargestSizeIsStillAPush) {
    const QByteArray body = objectOfSize(CourierFrame::maximumSize);
    ASSERT_EQ(body.size(), CourierFrame::maximumSize);
    const auto frame = CourierFrame::parse(body);
    ASSERT_TRUE(std::holds_alternative<CourierFrame::Push>(frame));
    EXPECT_EQ(std::get<CourierFrame::Push>(frame).userInfo.value("p").toString().size(),
              CourierFrame::maximumSize - 8);
}

// ---------------------------------------------------------------------------------------------
// LoopbackSignIn::parseRequest

std::string describe(const LoopbackSignIn::Outcome& outcome) {
    if (const auto* token = std::get_if<QByteArray>(&outcome)) {
        return "token " + token->toStdString();
    }
    return "problem " + std::get<QString>(outcome).toStdString();
}

TEST(LoopbackSignInRequest, TheCallbackGivesTheTokenItCarries) {
    const struct {
        const char* target;
        QByteArray token;
    } rows[]{
        {"/zorvik-signin?ckWebAuthToken=a%2Bb%2Fc%3D", "a+b/c="},
        // A plus is part of a base64 token, never a space.
        {"/zorvik-signin?ckWebAuthToken=a+b", "a+b"},
        {"/zorvik-signin?ckWebAuthToken=ab/c+d==", "ab/c+d=="},
        {"/zorvik-signin?ckSession=s%2B1%3D", "s+1="},
        // The page sends both names; the documented one wins.
        {"/zorvik-signin?ckSession=old&ckWebAuthToken=new", "new"},
        {"/zorvik-signin?ckWebAuthToken=new&ckSession=old", "new"},
        {"/zorvik-signin?ckWebAuthToken=&ckSession=old", "old"},
        {"/zorvik-signin?state=1&ckWebAuthToken=t&other=%26", "t"},
        {"/zorvik-signin?ckWebAuthToken=%26%23%25", "&#%"},
        {"http://127.0.0.1:53682/zorvik-signin?ckWebAuthToken=abs", "abs"},
    };
    for (const auto& row : rows) {
        const QByteArray head = QByteArray("GET ") + row.target +
                                " HTTP/1.1\r\nHost: 127.0.0.1:53682\r\nAccept: text/html";
        const auto request = LoopbackSignIn::parseRequest(head);
        EXPECT_TRUE(request.isCallback) << row.target;
        ASSERT_TRUE(std::holds_alternative<QByteArray>(request.outcome))
            << row.target << ": " << describe(request.outcome);
        EXPECT_EQ(std::get<QByteArray>(request.outcome), row.token) << row.target;
    }
}

TEST(LoopbackSignInRequest, OtherPathsAreNotTheCallback) {
    for (const char* head : {
             "GET /favicon.ico HTTP/1.1\r\nHost: 127.0.0.1",
             "GET / HTTP/1.1",
             "GET /zorvik-signin/extra?ckWebAuthToken=t HTTP/1.1",
             "GET /zorvik-signinx?ckWebAuthToken=t HTTP/1.1",
             "GET /other?ckWebAuthToken=t HTTP/1.1",
         }) {
        EXPECT_FALSE(LoopbackSignIn::parseRequest(head).isCallback) << head;
    }
}

TEST(LoopbackSignInRequest, ACallbackWithoutATokenSaysWhatIsWrong) {
    const struct {
        const char* head;
        const char* problem;
    } rows[]{
        {"GET /zorvik-signin HTTP/1.1\r\nHost: 127.0.0.1", "the sign-in page sent no session"},
        {"GET /zorvik-signin?state=1 HTTP/1.1", "the sign-in page sent no session"},
        {"GET /zorvik-signin?ckWebAuthToken= HTTP/1.1", "the sign-in page sent no session"},
        {"GET /zorvik-signin?ckwebauthtoken=t HTTP/1.1", "the sign-in page sent no session"},
        {"POST /zorvik-signin?ckWebAuthToken=t HTTP/1.1\r\nContent-Length: 0", "POST"},
        {"HEAD /zorvik-signin?ckWebAuthToken=t HTTP/1.1", "HEAD"},
        {"", "malformed"},
        {"GET", "malformed"},
        {"GET /zorvik-signin?ckWebAuthToken=t", "malformed"},
        {"GET /zorvik-signin?ckWebAuthToken=t HTTP/2", "malformed"},
        {"GET  /zorvik-signin?ckWebAuthToken=t HTTP/1.1", "malformed"},
        {"GET /zorvik-signin?ckWebAuthToken=t HTTP/1.1 extra", "malformed"},
        {"\x16\x03\x01\x02", "malformed"},  // a TLS hello sent to the plain port
    };
    for (const auto& row : rows) {
        const auto request = LoopbackSignIn::parseRequest(row.head);
        EXPECT_TRUE(request.isCallback) << row.head;
        ASSERT_TRUE(std::holds_alternative<QString>(request.outcome))
            << row.head << ": " << describe(request.outcome);
        EXPECT_TRUE(std::get<QString>(request.outcome).contains(row.problem))
            << row.head << ": " << describe(request.outcome);
    }
}

// ---------------------------------------------------------------------------------------------
// LoopbackSignIn on a real socket

struct HttpAnswerText {
    int status = 0;
    QByteArray body;
};

// Sends `pieces` to the listener and reads its answer until it closes the connection.
// Real sockets take real time, so this waits with a deadline rather than counting events.
std::optional<HttpAnswerText> askListener(quint16 port, const std::vector<QByteArray>& pieces) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000)) {
        ADD_FAILURE() << "cannot connect: " << text(socket.errorString());
        return std::nullopt;
    }
    for (const QByteArray& piece : pieces) {
        socket.write(piece);
        // Each piece reaches the listener on its own, which is how a slow browser sends.
        EXPECT_TRUE(QTest::qWaitFor([&] { return socket.bytesToWrite() == 0; }, 5000));
        QCoreApplication::processEvents();
    }
    QByteArray received;
    const bool closed = QTest::qWaitFor(
        [&] {
            received += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        5000);
    received += socket.readAll();
    if (!closed) {
        ADD_FAILURE() << "the listener did not close the connection";
        return std::nullopt;
    }
    const qsizetype headEnd = received.indexOf("\r\n\r\n");
    if (!received.startsWith("HTTP/1.1 ") || headEnd < 0) {
        ADD_FAILURE() << "no HTTP answer: " << received.toStdString();
        return std::nullopt;
    }
    HttpAnswerText answer{received.mid(9, 3).toInt(), received.mid(headEnd + 4)};
    const QByteArray lengthHeader = "Content-Length: " + QByteArray::number(answer.body.size());
    EXPECT_TRUE(received.left(headEnd).contains(lengthHeader)) << received.toStdString();
    return answer;
}

std::optional<HttpAnswerText> askListener(quint16 port, const QByteArray& request) {
    return askListener(port, std::vector<QByteArray>{request});
}

bool refusesConnections(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; },
                         5000)) {
        return false;  // it connected: the port still accepts
    }
    return socket.error() == QAbstractSocket::ConnectionRefusedError;
}

constexpr auto kCallback =
    "GET /zorvik-signin?ckWebAuthToken=a%2Bb%2Fc%3D HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
constexpr auto kFavicon = "GET /favicon.ico HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

class LoopbackSignInListener : public testing::Test {
protected:
    void start(double timeoutSeconds = 30) {
        const QString problem = listener.listen(
            0, timeoutSeconds, [this](auto outcome) { outcomes.push_back(std::move(outcome)); });
        ASSERT_EQ(problem, "");
        port = listener.port();
        ASSERT_NE(port, 0);
    }

    LoopbackSignIn listener;
    quint16 port = 0;
    std::vector<LoopbackSignIn::Outcome> outcomes;
};

TEST_F(LoopbackSignInListener, TheCallbackIsAnsweredAndEndsTheListening) {
    start();
    const auto answer = askListener(port, kCallback);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(answer->body.trimmed(), "Zorvik is signed in to iCloud. You can close this page.");
    ASSERT_EQ(outcomes.size(), 1u);
    ASSERT_TRUE(std::holds_alternative<QByteArray>(outcomes[0])) << describe(outcomes[0]);
    EXPECT_EQ(std::get<QByteArray>(outcomes[0]), "a+b/c=");

    EXPECT_TRUE(refusesConnections(port));
    EXPECT_EQ(outcomes.size(), 1u);
}

TEST_F(LoopbackSignInListener, AFaviconRequestGetsNotFoundAndTheListenerKeepsWaiting) {
    start();
    const auto favicon = askListener(port, kFavicon);
    ASSERT_TRUE(favicon);
    EXPECT_EQ(favicon->status, 404);
    EXPECT_TRUE(outcomes.empty());

    const auto answer = askListener(port, kCallback);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(std::get<QByteArray>(outcomes[0]), "a+b/c=");
}

TEST_F(LoopbackSignInListener, AHeadArrivingInPiecesIsReadWhole) {
    start();
    const auto answer = askListener(port, {"GET /zorvik-signin?ckSess",
                                           "ion=piece%3D HTTP/1.1\r\nHost: 127.0.0.1\r\n", "\r\n"});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(std::get<QByteArray>(outcomes[0]), "piece=");
}

TEST_F(LoopbackSignInListener, ACallbackWithoutASessionFailsTheSignIn) {
    start();
    const auto answer = askListener(port, "GET /zorvik-signin?error=denied HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 400);
    EXPECT_TRUE(answer->body.contains("the sign-in page sent no session")) << answer->body.data();
    ASSERT_EQ(outcomes.size(), 1u);
    ASSERT_TRUE(std::holds_alternative<QString>(outcomes[0]));
    EXPECT_EQ(std::get<QString>(outcomes[0]), "the sign-in page sent no session");
    EXPECT_TRUE(refusesConnections(port));
}

TEST_F(LoopbackSignInListener, AnOversizedHeadIsRefusedAndTheListenerKeepsWaiting) {
    start();
    // One byte over the limit, so the listener has read everything when it refuses: unread
    // bytes would make the kernel reset the connection and lose the answer.
    QByteArray huge = "GET /zorvik-signin?ckWebAuthToken=t HTTP/1.1\r\nX-Pad: ";
    huge.append(QByteArray(LoopbackSignIn::maximumRequestSize + 1 - huge.size(), 'x'));
    const auto refused = askListener(port, huge);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 431);
    EXPECT_TRUE(outcomes.empty());

    const auto answer = askListener(port, kCallback);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(outcomes.size(), 1u);
}

TEST_F(LoopbackSignInListener, NoCallbackInTimeEndsTheListeningWithAProblem) {
    start(0.05);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !outcomes.empty(); }, 5000));
    ASSERT_EQ(outcomes.size(), 1u);
    ASSERT_TRUE(std::holds_alternative<QString>(outcomes[0]));
    EXPECT_TRUE(std::get<QString>(outcomes[0]).contains("in time"));
    EXPECT_TRUE(refusesConnections(port));
}

TEST_F(LoopbackSignInListener, StoppingEndsTheListeningWithoutAnAnswer) {
    start();
    listener.stop();
    EXPECT_TRUE(refusesConnections(port));
    EXPECT_TRUE(outcomes.empty());
}

TEST(LoopbackSignInPort, ATakenPortIsReported) {
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    LoopbackSignIn listener;
    bool called = false;
    const QString problem =
        listener.listen(taken.serverPort(), 30, [&](LoopbackSignIn::Outcome) { called = true; });
    EXPECT_TRUE(problem.contains(QString::number(taken.serverPort()))) << text(problem);
    EXPECT_FALSE(called);
}

}  // namespace
