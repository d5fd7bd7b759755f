// Durable copies: every copy's content goes to disk before its rename; what
// turns up in the destination during the run; and the byte total of a run.
#include "CopySupport.h"

#include "core/CopyRun.h"
#include "core/FileCopy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using zelvo::test::ExclusiveLock;

namespace {

// Records each flush the run asks for; can leave all out, and can make a
// destination file appear while its copy is being written.
class FlushWatch : public CopyFaults {
public:
    std::uint32_t FailWrite(const std::string& destFile, std::uint64_t offset) override {
        if (offset == 0 && destFile == appearAt) {
            WriteFileBytes(destFile, "appeared meanwhile");
            SetFileAttributesA(destFile.c_str(), appearWith);
        }
        return 0;
    }
    // Asked on the threads of the copies in flight, side by side.
    Flush BeforeFlush(const std::string& destFile) override {
        const std::lock_guard<std::mutex> hold(lock);
        flushed.push_back(destFile);
        return skip ? Flush::Skip : Flush::Do;
    }
    std::mutex lock;
    std::vector<std::string> flushed;
    std::string appearAt;
    DWORD appearWith = FILE_ATTRIBUTE_NORMAL;
    bool skip = false;
};

// Counts the flushes really made, at the platform's call, with the name and
// the size of the file each was made on and the thread that made it; can
// make one fail there as the platform's call fails.
class RealFlushes {
public:
    struct Made {
        std::string name;
        std::uint64_t size;
        DWORD thread;
    };
    RealFlushes() : previous_(std::exchange(FlushFileBuffersCall, &Record)) { current_ = this; }
    ~RealFlushes() {
        FlushFileBuffersCall = previous_;
        current_ = nullptr;
    }
    RealFlushes(const RealFlushes&) = delete;
    RealFlushes& operator=(const RealFlushes&) = delete;

    std::vector<Made> made;
    std::function<void(const Made&)> during;  // called in each flush, before it is made
    // The error a flush of a file of this size fails with, instead of being made.
    std::uint64_t failSize = ~0ull;
    DWORD failWith = ERROR_SUCCESS;

private:
    static BOOL WINAPI Record(HANDLE file) {
        WCHAR path[1024] = {};
        GetFinalPathNameByHandleW(file, path, 1024, FILE_NAME_NORMALIZED);
        LARGE_INTEGER size{};
        GetFileSizeEx(file, &size);
        const std::wstring full = path;
        const Made made{ShownName(full.substr(full.rfind(L'\\') + 1)), std::uint64_t(size.QuadPart),
                        GetCurrentThreadId()};
        {
            // The copies in flight flush side by side.
            const std::lock_guard<std::mutex> hold(current_->lock_);
            current_->made.push_back(made);
        }
        if (current_->during) current_->during(made);
        if (std::uint64_t(size.QuadPart) == current_->failSize) {
            SetLastError(current_->failWith);
            return FALSE;
        }
        return current_->previous_(file);
    }

    static inline RealFlushes* current_ = nullptr;
    std::mutex lock_;
    BOOL(WINAPI* previous_)(HANDLE);
};

HANDLE WINAPI NoThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

// Refuses the run its flush thread while it lives.
class NoFlushThread {
public:
    NoFlushThread() : previous_(std::exchange(CreateThreadCall, &NoThread)) {}
    ~NoFlushThread() { CreateThreadCall = previous_; }
    NoFlushThread(const NoFlushThread&) = delete;
    NoFlushThread& operator=(const NoFlushThread&) = delete;

private:
    decltype(CreateThreadCall) previous_;
};

TEST(DurableCopies, EveryCopyIsFlushedOnceWholeBeforeItsRename) {
    enum class How { OnItsThread, WithoutAThread, LeftOut };
    for (const How how : {How::OnItsThread, How::WithoutAThread, How::LeftOut}) {
        Sandbox box;
        ASSERT_TRUE(WriteFileBytes(box.Src("old.txt"), "new content"));
        ASSERT_TRUE(WriteFileBytes(box.Src("emptied"), ""));
        ASSERT_TRUE(WriteFileBytes(box.Src("fresh.txt"), "fresh"));
        ASSERT_TRUE(WriteFileBytes(box.Dst("old.txt"), "previous"));
        ASSERT_TRUE(WriteFileBytes(box.Dst("emptied"), "previous"));
        FlushWatch watch;
        watch.skip = how == How::LeftOut;
        RecordingProgress progress;
        const RealFlushes flushes;
        std::optional<NoFlushThread> noThread;
        if (how == How::WithoutAThread) noThread.emplace();

        const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(true), progress, &watch);

        EXPECT_THAT(result.failures, IsEmpty());
        EXPECT_EQ(result.copied, 3);
        EXPECT_THAT(watch.flushed, UnorderedElementsAre(box.Dst("old.txt"), box.Dst("emptied"), box.Dst("fresh.txt")));
        // New copies as much as replacing ones, each while it is still a
        // temporary file and once it holds its whole content, on a thread of
        // its own, or on the run's when no thread can be had; none where the
        // hook leaves the flush out (as the benchmark does).
        std::vector<std::uint64_t> sizes;
        for (const auto& made : flushes.made) {
            EXPECT_TRUE(IsTemporaryName(made.name)) << made.name;
            EXPECT_EQ(made.thread == GetCurrentThreadId(), how == How::WithoutAThread) << made.name;
            sizes.push_back(made.size);
        }
        if (how == How::LeftOut) {
            EXPECT_THAT(sizes, IsEmpty());
        } else {
            EXPECT_THAT(sizes, UnorderedElementsAre(11u, 0u, 5u));
        }
        EXPECT_EQ(ReadFileBytes(box.Dst("old.txt")), "new content");
        EXPECT_EQ(ReadFileBytes(box.Dst("emptied")), "");
        EXPECT_EQ(ReadFileBytes(box.Dst("fresh.txt")), "fresh");
        EXPECT_THAT(Names(box.Dst()), UnorderedElementsAre("old.txt", "emptied", "fresh.txt"));
    }
}

// Signals once b.bin's second buffer is written, on whichever thread.
class SignalsOverlap : public WithoutFlushes {
public:
    Flush BeforeFlush(const std::string&) override { return Flush::Do; }
    std::uint32_t FailWrite(const std::string& destFile, std::uint64_t offset) override {
        if (offset == kCopyBufferSize && destFile.size() >= 5 && destFile.substr(destFile.size() - 5) == "b.bin") {
            SetEvent(overlap.Get());
        }
        return 0;
    }
    KernelHandle overlap{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

// With two files in flight, a.bin's flush does not hold up b.bin's copy, and
// a.bin is put in place only once its flush is over.
TEST(DurableCopies, AFlushRunsWhileAnotherFileIsWrittenAndItsCopyIsPlacedAfter) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("a.bin"), Pattern(2 * kCopyBufferSize, 1)));
    ASSERT_TRUE(WriteFileBytes(box.Src("b.bin"), Pattern(3 * kCopyBufferSize, 2)));
    SignalsOverlap faults;
    RecordingProgress progress;
    RealFlushes flushes;
    bool overlapped = false;
    bool placedDuringItsFlush = true;
    flushes.during = [&](const RealFlushes::Made& made) {
        if (made.size != 2 * kCopyBufferSize) return;
        // A flush that held up the other copy would wait here in vain.
        overlapped = WaitForSingleObject(faults.overlap.Get(), 10000) == WAIT_OBJECT_0;
        const std::vector<std::string> names = Names(box.Dst());
        placedDuringItsFlush = std::find(names.begin(), names.end(), "a.bin") != names.end();
    };
    CopyTuning two;
    two.filesInFlight = 2;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress, &faults, two);

    EXPECT_TRUE(overlapped);
    EXPECT_FALSE(placedDuringItsFlush);
    EXPECT_EQ(flushes.made.size(), 2u);
    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, 2);
    EXPECT_EQ(Names(box.Dst()), (std::vector<std::string>{"a.bin", "b.bin"}));
}

// Windows on a synchronous handle, where a request waits for the one under
// way: a write waits while a flush of its own handle is under way (Wine lets
// it through). Counts the writes and those that waited; signals a write made
// while a flush of any handle was under way.
class OneRequestAHandle {
public:
    OneRequestAHandle()
        : write_(std::exchange(WriteFileCall, &Write)), flush_(std::exchange(FlushFileBuffersCall, &Flush)) {
        current_ = this;
    }
    ~OneRequestAHandle() {
        WriteFileCall = write_;
        FlushFileBuffersCall = flush_;
        current_ = nullptr;
    }
    OneRequestAHandle(const OneRequestAHandle&) = delete;
    OneRequestAHandle& operator=(const OneRequestAHandle&) = delete;

    std::function<void(HANDLE)> during;  // in each flush once it is under way, before it is made
    KernelHandle writtenInFlush{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    std::atomic<int> writes{0}, waited{0};

private:
    static BOOL WINAPI Flush(HANDLE file) {
        OneRequestAHandle& self = *current_;
        {
            const std::lock_guard<std::mutex> lock(self.lock_);
            self.flushing_.push_back(file);
        }
        ResetEvent(self.writtenInFlush.Get());
        if (self.during) self.during(file);
        const BOOL flushed = self.flush_(file);
        {
            const std::lock_guard<std::mutex> lock(self.lock_);
            self.flushing_.erase(std::find(self.flushing_.begin(), self.flushing_.end(), file));
        }
        self.changed_.notify_all();
        return flushed;
    }
    static BOOL WINAPI Write(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
        OneRequestAHandle& self = *current_;
        bool inFlush = false;
        {
            std::unique_lock<std::mutex> lock(self.lock_);
            const auto flushed = [&] {
                return std::find(self.flushing_.begin(), self.flushing_.end(), file) != self.flushing_.end();
            };
            if (flushed()) {
                ++self.waited;
                self.changed_.wait(lock, [&] { return !flushed(); });
            }
            inFlush = !self.flushing_.empty();
        }
        const BOOL wrote = self.write_(file, data, size, written, overlapped);
        ++self.writes;
        if (inFlush) SetEvent(self.writtenInFlush.Get());
        return wrote;
    }

    static inline OneRequestAHandle* current_ = nullptr;
    decltype(WriteFileCall) write_;
    decltype(FlushFileBuffersCall) flush_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<HANDLE> flushing_;
};

// Ends the run as the end of the session does, once `held` is set; half a
// second later counts the writes made since and sets `release`.
class StopWhenHeld : public RecordingProgress {
public:
    StopWhenHeld(OneRequestAHandle& serial, HANDLE held, HANDLE release)
        : serial_(serial), held_(held), release_(release) {}
    void Track(RunInHand& run) override { run_ = &run; }
    void KeepAlive() override {
        RecordingProgress::KeepAlive();
        if (held_ && stoppedAt == 0 && WaitForSingleObject(held_, 0) == WAIT_OBJECT_0) {
            run_->CutOff();
            stoppedAt = GetTickCount64();
            writesAtStop = serial_.writes;
            throw RunCutOff();
        }
        if (stoppedAt != 0 && writesAfterStop < 0 && GetTickCount64() - stoppedAt >= kLookAfterMs) {
            writesAfterStop = serial_.writes - writesAtStop;
            SetEvent(release_);
        }
    }
    static constexpr ULONGLONG kLookAfterMs = 500;
    ULONGLONG stoppedAt = 0;
    int writesAtStop = 0;
    int writesAfterStop = -1;

private:
    OneRequestAHandle& serial_;
    HANDLE held_;
    HANDLE release_;
    RunInHand* run_ = nullptr;
};

// A large copy is flushed as it grows, on another thread than the one that
// writes it and through a handle of its own, so that the disk takes it in
// while the rest is written, also where each handle takes one request at a
// time; its last flush, of the whole content, comes before its rename. A
// run that ends while such a flush is under way reaches the writing at once.
TEST(DurableCopies, ALargeCopyIsFlushedAsItIsWritten) {
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "stopped in a flush" : "written on");
        Sandbox box;
        const std::uint64_t size = 3 * kEarlyFlushBytes + 12345;
        const int buffers = static_cast<int>((size + kCopyBufferSize - 1) / kCopyBufferSize);
        {
            HANDLE file = CreateFileA(box.Src("large.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            ASSERT_NE(file, INVALID_HANDLE_VALUE);
            LARGE_INTEGER end{};
            end.QuadPart = static_cast<LONGLONG>(size);
            EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
            CloseHandle(file);
        }
        RealFlushes flushes;
        OneRequestAHandle serial;
        const KernelHandle held(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        const KernelHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        StopWhenHeld progress(serial, stop ? held.Get() : nullptr, release.Get());
        int overlapped = 0;
        serial.during = [&](HANDLE file) {
            LARGE_INTEGER at{};
            GetFileSizeEx(file, &at);
            if (static_cast<std::uint64_t>(at.QuadPart) == size) return;
            if (stop) {
                SetEvent(held.Get());
                WaitForSingleObject(release.Get(), 10000);
            } else if (serial.writes < buffers &&
                       WaitForSingleObject(serial.writtenInFlush.Get(), 2000) == WAIT_OBJECT_0) {
                ++overlapped;
            }
        };

        const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress);

        // No write ever waited for a flush of its handle.
        EXPECT_EQ(serial.waited, 0);
        if (stop) {
            EXPECT_TRUE(result.cutOff);
            // The write under way at the stop at most.
            EXPECT_LE(progress.writesAfterStop, 1);
            EXPECT_GE(progress.writesAfterStop, 0);
            EXPECT_EQ(result.copied, 0);
            EXPECT_THAT(Names(box.Dst()), IsEmpty());
            continue;
        }
        EXPECT_GE(overlapped, 1);
        EXPECT_EQ(result.copied, 1);
        ASSERT_GE(flushes.made.size(), 2u);
        EXPECT_EQ(flushes.made.back().size, size);
        const DWORD writer = flushes.made.back().thread;
        int early = 0;
        for (std::size_t i = 0; i + 1 < flushes.made.size(); ++i) {
            EXPECT_LT(flushes.made[i].size, size);
            EXPECT_NE(flushes.made[i].thread, writer);
            ++early;
        }
        EXPECT_GE(early, 1);
        EXPECT_EQ(Names(box.Dst()), std::vector<std::string>{"large.bin"});
    }
}

// The wait for a flush that lasts looks alive at every step, so that a window
// thread waiting there still answers; the copy is placed once the flush is over.
TEST(DurableCopies, TheWaitForASlowFlushKeepsTheReceiverAlive) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("slow.bin"), "flushed slowly"));
    // The flush lasts until the run has looked alive ten times while it waited.
    class CountsWhileFlushing : public RecordingProgress {
    public:
        void KeepAlive() override {
            RecordingProgress::KeepAlive();
            if (flushing && ++whileFlushing == 10) SetEvent(tenth.Get());
        }
        std::atomic<bool> flushing{false};
        int whileFlushing = 0;
        KernelHandle tenth{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    } progress;
    RealFlushes flushes;
    bool keptAlive = false;
    flushes.during = [&](const RealFlushes::Made&) {
        progress.flushing = true;
        keptAlive = WaitForSingleObject(progress.tenth.Get(), 10000) == WAIT_OBJECT_0;
        progress.flushing = false;
    };

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress);

    EXPECT_TRUE(keptAlive);
    EXPECT_LE(progress.LongestKeepAliveGapUntilNow(), kLongestKeepAliveGapMs);
    EXPECT_EQ(result.copied, 1);
    EXPECT_EQ(ReadFileBytes(box.Dst("slow.bin")), "flushed slowly");
}

// The flush fails on its own thread (the disk went away): the run learns of
// it there, and the old copy is kept.
TEST(DurableReplacement, AFlushThatFailsKeepsTheOldCopy) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("a.txt"), Pattern(3 * kCopyBufferSize, 1)));
    ASSERT_TRUE(WriteFileBytes(box.Src("b.txt"), "b"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("a.txt"), "old a"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("b.txt"), "old b"));
    RealFlushes flushes;
    flushes.failSize = 3 * kCopyBufferSize;
    flushes.failWith = ERROR_IO_DEVICE;
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(true), progress);

    EXPECT_THAT(result.failures, ElementsAre(Line("Stream write error", box.Dst("a.txt"), ERROR_IO_DEVICE)));
    EXPECT_EQ(result.copied, 1);
    EXPECT_EQ(result.bytesCopied, 1u);
    EXPECT_EQ(ReadFileBytes(box.Dst("a.txt")), "old a");
    EXPECT_EQ(ReadFileBytes(box.Dst("b.txt")), "b");
    EXPECT_THAT(Names(box.Dst()), ElementsAre("a.txt", "b.txt"));
    ASSERT_EQ(flushes.made.size(), 2u);
    for (const auto& made : flushes.made) EXPECT_NE(made.thread, GetCurrentThreadId());
}

// The run knows the destination's names from its start; a file that turns up
// later (the shell writes desktop.ini or Thumbs.db) is met at the rename, and
// looked at right before a replacing one.
TEST(DurableReplacement, AFileThatAppearsDuringTheRunIsTreatedAsIfItHadBeenThere) {
    struct Row {
        bool overwrite;
        DWORD attributes;
        bool replaced;
    };
    for (const Row row : {Row{true, FILE_ATTRIBUTE_NORMAL, true}, Row{false, FILE_ATTRIBUTE_NORMAL, false},
                          Row{true, FILE_ATTRIBUTE_HIDDEN, false}, Row{true, FILE_ATTRIBUTE_SYSTEM, false}}) {
        Sandbox box;
        ASSERT_TRUE(WriteFileBytes(box.Src("c.txt"), "source c"));
        FlushWatch watch;
        watch.appearAt = box.Dst("c.txt");
        watch.appearWith = row.attributes;
        RecordingProgress progress;

        const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(row.overwrite), progress, &watch);

        if (row.replaced) {
            EXPECT_THAT(result.failures, IsEmpty());
            EXPECT_EQ(ReadFileBytes(box.Dst("c.txt")), "source c");
        } else if (row.overwrite) {
            // Protected, as one there from the start: reported, left as it is.
            EXPECT_THAT(result.failures, ElementsAre(Line("Cannot create file", box.Dst("c.txt"), ERROR_ACCESS_DENIED)))
                << row.attributes;
            EXPECT_EQ(ReadFileBytes(box.Dst("c.txt")), "appeared meanwhile");
            EXPECT_EQ(GetFileAttributesA(box.Dst("c.txt").c_str()) & row.attributes, row.attributes);
        } else {
            // Without the switch a file that is there is skipped, not a failure.
            EXPECT_THAT(result.failures, IsEmpty());
            EXPECT_EQ(result.skipped, 1);
            EXPECT_EQ(result.copied, 0);
            EXPECT_EQ(ReadFileBytes(box.Dst("c.txt")), "appeared meanwhile");
        }
        EXPECT_THAT(Names(box.Dst()), ElementsAre("c.txt"));
    }
}

TEST(CopyRunTotals, BytesCountOnlyCopiesPutInPlace) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("big.bin"), Pattern(2 * kCopyBufferSize + 7, 1)));
    ASSERT_TRUE(WriteFileBytes(box.Src("small.txt"), "12345"));
    ASSERT_TRUE(WriteFileBytes(box.Src("empty"), ""));
    ASSERT_TRUE(WriteFileBytes(box.Src("skipped.txt"), "not copied"));
    ASSERT_TRUE(WriteFileBytes(box.Src("locked.txt"), "not copied either"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("skipped.txt"), "old"));
    const ExclusiveLock holder(box.Src("locked.txt"));
    ASSERT_TRUE(holder.Held());
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress, nullptr, ShortWaits());

    EXPECT_EQ(result.copied, 3);
    EXPECT_EQ(result.skipped, 1);
    EXPECT_EQ(result.failures.size(), 1u);
    EXPECT_EQ(result.bytesCopied, 2 * kCopyBufferSize + 7 + 5);
}

}  // namespace
