#include "core/Schedule.h"

#include <string>

namespace zelvo {

bool SlotScheduler::IsDue(int slot, bool checked, DateTime slotTime, DateTime now) {
    const std::int64_t current = WholeSeconds(now);
    auto& last = lastExamined_.at(static_cast<std::size_t>(slot - 1));
    std::int64_t first = current;
    if (last) {
        const std::int64_t gap = current - *last;
        if (gap >= 1 && gap <= kMaxCatchUpSeconds) first = *last + 1;
        else if (gap == 0) first = current + 1;  // this second was examined already
    }
    last = current;
    if (!checked) return false;
    const std::string wanted = FormatDateTime(kTimeFormat, slotTime, fs_);
    for (std::int64_t second = first; second <= current; ++second) {
        if (FormatDateTime(kTimeFormat, FromWholeSeconds(second), fs_) == wanted) return true;
    }
    return false;
}

}  // namespace zelvo
