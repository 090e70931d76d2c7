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
    void putPhoneCode(const QString& digits, double phoneAhead) {
        PendingCode pending = code(digits);
        pending.issuedAt = addingSeconds(pending.issuedAt, phoneAhead);
        pending.expiresAt = addingSeconds(pending.issuedAt, 90);
        putRecord(pending);
    }
    SetupRow firstCodeRow() const {
        return setupRows(receiver->probe(), actor.now(), QTimeZone::utc()).last();
    }
};

TEST_F(CodeReceiverClock, AClockAheadOfThePhonesIsToldWhenANewCodeArrivesExpired) {
    make();
    fetchNow();  // nothing pending yet
    putPhoneCode("111111", -3600);
    fetchNow();
    const QString ahead =
        "This computer's clock is about 1 hour ahead of your iPhone's, so codes arrive expired: "
        "set it automatically in the system's date and time settings, or with \"timedatectl "
        "set-ntp true\"";
    EXPECT_EQ(firstCodeRow().state, SetupRow::State::failed);
    EXPECT_EQ(firstCodeRow().title, ahead);
    EXPECT_TRUE(needsAttention(setupRows(receiver->probe(), actor.now(), QTimeZone::utc())));
    putPhoneCode("222222", -3590);
    fetchNow();
    EXPECT_EQ(errorLines(), QStringList{ahead}) << "said once while it lasts";

    putPhoneCode("333333", -2);
    fetchNow();
    EXPECT_EQ(latestCode(), "333333");
    EXPECT_EQ(firstCodeRow().state, SetupRow::State::ok);
    EXPECT_EQ(log.messages().count("this computer's clock agrees with the phone's again"), 1);
}

TEST_F(CodeReceiverClock, ACodeFromAPhoneAheadIsHeldNoLongerThanItsLifetime) {
    make();
    putPhoneCode("123456", 3600);
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
    putPhoneCode("123456", -7200);
    make();
    fetchNow();
    fetchNow();
    EXPECT_EQ(receiver->probe().clockOffset, std::nullopt);
    actor.advance(8 * 3600);
    putPhoneCode("111111", -3600);  // sent an hour ago, during the night
    fetchNow();
    actor.advance(65);
    putPhoneCode("222222", -62);  // a code a minute old at a slow poll
    fetchNow();
    EXPECT_EQ(latestCode(), "222222");
    EXPECT_EQ(receiver->probe().clockOffset, std::nullopt);
    EXPECT_EQ(errorLines(), QStringList());
}

// A cloud that tells its time judges the clock at every check, records or not.
TEST_F(CodeReceiverClock, TheCloudsTimeJudgesTheClockAtEveryCheck) {
    make();
    cloud.backend.clockAhead = 7200;
    checkNow();
    EXPECT_EQ(firstCodeRow().state, SetupRow::State::failed);
    EXPECT_TRUE(firstCodeRow().title.startsWith("This computer's clock is about 2 hours ahead"));
    cloud.backend.clockAhead = 0;
    checkNow();
    EXPECT_EQ(receiver->probe().clockOffset, std::nullopt);
}

TEST(ClockOffsetText, RoundsToWhatAPersonWouldSay) {
    const std::pair<double, const char*> rows[] = {
        {61, "1 minute"},  {-150, "3 minutes"},     {59 * 60, "59 minutes"},    {-3590, "1 hour"},
        {5500, "2 hours"}, {47 * 3600, "47 hours"}, {3 * 86400 + 100, "3 days"}};
    for (const auto& [seconds, amount] : rows) {
        const QString side = seconds > 0 ? " ahead" : " behind";
        EXPECT_EQ(clockOffsetText(seconds).section(" about ", 1).section(side, 0, 0), amount);
    }
}

}  // namespace
