// Failures during a run: each entry that fails is reported and skipped, the
// rest is copied, and no existing destination file is damaged.
#include "CopySupport.h"

#include "core/CopyRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using zelvo::test::ExclusiveLock;

namespace {

TEST(CopyRunFailures, SourceHeldOpenWithoutSharingIsReportedAndSkipped) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("busy.txt"), "busy"));
    ASSERT_TRUE(WriteFileBytes(box.Src("free.txt"), "free"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("busy.txt"), "previous backup"));
    const ExclusiveLock holder(box.Src("busy.txt"));
    ASSERT_TRUE(holder.Held());
    RecordingProgress progress;

    const CopyRunResult result = RunCopy(box.Src(), box.Dst(), Overwrite(true), progress);

    EXPECT_THAT(result.failures, ElementsAre("Cannot open file " + box.Src("busy.txt")));
    EXPECT_EQ(result.copied, 1);
    EXPECT_THAT(progress.positions, ElementsAre(5000, 10000));
    EXPECT_THAT(progress.finalPositions, ElementsAre(10000));
    EXPECT_EQ(ReadFileBytes(box.Dst("busy.txt")), "previous backup");
    EXPECT_EQ(ReadFileBytes(box.Dst("free.txt")), "free");
    EXPECT_THAT(Names(box.Dst()), ElementsAre("busy.txt", "free.txt"));
}

TEST(CopyRunFailures, NameOutsideTheCodePageCannotBeOpened) {
    Sandbox box;
    // Thai ko kai has no GBK form: the listing gives "?" in its place.
    WCHAR folder[MAX_PATH];
    ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, box.Src().c_str(), -1, folder, MAX_PATH), 0);
    const std::wstring wide = std::wstring(folder) + L"\\a\x0E01.txt";
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(file);
    ASSERT_TRUE(WriteFileBytes(box.Src("axb.txt"), "x"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("axb.txt"), "x"));
    RecordingProgress progress;

    // Switch off: the "?" must not make the skip test match axb.txt by wildcard.
    const CopyRunResult result = RunCopy(box.Src(), box.Dst(), Overwrite(false), progress);

    EXPECT_THAT(result.failures, ElementsAre("Cannot open file " + box.Src("a?.txt")));
    EXPECT_EQ(result.skipped, 1);
    EXPECT_THAT(Names(box.Dst()), ElementsAre("axb.txt"));
}

// The destination files a backup never replaces, whatever the switch says.
struct Protected {
    const char* name;
    DWORD attributes;
};

class ProtectedDestination : public ::testing::TestWithParam<Protected> {};

TEST_P(ProtectedDestination, IsReportedUnderOverwriteOnAndLeftByteIdentical) {
    Sandbox box;
    const std::string dest = box.Dst("file.txt");
    ASSERT_TRUE(WriteFileBytes(box.Src("file.txt"), "new content"));
    ASSERT_TRUE(WriteFileBytes(box.Src("other.txt"), "other"));
    ASSERT_TRUE(WriteFileBytes(dest, "protected old content"));
    ASSERT_TRUE(SetFileAttributesA(dest.c_str(), GetParam().attributes));
    RecordingProgress progress;

    const CopyRunResult result = RunCopy(box.Src(), box.Dst(), Overwrite(true), progress);

    EXPECT_THAT(result.failures, ElementsAre("Cannot create file " + dest));
    EXPECT_EQ(result.copied, 1);
    EXPECT_EQ(ReadFileBytes(dest), "protected old content");
    EXPECT_EQ(GetFileAttributesA(dest.c_str()) & GetParam().attributes, GetParam().attributes);
    EXPECT_THAT(Names(box.Dst()), ElementsAre("file.txt", "other.txt"));
}

TEST_P(ProtectedDestination, IsSkippedQuietlyUnderOverwriteOff) {
    Sandbox box;
    const std::string dest = box.Dst("file.txt");
    ASSERT_TRUE(WriteFileBytes(box.Src("file.txt"), "new content"));
    ASSERT_TRUE(WriteFileBytes(dest, "protected old content"));
    ASSERT_TRUE(SetFileAttributesA(dest.c_str(), GetParam().attributes));
    RecordingProgress progress;

    const CopyRunResult result = RunCopy(box.Src(), box.Dst(), Overwrite(false), progress);

    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.skipped, 1);
    EXPECT_EQ(ReadFileBytes(dest), "protected old content");
    EXPECT_THAT(Names(box.Dst()), ElementsAre("file.txt"));
}

INSTANTIATE_TEST_SUITE_P(Attributes, ProtectedDestination,
                         ::testing::Values(Protected{"ReadOnly", FILE_ATTRIBUTE_READONLY},
                                           Protected{"Hidden", FILE_ATTRIBUTE_HIDDEN},
                                           Protected{"System", FILE_ATTRIBUTE_SYSTEM}),
                         [](const ::testing::TestParamInfo<Protected>& info) { return info.param.name; });

TEST(CopyRunFailures, DirectoryInThePlaceOfTheDestinationFile) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("name"), "file"));
    ASSERT_TRUE(CreateDirectoryA(box.Dst("name").c_str(), nullptr));
    for (const bool overwrite : {false, true}) {
        RecordingProgress progress;
        // A directory does not count for the skip test, and is never replaced.
        const CopyRunResult result = RunCopy(box.Src(), box.Dst(), Overwrite(overwrite), progress);
        EXPECT_THAT(result.failures, ElementsAre("Cannot create file " + box.Dst("name"))) << overwrite;
        EXPECT_TRUE(DirectoryExists(box.Dst("name")));
    }
    EXPECT_THAT(Names(box.Dst()), ElementsAre("name"));
}

TEST(CopyRunFailures, DestinationHeldOpenElsewhereKeepsItsContent) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("a.txt"), "new"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("a.txt"), "open elsewhere"));
    ExclusiveLock holder(box.Dst("a.txt"));
    ASSERT_TRUE(holder.Held());
    RecordingProgress progress;

    // The content is written, but the rename that would put it in place fails.
    const CopyRunResult result = RunCopy(box.Src(), box.Dst(), Overwrite(true), progress);
    holder.Release();

    EXPECT_THAT(result.failures, ElementsAre("Cannot create file " + box.Dst("a.txt")));
    EXPECT_EQ(ReadFileBytes(box.Dst("a.txt")), "open elsewhere");
    EXPECT_THAT(Names(box.Dst()), ElementsAre("a.txt"));
}

TEST(CopyRunFailures, MissingDestinationThatCannotBeCreatedFailsEachFile) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("a.txt"), "a"));
    ASSERT_TRUE(WriteFileBytes(box.Src("b.txt"), "b"));
    const std::string dest = box.Root() + "\\missing\\deeper";
    ASSERT_FALSE(CreateOneDirectory(dest));  // one level only: the parent is missing too
    RecordingProgress progress;

    const CopyRunResult result = RunCopy(box.Src(), dest, Overwrite(false), progress);

    EXPECT_FALSE(result.refused);
    EXPECT_EQ(result.copied, 0);
    ASSERT_EQ(result.failures.size(), 2u);
    for (const auto& failure : result.failures) EXPECT_EQ(failure.rfind("Cannot create file " + dest + "\\", 0), 0u);
    EXPECT_THAT(progress.positions, ElementsAre(5000, 10000));
    EXPECT_THAT(progress.finalPositions, ElementsAre(10000));
    EXPECT_FALSE(DirectoryExists(box.Root() + "\\missing"));
}

// Fails the chosen transfer of the chosen file; counts the buffers seen.
class FailAt : public CopyFaults {
public:
    FailAt(bool read, std::string file, std::uint64_t offset) : read_(read), file_(std::move(file)), offset_(offset) {}
    bool FailRead(const std::string& file, std::uint64_t offset) override {
        ++reads;
        return read_ && file == file_ && offset == offset_;
    }
    bool FailWrite(const std::string& file, std::uint64_t offset) override {
        return !read_ && file == file_ && offset == offset_;
    }
    int reads = 0;

private:
    bool read_;
    std::string file_;
    std::uint64_t offset_;
};

class FailurePartWay : public ::testing::TestWithParam<bool> {};

TEST_P(FailurePartWay, LeavesTheOldCopyByteIdenticalAndNoTemporaryFile) {
    const bool read = GetParam();
    Sandbox box;
    const std::string big = Pattern(5 * kCopyBufferSize + 123, 1);
    const std::string old = Pattern(3 * kCopyBufferSize, 2);
    ASSERT_TRUE(WriteFileBytes(box.Src("big.bin"), big));
    ASSERT_TRUE(WriteFileBytes(box.Src("small.bin"), "small"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("big.bin"), old));
    const std::string failing = read ? box.Src("big.bin") : box.Dst("big.bin");
    FailAt faults(read, failing, 3 * kCopyBufferSize);
    RecordingProgress progress;

    const CopyRunResult result = RunCopy(box.Src(), box.Dst(), Overwrite(true), progress, &faults);

    EXPECT_THAT(result.failures, ElementsAre(read ? "Stream read error" : "Stream write error"));
    EXPECT_EQ(result.copied, 1);
    EXPECT_EQ(ReadFileBytes(box.Dst("big.bin")), old);
    EXPECT_EQ(ReadFileBytes(box.Dst("small.bin")), "small");
    EXPECT_THAT(Names(box.Dst()), ElementsAre("big.bin", "small.bin"));
    // The source can be opened again: the run closed it despite the failure.
    EXPECT_EQ(ReadFileBytes(box.Src("big.bin")), big);
    // Three buffers went through before the failure, plus the small file's one.
    EXPECT_EQ(progress.keepAlives, 4);
}

TEST_P(FailurePartWay, WithoutAnOldCopyLeavesNoPartialFile) {
    const bool read = GetParam();
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("big.bin"), Pattern(2 * kCopyBufferSize + 1, 3)));
    FailAt faults(read, read ? box.Src("big.bin") : box.Dst("big.bin"), kCopyBufferSize);
    RecordingProgress progress;

    const CopyRunResult result = RunCopy(box.Src(), box.Dst(), Overwrite(false), progress, &faults);

    EXPECT_EQ(result.failures.size(), 1u);
    EXPECT_THAT(Names(box.Dst()), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(ReadOrWrite, FailurePartWay, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Read" : "Write");
                         });

// A receiver ends the run between two buffers of a file, as the end of the
// session does, having marked the file's temporary copy to go with its handle.
class CutOffAt : public RecordingProgress {
public:
    explicit CutOffAt(std::uint64_t written) : written_(written) {}
    void BetweenBuffers(FileStream& writing) override {
        KeepAlive();
        if (writing.Size() < written_) return;
        marked = writing.DeleteOnClose();
        throw RunCutOff();
    }
    bool marked = false;

private:
    std::uint64_t written_;
};

TEST(CopyRunFailures, ACutOffEndsTheRunWithItsTallyAndNoTemporaryFile) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("big.bin"), Pattern(4 * kCopyBufferSize, 5)));
    ASSERT_TRUE(WriteFileBytes(box.Src("small.txt"), "small"));
    CutOffAt progress(2 * kCopyBufferSize);

    const CopyRunResult result = RunCopy(box.Src(), box.Dst(), Overwrite(false), progress);

    EXPECT_TRUE(result.cutOff);
    EXPECT_TRUE(progress.marked);
    EXPECT_THAT(result.failures, IsEmpty());
    // The small file was copied if the listing came to it first; nothing else is there.
    const bool smallFirst = progress.captions.size() == 2;
    EXPECT_EQ(result.copied, smallFirst ? 1 : 0);
    EXPECT_EQ(Names(box.Dst()), smallFirst ? std::vector<std::string>{"small.txt"} : std::vector<std::string>{});
    EXPECT_THAT(progress.finalPositions, IsEmpty());
}

TEST(CopyRunFailures, BuffersAreAtMost61440BytesAndCoverTheWholeFile) {
    Sandbox box;
    const std::string content = Pattern(2 * kCopyBufferSize + 5, 4);
    ASSERT_TRUE(WriteFileBytes(box.Src("f"), content));
    FailAt never(true, std::string(), 1);
    RecordingProgress progress;

    const CopyRunResult result = RunCopy(box.Src(), box.Dst(), Overwrite(false), progress, &never);

    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(never.reads, 3);
    EXPECT_EQ(progress.keepAlives, 3);
    EXPECT_EQ(ReadFileBytes(box.Dst("f")), content);
}

}  // namespace
