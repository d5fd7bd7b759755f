// Runs over many entries, over a file past 4 GiB, and over a source that
// changes between the counting pass and the copy pass.
#include "CopySupport.h"

#include "core/CopyRun.h"

#include <psapi.h>
#include <winioctl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// The path under which new names can be made quickly. Under Wine every new
// name in a folder costs a case-blind scan of the whole folder; through its
// "\\?\unix\" form (Wine's own) a new name costs far less. Elsewhere the path
// stays as it is.
std::string FastCreationPath(const std::string& dir) {
    const std::string unix = UnixFileName(dir);
    if (unix.empty()) return dir;
    std::string path = "\\\\?\\unix" + unix;
    for (auto& c : path) c = c == '/' ? '\\' : c;
    return path;
}

void MakeDirectories(const std::string& dir, int count) {
    const std::string base = FastCreationPath(dir);
    char name[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "entry-%05d", i);
        ASSERT_TRUE(CreateDirectoryA(JoinPath(base, name).c_str(), nullptr)) << name;
    }
}

TEST(CopyRunScale, MoreThan10000EntriesGiveStepZeroAndAFullBarAtTheEnd) {
    Sandbox box;
    constexpr int kEntries = 10001;
    // Subdirectories count as entries and cost the run no copying.
    ASSERT_NO_FATAL_FAILURE(MakeDirectories(box.Src(), kEntries - 2));
    ASSERT_TRUE(WriteFileBytes(box.Src("file-1"), "1"));
    ASSERT_TRUE(WriteFileBytes(box.Src("file-2"), "2"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("file-2"), "old 2"));
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress);

    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.directories, kEntries - 2);
    EXPECT_EQ(result.skipped, 1);
    EXPECT_EQ(result.copied, 1);
    EXPECT_THAT(progress.steps, ElementsAre(0));
    EXPECT_EQ(progress.positions.size(), static_cast<std::size_t>(kEntries));
    EXPECT_THAT(progress.positions, Each(0));
    EXPECT_THAT(progress.finalPositions, ElementsAre(10000));
    EXPECT_THAT(Names(box.Dst()), ElementsAre("file-1", "file-2"));
}

// Adds a file to the source when the step is set, between the two passes.
class AddingProgress : public RecordingProgress {
public:
    explicit AddingProgress(std::string file) : file_(std::move(file)) {}
    void SetStep(int value) override {
        RecordingProgress::SetStep(value);
        WriteFileBytes(file_, "late");
    }

private:
    std::string file_;
};

TEST(CopyRunScale, FileAddedBetweenThePassesWrapsTheBarAndIsCopied) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("a.txt"), "a"));
    ASSERT_TRUE(WriteFileBytes(box.Src("b.txt"), "b"));
    AddingProgress progress(box.Src("c.txt"));

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress);

    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, 3);
    EXPECT_THAT(progress.steps, ElementsAre(5000));
    // The third step passes the maximum and the bar starts over.
    EXPECT_THAT(progress.positions, ElementsAre(5000, 10000, 5000));
    EXPECT_THAT(progress.finalPositions, ElementsAre(10000));
    EXPECT_EQ(ReadFileBytes(box.Dst("c.txt")), "late");
}

TEST(CopyRunScale, EntriesAppearingInAnEmptySourceDoNotMoveTheBar) {
    Sandbox box;
    AddingProgress progress(box.Src("late.txt"));

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress);

    EXPECT_EQ(result.copied, 1);
    EXPECT_THAT(progress.steps, ElementsAre(0));
    EXPECT_THAT(progress.positions, ElementsAre(0));
    EXPECT_THAT(progress.finalPositions, ElementsAre(10000));
}

// Space the file takes on disk. (Wine's GetCompressedFileSize gives the
// length instead; the allocation size of the standard information is real.)
std::uint64_t AllocatedBytes(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    FILE_STANDARD_INFO info{};
    const bool ok = GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info);
    CloseHandle(file);
    return ok ? static_cast<std::uint64_t>(info.AllocationSize.QuadPart) : ~0ull;
}

void WriteAt(HANDLE file, std::uint64_t offset, const std::string& bytes) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD written = 0;
    ASSERT_TRUE(SetFilePointerEx(file, at, nullptr, FILE_BEGIN));
    ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

std::string ReadAt(const std::string& path, std::uint64_t offset, std::size_t count) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    std::string bytes(count, '\0');
    DWORD got = 0;
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    ReadFile(file, &bytes[0], static_cast<DWORD>(count), &got, nullptr);
    CloseHandle(file);
    bytes.resize(got);
    return bytes;
}

// Sparse source files whose sizes (one file), or whose sum (several files),
// pass 32 bits, and eight large files in flight at once. The copies are not
// sparse: each row writes its total to the disk and frees it at the end.
struct SparseRun {
    const char* name;
    std::vector<std::uint64_t> sizes;
    int inFlight;  // 0: as the test program runs them
};

// The highest working set of the process that the run's own thread sees,
// above the one before the run.
class WorkingSetWatch : public RecordingProgress {
public:
    void KeepAlive() override {
        RecordingProgress::KeepAlive();
        const std::uint64_t now = WorkingSet();
        if (now > before) grown = std::max(grown, now - before);
    }
    static std::uint64_t WorkingSet() {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
        return counters.WorkingSetSize;
    }
    const std::uint64_t before = WorkingSet();
    std::uint64_t grown = 0;
};

class CopyRunSparse : public ::testing::TestWithParam<SparseRun> {};

TEST_P(CopyRunSparse, IsCopiedToTheLastByteAndCountsEveryByte) {
    Sandbox box;
    std::uint64_t total = 0, buffers = 0;
    std::vector<std::string> names;
    for (const std::uint64_t size : GetParam().sizes) {
        names.push_back("part-" + std::to_string(names.size()) + ".bin");
        const std::string source = box.Src(names.back());
        HANDLE file = CreateFileA(source.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD returned = 0;
        const bool sparse = DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
        WriteAt(file, 0, "head");
        if (size > (1ull << 32)) WriteAt(file, (1ull << 32) - 2, "<4G>");
        WriteAt(file, size - 4, "tail");
        CloseHandle(file);
        if (AllocatedBytes(source) > (64u << 20)) {
            GTEST_SKIP() << "the file system does not keep the file sparse (FSCTL_SET_SPARSE "
                         << (sparse ? "accepted" : "refused") << ")";
        }
        total += size;
        buffers += (size + kCopyBufferSize - 1) / kCopyBufferSize;
    }
    std::vector<std::uint64_t> listed;
    DirEntry entry;
    for (DirListing listing(box.Src()); listing.Next(entry);) listed.push_back(entry.size);
    EXPECT_THAT(listed, ::testing::UnorderedElementsAreArray(GetParam().sizes));
    WorkingSetWatch progress;
    WithoutFlushes noFlushes;
    CopyTuning tuning;
    tuning.filesInFlight = GetParam().inFlight;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress, &noFlushes, tuning);

    // One buffer of at most kCopyBufferSize for each file in flight, never a whole file.
    EXPECT_LE(progress.grown, 16u << 20);
    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, static_cast<int>(names.size()));
    EXPECT_EQ(result.bytesCopied, total);
    EXPECT_EQ(noFlushes.reads, buffers);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::uint64_t size = GetParam().sizes[i];
        const std::string dest = box.Dst(names[i]);
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExA(dest.c_str(), GetFileExInfoStandard, &data)) << names[i];
        EXPECT_EQ((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, size);
        EXPECT_EQ(ReadAt(dest, 0, 4), "head");
        if (size > (1ull << 32)) {
            EXPECT_EQ(ReadAt(dest, (1ull << 32) - 2, 4), "<4G>");
        }
        EXPECT_EQ(ReadAt(dest, size - 4, 8), "tail");
        EXPECT_EQ(ReadAt(dest, size / 2, 4), std::string(4, '\0'));
        // Give the space back at once.
        DeleteFileA(dest.c_str());
        DeleteFileA(box.Src(names[i]).c_str());
    }
}

// Past 32 bits and not a whole buffer.
constexpr std::uint64_t kJustOver4GiB = (4ull << 30) + 4097;

INSTANTIATE_TEST_SUITE_P(CopyRunScale, CopyRunSparse,
                         ::testing::Values(SparseRun{"OneFileJustOver4GiB", {kJustOver4GiB}, 0},
                                           SparseRun{"ThreeFilesTogetherJustOver4GiB",
                                                     {2ull << 30, (2ull << 30) - 4096, 8193}, 0},
                                           SparseRun{"EightLargeFilesInFlight",
                                                     std::vector<std::uint64_t>(8, 48u << 20), 8}),
                         [](const ::testing::TestParamInfo<SparseRun>& info) { return info.param.name; });

}  // namespace
