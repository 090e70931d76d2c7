// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "ZorvikMac/CodeDelivery/ClipboardPublisher.h"
#include "platform/Pasteboard.h"
#include "platform/linux/desktop/DataControlSelection.h"
#include "tests/support/ManualMainActor.h"

namespace {

using Request = DataControlSelection::Request;
using Offer = DataControlSelection::Offer;
// What knownString answers: nothing when only the compositor knows.
using Known = std::optional<std::optional<QString>>;

const QString plainText = QString::fromLatin1(Pasteboard::stringType);
const QString concealed = QString::fromLatin1(Pasteboard::concealedType);

// The books as the publisher sees them, as DataControlPasteboard wraps them.
class BookPasteboard final : public Pasteboard {
public:
    explicit BookPasteboard(DataControlSelection& book) : book_(book) {}
    long clearContents() override { return book_.clearContents(); }
    bool setString(const QString& value, const QString& type) override {
        return book_.setString(value, type);
    }
    std::optional<QString> string(const QString& type) const override {
        return book_.knownString(type).value_or(std::nullopt);
    }
    long changeCount() const override { return book_.changeCount(); }

private:
    DataControlSelection& book_;
};

// Plays the compositor: what it answers to our requests, and another program's copy.
class DataControlBooks : public testing::Test {
protected:
    // The end of a turn of the event loop: the writes go out, and the compositor echoes the
    // change and answers the round trip.
    Request publishAndEcho() {
        const Request request = book.takeRequest();
        if (request != Request::none) {
            book.selectionChanged();
            book.roundTripDone();
        }
        return request;
    }
    // Our copy of the code, not yet gone out.
    void copyOurs() {
        book.clearContents();
        book.setString(QStringLiteral("493817"), plainText);
    }
    // Another program sets the selection: our source, if live, is cancelled first.
    void copyElsewhere() {
        book.ownSourceCancelled();
        book.selectionChanged();
    }

    DataControlSelection book;
};

TEST_F(DataControlBooks, TheWritesOfOneTurnGoOutAsOneEntryWithTheHintsOnlyWhenConcealed) {
    book.clearContents();
    EXPECT_TRUE(book.setString(QStringLiteral("493817"), plainText));
    EXPECT_TRUE(book.setString(QString(), concealed));
    EXPECT_EQ(book.takeRequest(), Request::setEntry);
    EXPECT_EQ(book.takeRequest(), Request::none) << "one request for the three writes";
    const QList<Offer> expected{{"text/plain;charset=utf-8", "493817"},
                                {"text/plain", "493817"},
                                {"UTF8_STRING", "493817"},
                                {"STRING", "493817"},
                                {"TEXT", "493817"},
                                {"org.nspasteboard.ConcealedType", ""},
                                {"x-kde-passwordManagerHint", "secret"}};
    EXPECT_EQ(book.offers(), expected);

    book.clearContents();
    book.setString(QStringLiteral("diagnostics"), plainText);
    EXPECT_EQ(book.takeRequest(), Request::setEntry);
    EXPECT_EQ(book.offers().size(), 5);
    for (const auto& offer : book.offers()) {
        EXPECT_EQ(offer.second, "diagnostics") << offer.first.toStdString();
    }
}

TEST_F(DataControlBooks, TheEchoOfOurOwnChangeIsNoChange) {
    copyOurs();
    const long ours = book.changeCount();
    publishAndEcho();
    EXPECT_EQ(book.changeCount(), ours);
    EXPECT_TRUE(book.holdsOwnEntry());
    // A later announcement with our source still live: nobody replaced it.
    book.selectionChanged();
    EXPECT_EQ(book.changeCount(), ours);
}

TEST_F(DataControlBooks, AChangeOlderThanOursArrivingBeforeTheRoundTripIsNoChange) {
    copyOurs();
    const long ours = book.changeCount();
    ASSERT_EQ(book.takeRequest(), Request::setEntry);
    book.selectionChanged();  // another program's copy, which ours replaced
    book.selectionChanged();  // ours
    book.roundTripDone();
    EXPECT_EQ(book.changeCount(), ours);
}

// The cancellation and the selection event that follow one copy elsewhere may count as two
// changes; the contract asks for at least one.
TEST_F(DataControlBooks, AnotherProgramTakingTheSelectionMovesTheCount) {
    copyOurs();
    const long ours = book.changeCount();
    publishAndEcho();
    book.ownSourceCancelled();
    EXPECT_EQ(book.changeCount(), ours + 1) << "the cancellation alone tells";
    book.selectionChanged();
    EXPECT_GE(book.changeCount(), ours + 1);
    EXPECT_FALSE(book.holdsOwnEntry());
    EXPECT_FALSE(book.knownString(plainText)) << "the text is someone else's now";
    EXPECT_FALSE(book.setString(QString(), concealed)) << "our entry is gone";
}

TEST_F(DataControlBooks, ACopyAfterOurClearMovesTheCount) {
    book.clearContents();
    EXPECT_EQ(publishAndEcho(), Request::clear);
    const long cleared = book.changeCount();
    EXPECT_EQ(book.knownString(plainText), Known(std::optional<QString>())) << "known to be empty";
    copyElsewhere();
    EXPECT_EQ(book.changeCount(), cleared + 1);
    EXPECT_FALSE(book.knownString(plainText));
}

TEST_F(DataControlBooks, OurEntryAnswersFromMemoryBeforeAndAfterItWentOut) {
    copyOurs();
    book.setString(QString(), concealed);
    EXPECT_EQ(book.knownString(plainText), Known(QStringLiteral("493817")));
    publishAndEcho();
    EXPECT_EQ(book.knownString(concealed), Known(QString()));
    EXPECT_EQ(book.knownString(QStringLiteral("public.html")), Known(std::optional<QString>()));
}

TEST_F(DataControlBooks, ALostConnectionTakesOurEntryWithIt) {
    copyOurs();
    publishAndEcho();
    const long ours = book.changeCount();
    book.connectionLost();
    EXPECT_EQ(book.changeCount(), ours + 1);
    book.clearContents();
    EXPECT_FALSE(book.setString(QStringLiteral("111111"), plainText));
    EXPECT_EQ(book.takeRequest(), Request::none) << "nothing can go out any more";
}

// The publisher's rule on these books, on virtual time: the code leaves at expiry only while
// the clipboard still holds our entry. (A copy made well after ours is left alone end to end on
// sway, tests/e2e/sway-clipboard.sh.)
class PublishingThroughDataControl : public DataControlBooks {
protected:
    ManualMainActor actor;
    BookPasteboard pasteboard{book};
    ClipboardPublisher publisher{pasteboard, actor};
};

TEST_F(PublishingThroughDataControl, AnUnchangedCodeIsClearedAtExpiry) {
    publisher.copyToPasteboard(QStringLiteral("493817"), 30);
    EXPECT_EQ(publishAndEcho(), Request::setEntry);
    actor.advance(29.999);
    EXPECT_EQ(book.takeRequest(), Request::none);
    actor.advance(0.001);
    EXPECT_EQ(book.takeRequest(), Request::clear);
}

// Before the round trip of our request has come back, but after it took effect: the compositor
// cancels our source.
TEST_F(PublishingThroughDataControl, ACopyRightAfterOursIsNotClearedAtExpiry) {
    publisher.copyToPasteboard(QStringLiteral("493817"), 30);
    ASSERT_EQ(book.takeRequest(), Request::setEntry);
    book.selectionChanged();
    copyElsewhere();
    book.roundTripDone();
    actor.advance(600);
    EXPECT_EQ(book.takeRequest(), Request::none);
}

}  // namespace
