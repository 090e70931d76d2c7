// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <memory>
#include <vector>

#include "ZorvikMac/CodeDelivery/ClipboardPublisher.h"
#include "platform/linux/QtMainActor.h"
#include "platform/linux/desktop/QtPasteboard.h"
#include "tests/support/SessionEnvironment.h"
#include "tests/support/SessionProcess.h"

namespace {

const QString plainText = QString::fromLatin1(Pasteboard::stringType);
const QString concealed = QString::fromLatin1(Pasteboard::concealedType);

// Reads the X clipboard as another program does. Our own process serves the data, so the event
// loop keeps running while xclip waits for it.
ProcessRun readWithXclip(const QString& target = QStringLiteral("UTF8_STRING")) {
    const ProcessRun read =
        runProcess(QStringLiteral("xclip"), {"-selection", "clipboard", "-o", "-t", target});
    EXPECT_TRUE(read.finished) << "xclip -o did not finish within 5 s";
    return read;
}

// The product's clipboard path against the session's X server, which other programs (xclip)
// read from and write to.
class ClipboardIntegration : public testing::Test {
protected:
    void SetUp() override {
        REQUIRE_DESKTOP_SESSION();
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            GTEST_SKIP() << "needs the X11 clipboard: run with QT_QPA_PLATFORM=xcb (Qt runs on "
                         << QGuiApplication::platformName().toStdString() << ")";
        }
        // Nobody owns the clipboard, and X's reports about earlier tests are all in.
        QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
        runEventsFor(100);
        pasteboard = std::make_unique<QtPasteboard>();
        publisher = std::make_unique<ClipboardPublisher>(*pasteboard, actor);
    }
    void TearDown() override {
        for (const auto& xclip : otherCopies) {
            xclip->kill();
            xclip->waitForFinished(3000);
        }
    }

    // Another program's copy: xclip owns the clipboard with `text` until the test ends, as
    // stopping one that still owns it would empty the clipboard, a change of its own.
    void copyElsewhere(const QByteArray& text) {
        auto& xclip = *otherCopies.emplace_back(std::make_unique<QProcess>());
        xclip.start(QStringLiteral("xclip"), {"-i", "-selection", "clipboard", "-quiet"});
        ASSERT_TRUE(xclip.waitForStarted(5000)) << "xclip did not start";
        xclip.write(text);
        xclip.closeWriteChannel();
    }

    // Waits, bounded, until the pasteboard notices a change after `count`.
    bool countMovesPast(long count) {
        return runEventsUntil([&] { return pasteboard->changeCount() != count; }, 3000);
    }

    void expectEmpty() {
        const ProcessRun read = readWithXclip();
        EXPECT_NE(read.exitCode, 0) << "still offered: " << read.output.toStdString();
        EXPECT_FALSE(pasteboard->string(plainText));
    }

    bool clearedWithin(int timeoutMs) {
        return runEventsUntil([&] { return publisher->clearTask().isFinished(); }, timeoutMs);
    }

    QtMainActor actor;
    std::unique_ptr<QtPasteboard> pasteboard;
    std::unique_ptr<ClipboardPublisher> publisher;
    std::vector<std::unique_ptr<QProcess>> otherCopies;
};

// The text and the password-manager hint, as xclip reads them, are checked end to end
// (tests/e2e/headless-journey.sh); the concealed marker's entry is empty. With no other activity
// the clipboard is empty after the delay.
TEST_F(ClipboardIntegration, OthersSeeTheConcealedMarkerEmptyAndTheCopyIsGoneAfterTheDelay) {
    QElapsedTimer sinceCopy;
    sinceCopy.start();
    publisher->copyToPasteboard(QStringLiteral("493817"), 1);
    const ProcessRun marker = readWithXclip("org.nspasteboard.ConcealedType");
    EXPECT_EQ(marker.exitCode, 0) << marker.errors.toStdString();
    EXPECT_EQ(marker.output, "");
    EXPECT_EQ(pasteboard->string(plainText), QStringLiteral("493817"));
    EXPECT_EQ(pasteboard->string(concealed), QString());

    ASSERT_TRUE(clearedWithin(5000));
    EXPECT_GE(sinceCopy.elapsed(), 1000);
    expectEmpty();
}

TEST_F(ClipboardIntegration, EveryCopyByAnotherProgramRaisesTheCountAndSurvivesTheDelay) {
    publisher->copyToPasteboard(QStringLiteral("493817"), 0.5);
    const long ours = pasteboard->changeCount();
    copyElsewhere("493817");  // the very same text
    ASSERT_TRUE(countMovesPast(ours)) << "the other program's copy was never noticed";
    ASSERT_FALSE(publisher->clearTask().isFinished())
        << "the other program's copy was noticed only after the delay";
    ASSERT_TRUE(clearedWithin(5000));
    runEventsFor(100);
    EXPECT_EQ(readWithXclip().output, "493817");
    EXPECT_FALSE(pasteboard->string(concealed)) << "xclip offers no marker";

    const long afterFirst = pasteboard->changeCount();
    copyElsewhere("meeting notes");
    EXPECT_TRUE(countMovesPast(afterFirst));
    EXPECT_EQ(pasteboard->string(plainText), QStringLiteral("meeting notes"));
}

// Neither our own writes nor serving another program's read are changes; another program's
// entry cannot be written to, but it can be cleared.
TEST_F(ClipboardIntegration, OwnWritesDoNotRaiseTheCountLaterAndAnotherProgramsEntryIsReadOnly) {
    const long cleared = pasteboard->clearContents();
    EXPECT_TRUE(pasteboard->setString(QStringLiteral("493817"), plainText));
    EXPECT_TRUE(pasteboard->setString(QString(), concealed));
    EXPECT_EQ(readWithXclip().output, "493817");
    runEventsFor(300);
    EXPECT_EQ(pasteboard->changeCount(), cleared);

    // A clear on its own is reported by the X server once more a few milliseconds later.
    const long clearedAgain = pasteboard->clearContents();
    EXPECT_EQ(clearedAgain, cleared + 1);
    runEventsFor(300);
    EXPECT_EQ(pasteboard->changeCount(), clearedAgain);

    copyElsewhere("meeting notes");
    ASSERT_TRUE(countMovesPast(clearedAgain));
    EXPECT_FALSE(pasteboard->setString(QStringLiteral("493817"), plainText));
    EXPECT_EQ(readWithXclip().output, "meeting notes");
    pasteboard->clearContents();
    expectEmpty();
}

}  // namespace
