#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <bit>
#include <cstdint>
#include <cstring>

#include "CredentialIdentitiesFile.h"
#include "FrameReader.h"
#include "HostRequest.h"

namespace {

QByteArray header(std::uint32_t length) {
    return QByteArray(reinterpret_cast<const char*>(&length), sizeof length);
}

std::vector<FrameReader::Item> drain(FrameReader& reader) {
    std::vector<FrameReader::Item> items;
    while (auto item = reader.next()) {
        items.push_back(*item);
    }
    return items;
}

TEST(FrameReaderTest, CutsMessagesWhateverPiecesTheBytesArriveIn) {
    const QByteArray stream = encodeFrame("{\"a\":1}") + encodeFrame("") + encodeFrame("[2]");
    for (qsizetype piece : {1, 3, 5, 100}) {
        FrameReader reader;
        std::vector<FrameReader::Item> items;
        for (qsizetype at = 0; at < stream.size(); at += piece) {
            reader.append(QByteArrayView(stream).sliced(at, std::min(piece, stream.size() - at)));
            for (auto& item : drain(reader)) {
                items.push_back(item);
            }
        }
        ASSERT_EQ(items.size(), 3u) << "pieces of " << piece;
        EXPECT_EQ(std::get<QByteArray>(items[0]), "{\"a\":1}");
        EXPECT_EQ(std::get<QByteArray>(items[1]), "");
        EXPECT_EQ(std::get<QByteArray>(items[2]), "[2]");
        EXPECT_FALSE(reader.isInsideFrame());
    }
}

TEST(FrameReaderTest, TellsWhenTheInputStopsInsideAMessage) {
    FrameReader reader;
    reader.append(header(10).left(2));
    EXPECT_FALSE(reader.next());
    EXPECT_TRUE(reader.isInsideFrame());
    reader.append(header(10).mid(2) + "12345");
    EXPECT_FALSE(reader.next());
    EXPECT_TRUE(reader.isInsideFrame());
    reader.append("67890" + encodeFrame("{}"));
    EXPECT_FALSE(reader.isInsideFrame()) << "two whole messages wait to be taken";
    reader.append(header(3));
    EXPECT_TRUE(reader.isInsideFrame());
    EXPECT_EQ(std::get<QByteArray>(*reader.next()), "1234567890");
    EXPECT_EQ(std::get<QByteArray>(*reader.next()), "{}");
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
    EXPECT_TRUE(reader.isInsideFrame());
    reader.append(QByteArray(length - 1000, 'y') + encodeFrame("{}"));
    EXPECT_EQ(std::get<QByteArray>(*reader.next()), "{}") << "the next message is intact";
    EXPECT_FALSE(reader.isInsideFrame());

    FrameReader exact;
    exact.append(encodeFrame(QByteArray(FrameReader::maximumFrameSize, ' ')));
    EXPECT_TRUE(std::holds_alternative<QByteArray>(*exact.next())) << "1 MiB itself is allowed";
}

TEST(FrameReaderTest, FramesCarryTheLengthInTheMachinesOrder) {
    // The machines we run on are little-endian, as the browsers' own framing is there.
    static_assert(std::endian::native == std::endian::little);
    EXPECT_EQ(encodeFrame("abc"), QByteArray("\x03\x00\x00\x00"
                                             "abc",
                                             7));
    EXPECT_EQ(encodeFrame(QByteArray(258, 'x')).left(4), QByteArray("\x02\x01\x00\x00", 4));
    FrameReader reader;
    reader.append(
        QByteArray("\x02\x00\x00\x00"
                   "{}",
                   6));
    EXPECT_EQ(std::get<QByteArray>(*reader.next()), "{}");
}

HostRequest parsed(const char* json) {
    const auto result = parseHostRequest(json);
    if (const auto* error = std::get_if<HostRequestError>(&result)) {
        ADD_FAILURE() << json << ": " << error->message.toStdString();
        return {};
    }
    return std::get<HostRequest>(result);
}

HostRequestError refused(const char* json) {
    const auto result = parseHostRequest(json);
    if (!std::holds_alternative<HostRequestError>(result)) {
        ADD_FAILURE() << json << " was accepted";
        return {};
    }
    return std::get<HostRequestError>(result);
}

TEST(HostRequestTest, ReadsEveryRequestType) {
    const HostRequest provide = parsed(
        R"({"id":7,"type":"provideWithoutUserInteraction","request":{"type":3,"credentialIdentity":
            {"serviceIdentifier":{"identifier":"github.com","type":"domain"},"recordIdentifier":"r1"}}})");
    EXPECT_EQ(provide.id, QJsonValue(7));
    EXPECT_EQ(provide.type, HostRequest::Type::provideWithoutUserInteraction);
    EXPECT_EQ(provide.request, (CredentialRequest{3, {{"github.com", "domain"}, "r1"}}));

    const HostRequest interface = parsed(
        R"({"id":"a","type":"prepareInterfaceToProvide","request":{"type":1,"credentialIdentity":
            {"serviceIdentifier":{"identifier":"x.org"}}}})");
    EXPECT_EQ(interface.type, HostRequest::Type::prepareInterfaceToProvide);
    EXPECT_EQ(interface.request, (CredentialRequest{1, {{"x.org", "domain"}, ""}}));

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

TEST(HostRequestTest, RefusesWhatIsNotARequestWithAReason) {
    EXPECT_EQ(refused("{\"id\":1,").id, QJsonValue::Null);
    EXPECT_TRUE(refused("{\"id\":1,").message.startsWith("the message is not JSON"));
    EXPECT_EQ(refused("[1]").message, "the message is not a JSON object");
    EXPECT_EQ(refused(R"({"type":"identities","host":"a"})").message, "the request has no \"id\"");
    EXPECT_EQ(refused(R"({"id":null,"type":"identities","host":"a"})").id, QJsonValue::Null);

    const HostRequestError unknown = refused(R"({"id":5,"type":"fetch\nall"})");
    EXPECT_EQ(unknown.id, QJsonValue(5)) << "the id is known, so the answer carries it";
    EXPECT_EQ(unknown.message, "unknown request type \"fetch\\nall\"");
    EXPECT_EQ(refused(R"({"id":5})").message, "the request needs the text \"type\"");
    EXPECT_EQ(refused(R"({"id":5,"type":3})").message, "the request needs the text \"type\"");

    for (
        const char* json : {
            R"({"id":1,"type":"provideWithoutUserInteraction"})",
            R"({"id":1,"type":"provideWithoutUserInteraction","request":{"type":"3"}})",
            R"({"id":1,"type":"provideWithoutUserInteraction","request":{"type":3.5}})",
            R"({"id":1,"type":"provideWithoutUserInteraction","request":{"type":3}})",
            R"({"id":1,"type":"prepareInterfaceToProvide","request":{"type":3,"credentialIdentity":{}}})",
            R"({"id":1,"type":"prepareInterfaceToProvide","request":{"type":3,"credentialIdentity":{"serviceIdentifier":{"identifier":7}}}})",
            R"({"id":1,"type":"prepareList"})",
            R"({"id":1,"type":"prepareList","serviceIdentifiers":["a.b"]})",
            R"({"id":1,"type":"identities"})",
            R"({"id":1,"type":"identities","host":["a"]})",
        }) {
        const HostRequestError error = refused(json);
        EXPECT_EQ(error.id, QJsonValue(1)) << json;
        EXPECT_FALSE(error.message.isEmpty()) << json;
    }
}

using Identity = CredentialIdentitiesFile::Identity;

TEST(CredentialIdentitiesFileTest, ReadsBackWhatItWrites) {
    const QList<Identity> identities{{"github.com", "Work GitHub", "r1"},
                                     {"gist.github.com", "Work GitHub", "r2"}};
    EXPECT_EQ(CredentialIdentitiesFile::decode(CredentialIdentitiesFile::encode(identities)),
              identities);
    EXPECT_EQ(CredentialIdentitiesFile::decode(CredentialIdentitiesFile::encode({})),
              QList<Identity>{});
}

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

TEST(CredentialIdentitiesFileTest, MatchesTheHostAndItsParentDomains) {
    const QList<Identity> identities{{"github.com", "GitHub", "1"},
                                     {"Accounts.Google.com", "Google", "2"},
                                     {"google.com", "Google", "3"}};
    const auto records = [&](const char* host) {
        QStringList found;
        for (const auto& identity : CredentialIdentitiesFile::matchingHost(identities, host)) {
            found.append(identity.recordIdentifier);
        }
        return found;
    };
    EXPECT_EQ(records("github.com"), QStringList{"1"});
    EXPECT_EQ(records("GIST.github.com"), QStringList{"1"});
    EXPECT_EQ(records("notgithub.com"), QStringList{});
    EXPECT_EQ(records("github.com.evil.net"), QStringList{});
    EXPECT_EQ(records("accounts.google.com"), (QStringList{"2", "3"}));
    EXPECT_EQ(records("google.com"), QStringList{"3"}) << "a child never matches its parent";
    EXPECT_EQ(records(""), QStringList{});
}

}  // namespace
