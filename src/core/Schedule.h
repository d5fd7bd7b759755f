// Matching the three daily backup times against the clock.
#pragma once

#include "core/DateTime.h"
#include "core/Settings.h"

#include <array>
#include <cstdint>
#include <optional>
#include <utility>

namespace zelvo {

// A slot matches when its box is checked and the current time formatted
// "hh:mm:ss" equals the slot's time formatted the same way.
//
// A 1000 ms timer drifts, so a tick may land more than a second after the
// previous one and a backup set for the skipped second would silently not
// happen. The scheduler therefore remembers, per slot, the second it examined
// last: when the new reading is later by 1 to 3 seconds, every second after
// the last examined one up to the current one is examined, once each. A larger
// gap or a clock that went backwards counts only the current second; a second
// already examined by the previous tick is not examined again.
class SlotScheduler {
public:
    static constexpr int kMaxCatchUpSeconds = 3;

    explicit SlotScheduler(FormatSettings fs) : fs_(std::move(fs)) {}

    // Examines slot (1-based) at the clock reading `now`; true when its backup
    // is due. An unchecked slot is never due, but the second still counts as
    // examined. The first call for a slot examines only the current second.
    bool IsDue(int slot, bool checked, DateTime slotTime, DateTime now);

private:
    FormatSettings fs_;
    std::array<std::optional<std::int64_t>, kSlotCount> lastExamined_{};
};

}  // namespace zelvo
