// Durable copies: every copy's content goes to disk before its rename; what
// turns up in the destination during the run; and the byte total of a run.
#include "CopySupport.h"

#include "core/CopyRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <utility>

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using zelvo::test::ExclusiveLock;

namespace {

// Records each flush the run asks for; can fail one or leave all out, and
// can make a destination file appear while its copy is being written.
class FlushWatch : public CopyFaults {
public:
    bool FailRead(const std::string&, std::uint64_t) override { return false; }
    bool FailWrite(const std::string& destFile, std::uint64_t offset) override {
        if (offset == 0 && destFile == appearAt) {
            WriteFileBytes(destFile, "appeared meanwhile");
            SetFileAttributesA(destFile.c_str(), appearWith);
        }
        return false;
    }
    Flush BeforeFlush(const std::string& destFile) override {
        flushed.push_back(destFile);
        return destFile == failAt ? Flush::Fail : skip ? Flush::Skip : Flush::Do;
    }
    std::vector<std::string> flushed;
    std::string failAt;
    std::string appearAt;
    DWORD appearWith = FILE_ATTRIBUTE_NORMAL;
    bool skip = false;
};

// Counts the flushes really made, at the platform's call, with the name and
// the size of the file each was made on.
class RealFlushes {
public:
    struct Made {
        std::string name;
        std::uint64_t size;
    };
    RealFlushes() : previous_(std::exchange(FlushFileBuffersCall, &Record)) { current_ = this; }
    ~RealFlushes() {
        FlushFileBuffersCall = previous_;
        current_ = nullptr;
    }
    RealFlushes(const RealFlushes&) = delete;
    RealFlushes& operator=(const RealFlushes&) = delete;

    std::vector<Made> made;
    std::function<void()> during;  // called in each flush, before it is made

private:
    static BOOL WINAPI Record(HANDLE file) {
        WCHAR path[1024] = {};
        GetFinalPathNameByHandleW(file, path, 1024, FILE_NAME_NORMALIZED);
        LARGE_INTEGER size{};
        GetFileSizeEx(file, &size);
        const std::wstring full = path;
        current_->made.push_back({ShownName(full.substr(full.rfind(L'\\') + 1)), std::uint64_t(size.QuadPart)});
        if (current_->during) current_->during();
        return current_->previous_(file);
    }

    static inline RealFlushes* current_ = nullptr;
    BOOL(WINAPI* previous_)(HANDLE);
};

TEST(DurableCopies, EveryCopyIsFlushedOnceWholeBeforeItsRename) {
    for (const bool skip : {false, true}) {
        Sandbox box;
        ASSERT_TRUE(WriteFileBytes(box.Src("old.txt"), "new content"));
        ASSERT_TRUE(WriteFileBytes(box.Src("emptied"), ""));
        ASSERT_TRUE(WriteFileBytes(box.Src("fresh.txt"), "fresh"));
        ASSERT_TRUE(WriteFileBytes(box.Dst("old.txt"), "previous"));
        ASSERT_TRUE(WriteFileBytes(box.Dst("emptied"), "previous"));
        FlushWatch watch;
        watch.skip = skip;
        RecordingProgress progress;
        const RealFlushes flushes;

        const CopyRunResult result = RunCopy(box.Src(), box.Dst(), Overwrite(true), progress, &watch);

        EXPECT_THAT(result.failures, IsEmpty());
        EXPECT_EQ(result.copied, 3);
        EXPECT_THAT(watch.flushed, UnorderedElementsAre(box.Dst("old.txt"), box.Dst("emptied"), box.Dst("fresh.txt")));
        // New copies as much as replacing ones, each while it is still a
        // temporary file and once it holds its whole content; none where the
        // hook leaves the flush out (as the benchmark does).
        std::vector<std::uint64_t> sizes;
        for (const auto& made : flushes.made) {
            EXPECT_TRUE(IsTemporaryName(made.name)) << made.name;
            sizes.push_back(made.size);
        }
        if (skip) {
            EXPECT_THAT(sizes, IsEmpty());
        } else {
            EXPECT_THAT(sizes, UnorderedElementsAre(11u, 0u, 5u));
        }
        EXPECT_EQ(ReadFileBytes(box.Dst("old.txt")), "new content");
        EXPECT_EQ(ReadFileBytes(box.Dst("emptied")), "");
        EXPECT_EQ(ReadFileBytes(box.Dst("fresh.txt")), "fresh");
    }
}

// Signals once a file is written while the copy before it is being flushed.
class SignalsOverlap : public RecordingProgress {
public:
    void BetweenBuffers(FileStream& /*writing*/, FileStream* flushing) override {
        KeepAlive();
        if (flushing) SetEvent(overlap.Get());
    }
    KernelHandle overlap{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

TEST(DurableCopies, AFlushRunsWhileTheNextFileIsWrittenAndItsCopyIsPlacedAfter) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("a.bin"), Pattern(2 * kCopyBufferSize, 1)));
    ASSERT_TRUE(WriteFileBytes(box.Src("b.bin"), Pattern(2 * kCopyBufferSize, 2)));
    SignalsOverlap progress;
    RealFlushes flushes;
    bool overlapped = false;
    std::vector<std::string> placedDuringFirstFlush;
    flushes.during = [&] {
        if (flushes.made.size() != 1) return;
        // A flush made before the next file is read would wait here in vain.
        overlapped = WaitForSingleObject(progress.overlap.Get(), 10000) == WAIT_OBJECT_0;
        for (const std::string& name : Names(box.Dst())) {
            if (!IsTemporaryName(name)) placedDuringFirstFlush.push_back(name);
        }
    };

    const CopyRunResult result = RunCopy(box.Src(), box.Dst(), Overwrite(false), progress);

    EXPECT_TRUE(overlapped);
    EXPECT_THAT(placedDuringFirstFlush, IsEmpty());
    EXPECT_EQ(flushes.made.size(), 2u);
    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, 2);
    EXPECT_EQ(Names(box.Dst()), (std::vector<std::string>{"a.bin", "b.bin"}));
}

TEST(DurableReplacement, AFailingFlushKeepsTheOldCopy) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("a.txt"), Pattern(3 * kCopyBufferSize, 1)));
    ASSERT_TRUE(WriteFileBytes(box.Src("b.txt"), "b"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("a.txt"), "old a"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("b.txt"), "old b"));
    FlushWatch watch;
    watch.failAt = box.Dst("a.txt");
    RecordingProgress progress;

    const CopyRunResult result = RunCopy(box.Src(), box.Dst(), Overwrite(true), progress, &watch);

    EXPECT_THAT(result.failures, ElementsAre("Stream write error"));
    EXPECT_EQ(result.copied, 1);
    EXPECT_EQ(result.bytesCopied, 1u);
    EXPECT_EQ(ReadFileBytes(box.Dst("a.txt")), "old a");
    EXPECT_EQ(ReadFileBytes(box.Dst("b.txt")), "b");
    EXPECT_THAT(Names(box.Dst()), ElementsAre("a.txt", "b.txt"));
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

        const CopyRunResult result = RunCopy(box.Src(), box.Dst(), Overwrite(row.overwrite), progress, &watch);

        if (row.replaced) {
            EXPECT_THAT(result.failures, IsEmpty());
            EXPECT_EQ(ReadFileBytes(box.Dst("c.txt")), "source c");
        } else if (row.overwrite) {
            // Protected, as one there from the start: reported, left as it is.
            EXPECT_THAT(result.failures, ElementsAre("Cannot create file " + box.Dst("c.txt"))) << row.attributes;
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

    const CopyRunResult result = RunCopy(box.Src(), box.Dst(), Overwrite(false), progress);

    EXPECT_EQ(result.copied, 3);
    EXPECT_EQ(result.skipped, 1);
    EXPECT_EQ(result.failures.size(), 1u);
    EXPECT_EQ(result.bytesCopied, 2 * kCopyBufferSize + 7 + 5);
}

}  // namespace
