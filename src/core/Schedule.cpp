#include "core/Schedule.h"

#include <algorithm>

namespace zelvo {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

// Whether a second of [first, last] shows slotSecond as its time of day.
bool Contains(std::int64_t first, std::int64_t last, int slotSecond) {
    if (first > last) return false;
    if (last - first + 1 >= kSecondsPerDay) return true;
    const std::int64_t ahead = (slotSecond - SecondOfDayOf(first) + kSecondsPerDay) % kSecondsPerDay;
    return first + ahead <= last;
}

}  // namespace

SlotScheduler::Tick SlotScheduler::BeginTick(std::int64_t current) {
    Tick tick;
    tick.start = current;
    tick.previousEnd = lastHandled_;
    if (lastHandled_) {
        const std::int64_t gap = current - *lastHandled_;
        tick.catchUp = gap >= 2 && gap <= kMaxCatchUpSeconds;
    }
    lastHandled_ = current;
    return tick;
}

bool SlotScheduler::IsDue(const Tick& tick, int slot, bool checked, int slotSecond, std::int64_t current,
                          Missed* missed) {
    lastHandled_ = current;
    auto& last = lastExamined_.at(static_cast<std::size_t>(slot - 1));
    const std::optional<std::int64_t> previous = last;
    last = current;
    if (missed) *missed = Missed::No;
    if (!checked) return false;
    // Seconds up to the one this slot examined last are done with, unless
    // the clock went back behind it (then the current second counts again).
    const std::int64_t after = (previous && *previous <= current) ? *previous : current - 1;
    const bool caughtUp = tick.catchUp && tick.previousEnd &&
                          Contains(std::max(*tick.previousEnd + 1, after + 1), std::min(tick.start - 1, current - 1),
                                   slotSecond);
    const bool due = caughtUp || ((!previous || *previous != current) && SecondOfDayOf(current) == slotSecond);
    // From the slot's previous examination on, its tick went on to its end;
    // then came the seconds in which no tick was handled, and then this tick
    // up to now. Readings out of that order mean the clock went back.
    if (missed && previous && tick.previousEnd && *previous <= *tick.previousEnd &&
        *tick.previousEnd <= tick.start && tick.start <= current) {
        if (Contains(*previous + 1, *tick.previousEnd, slotSecond) || Contains(tick.start, current - 1, slotSecond)) {
            *missed = Missed::InsideATick;
        } else if (!tick.catchUp && Contains(*tick.previousEnd + 1, tick.start - 1, slotSecond)) {
            *missed = Missed::BetweenTicks;
        }
    }
    return due;
}

}  // namespace zelvo
