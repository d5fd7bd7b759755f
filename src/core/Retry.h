// Trying a step again when another program refuses it for a moment. On a real
// machine scanners, indexers and sync clients open the user's files for a
// moment all day long; a step they refuse usually succeeds a little later.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>

namespace zelvo {

// How long the run waits for refusals to pass.
struct RetryTiming {
    // One step on the destination (creating a temporary copy, the rename
    // into place, deleting a temporary file or folder): waits of firstWaitMs,
    // doubling up to longestWaitMs, for at most stepLimitMs in all.
    DWORD firstWaitMs = 20;
    DWORD longestWaitMs = 1000;
    DWORD stepLimitMs = 5000;
    // After this many steps of one kind in a row have waited their whole time
    // in vain, the refusal is taken for a lasting one (no right to delete on a
    // share, say): the run's later steps of that kind get one short wait
    // each, until one of them succeeds. Without that such a destination would
    // cost every file the whole wait.
    int fruitlessStepsBeforeGivingUp = 3;
    // A source that another program has open: tried again about every
    // secondChanceEveryMs, until secondChanceMs after the run has been through
    // every other entry.
    DWORD secondChanceMs = 10000;
    DWORD secondChanceEveryMs = 1000;
};

// Refusals that an open handle of another program gives: sharing and lock
// violations, and an access refusal (a file being deleted, a replacement
// refused while a reader holds the file without sharing its deletion).
bool IsMomentaryRefusal(DWORD error);
// A file that another program has open: sharing and lock violations only.
bool IsInUse(DWORD error);
// A disk with no room left for what was being written.
bool IsOutOfRoom(DWORD error);

// Waits about that many milliseconds; may throw to end the step at once
// (the run is ending), leaving the step as it is.
using Pause = std::function<void(DWORD ms)>;

// The kinds of step on the destination. A refusal that lasts for one kind
// (old copies that a program holds open refuse their replacement) says
// nothing of another (the creation of a temporary copy).
enum class RetryStep { Create, Rename, Remove };

// Runs the steps of one run again while they are refused for a moment. Safe
// to share between threads.
class Retries {
public:
    explicit Retries(const RetryTiming& timing) : timing_(timing) {}
    Retries(const Retries&) = delete;
    Retries& operator=(const Retries&) = delete;

    const RetryTiming& Timing() const { return timing_; }

    // Calls `attempt` (it returns ERROR_SUCCESS or the platform's error) until
    // it succeeds, fails with an error for which `momentary` is false, or the
    // step's time is up, pausing between the tries; returns its last result.
    DWORD Run(RetryStep step, const Pause& pause, const std::function<DWORD()>& attempt,
              const std::function<bool(DWORD)>& momentary = IsMomentaryRefusal);

private:
    static constexpr int kStepKinds = 3;

    RetryTiming timing_;
    // Steps of each kind that waited in vain since the last success of that kind.
    std::atomic<int> fruitlessInARow_[kStepKinds] = {};
};

}  // namespace zelvo
