// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <map>
#include <optional>
#include <variant>
#include <vector>

#include "platform/linux/cloud/CloudWebAnswers.h"
#include "platform/linux/cloud/CloudWebErrors.h"
#include "platform/linux/cloud/CloudWebSession.h"
#include "platform/linux/cloud/CourierFrame.h"
#include "tests/support/QStringPrinter.h"

namespace {

using CloudWebErrors::TransportFailure;

QJsonObject object(const QByteArray& json) {
    const QJsonDocument document = QJsonDocument::fromJson(json);
    EXPECT_TRUE(document.isObject()) << json.constData();
    return document.object();
}

CloudWebResponse http(int status, const QByteArray& body) {
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
    return CloudWebSession::readReply(http(status, body));
}

// An answer a reader must turn into an error of `code`, with no wait, whose description names
// `described`. The error of a whole call passes through the record, subscription and token
// readers unchanged, which the web answers' fuzz target checks on each of its seeds.
struct ErrorCase {
    const char* name;
    CloudWebReply reply;
    int code;
    const char* described;
};

template <typename Value>
void expectError(const std::variant<Value, CloudError>& result, const ErrorCase& row) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(std::holds_alternative<CloudError>(result));
    const CloudError& error = std::get<CloudError>(result);
    EXPECT_EQ(error.code(), row.code);
    EXPECT_EQ(error.retryAfter(), std::nullopt);
    EXPECT_TRUE(error.localizedDescription().contains(row.described))
        << error.localizedDescription().toStdString();
}

// The service's answers as they appear in its documentation and in captures.
constexpr auto kAuthenticationRequired =
    R"({"uuid":"4f02f7aa","serverErrorCode":"AUTHENTICATION_REQUIRED",
        "reason":"request needs authorization","redirectURL":"https://sign-in.example/auth"})";
constexpr auto kAdvancedDataProtection =
    R"({"serverErrorCode":"ACCESS_DENIED","reason":"private db access disabled for this account"})";
constexpr auto kThrottled =
    R"({"uuid":"u","serverErrorCode":"THROTTLED","reason":"slow down","retryAfter":10})";
constexpr auto kHtml = "<html><body>502 Bad Gateway</body></html>";

TEST(CloudWebErrors, OnlyAnObjectWithAServerErrorCodeIsAnErrorAndBecomesTheCloudErrorOfItsCode) {
    // The service's codes and those of its JavaScript library, by the native code they become,
    // written out as numbers so that a wrong enumerator value shows up here too. Codes we do not
    // know, including near misses, are internal errors.
    const std::map<int, std::vector<const char*>> codes{
        {1,
         {"INTERNAL_ERROR", "UNKNOWN_ERROR", "UNEXPECTED_SERVER_RESPONSE", "SOMETHING_NEW",
          "not_found", "NOT_FOUND "}},
        {4, {"NETWORK_ERROR"}},
        {6, {"TRY_AGAIN_LATER", "SERVICE_UNAVAILABLE"}},
        {7, {"THROTTLED"}},
        {9,
         {"AUTHENTICATION_FAILED", "AUTHENTICATION_REQUIRED", "SIGN_IN_FAILED",
          "AUTH_PERSIST_ERROR"}},
        {10, {"ACCESS_DENIED"}},
        {11, {"NOT_FOUND"}},
        {12, {"BAD_REQUEST", "INVALID_ARGUMENTS"}},
        {14, {"CONFLICT", "EXISTS"}},
        {19, {"UNIQUE_FIELD_ERROR"}},
        {22, {"ATOMIC_ERROR"}},
        {25, {"QUOTA_EXCEEDED"}},
        {26, {"ZONE_NOT_FOUND"}},
        {31, {"VALIDATING_REFERENCE_ERROR"}},
    };
    // Only an object with a serverErrorCode string is an error.
    for (const char* json : {R"({})", R"({"reason":"no code"})", R"({"serverErrorCode":""})",
                             R"({"serverErrorCode":404})", R"({"serverErrorCode":null})",
                             R"({"serverErrorCode":["NOT_FOUND"]})",
                             R"({"records":[{"serverErrorCode":"NOT_FOUND"}]})"}) {
        EXPECT_FALSE(CloudWebErrors::serverError(object(json))) << json;
    }
    EXPECT_EQ(CloudWebErrors::serverError(object(kAuthenticationRequired)),
              (CloudWebErrors::ServerError{"AUTHENTICATION_REQUIRED", "request needs authorization",
                                           std::nullopt, "https://sign-in.example/auth"}));
    for (const auto& [code, serverErrorCodes] : codes) {
        for (const char* serverErrorCode : serverErrorCodes) {
            SCOPED_TRACE(serverErrorCode);
            const auto error = CloudWebErrors::serverError(
                {{"serverErrorCode", serverErrorCode}, {"reason", "because"}});
            ASSERT_TRUE(error);
            const CloudError cloudError = CloudWebErrors::fromServer(*error);
            EXPECT_EQ(cloudError.code(), code);
            // Support reads both the service's sentence and its code.
            EXPECT_TRUE(cloudError.localizedDescription().contains("because") &&
                        cloudError.localizedDescription().contains(serverErrorCode))
                << cloudError.localizedDescription().toStdString();
        }
    }
}

TEST(CloudWebErrors, RetryAfterIsSecondsAsANumberOrNumericText) {
    // What is no number of seconds a client could wait is dropped, not guessed at; Null stands
    // for no retryAfter at all.
    const std::pair<QJsonValue, std::optional<double>> rows[]{
        {10, 10.0},   {2.5, 2.5},           {86400, 86400.0},  {"30", 30.0}, {" 7 ", 7.0},
        {"soon", {}}, {"10s", {}},          {-1, {}},          {86401, {}},  {1e300, {}},
        {"nan", {}},  {QJsonArray{10}, {}}, {QJsonValue(), {}}};
    for (const auto& [value, seconds] : rows) {
        SCOPED_TRACE(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).data());
        QJsonObject json{{"serverErrorCode", "THROTTLED"}};
        if (!value.isNull()) {
            json.insert("retryAfter", value);
        }
        const auto error = CloudWebErrors::serverError(json);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->retryAfter, seconds);
        // The wait reaches the cloud error the rest of the application reads.
        EXPECT_EQ(CloudWebErrors::fromServer(*error).retryAfter(), seconds);
    }
}

TEST(CloudWebReadReply, AnAnswerBecomesItsObjectOrTheErrorItStandsFor) {
    using enum TransportFailure;
    const struct {
        const char* name;
        CloudWebResponse response;
        bool bodyRead;  // the object read is the body, else an empty one
        int code;       // 0: no error
        bool fromErrorObject = false;
    } rows[]{
        {"200 with an object", http(200, R"({"records":[]})"), true, 0},
        // tokens/register may answer nothing at all.
        {"200 empty", http(200, ""), false, 0},
        {"200 blank", http(200, " \r\n\t"), false, 0},
        {"204 empty", http(204, ""), false, 0},
        {"200 not JSON", http(200, kHtml), false, 1},
        {"204 JSON array", http(204, R"([{"records":[]}])"), false, 1},
        // An error object speaks for itself, with the service's reason, wait and sign-in page.
        {"421 sign-in needed", http(421, kAuthenticationRequired), true, 9, true},
        {"403 advanced data protection", http(403, kAdvancedDataProtection), true, 10, true},
        {"429 throttled", http(429, kThrottled), true, 7, true},
        // Otherwise the status decides by its class; 405 is what the wrong path answers.
        {"421 HTML", http(421, kHtml), false, 9},
        {"401 empty", http(401, ""), false, 9},
        {"429 empty", http(429, ""), false, 7},
        {"500 empty", http(500, ""), false, 6},
        {"503 HTML", http(503, kHtml), false, 6},
        {"599 empty", http(599, ""), false, 6},
        {"400 empty", http(400, ""), false, 12},
        {"404 object without a code", http(404, R"({"message":"no"})"), true, 12},
        {"405 HTML", http(405, kHtml), false, 12},
        {"499 empty", http(499, ""), false, 12},
        // Without an answer the network is unavailable or failed, in the transport's words.
        {"host not found", noAnswer(hostNotFound, "no such host"), false, 3},
        {"refused", noAnswer(connectionRefused, "refused"), false, 3},
        {"no network", noAnswer(noNetwork, "offline"), false, 3},
        {"timed out", noAnswer(timedOut, "too slow"), false, 4},
        {"closed", noAnswer(connectionClosed, "closed"), false, 4},
        {"bad certificate", noAnswer(secureChannel, "bad certificate"), false, 4},
        {"other", noAnswer(other, "odd"), false, 4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const CloudWebReply answer = CloudWebSession::readReply(row.response);
        const QJsonObject body = row.bodyRead ? object(row.response.body) : QJsonObject();
        EXPECT_EQ(answer.httpStatus, row.response.status);
        EXPECT_EQ(answer.body, body);
        ASSERT_EQ(answer.error.has_value(), row.code != 0);
        const auto serverError = CloudWebErrors::serverError(body);
        EXPECT_EQ(answer.serverError, row.fromErrorObject ? serverError : std::nullopt);
        if (!answer.error) {
            continue;
        }
        EXPECT_EQ(answer.error->code(), row.code);
        if (row.fromErrorObject) {
            EXPECT_EQ(*answer.error, CloudWebErrors::fromServer(*serverError));
        } else if (row.response.failure) {
            EXPECT_EQ(answer.error->localizedDescription(), row.response.failureDetail);
        } else {
            EXPECT_TRUE(answer.error->localizedDescription().contains(
                QString::number(row.response.status)));
            EXPECT_FALSE(answer.error->retryAfter());
        }
    }
}

TEST(CloudWebAnswersLookup, TheRecordAskedForIsDecodedWithItsBytesAndInstantOrIsTheRightError) {
    const ErrorCase rows[]{
        // The service answers 200 and puts the miss in place of the record.
        {"record not found",
         reply(200, R"({"records":[{"recordName":"pending-code","reason":"Record not found",
                                    "serverErrorCode":"NOT_FOUND"}]})"),
         11, "Record not found"},
        {"no records", reply(200, "{}"), 1, "records"},
        {"item not an object", reply(200, R"({"records":["pending-code"]})"), 1, "not an object"},
        {"record not mentioned", reply(200, R"({"records":[{"recordName":"other"}]})"), 1,
         "pending-code"},
        {"undecodable field",
         reply(200, R"({"records":[{"recordName":"pending-code","recordType":"PendingCode",
                                    "fields":{"blob":{"type":"BYTES","value":"not base64!"}}}]})"),
         1, "blob"},
    };
    for (const ErrorCase& row : rows) {
        expectError(CloudWebAnswers::lookedUpRecord(row.reply, "pending-code"), row);
    }

    const auto found = CloudWebAnswers::lookedUpRecord(reply(200, R"({"records":[
        {"recordName":"other","serverErrorCode":"NOT_FOUND"},
        {"recordName":"pending-code","recordType":"PendingCode","recordChangeTag":"lo5d1jwm",
         "fields":{"blob":{"value":"AAECAwQF","type":"BYTES"},
                   "expiresAt":{"value":1767225600000,"type":"TIMESTAMP"}},
         "pluginFields":{},
         "created":{"timestamp":1767225540000,"userRecordName":"_b133e609","deviceID":"2"},
         "modified":{"timestamp":1767225540000,"userRecordName":"_b133e609","deviceID":"2"},
         "deleted":false}]})"),
                                                       "pending-code");
    ASSERT_TRUE(std::holds_alternative<CloudRecord>(found))
        << std::get<CloudError>(found).localizedDescription().toStdString();
    // Bookkeeping keys of the wire format are no fields.
    EXPECT_EQ(std::get<CloudRecord>(found),
              (CloudRecord{"pending-code",
                           "PendingCode",
                           {{"blob", QByteArray("\x00\x01\x02\x03\x04\x05", 6)},
                            {"expiresAt", Instant(std::chrono::milliseconds(1767225600000))}}}));
}

TEST(CloudWebAnswersAccount, TheAnswerOfUsersCallerIsAnAccountStatus) {
    const struct {
        const char* name;
        CloudWebReply reply;
        int status;
        std::optional<QString> userRecordName = {}, reason = {};
    } rows[]{
        {"users array", reply(200, R"({"users":[{"userRecordName":"_b1","lookupInfo":{}}]})"), 1,
         "_b1"},
        {"identity at the top", reply(200, R"({"userRecordName":"_top"})"), 1, "_top"},
        {"users array wins",
         reply(200, R"({"users":[{"userRecordName":"_a"}],"userRecordName":"_b"})"), 1, "_a"},
        {"the first user is the caller",
         reply(200, R"({"users":[{"userRecordName":"_first"},{"userRecordName":"_second"}]})"), 1,
         "_first"},
        {"no name", reply(200, "{}"), 0},
        {"no users", reply(200, R"({"users":[]})"), 0},
        {"user without a name", reply(200, R"({"users":[{"lookupInfo":{}}]})"), 0},
        {"not found", reply(404, R"({"serverErrorCode":"NOT_FOUND"})"), 0},
        {"advanced data protection",
         reply(403, kAdvancedDataProtection),
         2,
         {},
         "private db access disabled for this account"},
        {"access denied without a reason", reply(403, R"({"serverErrorCode":"ACCESS_DENIED"})"), 2},
        {"sign-in needed", reply(421, kAuthenticationRequired), 3},
        {"no session", reply(401, ""), 3},
        {"throttled", reply(429, kThrottled), 4},
        {"internal error", reply(500, kHtml), 4},
        {"bad gateway", reply(502, kHtml), 4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto answer = CloudWebAnswers::accountStatus(row.reply);
        EXPECT_EQ(answer.status, row.status);
        EXPECT_EQ(answer.userRecordName, row.userRecordName);
        EXPECT_EQ(answer.reason, row.reason);
    }
}

TEST(CloudWebAnswersAccount, TheAccountIsShownByItsEmailElseItsNameElseItsRecordName) {
    const QByteArray longest(300, 'a');
    const struct {
        QByteArray body;
        std::optional<QString> shown;
    } rows[]{
        {R"({"users":[{"userRecordName":"_b1","lookupInfo":{"emailAddress":"me@example.com"},
             "nameComponents":{"givenName":"Ann","familyName":"Lee"}}]})",
         "me@example.com"},
        {R"({"users":[{"userRecordName":"_b1","nameComponents":{"givenName":" Ann ",
             "familyName":"Lee"}}]})",
         "Ann Lee"},
        {R"({"users":[{"userRecordName":"_b1","nameComponents":{"familyName":"Lee"}}]})", "Lee"},
        {R"({"users":[{"userRecordName":"_b1","lookupInfo":{"emailAddress":"  "}}]})", "_b1"},
        {R"({"userRecordName":"_top","lookupInfo":{"emailAddress":7}})", "_top"},
        // No record name, no account, whatever else the answer says.
        {R"({"users":[{"lookupInfo":{"emailAddress":"me@example.com"}}]})", std::nullopt},
        // One line the user can read: breaks and runs of spaces go, a long name is cut.
        {R"({"userRecordName":"_u","lookupInfo":{"emailAddress":"me@example.com\nUse it? yes"}})",
         "me@example.com Use it? yes"},
        {R"({"userRecordName":" \t "})", std::nullopt},
        {R"({"userRecordName":"_u","lookupInfo":{"emailAddress":")" + longest + R"("}})",
         QString(254, u'a')},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CloudWebAnswers::accountStatus(reply(200, row.body)).accountName, row.shown)
            << row.body.left(80).data();
    }
}

QByteArray subscriptionError(const char* serverErrorCode, const char* reason) {
    return QJsonDocument(
               QJsonObject{{"subscriptions",
                            QJsonArray{QJsonObject{{"subscriptionID", "pending-code-changes"},
                                                   {"serverErrorCode", serverErrorCode},
                                                   {"reason", reason}}}}})
        .toJson();
}

TEST(CloudWebAnswersSubscription, ASavedOrExistingSubscriptionIsNoErrorAndAnyOtherAnswerIsOne) {
    // The service's code for a duplicate is not documented; its sentence says it.
    const struct {
        const char* name;
        CloudWebReply reply;
        std::optional<int> code = {};  // none: saved
    } rows[]{
        {"saved", reply(200, R"({"subscriptions":[{
            "subscriptionID":"pending-code-changes","subscriptionType":"query",
            "query":{"recordType":"PendingCode"},"firesOn":["create","update"],
            "notificationInfo":{"shouldSendContentAvailable":true}}]})")},
        {"exists", reply(200, subscriptionError("EXISTS", "exists"))},
        {"duplicate",
         reply(200, subscriptionError("BAD_REQUEST", "subscription is duplicate of 'abc'"))},
        {"already exists",
         reply(200, subscriptionError("BAD_REQUEST", "Subscription Already Exists"))},
        {"saved after another's error", reply(200, R"({"subscriptions":[
             {"subscriptionID":"other","serverErrorCode":"QUOTA_EXCEEDED"},
             {"subscriptionID":"pending-code-changes","subscriptionType":"query"}]})")},
        {"quota", reply(200, subscriptionError("QUOTA_EXCEEDED", "full")), 25},
        {"bad request", reply(200, subscriptionError("BAD_REQUEST", "invalid firesOn")), 12},
        {"no subscriptions", reply(200, "{}"), 1},
        {"another one exists", reply(200, R"({"subscriptions":[{"subscriptionID":"other",
                                          "serverErrorCode":"EXISTS"}]})"),
         1},
    };
    for (const auto& row : rows) {
        const auto error = CloudWebAnswers::savedSubscription(row.reply, "pending-code-changes");
        EXPECT_EQ(error ? std::optional(error->code()) : std::nullopt, row.code) << row.name;
    }
}

// A call that failed as a whole (no answer, an HTTP error) is that error to every reader.
TEST(CloudWebAnswersWholeCall, AFailedCallIsTheErrorOfTheLookupAndOfTheSubscription) {
    for (const CloudWebReply& failed :
         {CloudWebSession::readReply(noAnswer(TransportFailure::hostNotFound, "no such host")),
          reply(503, kHtml)}) {
        ASSERT_TRUE(failed.error);
        const auto record = CloudWebAnswers::lookedUpRecord(failed, "pending-code");
        ASSERT_TRUE(std::holds_alternative<CloudError>(record));
        EXPECT_EQ(std::get<CloudError>(record), *failed.error);
        EXPECT_EQ(CloudWebAnswers::savedSubscription(failed, "pending-code-changes"), failed.error);
    }
}

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

TEST(CloudWebAnswersCourierToken, TheTokenComesWithItsAddressAndLifetimeElseIsAnError) {
    // Without a usable lifetime the token is still good; only its renewal is unplanned. The
    // courier is polled at exactly the address the service gave.
    const std::pair<const char*, std::optional<double>> tokens[]{
        {"https://webcourier.push.apple.com:443/aps?tok=0a1b&ttl=43200", 43200.0},
        {"https://webcourier.sandbox.push.apple.com/aps?ttl=60&tok=0a1b", 60.0},
        {"http://127.0.0.1:8080/aps?tok=0a1b&ttl=43200", 43200.0},
        {"https://webcourier.push.apple.com/aps?tok=0a1b", std::nullopt},
        {"https://webcourier.push.apple.com/aps?tok=0a1b&ttl=0", std::nullopt},
        {"https://webcourier.push.apple.com/aps?tok=0a1b&ttl=1e300", std::nullopt},
    };
    for (const auto& [url, ttl] : tokens) {
        EXPECT_EQ(CloudWebAnswers::courierToken(reply(200, tokenAnswer("0a1b", url))),
                  (std::variant<CloudWebAnswers::CourierToken, CloudError>(
                      CloudWebAnswers::CourierToken{"0a1b", QUrl(url), ttl})))
            << url;
    }

    const QJsonValue absent(QJsonValue::Undefined);
    const QString good = "https://webcourier.push.apple.com/aps?tok=0a1b&ttl=43200";
    const ErrorCase errors[]{
        {"no token", reply(200, tokenAnswer(absent, good)), 1, "apnsToken"},
        {"no address", reply(200, tokenAnswer("0a1b", absent)), 1, "webcourierURL"},
        {"no host", reply(200, tokenAnswer("0a1b", "https:///aps?ttl=1")), 1, "webcourierURL"},
        {"file scheme", reply(200, tokenAnswer("0a1b", "file:///etc/passwd")), 1, "webcourierURL"},
        {"broken escape", reply(200, tokenAnswer("0a1b", "https://webcourier.example/a%zz")), 1,
         "webcourierURL"},
        {"wrong path", reply(405, kHtml), 12, "405"},
    };
    for (const ErrorCase& row : errors) {
        expectError(CloudWebAnswers::courierToken(row.reply), row);
    }
}

// A JSON object of exactly `size` bytes.
QByteArray objectOfSize(qsizetype size) {
    QByteArray padded = R"({"p":""})";
    padded.insert(6, QByteArray(size - padded.size(), 'x'));
    return padded;
}

TEST(CourierFrame, ABlankAnswerIsAKeepAliveAndAnObjectUpToTheLimitIsAPush) {
    for (const QByteArray& body : {QByteArray(" "), QByteArray("\t \n \r\n")}) {
        EXPECT_TRUE(std::holds_alternative<CourierFrame::KeepAlive>(CourierFrame::parse(body)))
            << body.toHex().toStdString();
    }
    const auto large = CourierFrame::parse(objectOfSize(CourierFrame::maximumSize));
    ASSERT_TRUE(std::holds_alternative<CourierFrame::Push>(large));
    EXPECT_EQ(std::get<CourierFrame::Push>(large).userInfo.value("p").toString().size(),
              CourierFrame::maximumSize - 8);
}

TEST(CourierFrame, WhatIsNoSingleObjectIsMalformed) {
    for (const QByteArray& body :
         {QByteArray("<html>gateway timeout</html>"),
          QByteArray(R"({"aps":{"content-available":1})"), QByteArray(R"([{"aps":{}}])"),
          QByteArray(R"("push")"), QByteArray("1"), QByteArray("{}{}"),
          objectOfSize(CourierFrame::maximumSize + 1)}) {
        const auto frame = CourierFrame::parse(body);
        ASSERT_TRUE(std::holds_alternative<CourierFrame::Malformed>(frame)) << body.left(40).data();
        EXPECT_FALSE(std::get<CourierFrame::Malformed>(frame).problem.isEmpty());
    }
}

}  // namespace
