#include "core/FilesInFlight.h"

#include <iterator>
#include <mutex>
#include <new>
#include <utility>

namespace zelvo {

namespace {
// A copy needs a buffer and a few calls deep; a small reservation spares the
// 32-bit address space.
constexpr SIZE_T kWorkerStack = 256 * 1024;
}  // namespace

// A worker's waits end as soon as the run stops its files.
class FilesInFlight::WorkerPace final : public CopyPace {
public:
    WorkerPace(const FilesInFlight& inFlight, int lane) : inFlight_(inFlight), lane_(lane) {}
    void Pause(DWORD ms) override {
        if (::WaitForSingleObject(inFlight_.stop_.Get(), ms) == WAIT_OBJECT_0) throw CopyStopped();
    }
    // Between buffers: a wait on the event, even for no time, is a trip to
    // Wine's server, which would cost more than the buffer.
    void Check() override {
        if (inFlight_.stopping_.load()) throw CopyStopped();
    }
    int Lane() const override { return lane_; }

private:
    const FilesInFlight& inFlight_;
    int lane_;
};

FilesInFlight::FilesInFlight(int workers, Copy copy, Unfinished unfinished)
    : copy_(std::move(copy)), unfinished_(std::move(unfinished)) {
    if (!stop_ || !jobsWaiting_ || !doneWaiting_) return;
    // Reserved, so that no worker's record moves.
    workers_.reserve(static_cast<std::size_t>(workers > 0 ? workers : 0));
    for (int lane = 0; lane < workers; ++lane) {
        workers_.push_back(Worker{this, lane});
        KernelHandle thread(CreateThreadCall(nullptr, kWorkerStack, &FilesInFlight::Work, &workers_.back(),
                                             STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
        if (!thread) break;
        threads_.push_back(std::move(thread));
    }
}

FilesInFlight::~FilesInFlight() {
    Stop();
    Join([] {});
}

void FilesInFlight::Start(FileJob job) {
    const std::size_t results = static_cast<std::size_t>(inFlight_) + 1;
    const std::lock_guard<SrwLock> lock(lock_);
    done_.reserve(results);
    if (stopped_) {
        done_.push_back(FileDone{std::move(job), FileDone::Kind::Stopped, std::string()});
    } else {
        jobs_.push_back(std::move(job));
        ::ReleaseSemaphore(jobsWaiting_.Get(), 1, nullptr);
    }
    ++inFlight_;
}

std::vector<FileDone> FilesInFlight::Finished(DWORD ms) {
    std::vector<FileDone> finished;
    finished.reserve(static_cast<std::size_t>(inFlight_));
    TakeDone(finished);
    if (finished.empty() && inFlight_ > 0) {
        ::WaitForSingleObject(doneWaiting_.Get(), ms);
        TakeDone(finished);
    }
    inFlight_ -= static_cast<int>(finished.size());
    for (FileDone& done : finished) {
        if (done.kind == FileDone::Kind::Failed && done.failure.empty()) {
            done.failure = unfinished_(done.job, done.error);
        }
    }
    return finished;
}

void FilesInFlight::TakeDone(std::vector<FileDone>& into) noexcept {
    const std::lock_guard<SrwLock> lock(lock_);
    // Within the room made for them; done_ keeps its own.
    std::move(done_.begin(), done_.end(), std::back_inserter(into));
    done_.clear();
}

void FilesInFlight::Stop() noexcept {
    {
        const std::lock_guard<SrwLock> lock(lock_);
        stopped_ = true;
        // What no worker has taken yet comes back at once, as stopped.
        for (FileJob& job : jobs_) done_.push_back(FileDone{std::move(job), FileDone::Kind::Stopped, std::string()});
        jobs_.clear();
    }
    stopping_ = true;
    if (stop_) ::SetEvent(stop_.Get());
    if (doneWaiting_) ::SetEvent(doneWaiting_.Get());
}

void FilesInFlight::Join(const std::function<void()>& look) noexcept {
    Stop();
    for (KernelHandle& thread : threads_) {
        while (::WaitForSingleObject(thread.Get(), kFlushWaitStepMs) == WAIT_TIMEOUT) {
            try {
                look();
            } catch (...) {
            }
        }
    }
    threads_.clear();
}

DWORD WINAPI FilesInFlight::Work(void* worker) {
    const Worker& self = *static_cast<const Worker*>(worker);
    self.inFlight->WorkOn(self.lane);
    return 0;
}

// Nothing here throws but the copy, which is caught: a throw past it would
// end the process, and with it the temporary files of every copy in flight.
void FilesInFlight::WorkOn(int lane) noexcept {
    WorkerPace pace(*this, lane);
    const HANDLE waits[] = {stop_.Get(), jobsWaiting_.Get()};
    while (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        FileDone done;
        {
            const std::lock_guard<SrwLock> lock(lock_);
            // Stop may have handed the job back meanwhile.
            if (jobs_.empty()) continue;
            done.job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        try {
            done = copy_(done.job, pace);
        } catch (const CopyStopped&) {
            done.kind = FileDone::Kind::Stopped;
        } catch (const std::bad_alloc&) {
            // That file fails, and the others go on.
            done.kind = FileDone::Kind::Failed;
            done.error = ERROR_NOT_ENOUGH_MEMORY;
        } catch (...) {
            // A lock or a thread of the runtime's refused (std::system_error).
            done.kind = FileDone::Kind::Failed;
            done.error = ERROR_NO_SYSTEM_RESOURCES;
        }
        {
            const std::lock_guard<SrwLock> lock(lock_);
            done_.push_back(std::move(done));
        }
        ::SetEvent(doneWaiting_.Get());
    }
}

}  // namespace zelvo
