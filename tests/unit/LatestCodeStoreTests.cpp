// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "shared/AtomicFile.h"
#include "shared/Iso8601.h"
#include "shared/LatestCodeStore.h"
#include "tests/support/FileMode.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TemporaryAppGroupContainers.h"

namespace {

const Instant kIssued = *Iso8601::parse(u"2026-03-01T12:00:00Z");

LatestCode sample(const QString& code = "123456") {
    return {"Work GitHub",
            std::nullopt,
            code,
            "iPhone",
            kIssued,
            addingSeconds(kIssued, 2),
            addingSeconds(kIssued, 90)};
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class LatestCodeStoreTest : public testing::Test {
protected:
    TemporaryAppGroupContainers containers;
    LatestCodeStore store = *LatestCodeStore::make(containers);
    QStringList filesBeside() const {
        return QDir(QFileInfo(store.url()).path()).entryList(QDir::Files);
    }
};

TEST_F(LatestCodeStoreTest, NoContainerMeansNoStore) {
    containers.unavailable = true;
    EXPECT_FALSE(LatestCodeStore::make(containers));
}

// The whole file is replaced by one that only its owner can read, with nothing left beside it;
// the fill marker of an earlier code stays.
TEST_F(LatestCodeStoreTest, SaveWritesAnOwnerOnlyFileInPrivateDirectoriesOfTheGroupContainer) {
    const QString directory =
        containers.directory.path() + "/app/K8QW41TR7N.net.brontal.zorvik.mac";
    EXPECT_EQ(store.url(), directory + "/latest-code.json");
    EXPECT_EQ(store.filledURL(), directory + "/latest-code.filled");
    store.save(sample("111111"));
    const Instant filled = sample().receivedAt + std::chrono::milliseconds(1500);
    store.markFilled(filled);
    QFile::setPermissions(
        store.url(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    store.save(sample("222222"));
    EXPECT_EQ(store.load(), sample("222222"));
    EXPECT_EQ(modeOf(store.url()), 0600);
    EXPECT_EQ(modeOf(directory), 0700);
    EXPECT_EQ(modeOf(containers.directory.filePath("app")), 0700);
    EXPECT_EQ(filesBeside(), (QStringList{"latest-code.filled", "latest-code.json"}));
    EXPECT_EQ(store.filledAt(), filled);
    EXPECT_EQ(modeOf(store.filledURL()), 0600);
}

TEST_F(LatestCodeStoreTest, AFailedSaveLeavesThePreviousFileIntact) {
    LatestCode farFuture = sample();
    farFuture.expiresAt = *Iso8601::parse(u"9999-12-31T23:59:59Z") + std::chrono::hours(48);
    EXPECT_THROW(store.save(farFuture), FileOperationError) << "a code it cannot write";
    EXPECT_FALSE(QFile::exists(store.url()));
    store.save(sample("111111"));
    {
        const FileSizeLimit limit(16);
        EXPECT_THROW(store.save(sample("222222")), FileOperationError);
    }
    EXPECT_EQ(store.load(), sample("111111"));
    EXPECT_EQ(filesBeside(), QStringList{"latest-code.json"}) << "no temporary file left behind";
}

TEST_F(LatestCodeStoreTest, ReadingGivesNothingForMissingOrBadFiles) {
    EXPECT_FALSE(store.load());
    EXPECT_FALSE(store.filledAt());
    store.save(sample());
    for (const QByteArray& bad : {QByteArray(), QByteArray("{"), QByteArray(R"({"code":"1"})")}) {
        writeFile(store.url(), bad);
        EXPECT_FALSE(store.load()) << bad.constData();
    }
    writeFile(store.filledURL(), "1772366400.5");
    EXPECT_EQ(store.filledAt(), kIssued + std::chrono::milliseconds(500));
    writeFile(store.filledURL(), "1772366400.5\n");
    EXPECT_FALSE(store.filledAt());
}

TEST_F(LatestCodeStoreTest, ClearRemovesBothFilesAndIgnoresMissingOnes) {
    store.clear();  // neither exists: nothing happens, nothing is thrown
    store.save(sample());
    store.markFilled(kIssued);
    store.clear();
    EXPECT_TRUE(filesBeside().isEmpty());
    store.markFilled(kIssued);
    store.clear();  // only the marker was there
    EXPECT_FALSE(QFile::exists(store.filledURL()));
}

TEST(FilledMarker, IsTheShortestDecimalThatReadsBackAndParsingTakesOneNumberAlone) {
    using std::chrono::milliseconds, std::chrono::seconds;
    EXPECT_EQ(formatFilledMarker(kIssued), "1772366400.0");
    EXPECT_EQ(formatFilledMarker(kIssued + milliseconds(250)), "1772366400.25");
    EXPECT_EQ(formatFilledMarker(kIssued + std::chrono::microseconds(123456)), "1772366400.123456");
    EXPECT_EQ(formatFilledMarker(Instant{}), "0.0");
    for (const Instant instant :
         {kIssued, kIssued + std::chrono::microseconds(1), Instant{} - seconds(5)}) {
        EXPECT_EQ(parseFilledMarker(formatFilledMarker(instant)), instant);
    }
    EXPECT_EQ(parseFilledMarker("1772366400"), kIssued);
    EXPECT_EQ(parseFilledMarker("+1.5e1"), Instant{} + seconds(15));
    EXPECT_EQ(parseFilledMarker("-2"), Instant{} - seconds(2));
    // Blanks around, a NUL, a comma, two points, signs alone or doubled, NaN, infinities, numbers
    // beyond a double or beyond any instant held either way, hexadecimal.
    for (const QByteArrayView bad :
         {QByteArrayView(""), QByteArrayView(" 1772366400.25"), QByteArrayView("\n1"),
          QByteArrayView("1772366400.25 "), QByteArrayView("1\0", 2), QByteArrayView("1,5"),
          QByteArrayView("abc"), QByteArrayView("1.2.3"), QByteArrayView("+"),
          QByteArrayView("+-1"), QByteArrayView("++1"), QByteArrayView("nan"),
          QByteArrayView("inf"), QByteArrayView("1e400"), QByteArrayView("1e13"),
          QByteArrayView("-1e13"), QByteArrayView("0x10")}) {
        EXPECT_FALSE(parseFilledMarker(bad)) << '"' << bad.toByteArray().toStdString() << '"';
    }
}

}  // namespace
