// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "shared/Iso8601.h"
#include "shared/LatestCodeStore.h"

namespace {

LatestCode codeNumber(int n) {
    // Codes of different lengths, so a torn read could not pass for a whole file.
    return LatestCode{"Account " + QString::number(n).repeated(n % 7 + 1),
                      n % 2 ? std::optional<QString>("github") : std::nullopt,
                      QString::number(100000 + n),
                      "iPhone",
                      *Iso8601::parse(u"2026-03-01T12:00:00Z"),
                      *Iso8601::parse(u"2026-03-01T12:00:02Z"),
                      *Iso8601::parse(u"2026-03-01T12:01:30Z")};
}

TEST(LatestCodeStoreConcurrency, AReaderInAnotherProcessOnlySeesWholeFiles) {
    QTemporaryDir directory;
    const LatestCodeStore store(directory.filePath("group/latest-code.json"));
    store.save(codeNumber(0));
    const QString stopFile = directory.filePath("stop");

    QProcess reader;
    reader.start(LATEST_CODE_READER_PATH, {store.url(), stopFile});
    ASSERT_TRUE(reader.waitForStarted());
    for (int n = 1; n <= 3000; ++n) {
        store.save(codeNumber(n));
    }
    QFile(stopFile).open(QIODevice::WriteOnly);
    ASSERT_TRUE(reader.waitForFinished(30000));
    const QString report = QString::fromUtf8(reader.readAllStandardOutput());
    const auto match =
        QRegularExpression(R"(reads=(\d+) whole=(\d+) distinct=(\d+))").match(report);
    ASSERT_TRUE(match.hasMatch()) << report.toStdString();
    const long reads = match.captured(1).toLong();
    EXPECT_GT(reads, 100) << "the reader should have raced the writer many times";
    EXPECT_EQ(match.captured(2).toLong(), reads) << "every read must give a whole record";
    EXPECT_GT(match.captured(3).toLong(), 1) << "the reader should have seen the file change";
}

}  // namespace
