// Several files of one run copied at once, each on a worker thread. On a
// share every step of a copy waits for a round trip, and one file after
// another leaves the link idle nearly all the time; on a local disk the
// flushes of several copies are taken in together. The run's own thread
// hands the files over in listing order and takes back what each came to;
// workers wait on nothing of the window.
#pragma once

#include "core/FileCopy.h"
#include "core/Handles.h"

#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace zelvo {

// How long the run waits at a time before it calls KeepAlive again.
inline constexpr DWORD kFlushWaitStepMs = 20;

class FilesInFlight {
public:
    using Copy = std::function<FileDone(const FileJob&, CopyPace&)>;
    // The failure line of a file whose copy threw on its worker (out of
    // memory, say), with the platform's nearest reason; made on the run's
    // thread, as the worker may have no memory to make it.
    using Unfinished = std::function<std::string(const FileJob&, DWORD error)>;

    // Starts up to `workers` threads (through CreateThreadCall); Workers()
    // tells how many it got, none when the platform gives no thread.
    FilesInFlight(int workers, Copy copy, Unfinished unfinished);
    FilesInFlight(const FilesInFlight&) = delete;
    FilesInFlight& operator=(const FilesInFlight&) = delete;
    // Stops and waits for the workers.
    ~FilesInFlight();

    int Workers() const { return static_cast<int>(threads_.size()); }
    int InFlight() const { return inFlight_; }
    // Whether another file may be started now.
    bool CanStart() const { return inFlight_ < Workers(); }
    void Start(FileJob job);
    // The files that have come to an end since the last call, waiting up to
    // `ms` for one when none has and some are in flight.
    std::vector<FileDone> Finished(DWORD ms);
    // No file is started from now on (Start hands it back as Stopped); those
    // waiting for a worker come back Stopped at once, those in flight end at
    // their next pause or buffer. Never throws.
    void Stop() noexcept;
    // Waits until every worker has ended, calling `look` every
    // kFlushWaitStepMs (a flush under way cannot be cut short). Never throws.
    void Join(const std::function<void()>& look) noexcept;

private:
    class WorkerPace;
    struct Worker {
        FilesInFlight* inFlight;
        int lane;
    };
    static DWORD WINAPI Work(void* worker);
    void WorkOn(int lane) noexcept;
    void TakeDone(std::vector<FileDone>& into) noexcept;

    Copy copy_;
    Unfinished unfinished_;
    KernelHandle stop_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    KernelHandle jobsWaiting_{::CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr)};
    KernelHandle doneWaiting_{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    SrwLock lock_;
    std::deque<FileJob> jobs_;
    std::vector<FileDone> done_;  // has room for every file in flight: a worker never allocates
    int inFlight_ = 0;            // the run's own thread only
    bool stopped_ = false;  // under lock_
    std::atomic<bool> stopping_{false};  // as stop_, for the workers' look between buffers
    std::vector<Worker> workers_;
    std::vector<KernelHandle> threads_;  // last: the threads end before the rest goes
};

}  // namespace zelvo
