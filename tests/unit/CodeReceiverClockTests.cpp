// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Readiness/SetupRow.h"
#include "tests/support/QStringPrinter.h"
#include "tests/unit/CodeReceiverTestFixture.h"

// The phone's clock and this computer's disagree: codes still follow the validity rule, none
// is held longer than its own lifetime, and the user is told of the clock in plain words.
namespace {

class CodeReceiverClock : public CodeReceiverTest {
protected:
    // A code the phone issued `phoneAhead` seconds ahead of this computer's clock, for 90 s.
    PendingCode phoneCode(const QString& digits, double phoneAhead) const {
        PendingCode pending = code(digits);
        pending.issuedAt = addingSeconds(pending.issuedAt, phoneAhead);
        pending.expiresAt = addingSeconds(pending.issuedAt, 90);
        return pending;
    }
    SetupRow firstCodeRow() const {
        return setupRows(receiver->probe(), actor.now(), QTimeZone::utc()).last();
    }
    QStringList errors() const {
        QStringList lines;
        for (const auto& line : log.lines) {
            if (line.level == LogLevel::error) {
                lines.append(line.message);
            }
        }
        return lines;
    }
};

TEST_F(CodeReceiverClock, AClockAheadOfThePhonesIsToldWhenANewCodeArrivesExpired) {
    make();
    fetchNow();  // nothing pending yet
    putRecord(phoneCode("111111", -3600));
    fetchNow();
    const QString ahead =
        "This computer's clock is about 1 hour ahead of your iPhone's, so codes arrive expired: "
        "set it automatically in the system's date and time settings, or with \"timedatectl "
        "set-ntp true\"";
    EXPECT_EQ(firstCodeRow().state, SetupRow::State::failed);
    EXPECT_EQ(firstCodeRow().title, ahead);
    EXPECT_TRUE(needsAttention(setupRows(receiver->probe(), actor.now(), QTimeZone::utc())));
    putRecord(phoneCode("222222", -3590));
    fetchNow();
    EXPECT_EQ(errors(), QStringList{ahead}) << "said once while it lasts";

    putRecord(phoneCode("333333", -2));
    fetchNow();
    EXPECT_EQ(receiver->latest()->code, "333333");
    EXPECT_EQ(firstCodeRow().state, SetupRow::State::ok);
    EXPECT_EQ(log.messages().count("this computer's clock agrees with the phone's again"), 1);
}

TEST_F(CodeReceiverClock, ACodeFromAPhoneAheadIsHeldNoLongerThanItsLifetime) {
    make();
    putRecord(phoneCode("123456", 3600));
    fetchNow();
    ASSERT_TRUE(receiver->latest());
    EXPECT_EQ(receiver->latest()->expiresAt, addingSeconds(actor.now(), 90));
    EXPECT_EQ(store->load()->expiresAt, addingSeconds(actor.now(), 90));
    EXPECT_EQ(firstCodeRow().title,
              "This computer's clock is about 1 hour behind your iPhone's: set it automatically "
              "in the system's date and time settings, or with \"timedatectl set-ntp true\"")
        << "an issue time ahead of ours is never a stale record";
    actor.advance(91);
    EXPECT_FALSE(receiver->latest());
    EXPECT_FALSE(pasteboard.string(Pasteboard::stringType)) << "the clipboard cleared with it";
}

// A record found at start, or one that appeared while the computer slept, was offline or polled
// slowly, was written at some time since the last fetch: its age says nothing of the clocks.
TEST_F(CodeReceiverClock, ARecordOfUnknownAgeSaysNothingOfTheClock) {
    putRecord(phoneCode("123456", -7200));
    make();
    fetchNow();
    fetchNow();
    EXPECT_EQ(receiver->probe().clockOffset, std::nullopt);
    actor.advance(8 * 3600);
    putRecord(phoneCode("111111", -3600));  // sent an hour ago, during the night
    fetchNow();
    actor.advance(65);
    putRecord(phoneCode("222222", -62));  // a code a minute old at a slow poll
    fetchNow();
    EXPECT_EQ(receiver->latest()->code, "222222");
    EXPECT_EQ(receiver->probe().clockOffset, std::nullopt);
    EXPECT_TRUE(errors().isEmpty()) << errors().join("\n").toStdString();
}

// A cloud that tells its time judges the clock at every check, records or not.
TEST_F(CodeReceiverClock, TheCloudsTimeJudgesTheClockAtEveryCheck) {
    make();
    cloud.backend.clockAhead = 7200;
    actor.spawn(receiver->runChecks());
    actor.runUntilIdle();
    EXPECT_EQ(firstCodeRow().state, SetupRow::State::failed);
    EXPECT_TRUE(firstCodeRow().title.startsWith("This computer's clock is about 2 hours ahead"));
    cloud.backend.clockAhead = 0;
    actor.spawn(receiver->runChecks());
    actor.runUntilIdle();
    EXPECT_EQ(receiver->probe().clockOffset, std::nullopt);
}

TEST(ClockOffsetText, RoundsToWhatAPersonWouldSay) {
    const auto amount = [](double seconds) {
        const QString text = clockOffsetText(seconds);
        return text.section(" about ", 1).section(seconds > 0 ? " ahead" : " behind", 0, 0);
    };
    EXPECT_EQ(amount(61), "1 minute");
    EXPECT_EQ(amount(-150), "3 minutes");
    EXPECT_EQ(amount(59 * 60), "59 minutes");
    EXPECT_EQ(amount(-3590), "1 hour");
    EXPECT_EQ(amount(5500), "2 hours");
    EXPECT_EQ(amount(47 * 3600), "47 hours");
    EXPECT_EQ(amount(3 * 86400 + 100), "3 days");
}

}  // namespace
