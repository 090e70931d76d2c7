#include <gtest/gtest.h>

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ClipboardPublisher.h"
#include "QtMainActor.h"
#include "QtPasteboard.h"
#include "SessionEnvironment.h"

namespace {

const QString plainText = QString::fromLatin1(Pasteboard::stringType);
const QString concealed = QString::fromLatin1(Pasteboard::concealedType);

// Runs the event loop until `done` answers true or `timeoutMs` have passed; answers `done`.
bool runEventsUntil(const std::function<bool()>& done, int timeoutMs) {
    QTimer tick;  // wakes the loop so the deadline is seen even when nothing else happens
    tick.start(5);
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void runEventsFor(int milliseconds) {
    QElapsedTimer elapsed;
    elapsed.start();
    runEventsUntil([&] { return elapsed.elapsed() >= milliseconds; }, milliseconds + 1000);
}

struct ClipboardRead {
    bool finished = false;
    int exitCode = -1;
    QByteArray output;
};

// Reads the X clipboard the way another program does. Our own process serves the data, so the
// event loop keeps running while xclip waits for it.
ClipboardRead readWithXclip(const QStringList& arguments = {}) {
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"),
                QStringList{QStringLiteral("-selection"), QStringLiteral("clipboard")} + arguments +
                    QStringList{QStringLiteral("-o")});
    ClipboardRead read;
    read.finished = runEventsUntil([&] { return xclip.state() == QProcess::NotRunning; }, 5000) &&
                    xclip.exitStatus() == QProcess::NormalExit;
    if (!read.finished) {
        xclip.kill();
        xclip.waitForFinished(1000);
        return read;
    }
    read.exitCode = xclip.exitCode();
    read.output = xclip.readAllStandardOutput();
    return read;
}

QByteArray clipboardTextSeenByXclip() {
    const ClipboardRead read = readWithXclip();
    EXPECT_TRUE(read.finished) << "xclip -o did not finish within 5 s";
    return read.exitCode == 0 ? read.output : QByteArray("<nothing: xclip failed>");
}

// Another program's copy: xclip owns the clipboard with `text` until it is stopped.
class CopyByAnotherProgram {
public:
    explicit CopyByAnotherProgram(const QByteArray& text) {
        xclip_.start(QStringLiteral("xclip"),
                     {QStringLiteral("-i"), QStringLiteral("-selection"),
                      QStringLiteral("clipboard"), QStringLiteral("-quiet")});
        started_ = xclip_.waitForStarted(5000);
        xclip_.write(text);
        xclip_.closeWriteChannel();
    }
    ~CopyByAnotherProgram() {
        if (xclip_.state() != QProcess::NotRunning) {
            xclip_.kill();  // SIGKILL to its process id
            xclip_.waitForFinished(3000);
        }
    }
    CopyByAnotherProgram(const CopyByAnotherProgram&) = delete;
    CopyByAnotherProgram& operator=(const CopyByAnotherProgram&) = delete;

    bool started() const { return started_; }

private:
    QProcess xclip_;
    bool started_ = false;
};

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
        actor = std::make_unique<QtMainActor>();
        publisher = std::make_unique<ClipboardPublisher>(*pasteboard, *actor);
    }
    void TearDown() override {
        publisher.reset();
        actor.reset();
        pasteboard.reset();
        otherCopies.clear();
        if (QGuiApplication::platformName() == QLatin1String("xcb")) {
            QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
            runEventsFor(100);
        }
    }

    // Earlier copies keep running until the end of the test: stopping one that still owns the
    // clipboard would empty it, which is a change of its own.
    void copyElsewhere(const QByteArray& text) {
        otherCopies.push_back(std::make_unique<CopyByAnotherProgram>(text));
        ASSERT_TRUE(otherCopies.back()->started()) << "xclip did not start";
    }

    // Waits, bounded, until the pasteboard notices a change after `count`.
    bool countMovesPast(long count) {
        return runEventsUntil([&] { return pasteboard->changeCount() != count; }, 3000);
    }

    std::unique_ptr<QtPasteboard> pasteboard;
    std::unique_ptr<QtMainActor> actor;
    std::unique_ptr<ClipboardPublisher> publisher;
    std::vector<std::unique_ptr<CopyByAnotherProgram>> otherCopies;
};

TEST_F(ClipboardIntegration, OtherProgramsSeeTheCodeAsPlainTextWithBothMarkers) {
    publisher->copyToPasteboard(QStringLiteral("493817"), 60);

    EXPECT_EQ(clipboardTextSeenByXclip(), "493817");

    const ClipboardRead targets = readWithXclip({QStringLiteral("-t"), QStringLiteral("TARGETS")});
    ASSERT_TRUE(targets.finished);
    ASSERT_EQ(targets.exitCode, 0);
    const QList<QByteArray> offered = targets.output.split('\n');
    EXPECT_TRUE(offered.contains("UTF8_STRING")) << targets.output.toStdString();
    EXPECT_TRUE(offered.contains("org.nspasteboard.ConcealedType")) << targets.output.toStdString();
    EXPECT_TRUE(offered.contains("x-kde-passwordManagerHint")) << targets.output.toStdString();

    const ClipboardRead marker =
        readWithXclip({QStringLiteral("-t"), QStringLiteral("org.nspasteboard.ConcealedType")});
    ASSERT_TRUE(marker.finished);
    EXPECT_EQ(marker.exitCode, 0);
    EXPECT_EQ(marker.output, "");

    const ClipboardRead hint =
        readWithXclip({QStringLiteral("-t"), QStringLiteral("x-kde-passwordManagerHint")});
    ASSERT_TRUE(hint.finished);
    EXPECT_EQ(hint.exitCode, 0);
    EXPECT_EQ(hint.output, "secret");

    EXPECT_EQ(pasteboard->string(plainText), QStringLiteral("493817"));
    EXPECT_EQ(pasteboard->string(concealed), QString());
}

TEST_F(ClipboardIntegration, WithNoOtherActivityTheClipboardIsEmptyAfterTheDelay) {
    QElapsedTimer sinceCopy;
    sinceCopy.start();
    publisher->copyToPasteboard(QStringLiteral("493817"), 0.5);
    EXPECT_EQ(clipboardTextSeenByXclip(), "493817");
    ASSERT_LT(sinceCopy.elapsed(), 500) << "reading took longer than the delay";

    ASSERT_TRUE(runEventsUntil([&] { return publisher->clearTask().isFinished(); }, 5000));
    EXPECT_GE(sinceCopy.elapsed(), 500);

    const ClipboardRead afterwards = readWithXclip();
    ASSERT_TRUE(afterwards.finished);
    EXPECT_NE(afterwards.exitCode, 0) << "still offered: " << afterwards.output.toStdString();
    EXPECT_EQ(afterwards.output, "");
    EXPECT_FALSE(pasteboard->string(plainText));
}

TEST_F(ClipboardIntegration, CopyByAnotherProgramBeforeTheDelaySurvivesIt) {
    publisher->copyToPasteboard(QStringLiteral("493817"), 0.5);
    const long count = pasteboard->changeCount();
    copyElsewhere("meeting notes");
    ASSERT_TRUE(countMovesPast(count)) << "the other program's copy was never noticed";
    ASSERT_FALSE(publisher->clearTask().isFinished())
        << "the other program's copy was noticed only after the delay";

    ASSERT_TRUE(runEventsUntil([&] { return publisher->clearTask().isFinished(); }, 5000));
    runEventsFor(100);
    EXPECT_EQ(clipboardTextSeenByXclip(), "meeting notes");
    EXPECT_EQ(pasteboard->string(plainText), QStringLiteral("meeting notes"));
}

TEST_F(ClipboardIntegration, OwnWritesDoNotRaiseTheCountLater) {
    const long cleared = pasteboard->clearContents();
    EXPECT_EQ(pasteboard->changeCount(), cleared);
    EXPECT_TRUE(pasteboard->setString(QStringLiteral("493817"), plainText));
    EXPECT_TRUE(pasteboard->setString(QString(), concealed));
    EXPECT_EQ(pasteboard->changeCount(), cleared);

    // Serving another program's read is no change either.
    EXPECT_EQ(clipboardTextSeenByXclip(), "493817");
    runEventsFor(300);
    EXPECT_EQ(pasteboard->changeCount(), cleared);

    // A clear on its own is reported by the X server once more a few milliseconds later.
    const long clearedAgain = pasteboard->clearContents();
    EXPECT_EQ(clearedAgain, cleared + 1);
    runEventsFor(300);
    EXPECT_EQ(pasteboard->changeCount(), clearedAgain);
}

TEST_F(ClipboardIntegration, EveryCopyByAnotherProgramRaisesTheCount) {
    publisher->copyToPasteboard(QStringLiteral("493817"), 60);
    const long ours = pasteboard->changeCount();

    copyElsewhere("493817");  // the very same text
    ASSERT_TRUE(countMovesPast(ours));
    runEventsFor(200);
    const long afterFirst = pasteboard->changeCount();
    EXPECT_EQ(pasteboard->string(plainText), QStringLiteral("493817"));
    EXPECT_FALSE(pasteboard->string(concealed)) << "xclip offers no marker";

    copyElsewhere("meeting notes");
    EXPECT_TRUE(countMovesPast(afterFirst));
    EXPECT_EQ(pasteboard->string(plainText), QStringLiteral("meeting notes"));
}

TEST_F(ClipboardIntegration, ClearingEmptiesAnotherProgramsEntry) {
    const long before = pasteboard->changeCount();
    copyElsewhere("meeting notes");
    ASSERT_TRUE(countMovesPast(before));

    pasteboard->clearContents();
    const ClipboardRead afterwards = readWithXclip();
    ASSERT_TRUE(afterwards.finished);
    EXPECT_NE(afterwards.exitCode, 0) << "still offered: " << afterwards.output.toStdString();
    EXPECT_FALSE(pasteboard->string(plainText));
}

TEST_F(ClipboardIntegration, WritingAfterAnotherProgramTookTheClipboardFails) {
    const long cleared = pasteboard->clearContents();
    copyElsewhere("meeting notes");
    ASSERT_TRUE(countMovesPast(cleared));

    EXPECT_FALSE(pasteboard->setString(QStringLiteral("493817"), plainText));
    EXPECT_EQ(clipboardTextSeenByXclip(), "meeting notes");
}

}  // namespace
