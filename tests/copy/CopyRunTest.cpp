// The copy run's progress, overwrite switch and results on real folders.
#include "CopySupport.h"

#include "core/CopyRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// Names of the source in listing order, as the run meets them.
std::vector<std::string> ListingOrder(const std::string& dir) {
    std::vector<std::string> names;
    DirEntry entry;
    for (DirListing listing(dir); listing.Next(entry);) names.push_back(ShownName(entry.name));
    return names;
}

TEST(CopyRunProgress, TwoFilesStepHalfwayTwiceAndEndFull) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("a.txt"), "alpha"));
    ASSERT_TRUE(WriteFileBytes(box.Src("b.txt"), Pattern(100000, 2)));
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress);

    EXPECT_FALSE(result.refused);
    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, 2);
    EXPECT_THAT(progress.steps, ElementsAre(5000));
    EXPECT_THAT(progress.positions, ElementsAre(5000, 10000));
    EXPECT_THAT(progress.finalPositions, ElementsAre(10000));
    const auto order = ListingOrder(box.Src());
    ASSERT_EQ(progress.captions.size(), 2u);
    EXPECT_EQ(progress.captions[0], " 备份 " + box.Src() + "\\" + order[0]);
    EXPECT_EQ(progress.captions[1], " 备份 " + box.Src() + "\\" + order[1]);
    EXPECT_EQ(ReadFileBytes(box.Dst("a.txt")), "alpha");
    EXPECT_EQ(ReadFileBytes(box.Dst("b.txt")), Pattern(100000, 2));
    // Nothing of ours is left behind: no temporary file or folder.
    EXPECT_THAT(Names(box.Dst()), ElementsAre("a.txt", "b.txt"));
}

TEST(CopyRunProgress, ThreeFilesStep3333AndEndAt10000) {
    Sandbox box;
    for (const char* name : {"1", "2", "3"}) ASSERT_TRUE(WriteFileBytes(box.Src(name), name));
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress);

    EXPECT_EQ(result.copied, 3);
    EXPECT_THAT(progress.steps, ElementsAre(3333));
    EXPECT_THAT(progress.positions, ElementsAre(3333, 6666, 9999));
    EXPECT_THAT(progress.finalPositions, ElementsAre(10000));
}

TEST(CopyRunProgress, EmptyOrVanishedSourceFillsTheBarWithoutDividing) {
    Sandbox box;
    for (const std::string& source : {box.Src(), box.Root() + "\\vanished"}) {
        RecordingProgress progress;
        const CopyRunResult result = Backup(source, box.Dst(), Overwrite(true), progress);
        EXPECT_FALSE(result.refused);
        EXPECT_THAT(result.failures, IsEmpty());
        EXPECT_EQ(result.copied, 0);
        EXPECT_THAT(progress.steps, ElementsAre(0));
        EXPECT_THAT(progress.captions, IsEmpty());
        EXPECT_THAT(progress.finalPositions, ElementsAre(10000));
    }
    EXPECT_THAT(Names(box.Dst()), IsEmpty());
}

// Looks into the destination at each step for folders of ours.
class WatchesForFolders : public RecordingProgress {
public:
    explicit WatchesForFolders(std::string dest) : dest_(std::move(dest)) {}
    void StepIt() override {
        RecordingProgress::StepIt();
        for (const std::string& name : Names(dest_)) folders += IsTemporaryName(name) ? 1 : 0;
    }
    int folders = 0;

private:
    std::string dest_;
};

TEST(CopyRunOverwrite, OffSkipsAnExistingFileButStillStepsForIt) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("a.txt"), "new a"));
    ASSERT_TRUE(WriteFileBytes(box.Src("b.txt"), "new b"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("a.txt"), "old a, kept"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("only-here.txt"), "mine"));
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress);

    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, 1);
    EXPECT_EQ(result.skipped, 1);
    EXPECT_THAT(progress.positions, ElementsAre(5000, 10000));
    EXPECT_EQ(ReadFileBytes(box.Dst("a.txt")), "old a, kept");
    EXPECT_EQ(ReadFileBytes(box.Dst("b.txt")), "new b");
    EXPECT_EQ(ReadFileBytes(box.Dst("only-here.txt")), "mine");
    EXPECT_THAT(Names(box.Dst()), ElementsAre("a.txt", "b.txt", "only-here.txt"));

    // Every file is there now: a run that copies nothing makes no folder of its own.
    WatchesForFolders again(box.Dst());
    EXPECT_EQ(Backup(box.Src(), box.Dst(), Overwrite(false), again).skipped, 2);
    EXPECT_EQ(again.folders, 0);
    EXPECT_THAT(again.positions, ElementsAre(5000, 10000));
}

TEST(CopyRunOverwrite, SkipTestMatchesNamesWithoutCase) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("Report.TXT"), "new"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("report.txt"), "old"));
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress);

    EXPECT_EQ(result.skipped, 1);
    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(ReadFileBytes(box.Dst("report.txt")), "old");
}

TEST(CopyRunOverwrite, OnReplacesAlsoALongerFile) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("a.txt"), "short"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("a.txt"), Pattern(200000, 9)));
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(true), progress);

    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, 1);
    EXPECT_EQ(ReadFileBytes(box.Dst("a.txt")), "short");
    EXPECT_THAT(Names(box.Dst()), ElementsAre("a.txt"));
}

TEST(CopyRunOverwrite, SwitchIsReadAtEachFile) {
    Sandbox box;
    for (const char* name : {"1", "2", "3", "4"}) {
        ASSERT_TRUE(WriteFileBytes(box.Src(name), std::string("new ") + name));
        ASSERT_TRUE(WriteFileBytes(box.Dst(name), std::string("old ") + name));
    }
    int reads = 0;
    RecordingProgress progress;
    // On for the first two files met, off afterwards.
    const CopyRunResult result = Backup(box.Src(), box.Dst(), [&reads] { return ++reads <= 2; }, progress);

    EXPECT_EQ(reads, 4);
    EXPECT_EQ(result.copied, 2);
    EXPECT_EQ(result.skipped, 2);
    const auto order = ListingOrder(box.Src());
    EXPECT_EQ(ReadFileBytes(box.Dst(order[0])), "new " + order[0]);
    EXPECT_EQ(ReadFileBytes(box.Dst(order[1])), "new " + order[1]);
    EXPECT_EQ(ReadFileBytes(box.Dst(order[2])), "old " + order[2]);
    EXPECT_EQ(ReadFileBytes(box.Dst(order[3])), "old " + order[3]);
}

TEST(CopyRunOverwrite, CopyGetsFreshTimesAndNormalAttributes) {
    Sandbox box;
    const std::string hidden = box.Src("hidden.txt");
    const std::string system = box.Src("system.txt");
    ASSERT_TRUE(WriteFileBytes(hidden, "h"));
    ASSERT_TRUE(WriteFileBytes(system, "s"));
    SYSTEMTIME old{2001, 2, 0, 3, 4, 5, 6, 0};
    FILETIME oldTime;
    SystemTimeToFileTime(&old, &oldTime);
    HANDLE file = CreateFileA(hidden.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetFileTime(file, &oldTime, &oldTime, &oldTime);
    CloseHandle(file);
    ASSERT_TRUE(SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA(system.c_str(), FILE_ATTRIBUTE_SYSTEM));
    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress);

    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, 2);
    constexpr DWORD kSpecial = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
    for (const char* name : {"hidden.txt", "system.txt"}) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExA(box.Dst(name).c_str(), GetFileExInfoStandard, &data)) << name;
        EXPECT_EQ(data.dwFileAttributes & kSpecial, 0u) << name;
        // Allow for file systems that keep times in 2-second or coarser units.
        ULARGE_INTEGER written{{data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime}};
        ULARGE_INTEGER start{{before.dwLowDateTime, before.dwHighDateTime}};
        EXPECT_GE(written.QuadPart + 20000000ull, start.QuadPart) << name;
    }
    EXPECT_EQ(ReadFileBytes(box.Dst("hidden.txt")), "h");
    // The source keeps its attributes.
    EXPECT_EQ(GetFileAttributesA(hidden.c_str()) & kSpecial, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
}

TEST(CopyRunEntries, SubdirectoryIsCountedAndSteppedButNeitherCopiedNorAFailure) {
    Sandbox box;
    ASSERT_TRUE(CreateDirectoryA(box.Src("sub").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(box.Src("sub\\inner.txt"), "inner"));
    ASSERT_TRUE(WriteFileBytes(box.Src("top.txt"), "top"));
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(true), progress);

    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, 1);
    EXPECT_EQ(result.directories, 1);
    EXPECT_THAT(progress.steps, ElementsAre(5000));
    EXPECT_THAT(progress.positions, ElementsAre(5000, 10000));
    EXPECT_EQ(progress.captions.size(), 2u);
    EXPECT_THAT(Names(box.Dst()), ElementsAre("top.txt"));
}

TEST(CopyRunEntries, EmptyFilesGiveEmptyCopiesAndReplaceLongerOnes) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("empty1"), ""));
    ASSERT_TRUE(WriteFileBytes(box.Src("empty2"), ""));
    ASSERT_TRUE(WriteFileBytes(box.Dst("empty2"), "was longer"));
    RecordingProgress progress;
    WithoutFlushes noFlushes;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(true), progress, &noFlushes);

    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, 2);
    EXPECT_EQ(ReadFileBytes(box.Dst("empty1")), "");
    EXPECT_EQ(ReadFileBytes(box.Dst("empty2")), "");
    EXPECT_EQ(noFlushes.reads, 0u);
}

TEST(CopyRunEntries, GbkNamesWithBackslashTrailBytes) {
    Sandbox box;
    // 乗 is 0x81 0x5C and 媆 is 0x8B 0x5C in GBK: the second byte is "\".
    const std::string names[] = {"乗.txt", "备份媆", "表格-乗乗.dat"};
    ASSERT_EQ(names[0][1], '\\');
    for (unsigned i = 0; i < 3; ++i) ASSERT_TRUE(WriteFileBytes(box.Src(names[i]), Pattern(70000, i)));
    const std::string destPath = box.Dst() + "\\目标乗";
    ASSERT_TRUE(CreateDirectoryA(destPath.c_str(), nullptr));
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), destPath, Overwrite(false), progress);

    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, 3);
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(ReadFileBytes(JoinPath(destPath, names[i])), Pattern(70000, i)) << i;
    }
    EXPECT_THAT(Names(destPath), ::testing::UnorderedElementsAre(names[0], names[1], names[2]));
    EXPECT_EQ(progress.captions.back().substr(0, 6), " 备份 ");
    // A second run with the switch off skips all three by their exact names.
    RecordingProgress again;
    EXPECT_EQ(Backup(box.Src(), destPath, Overwrite(false), again).skipped, 3);
}

TEST(CopyRunDestination, EmptyOrRelativePathIsRefusedWithoutTouchingAnything) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("a.txt"), "a"));
    for (const std::string& dest : {std::string(), std::string("backup"), std::string(".\\backup"),
                                    std::string("\\backup"), std::string("C:backup")}) {
        RecordingProgress progress;
        int reads = 0;
        const CopyRunResult result = Backup(box.Src(), dest, [&reads] { return ++reads > 0; }, progress);
        EXPECT_TRUE(result.refused) << dest;
        EXPECT_EQ(result.copied, 0) << dest;
        EXPECT_EQ(reads, 0) << dest;
        EXPECT_THAT(progress.captions, IsEmpty()) << dest;
        EXPECT_THAT(progress.finalPositions, IsEmpty()) << dest;
    }
}

TEST(CopyRunDestination, UsablePathsAreAbsoluteDriveOrUncPaths) {
    EXPECT_TRUE(IsUsableDirectoryPath("C:\\"));
    EXPECT_TRUE(IsUsableDirectoryPath("d:\\backup\\daily"));
    EXPECT_TRUE(IsUsableDirectoryPath("\\\\server\\share"));
    EXPECT_TRUE(IsUsableDirectoryPath("\\\\server\\share\\dir"));
    // A computer name whose GBK trail byte is "\" is one name, not two.
    EXPECT_TRUE(IsUsableDirectoryPath("\\\\乗\\share"));
    EXPECT_FALSE(IsUsableDirectoryPath("\\\\乗"));
    // The other forms Windows takes for the same folders.
    for (const char* path : {"d:/备份", "D:\\备份\\", "\\\\?\\D:\\备份", "\\\\?\\UNC\\server\\share\\dir",
                             "\\\\.\\D:\\备份", "//server/share", "\\\\server/share"}) {
        EXPECT_TRUE(IsUsableDirectoryPath(path)) << path;
    }
    for (const char* path : {"\\\\?\\", "\\\\?\\D:", "\\\\?\\backup", "\\\\?\\UNC\\server", "//server", "d:备份"}) {
        EXPECT_FALSE(IsUsableDirectoryPath(path)) << path;
    }

    EXPECT_FALSE(IsUsableDirectoryPath(""));
    EXPECT_FALSE(IsUsableDirectoryPath("C:"));
    EXPECT_FALSE(IsUsableDirectoryPath("C:backup"));
    EXPECT_FALSE(IsUsableDirectoryPath("1:\\backup"));
    EXPECT_FALSE(IsUsableDirectoryPath("backup\\daily"));
    EXPECT_FALSE(IsUsableDirectoryPath("\\backup"));
    EXPECT_FALSE(IsUsableDirectoryPath("\\\\server"));
    EXPECT_FALSE(IsUsableDirectoryPath("\\\\server\\"));
    EXPECT_FALSE(IsUsableDirectoryPath("\\\\\\share"));
    EXPECT_FALSE(IsUsableDirectoryPath("\\\\.\\C:"));
}

TEST(CopyRunDestination, PastedPathsLoseTheirQuotesAndBlanks) {
    const std::pair<const char*, const char*> rows[] = {
        {"\"D:\\资料\"", "D:\\资料"},            // Explorer's "Copy as path"
        {"  D:\\资料\t", "D:\\资料"},
        {" \"D:\\带 空格\\源 \" ", "D:\\带 空格\\源"},
        {"'\\\\pc\\share'", "\\\\pc\\share"},
        {"D:\\a \"b\" c", "D:\\a \"b\" c"},     // quotes inside stay
        {"\"D:\\资料", "\"D:\\资料"},            // no pair
        {"\"", "\""},
        {"\"\"", ""},
        {"", ""},
    };
    for (const auto& [typed, clean] : rows) EXPECT_EQ(CleanDirectoryText(typed), clean) << typed;
}

// Every form of a folder that a user may write reaches the same files, as
// source and as destination, and keeps apart the names that only the exact
// form tells apart.
TEST(CopyRunDestination, FolderFormsAllReachTheSameFolder) {
    const auto slashed = [](std::string path) {
        for (char& c : path) c = c == '\\' ? '/' : c;
        return path;
    };
    const std::function<std::string(const std::string&)> forms[] = {
        slashed,
        [](const std::string& path) { return path + "\\"; },
        [](const std::string& path) { return "\\\\?\\" + path; },
        [](const std::string& path) { return "\\\\.\\" + path; },
        [](const std::string& path) { return "\\\\.\\" + path + "\\sub\\..\\"; },
        [](const std::string& path) { return path + "\\sub\\.."; },
        [](const std::string& path) { return path + "\\.\\sub\\..\\\\"; },
    };
    for (const auto& form : forms) {
        Sandbox box;
        ASSERT_TRUE(WriteFileBytes(box.Src("a.txt"), "alpha"));
        ASSERT_TRUE(WriteFileBytes(box.Src(L"report."), "with a dot"));
        ASSERT_TRUE(WriteFileBytes(box.Src(L"report"), "without"));
        ASSERT_TRUE(CreateDirectoryA(box.Src("sub").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(box.Dst("sub").c_str(), nullptr));
        const std::string source = form(box.Src()), dest = form(box.Dst());
        EXPECT_TRUE(DirectoryExists(source)) << source;
        RecordingProgress progress;

        const CopyRunResult result = Backup(source, dest, Overwrite(false), progress);

        EXPECT_THAT(result.failures, IsEmpty()) << dest;
        EXPECT_EQ(result.copied, 3) << dest;
        EXPECT_EQ(ReadFileBytes(box.Dst("a.txt")), "alpha") << dest;
        EXPECT_EQ(ReadFileBytes(box.Dst(L"report.")), "with a dot") << dest;
        EXPECT_EQ(ReadFileBytes(box.Dst(L"report")), "without") << dest;
        EXPECT_THAT(Names(box.Dst()), ElementsAre("a.txt", "report", "report.", "sub")) << dest;
        // What is shown joins the text as it stands.
        EXPECT_THAT(progress.captions, ::testing::Contains(" 备份 " + source + "\\a.txt")) << source;
    }
}

}  // namespace
