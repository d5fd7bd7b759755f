#include "core/Schedule.h"

#include <algorithm>

namespace zelvo {

SlotScheduler::Tick SlotScheduler::BeginTick(std::int64_t current) {
    Tick tick;
    if (lastHandled_) {
        const std::int64_t gap = current - *lastHandled_;
        if (gap >= 2 && gap <= kMaxCatchUpSeconds) tick = Tick{*lastHandled_ + 1, current - 1};
    }
    lastHandled_ = current;
    return tick;
}

bool SlotScheduler::IsDue(const Tick& tick, int slot, bool checked, int slotSecond, std::int64_t current) {
    lastHandled_ = current;
    auto& last = lastExamined_.at(static_cast<std::size_t>(slot - 1));
    // Seconds up to the one this slot examined last are done with, unless
    // the clock went back behind it (then the current second counts again).
    const std::int64_t after = (last && *last <= current) ? *last : current - 1;
    const std::int64_t catchUpFirst = std::max(tick.first, after + 1);
    const std::int64_t catchUpLast = std::min(tick.last, current - 1);
    const bool currentIsNew = !last || *last != current;
    last = current;
    if (!checked) return false;
    const auto matches = [slotSecond](std::int64_t second) { return SecondOfDayOf(second) == slotSecond; };
    for (std::int64_t second = catchUpFirst; second <= catchUpLast; ++second) {
        if (matches(second)) return true;
    }
    return currentIsNew && matches(current);
}

}  // namespace zelvo
