#include "core/Schedule.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace zelvo {
namespace {

const DateTime kDay = EncodeDate(2026, 12, 7);

// A clock reading of kDay as the scheduler takes it: whole seconds.
std::int64_t At(int hour, int minute, int second, int ms = 0) {
    return WholeSeconds(kDay + EncodeTime(hour, minute, second, ms));
}

const int kNoon = SecondOfDay(EncodeTime(12, 0, 0));

class SlotSchedulerTest : public ::testing::Test {
protected:
    // One tick that examines slot 1 (checked at noon) at `now`.
    bool Tick(std::int64_t now) { return Tick(scheduler, now); }
    static bool Tick(SlotScheduler& s, std::int64_t now, int slotSecond = kNoon) {
        return s.IsDue(s.BeginTick(now), 1, true, slotSecond, now);
    }

    SlotScheduler scheduler;
};

// The last millisecond of a second and the first of the next, and the turn of
// the day, for a slot at the day's last second: readings as the clock gives
// them, through the same conversion as the program's.
TEST_F(SlotSchedulerTest, EdgesOfTheSecondAndOfTheDay) {
    const DateTime nextDay = kDay + 1;
    const int lastSecond = SecondOfDay(EncodeTime(23, 59, 59));
    const double halfMs = 0.5 / 86400000;
    struct Row {
        const char* what;
        int slot;
        std::vector<DateTime> readings;
        std::vector<bool> due;
    };
    const Row rows[] = {
        {"ms before, first ms, last ms, next day", lastSecond,
         {kDay + EncodeTime(23, 59, 58, 999), kDay + EncodeTime(23, 59, 59, 0), kDay + EncodeTime(23, 59, 59, 999),
          nextDay + EncodeTime(0, 0, 0, 0)},
         {false, true, false, false}},
        {"last ms only", lastSecond, {kDay + EncodeTime(23, 59, 58, 0), kDay + EncodeTime(23, 59, 59, 999)},
         {false, true}},
        {"skipped over midnight, caught up", lastSecond,
         {kDay + EncodeTime(23, 59, 58, 999), nextDay + EncodeTime(0, 0, 0, 0)}, {false, true}},
        {"the day after, again", lastSecond,
         {nextDay + EncodeTime(23, 59, 58, 999), nextDay + EncodeTime(23, 59, 59, 0)}, {false, true}},
        {"just short of midnight reads as midnight", 0,
         {kDay + EncodeTime(23, 59, 59, 999) + 0.8 * halfMs, kDay + EncodeTime(23, 59, 59, 999) + 1.2 * halfMs},
         {false, true}},
        {"a reading is one second however it was summed", 0,
         {kDay + EncodeTime(23, 59, 59, 999) + EncodeTime(0, 0, 0, 1), nextDay}, {true, false}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SlotScheduler s;
        for (std::size_t i = 0; i < row.readings.size(); ++i) {
            EXPECT_EQ(Tick(s, WholeSeconds(row.readings[i]), row.slot), row.due[i]) << i;
        }
    }
    // A picker's time is taken to the second its text shows, whatever its date and milliseconds.
    EXPECT_EQ(SecondOfDay(EncodeDate(2001, 5, 6) + EncodeTime(23, 59, 59, 999)), lastSecond);
    EXPECT_EQ(SecondOfDay(EncodeTime(23, 59, 59, 999) + 1.2 * halfMs), 0);
    EXPECT_EQ(SecondOfDay(-0.75), SecondOfDay(EncodeTime(6, 0, 0)));
}

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
    const int picker = SecondOfDay(EncodeDate(2001, 5, 6) + EncodeTime(12, 0, 0, 700));
    const std::int64_t now = At(12, 0, 0, 100);
    EXPECT_TRUE(scheduler.IsDue(scheduler.BeginTick(now), 2, true, picker, now));
}

TEST_F(SlotSchedulerTest, UncheckedIsNeverDueButItsSecondCountsAsExamined) {
    for (int ms = 0; ms < 1000; ms += 250) {
        const std::int64_t now = At(12, 0, 0, ms);
        EXPECT_FALSE(scheduler.IsDue(scheduler.BeginTick(now), 1, false, kNoon, now));
    }
    // Ticked within the same second: that second was already examined.
    EXPECT_FALSE(Tick(At(12, 0, 0, 999)));
}

TEST_F(SlotSchedulerTest, DriftedTickStillCatchesTheSkippedSecondOnce) {
    EXPECT_FALSE(Tick(At(11, 59, 59, 900)));
    EXPECT_TRUE(Tick(At(12, 0, 1, 100)));
    EXPECT_FALSE(Tick(At(12, 0, 2, 100)));
}

TEST_F(SlotSchedulerTest, CatchUpReachesThreeSecondsBackAndNoFurther) {
    EXPECT_FALSE(Tick(At(11, 59, 58, 500)));
    EXPECT_TRUE(Tick(At(12, 0, 1, 500)));  // gap 3: examines 11:59:59, 12:00:00, 12:00:01

    SlotScheduler jumped;
    EXPECT_FALSE(Tick(jumped, At(11, 59, 58, 500)));
    EXPECT_FALSE(Tick(jumped, At(12, 0, 2, 500)));  // gap 4: only 12:00:02
}

TEST_F(SlotSchedulerTest, ClockSetBackMatchesTheRepeatedSecondAgain) {
    EXPECT_FALSE(Tick(At(11, 59, 59, 500)));
    EXPECT_TRUE(Tick(At(12, 0, 0, 500)));
    int runs = 0;
    // Set back an hour, then ticking on through the repeated hour.
    for (int second = 1; second <= 3601; ++second)
        runs += Tick(At(11, 0, 0, 500) + second) ? 1 : 0;
    EXPECT_EQ(runs, 1);
}

TEST_F(SlotSchedulerTest, SlotsAreTrackedSeparately) {
    // Slot 1's examination must not count as slot 3's.
    const std::int64_t before = At(11, 59, 59, 500);
    SlotScheduler::Tick tick = scheduler.BeginTick(before);
    EXPECT_FALSE(scheduler.IsDue(tick, 1, true, kNoon, before));
    EXPECT_FALSE(scheduler.IsDue(tick, 3, true, kNoon, before));
    tick = scheduler.BeginTick(At(12, 0, 0, 500));
    EXPECT_TRUE(scheduler.IsDue(tick, 1, true, kNoon, At(12, 0, 0, 500)));
    EXPECT_TRUE(scheduler.IsDue(tick, 3, true, kNoon, At(12, 0, 0, 600)));
}

// Slots 1 and 3 both at noon; slot 1's run blocks the tick before slot 3 is
// examined against the clock after the run. Seconds that passed during the
// run were inside a handled tick and are not caught up, however short the
// run: slot 3 runs too only while noon is still current.
TEST_F(SlotSchedulerTest, SlotAfterARunRunsOnlyWhileItsSecondIsCurrent) {
    for (int runSeconds : {0, 1, 2, 5}) {
        SCOPED_TRACE(runSeconds);
        SlotScheduler s;
        SlotScheduler::Tick tick = s.BeginTick(At(11, 59, 59, 500));
        s.IsDue(tick, 1, true, kNoon, At(11, 59, 59, 500));
        s.IsDue(tick, 3, true, kNoon, At(11, 59, 59, 500));
        tick = s.BeginTick(At(12, 0, 0, 100));
        EXPECT_TRUE(s.IsDue(tick, 1, true, kNoon, At(12, 0, 0, 100)));
        EXPECT_EQ(s.IsDue(tick, 3, true, kNoon, At(12, 0, runSeconds, 600)), runSeconds == 0);
        s.Handled(At(12, 0, runSeconds, 700));
        // Neither the next tick nor a stretched one starts either slot again.
        for (int later : {1, 3}) {
            const std::int64_t next = At(12, 0, runSeconds + later, 0);
            tick = s.BeginTick(next);
            EXPECT_FALSE(s.IsDue(tick, 1, true, kNoon, next));
            EXPECT_FALSE(s.IsDue(tick, 3, true, kNoon, next));
        }
    }
}

// A tick that ends at slot 1 (missing source) leaves slot 2 unexamined in
// that second; the next tick does not catch that second up for slot 2,
// whether it comes at once or stretched, and whenever the tick ended.
TEST_F(SlotSchedulerTest, ASecondAnAbortedTickPassedIsNotExaminedAgain) {
    for (int endMs : {100, 900}) {
        for (int nextSecond : {1, 2}) {
            SCOPED_TRACE(testing::Message() << endMs << " " << nextSecond);
            SlotScheduler s;
            SlotScheduler::Tick tick = s.BeginTick(At(11, 59, 59, 500));
            s.IsDue(tick, 1, true, kNoon, At(11, 59, 59, 500));
            s.IsDue(tick, 2, true, kNoon, At(11, 59, 59, 500));
            tick = s.BeginTick(At(12, 0, 0, 50));
            EXPECT_TRUE(s.IsDue(tick, 1, true, kNoon, At(12, 0, 0, 50)));
            s.Handled(At(12, 0, 0, endMs));  // slot 2 not examined: the tick ended
            const std::int64_t next = At(12, 0, nextSecond, 0);
            tick = s.BeginTick(next);
            EXPECT_FALSE(s.IsDue(tick, 1, true, kNoon, next));
            EXPECT_FALSE(s.IsDue(tick, 2, true, kNoon, next));
        }
    }
}

// A checked slot's second that passed, since the slot's previous examination,
// in no second an examination of it covered is missed: told once, with where
// it passed (between two ticks, or inside a tick that a run held). Each tick
// gives the readings at which it examines slots 1, 2 and 3 and its end; each
// verdict a letter per slot: R due, G missed between ticks, H missed inside a
// tick, B missed between ticks and due again (a day later), . neither. A slot
// time of -1 is an unchecked slot at noon.
TEST_F(SlotSchedulerTest, ASecondNoExaminationCoveredIsMissedOnce) {
    using Readings = std::array<std::int64_t, 4>;
    const auto same = [](std::int64_t at) { return Readings{at, at, at, at}; };
    const std::int64_t day = 86400;
    const int noon = kNoon, at5 = kNoon + 5, at10 = kNoon + 10;
    struct Row {
        const char* what;
        std::array<int, 3> slots;
        std::vector<Readings> ticks;
        std::vector<std::string> verdicts;
    };
    const Row rows[] = {
        {"stopped 8 s across it", {noon, -1, -1}, {same(At(11, 59, 57)), same(At(12, 0, 5))}, {"...", "G.."}},
        {"3 s late: caught up and run", {noon, -1, -1}, {same(At(11, 59, 58)), same(At(12, 0, 1))}, {"...", "R.."}},
        {"clock set back a day", {noon, noon, noon}, {same(At(13, 0, 0) + day), same(At(13, 0, 0))}, {"...", "..."}},
        {"clock set back after a run that outlasted slot 1's second", {at5, noon, -1},
         {same(At(11, 59, 59)), {At(12, 0, 0), At(12, 0, 0), At(12, 0, 10), At(12, 0, 10)}, same(At(11, 55, 0))},
         {"...", ".R.", "..."}},
        {"three days, once per slot", {noon, at5, at10},
         {same(At(11, 0, 0)), same(At(11, 0, 0) + 3 * day), same(At(11, 0, 1) + 3 * day)},
         {"...", "GGG", "..."}},
        {"a day and its second again", {noon, -1, -1}, {same(At(11, 59, 59)), same(At(12, 0, 0) + day)},
         {"...", "B.."}},
        {"slot 1's run outlasts slot 2's second; slot 3 at the second after it runs", {noon, at5, at10},
         {same(At(11, 59, 59)), {At(12, 0, 0), At(12, 0, 10), At(12, 0, 10), At(12, 0, 10)}, same(At(12, 0, 11))},
         {"...", "RHR", "..."}},
        {"slot 2's run outlasts slot 1's second, told at the next tick", {at5, noon, -1},
         {same(At(11, 59, 59)), {At(12, 0, 0), At(12, 0, 0), At(12, 0, 10), At(12, 0, 10)}, same(At(12, 0, 11))},
         {"...", ".R.", "H.."}},
        {"unchecked", {-1, -1, -1}, {same(At(11, 59, 57)), same(At(12, 0, 5))}, {"...", "..."}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SlotScheduler s;
        for (std::size_t i = 0; i < row.ticks.size(); ++i) {
            const Readings& at = row.ticks[i];
            const SlotScheduler::Tick tick = s.BeginTick(at[0]);
            std::string verdict;
            for (int slot = 1; slot <= 3; ++slot) {
                const int second = row.slots[slot - 1];
                SlotScheduler::Missed missed = SlotScheduler::Missed::InsideATick;
                const bool due = s.IsDue(tick, slot, second >= 0, second >= 0 ? second : noon, at[slot - 1], &missed);
                static const char kLetters[3][2] = {{'.', 'R'}, {'H', 'h'}, {'G', 'B'}};
                verdict += kLetters[static_cast<int>(missed)][due ? 1 : 0];
            }
            s.Handled(at[3]);
            EXPECT_EQ(verdict, row.verdicts[i]) << i;
        }
    }
}

}  // namespace
}  // namespace zelvo
