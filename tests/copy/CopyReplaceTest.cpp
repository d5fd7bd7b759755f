// Replacing an existing copy: the new content goes to disk before the rename,
// only where something is replaced; and the byte total of a run.
#include "CopySupport.h"

#include "core/CopyRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using zelvo::test::ExclusiveLock;

namespace {

// Records each flush the run asks for; can fail one, and can make a
// destination file appear while its copy is being written.
class FlushWatch : public CopyFaults {
public:
    bool FailRead(const std::string&, std::uint64_t) override { return false; }
    bool FailWrite(const std::string& destFile, std::uint64_t offset) override {
        if (offset == 0 && destFile == appearAt) WriteFileBytes(destFile, "appeared meanwhile");
        return false;
    }
    Flush BeforeFlush(const std::string& destFile) override {
        flushed.push_back(destFile);
        return destFile == failAt ? Flush::Fail : Flush::Do;
    }
    std::vector<std::string> flushed;
    std::string failAt;
    std::string appearAt;
};

TEST(DurableReplacement, OnlyCopiesThatReplaceAFileAreFlushed) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("old.txt"), "new content"));
    ASSERT_TRUE(WriteFileBytes(box.Src("emptied"), ""));
    ASSERT_TRUE(WriteFileBytes(box.Src("fresh.txt"), "fresh"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("old.txt"), "previous"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("emptied"), "previous"));
    FlushWatch watch;
    RecordingProgress progress;

    const CopyRunResult result = RunCopy(box.Src(), box.Dst(), Overwrite(true), progress, &watch);

    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, 3);
    EXPECT_THAT(watch.flushed, UnorderedElementsAre(box.Dst("old.txt"), box.Dst("emptied")));
    EXPECT_EQ(ReadFileBytes(box.Dst("old.txt")), "new content");
    EXPECT_EQ(ReadFileBytes(box.Dst("emptied")), "");
    EXPECT_EQ(ReadFileBytes(box.Dst("fresh.txt")), "fresh");
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
// later is met only by the rename.
TEST(DurableReplacement, AFileThatAppearsDuringTheRunIsReplacedOnlyWithTheSwitch) {
    for (const bool overwrite : {true, false}) {
        Sandbox box;
        ASSERT_TRUE(WriteFileBytes(box.Src("c.txt"), "source c"));
        FlushWatch watch;
        watch.appearAt = box.Dst("c.txt");
        RecordingProgress progress;

        const CopyRunResult result = RunCopy(box.Src(), box.Dst(), Overwrite(overwrite), progress, &watch);

        if (overwrite) {
            EXPECT_THAT(result.failures, IsEmpty());
            EXPECT_THAT(watch.flushed, ElementsAre(box.Dst("c.txt")));
            EXPECT_EQ(ReadFileBytes(box.Dst("c.txt")), "source c");
        } else {
            EXPECT_THAT(result.failures, ElementsAre("Cannot create file " + box.Dst("c.txt")));
            EXPECT_THAT(watch.flushed, IsEmpty());
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
