#include "core/Schedule.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

const DateTime kDay = EncodeDate(2026, 12, 7);

DateTime At(int hour, int minute, int second, int ms = 0) {
    return kDay + EncodeTime(hour, minute, second, ms);
}

const DateTime kNoon = EncodeTime(12, 0, 0);

class SlotSchedulerTest : public ::testing::Test {
protected:
    // Slot 1 checked at noon, examined at `now`.
    bool Tick(DateTime now) { return scheduler.IsDue(1, true, kNoon, now); }

    SlotScheduler scheduler{FormatSettings{}};
};

TEST_F(SlotSchedulerTest, DueOnceWithinTheSlotsSecond) {
    EXPECT_FALSE(Tick(At(11, 59, 59, 50)));
    EXPECT_TRUE(Tick(At(12, 0, 0, 50)));
    EXPECT_FALSE(Tick(At(12, 0, 0, 950)));  // a second tick in the same second
    EXPECT_FALSE(Tick(At(12, 0, 1, 50)));
}

TEST_F(SlotSchedulerTest, TheFirstExaminationDoesNotLookBack) {
    EXPECT_FALSE(Tick(At(12, 0, 1, 0)));
}

TEST_F(SlotSchedulerTest, PickerDatePartAndMillisecondsPlayNoRole) {
    const DateTime picker = EncodeDate(2001, 5, 6) + EncodeTime(12, 0, 0, 700);
    EXPECT_TRUE(scheduler.IsDue(2, true, picker, At(12, 0, 0, 100)));
}

TEST_F(SlotSchedulerTest, UncheckedIsNeverDueButItsSecondCountsAsExamined) {
    for (int ms = 0; ms < 1000; ms += 250) EXPECT_FALSE(scheduler.IsDue(1, false, kNoon, At(12, 0, 0, ms)));
    // Ticked within the same second: that second was already examined.
    EXPECT_FALSE(scheduler.IsDue(1, true, kNoon, At(12, 0, 0, 999)));
}

TEST_F(SlotSchedulerTest, DriftedTickStillCatchesTheSkippedSecondOnce) {
    EXPECT_FALSE(Tick(At(11, 59, 59, 900)));
    EXPECT_TRUE(Tick(At(12, 0, 1, 100)));
    EXPECT_FALSE(Tick(At(12, 0, 2, 100)));
}

TEST_F(SlotSchedulerTest, CatchUpReachesThreeSecondsBackAndNoFurther) {
    EXPECT_FALSE(Tick(At(11, 59, 58, 500)));
    EXPECT_TRUE(Tick(At(12, 0, 1, 500)));  // gap 3: examines 11:59:59, 12:00:00, 12:00:01

    SlotScheduler jumped{FormatSettings{}};
    EXPECT_FALSE(jumped.IsDue(1, true, kNoon, At(11, 59, 58, 500)));
    EXPECT_FALSE(jumped.IsDue(1, true, kNoon, At(12, 0, 2, 500)));  // gap 4: only 12:00:02
}

TEST_F(SlotSchedulerTest, ClockSetBackMatchesTheRepeatedSecondAgain) {
    EXPECT_FALSE(Tick(At(11, 59, 59, 500)));
    EXPECT_TRUE(Tick(At(12, 0, 0, 500)));
    int runs = 0;
    // Set back an hour, then ticking on through the repeated hour.
    for (int second = 1; second <= 3601; ++second)
        runs += Tick(At(11, 0, 0, 500) + FromWholeSeconds(second)) ? 1 : 0;
    EXPECT_EQ(runs, 1);
}

TEST_F(SlotSchedulerTest, SlotsAreTrackedSeparately) {
    // Slot 1's tick must not count as slot 3's examination.
    EXPECT_FALSE(scheduler.IsDue(1, true, kNoon, At(11, 59, 59, 500)));
    EXPECT_FALSE(scheduler.IsDue(3, true, kNoon, At(11, 59, 59, 500)));
    EXPECT_TRUE(scheduler.IsDue(1, true, kNoon, At(12, 0, 0, 500)));
    EXPECT_TRUE(scheduler.IsDue(3, true, kNoon, At(12, 0, 0, 600)));
}

// Slots 1 and 3 both at noon; slot 1's run blocks the tick before slot 3 is
// examined. A run of up to three seconds leaves slot 3's second within the
// catch-up, so slot 3 runs too; a longer run skips it, as a jumped clock would.
TEST_F(SlotSchedulerTest, SlotAfterALongRunIsCaughtUpOnlyWithinThreeSeconds) {
    for (int runSeconds : {2, 5}) {
        SCOPED_TRACE(runSeconds);
        SlotScheduler s{FormatSettings{}};
        s.IsDue(1, true, kNoon, At(11, 59, 59, 500));
        s.IsDue(3, true, kNoon, At(11, 59, 59, 500));
        EXPECT_TRUE(s.IsDue(1, true, kNoon, At(12, 0, 0, 500)));
        EXPECT_EQ(s.IsDue(3, true, kNoon, At(12, 0, runSeconds, 600)), runSeconds <= 3);
        // The next tick after the run starts neither slot again.
        EXPECT_FALSE(s.IsDue(1, true, kNoon, At(12, 0, runSeconds + 1, 0)));
        EXPECT_FALSE(s.IsDue(3, true, kNoon, At(12, 0, runSeconds + 1, 0)));
    }
}

}  // namespace
}  // namespace zelvo
