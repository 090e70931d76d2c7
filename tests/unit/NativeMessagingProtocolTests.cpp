// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <bit>
#include <cstdint>

#include "ZorvikMacAutoFill/Host/FrameReader.h"
#include "ZorvikMacAutoFill/Host/HostRequest.h"
#include "shared/CredentialIdentitiesFile.h"
#include "tests/support/QStringPrinter.h"

namespace {

QByteArray header(std::uint32_t length) {
    return QByteArray(reinterpret_cast<const char*>(&length), sizeof length);
}

QByteArray payload(FrameReader& reader) {
    const auto item = reader.next();
    return item ? std::get<QByteArray>(*item) : "<none>";
}

// The length goes first in the machine's order, little-endian, as the browsers' own framing.
TEST(FrameReaderTest, CutsFramesWhateverPiecesTheBytesArriveIn) {
    static_assert(std::endian::native == std::endian::little);
    const QByteArray stream = QByteArray::fromHex("07000000") + "{\"a\":1}" +
                              QByteArray::fromHex("0000000003000000") + "[2]";
    EXPECT_EQ(encodeFrame("{\"a\":1}") + encodeFrame("") + encodeFrame("[2]"), stream);
    EXPECT_EQ(encodeFrame(QByteArray(258, 'x')).left(4), QByteArray::fromHex("02010000"));
    for (qsizetype piece : {1, 3, 5, 100}) {
        FrameReader reader;
        QByteArrayList items;
        for (qsizetype at = 0; at < stream.size(); at += piece) {
            reader.append(QByteArrayView(stream).sliced(at, std::min(piece, stream.size() - at)));
            while (auto item = reader.next()) {
                items.append(std::get<QByteArray>(*item));
            }
        }
        EXPECT_EQ(items, (QByteArrayList{"{\"a\":1}", "", "[2]"})) << "pieces of " << piece;
        EXPECT_FALSE(reader.isInsideFrame());
    }
}

TEST(FrameReaderTest, TellsWhenTheInputStopsInsideAMessage) {
    FrameReader reader;
    reader.append(header(10).left(2));
    EXPECT_FALSE(reader.next());
    EXPECT_TRUE(reader.isInsideFrame());
    reader.append(header(10).mid(2) + "1234567890" + encodeFrame("{}"));
    EXPECT_FALSE(reader.isInsideFrame()) << "two whole messages wait to be taken";
    reader.append(header(3));
    EXPECT_TRUE(reader.isInsideFrame());
    EXPECT_EQ(payload(reader), "1234567890");
    EXPECT_EQ(payload(reader), "{}");
    EXPECT_FALSE(reader.next());
    reader.append("abc");
    EXPECT_FALSE(reader.isInsideFrame());
}

TEST(FrameReaderTest, RefusesOversizedMessagesAndSkipsTheirBytes) {
    FrameReader reader;
    const std::uint32_t length = FrameReader::maximumFrameSize + 1;
    reader.append(header(length) + QByteArray(1000, 'x'));
    auto item = reader.next();
    ASSERT_TRUE(item);
    EXPECT_EQ(std::get<FrameReader::OversizedFrame>(*item).length, length);
    EXPECT_TRUE(reader.isInsideFrame()) << "its bytes are still to be skipped";

    FrameReader exact;
    exact.append(encodeFrame(QByteArray(FrameReader::maximumFrameSize, ' ')));
    EXPECT_TRUE(std::holds_alternative<QByteArray>(*exact.next())) << "1 MiB itself is allowed";
}

HostRequest parsed(const char* json) {
    const auto result = parseHostRequest(json);
    if (const auto* error = std::get_if<HostRequestError>(&result)) {
        ADD_FAILURE() << json << ": " << error->message.toStdString();
        return {};
    }
    return std::get<HostRequest>(result);
}

TEST(HostRequestTest, ReadsEveryRequestType) {
    const HostRequest provide = parsed(
        R"({"id":7,"type":"provideWithoutUserInteraction","site":"github.com","request":{"type":3,"credentialIdentity":
            {"serviceIdentifier":{"identifier":"github.com","type":"domain"},"recordIdentifier":"r1"}}})");
    EXPECT_EQ(provide.id, QJsonValue(7));
    EXPECT_EQ(provide.type, HostRequest::Type::provideWithoutUserInteraction);
    EXPECT_EQ(provide.request,
              (CredentialRequest{3, {{"github.com", "domain"}, "r1"}, "github.com"}));

    const HostRequest interface = parsed(
        R"({"id":"a","type":"prepareInterfaceToProvide","site":"www.x.org","request":{"type":1,"credentialIdentity":
            {"serviceIdentifier":{"identifier":"x.org"}}}})");
    EXPECT_EQ(interface.type, HostRequest::Type::prepareInterfaceToProvide);
    EXPECT_EQ(interface.request, (CredentialRequest{1, {{"x.org", "domain"}, ""}, "www.x.org"}));

    const HostRequest list = parsed(
        R"({"id":{"n":1},"type":"prepareList","serviceIdentifiers":[{"identifier":"https://a.b/c","type":"URL"},{"identifier":"d.e"}]})");
    EXPECT_EQ(list.id, QJsonValue(QJsonObject{{"n", 1}})) << "any id comes back as it was";
    EXPECT_EQ(list.serviceIdentifiers,
              (QList<CredentialServiceIdentifier>{{"https://a.b/c", "URL"}, {"d.e", "domain"}}));

    EXPECT_EQ(parsed(R"({"id":0,"type":"prepareConfiguration"})").type,
              HostRequest::Type::prepareConfiguration);
    const HostRequest identities = parsed(R"({"id":false,"type":"identities","host":"a.b"})");
    EXPECT_EQ(identities.type, HostRequest::Type::identities);
    EXPECT_EQ(identities.host, "a.b");
}

// The answer carries the request's id whenever it could be read.
TEST(HostRequestTest, RefusesWhatIsNotARequestWithAReason) {
    const struct {
        const char* json;
        QJsonValue id;
        const char* message;
    } cases[] = {
        {"[1]", QJsonValue::Null, "the message is not a JSON object"},
        {R"({"type":"identities","host":"a"})", QJsonValue::Null, "the request has no \"id\""},
        {R"({"id":null,"type":"identities","host":"a"})", QJsonValue::Null,
         "the request has no \"id\""},
        {R"({"id":5,"type":"fetch\nall"})", 5, "unknown request type \"fetch\\nall\""},
        {R"({"id":5})", 5, "the request needs the text \"type\""},
        {R"({"id":5,"type":3})", 5, "the request needs the text \"type\""},
        {R"({"id":1,"type":"provideWithoutUserInteraction"})", 1,
         "the request needs a \"request\" object"},
        {R"({"id":1,"type":"provideWithoutUserInteraction","request":{"type":"3"}})", 1,
         "\"request\" needs a whole-number \"type\""},
        {R"({"id":1,"type":"provideWithoutUserInteraction","request":{"type":3.5}})", 1,
         "\"request\" needs a whole-number \"type\""},
        {R"({"id":1,"type":"provideWithoutUserInteraction","request":{"type":3}})", 1,
         "\"request\" needs a \"credentialIdentity\" object"},
        {R"({"id":1,"type":"prepareInterfaceToProvide","request":{"type":3,"credentialIdentity":{}}})",
         1, "\"serviceIdentifier\" must be an object"},
        {R"({"id":1,"type":"prepareInterfaceToProvide","request":{"type":3,"credentialIdentity":{"serviceIdentifier":{"identifier":7}}}})",
         1, "\"serviceIdentifier\" needs the text \"identifier\""},
        {R"({"id":1,"type":"prepareList"})", 1, "prepareList needs a \"serviceIdentifiers\" list"},
        {R"({"id":1,"type":"prepareList","serviceIdentifiers":["a.b"]})", 1,
         "each service identifier must be an object"},
        {R"({"id":1,"type":"identities"})", 1, "identities needs the text \"host\""},
        // The page a code would go to is named by the browser; without it there is no code.
        {R"({"id":1,"type":"provideWithoutUserInteraction","request":{"type":3,"credentialIdentity":{"serviceIdentifier":{"identifier":"a.b"}}}})",
         1, "a provide request needs the text \"site\""},
        {R"({"id":1,"type":"prepareInterfaceToProvide","site":7,"request":{"type":3,"credentialIdentity":{"serviceIdentifier":{"identifier":"a.b"}}}})",
         1, "a provide request needs the text \"site\""},
        {R"({"id":1,"type":"identities","host":["a"]})", 1, "identities needs the text \"host\""},
    };
    for (const auto& example : cases) {
        SCOPED_TRACE(example.json);
        const auto result = parseHostRequest(example.json);
        ASSERT_TRUE(std::holds_alternative<HostRequestError>(result));
        const HostRequestError& error = std::get<HostRequestError>(result);
        EXPECT_EQ(error.id, example.id);
        EXPECT_EQ(error.message, example.message);
    }
}

using Identity = CredentialIdentitiesFile::Identity;

TEST(CredentialIdentitiesFileTest, RefusesIncompleteFilesAsAWhole) {
    for (
        const char* json : {
            "",
            "[]",
            "{}",
            R"({"identities":{}})",
            R"({"identities":[{"label":"a","recordIdentifier":"b"}]})",
            R"({"identities":[{"serviceIdentifier":{"identifier":""},"label":"a","recordIdentifier":"b"}]})",
            R"({"identities":[{"serviceIdentifier":{"identifier":"a.b"},"recordIdentifier":"b"}]})",
            R"({"identities":[{"serviceIdentifier":{"identifier":"a.b"},"label":"a","recordIdentifier":"b"},7]})",
        }) {
        QString error;
        EXPECT_EQ(CredentialIdentitiesFile::decode(json, &error), std::nullopt) << json;
        EXPECT_FALSE(error.isEmpty()) << json;
    }
}

// Which domain covers which host is domainCoversHost's rule; a page gets every identity it
// covers, in the file's order.
TEST(CredentialIdentitiesFileTest, MatchingKeepsEveryIdentityThatCoversTheHost) {
    const QList<Identity> identities{{"github.com", "GitHub", "1"},
                                     {"Accounts.Google.com", "Google", "2"},
                                     {"google.com", "Google", "3"}};
    EXPECT_EQ(CredentialIdentitiesFile::matchingHost(identities, "accounts.google.com"),
              identities.mid(1));
}

}  // namespace
