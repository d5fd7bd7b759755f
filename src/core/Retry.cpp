#include "core/Retry.h"

#include <algorithm>

namespace zelvo {

bool IsMomentaryRefusal(DWORD error) { return IsInUse(error) || error == ERROR_ACCESS_DENIED; }

bool IsInUse(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

bool IsOutOfRoom(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

DWORD Retries::Run(RetryStep step, const Pause& pause, const std::function<DWORD()>& attempt,
                   const std::function<bool(DWORD)>& momentary) {
    std::atomic<int>& fruitlessInARow = fruitlessInARow_[static_cast<int>(step)];
    DWORD error = attempt();
    if (error == ERROR_SUCCESS) {
        // Read first: eight workers writing the one counter at every success
        // would pass its cache line to and fro.
        if (fruitlessInARow.load(std::memory_order_relaxed) != 0) fruitlessInARow.store(0);
        return error;
    }
    if (!momentary(error)) return error;
    const bool givenUp = fruitlessInARow.load() >= timing_.fruitlessStepsBeforeGivingUp;
    const ULONGLONG deadline = ::GetTickCount64() + (givenUp ? timing_.firstWaitMs : timing_.stepLimitMs);
    DWORD wait = timing_.firstWaitMs;
    for (ULONGLONG now = ::GetTickCount64(); now < deadline; now = ::GetTickCount64()) {
        pause(static_cast<DWORD>(std::min<ULONGLONG>(wait, deadline - now)));
        error = attempt();
        if (error == ERROR_SUCCESS || !momentary(error)) {
            fruitlessInARow = 0;
            return error;
        }
        wait = std::min(wait * 2, timing_.longestWaitMs);
    }
    if (!givenUp) ++fruitlessInARow;
    return error;
}

}  // namespace zelvo
