#include "core/FilesInFlight.h"

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

FilesInFlight::FilesInFlight(int workers, Copy copy) : copy_(std::move(copy)) {
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
    ++inFlight_;
    const std::lock_guard<std::mutex> lock(lock_);
    if (stopped_) {
        done_.push_back(FileDone{std::move(job), FileDone::Kind::Stopped, std::string()});
        return;
    }
    jobs_.push_back(std::move(job));
    ::ReleaseSemaphore(jobsWaiting_.Get(), 1, nullptr);
}

std::vector<FileDone> FilesInFlight::Finished(DWORD ms) {
    std::vector<FileDone> finished;
    {
        const std::lock_guard<std::mutex> lock(lock_);
        finished.swap(done_);
    }
    if (finished.empty() && inFlight_ > 0) {
        ::WaitForSingleObject(doneWaiting_.Get(), ms);
        const std::lock_guard<std::mutex> lock(lock_);
        finished.swap(done_);
    }
    inFlight_ -= static_cast<int>(finished.size());
    return finished;
}

void FilesInFlight::Stop() noexcept {
    {
        const std::lock_guard<std::mutex> lock(lock_);
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

void FilesInFlight::WorkOn(int lane) {
    WorkerPace pace(*this, lane);
    const HANDLE waits[] = {stop_.Get(), jobsWaiting_.Get()};
    while (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        FileJob job;
        {
            const std::lock_guard<std::mutex> lock(lock_);
            // Stop may have handed the job back meanwhile.
            if (jobs_.empty()) continue;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        FileDone done{job, FileDone::Kind::Stopped, std::string()};
        try {
            done = copy_(job, pace);
        } catch (const CopyStopped&) {
            done.kind = FileDone::Kind::Stopped;
        } catch (const std::exception& e) {
            // Out of memory, say: that file fails, and the others go on.
            done.kind = FileDone::Kind::Failed;
            done.failure = e.what();
        } catch (...) {
            done.kind = FileDone::Kind::Failed;
            done.failure = "Copy failed";
        }
        {
            const std::lock_guard<std::mutex> lock(lock_);
            done_.push_back(std::move(done));
        }
        ::SetEvent(doneWaiting_.Get());
    }
}

}  // namespace zelvo
