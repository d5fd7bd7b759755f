// Matching the three daily backup times against the clock.
#pragma once

#include "core/DateTime.h"
#include "core/Settings.h"

#include <array>
#include <cstdint>
#include <optional>

namespace zelvo {

// A slot matches when its box is checked and the current time formatted
// "hh:mm:ss" equals the slot's time formatted the same way, that is, when the
// clock reading falls in the slot's second of the day. Readings come in as
// whole seconds (WholeSeconds), taken once from each reading.
//
// A 1000 ms timer drifts, so a tick may land more than a second after the
// previous one and a backup set for the skipped second would silently not
// happen. The scheduler therefore remembers the last clock reading taken in
// any handled tick: when a tick starts 2 or 3 seconds after it, the seconds in
// between, in which no tick was handled at all, are examined by this tick
// too. Seconds that passed inside a handled tick (during a run, behind a box
// that ended its tick) are not caught up; a larger gap or a clock that went
// backwards counts only the current second. Per slot it remembers the second
// examined last, so no slot examines the same second twice in a row.
//
// A checked slot whose second of the day passed, since its previous
// examination, in a second that no examination of it covered was missed: the
// examination tells so once, however many days went by, and whether that
// second passed inside a handled tick (a run started by a slot held
// the tick) or between two ticks (the computer slept, the process was
// stopped, the clock was set forward). The first examination of a slot, and
// one after the clock went backwards, tell nothing.
class SlotScheduler {
public:
    static constexpr int kMaxCatchUpSeconds = 3;

    enum class Missed { No, InsideATick, BetweenTicks };

    struct Tick {
        // Its first clock reading, and the last reading of the tick handled
        // before it (none: this is the first).
        std::int64_t start = 0;
        std::optional<std::int64_t> previousEnd;
        // The seconds in between, in which no tick was handled, are few
        // enough for a drifting timer's: this tick examines them too.
        bool catchUp = false;
    };

    // Starts a tick at its first clock reading.
    Tick BeginTick(std::int64_t nowSecond);

    // Examines slot (1-based) within `tick` at the clock reading `nowSecond`;
    // true when its backup is due. slotSecond is the slot's time as
    // SecondOfDay gives it. An unchecked slot is never due, but the seconds
    // still count as examined. The first call for a slot examines only the
    // current second. When `missed` is given, it tells whether the slot's
    // second passed unexamined since the slot's previous examination.
    bool IsDue(const Tick& tick, int slot, bool checked, int slotSecond, std::int64_t nowSecond,
               Missed* missed = nullptr);

    // Notes a clock reading taken inside a handled tick (its end).
    void Handled(std::int64_t nowSecond) { lastHandled_ = nowSecond; }

private:
    std::optional<std::int64_t> lastHandled_;
    std::array<std::optional<std::int64_t>, kSlotCount> lastExamined_{};
};

}  // namespace zelvo
