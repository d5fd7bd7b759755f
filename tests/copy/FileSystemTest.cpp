// The file services under the copy run: directory test, listing, streams.
#include "CopySupport.h"

#include "core/Failure.h"
#include "core/FileSystem.h"
#include "core/Handles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

TEST(DirectoryTest, OnlyAnExistingDirectoryCounts) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("file"), "x"));
    EXPECT_TRUE(DirectoryExists(box.Src()));
    EXPECT_TRUE(DirectoryExists(box.Src() + "\\"));
    EXPECT_FALSE(DirectoryExists(box.Src("file")));
    EXPECT_FALSE(DirectoryExists(box.Src("missing")));
    EXPECT_FALSE(DirectoryExists(""));
    EXPECT_FALSE(DirectoryExists("\\\\no-such-computer-zelvo\\share"));
}

// Wine serves \\computer\share from dosdevices\unc\computer\share of its
// prefix, which gives a real UNC directory to test against.
TEST(DirectoryTest, UncPathIsTakenAsItStands) {
    char prefix[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) GTEST_SKIP() << "no Wine prefix to serve a UNC share from";
    std::string unc = std::string("Z:") + prefix + "/dosdevices/unc";
    for (auto& c : unc) c = c == '/' ? '\\' : c;
    const bool madeUnc = CreateDirectoryA(unc.c_str(), nullptr) != FALSE;
    const std::string computer = unc + "\\zelvo-test-host";
    const std::string share = computer + "\\share";
    ASSERT_TRUE(CreateDirectoryA(computer.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(share.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((share + "\\dir").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(share + "\\file", "x"));

    EXPECT_TRUE(DirectoryExists("\\\\zelvo-test-host\\share"));
    EXPECT_TRUE(DirectoryExists("\\\\zelvo-test-host\\share\\dir"));
    EXPECT_FALSE(DirectoryExists("\\\\zelvo-test-host\\share\\file"));
    EXPECT_FALSE(DirectoryExists("\\\\zelvo-test-host\\share\\missing"));

    // Past MAX_PATH a share is reached through its \\?\UNC\ form.
    Sandbox box;
    const std::wstring longName(250, L'n');
    ASSERT_TRUE(WriteFileBytes(box.Src(longName), "over the network"));
    RecordingProgress progress;
    const CopyRunResult result = Backup(box.Src(), "\\\\zelvo-test-host\\share\\dir", Overwrite(false), progress);
    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, 1);
    EXPECT_EQ(ReadFileBytes(L"\\\\?\\UNC\\zelvo-test-host\\share\\dir\\" + longName), "over the network");

    RemoveTree(computer);
    if (madeUnc) RemoveDirectoryA(unc.c_str());
}

TEST(DirectoryTest, CreateOneDirectoryMakesOneLevelOnly) {
    Sandbox box;
    EXPECT_TRUE(CreateOneDirectory(box.Root() + "\\new"));
    EXPECT_TRUE(DirectoryExists(box.Root() + "\\new"));
    EXPECT_FALSE(CreateOneDirectory(box.Root() + "\\new"));
    EXPECT_FALSE(CreateOneDirectory(box.Root() + "\\a\\b"));
    EXPECT_FALSE(DirectoryExists(box.Root() + "\\a"));
}

TEST(PathJoining, JoinsWithOneSeparatorAndNoNormalisation) {
    EXPECT_EQ(JoinPath("d:\\", "F"), "d:\\\\F");
    EXPECT_EQ(JoinPath("d:\\dir", "a b.txt"), "d:\\dir\\a b.txt");
    EXPECT_EQ(JoinPath("", "F"), "\\F");
    EXPECT_EQ(JoinPath("\\\\pc\\share", "乗"), "\\\\pc\\share\\乗");
}

TEST(PathJoining, FindSeparatorStepsOverDoubleByteCharacters) {
    const std::string path = "c:\\乗\\x";  // 乗 = 0x81 0x5C
    EXPECT_EQ(FindSeparator(path), 2u);
    EXPECT_EQ(FindSeparator(path, 3), 5u);
    EXPECT_EQ(FindSeparator(path, 6), std::string::npos);
}

TEST(PathJoining, DirectoryPartEndsAtTheLastRealSeparator) {
    // The program's own folder: a name ending in a trail byte 0x5C is no separator.
    EXPECT_EQ(DirectoryPart("c:\\备份\\乗"), "c:\\备份\\");
    EXPECT_EQ(DirectoryPart("c:\\乗\\ZelvoBackup.exe"), "c:\\乗\\");
    EXPECT_EQ(DirectoryPart("ZelvoBackup.exe"), "");
}

TEST(Listing, GivesEveryEntryButDotsInThePlatformsOrder) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("plain.txt"), "12345"));
    ASSERT_TRUE(WriteFileBytes(box.Src("hidden"), ""));
    ASSERT_TRUE(WriteFileBytes(box.Src("system"), ""));
    ASSERT_TRUE(WriteFileBytes(box.Src("readonly"), ""));
    ASSERT_TRUE(WriteFileBytes(box.Src("noext"), ""));
    ASSERT_TRUE(CreateDirectoryA(box.Src("sub").c_str(), nullptr));
    SetFileAttributesA(box.Src("hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesA(box.Src("system").c_str(), FILE_ATTRIBUTE_SYSTEM);
    SetFileAttributesA(box.Src("readonly").c_str(), FILE_ATTRIBUTE_READONLY);

    std::vector<std::string> platform;
    WIN32_FIND_DATAA data;
    FindHandle find(FindFirstFileA((box.Src() + "\\*.*").c_str(), &data));
    ASSERT_TRUE(find.Valid());
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..") platform.push_back(name);
    } while (FindNextFileA(find.Get(), &data));

    std::vector<std::string> listed;
    DirEntry entry;
    DirListing listing(box.Src());
    while (listing.Next(entry)) {
        const std::string name = ShownName(entry.name);
        listed.push_back(name);
        if (name == "plain.txt") {
            EXPECT_EQ(entry.size, 5u);
        }
        if (name == "hidden") {
            EXPECT_TRUE(entry.attributes & FILE_ATTRIBUTE_HIDDEN);
        }
        EXPECT_EQ(entry.IsDirectory(), name == "sub") << name;
    }
    EXPECT_EQ(listed, platform);
    EXPECT_EQ(listed.size(), 6u);
    EXPECT_FALSE(listing.Next(entry));  // stays at its end
    EXPECT_EQ(listing.Error(), static_cast<DWORD>(ERROR_SUCCESS));
}

// The seam the run's tests use to make a listing break off as a share that
// drops does; the listing tells the error after the entries it gave.
TEST(Listing, ThatBreaksOffTellsItsError) {
    Sandbox box;
    for (const char* name : {"1", "2", "3"}) ASSERT_TRUE(WriteFileBytes(box.Src(name), ""));
    DirEntry entry;
    DirListing listing(DirPath(box.Src()), [](std::size_t listed) {
        return listed == 2 ? static_cast<DWORD>(ERROR_NETNAME_DELETED) : static_cast<DWORD>(ERROR_SUCCESS);
    });
    int got = 0;
    while (listing.Next(entry)) ++got;
    EXPECT_EQ(got, 2);
    EXPECT_EQ(listing.Error(), static_cast<DWORD>(ERROR_NETNAME_DELETED));
    // The platform's reason, on one line; a number where it has none.
    const std::string reason = SystemErrorText(ERROR_NETNAME_DELETED);
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(reason.find_first_of("\r\n"), std::string::npos) << reason;
    EXPECT_EQ(SystemErrorText(0x20001234u), "error 536875572");
}

TEST(Listing, ThatCannotStartYieldsNothing) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("file"), "x"));
    DirEntry entry;
    for (const std::string& dir : {box.Src("missing"), box.Src("file"), box.Dst()}) {
        DirListing listing(dir);
        EXPECT_FALSE(listing.Next(entry)) << dir;
    }
    // A directory that is not there, or that is empty (only "." and ".."), is no failure.
    for (const std::string& dir : {box.Src("missing"), box.Dst()}) {
        DirListing listing(dir);
        EXPECT_FALSE(listing.Next(entry));
        EXPECT_EQ(listing.Error(), static_cast<DWORD>(ERROR_SUCCESS)) << dir;
    }
}

TEST(Listing, FindExactFindsEntriesOfEveryKindAndTheNameItMatched) {
    Sandbox box;
    for (const char* name : {"plain", "hidden", "system", "ab", "longfilename.txt"}) {
        ASSERT_TRUE(WriteFileBytes(box.Src(name), ""));
    }
    SetFileAttributesA(box.Src("hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesA(box.Src("system").c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(CreateDirectoryA(box.Src("dir").c_str(), nullptr));

    EXPECT_EQ(FindExact(box.Src(L"PLAIN")).name, L"plain");
    EXPECT_TRUE(FindExact(box.Src(L"hidden")).attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(FindExact(box.Src(L"system")).found);
    EXPECT_TRUE(FindExact(box.Src(L"dir")).IsDirectory());
    EXPECT_FALSE(FindExact(box.Src(L"missing")).found);
    // Wildcards would list other names; they never make an exact path.
    EXPECT_FALSE(FindExact(box.Src(L"a?")).found);
    EXPECT_FALSE(FindExact(box.Src(L"a*")).found);
    EXPECT_FALSE(FindExact(box.Src(L"missing\\plain")).found);
    // The 8.3 alias reaches the long name, which the look-up tells.
    WCHAR alias[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(box.Src(L"longfilename.txt").c_str(), alias, MAX_PATH), 0u);
    const std::wstring aliasName = std::wstring(alias).substr(std::wstring(alias).rfind(L'\\') + 1);
    ASSERT_NE(aliasName, L"longfilename.txt");
    EXPECT_EQ(FindExact(alias).name, L"longfilename.txt");
    EXPECT_FALSE(SameName(aliasName, L"longfilename.txt"));
    EXPECT_TRUE(SameName(L"LongFileName.TXT", L"longfilename.txt"));
}

template <typename Error, typename Action>
std::string FailureText(Action action) {
    try {
        action();
    } catch (const Error& error) {
        return error.what();
    }
    return "<no failure>";
}

// Each failure names the file as shown and gives the platform's reason.
TEST(Streams, FailuresCarryTheProgramsTextsTheFileAndTheReason) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("five"), "12345"));
    const std::string noFolder = box.Root() + "\\nofolder\\new.txt";

    EXPECT_EQ(FailureText<FileOpenError>([&] { FileStream::OpenRead(box.Src(L"missing.txt"), "shown"); }),
              Line("Cannot open file", "shown", ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FailureText<FileCreateError>([&] { FileStream::Create(WidenAnsi(noFolder), noFolder); }),
              Line("Cannot create file", noFolder, ERROR_PATH_NOT_FOUND));
    {
        FileStream held = FileStream::OpenRead(box.Src(L"five"), "shown five");
        // Sharing reading only: another reader may open the file, a writer may not.
        EXPECT_NO_THROW(FileStream::OpenRead(box.Src(L"five"), "five"));
        EXPECT_EQ(CreateFileW(box.Src(L"five").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        char buffer[8];
        held.ReadBuffer(buffer, 3);
        EXPECT_EQ(std::string(buffer, 3), "123");
        // A file that ends before its size has been read changed under the copy.
        EXPECT_EQ(FailureText<FileChangedError>([&] { held.ReadBuffer(buffer, 3); }),
                  "File changed while it was copied shown five");
        EXPECT_EQ(FailureText<StreamWriteError>([&] { held.WriteBuffer("x", 1); }),
                  Line("Stream write error", "shown five", ERROR_ACCESS_DENIED));
        EXPECT_EQ(held.Size(), 5u);
    }
    {
        // A writer, even one that shares everything, keeps the copy from opening the file.
        const HANDLE writer = CreateFileW(box.Src(L"five").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(writer, INVALID_HANDLE_VALUE);
        EXPECT_EQ(FailureText<FileOpenError>([&] { FileStream::OpenRead(box.Src(L"five"), "five"); }),
                  Line("Cannot open file", "five", ERROR_SHARING_VIOLATION));
        CloseHandle(writer);
    }
    std::wstring path;
    EXPECT_EQ(FailureText<FileCreateError>(
                  [&] { FileStream::CreateTemporary(DirPath(box.Root() + "\\nofolder"), {}, noFolder, path); }),
              Line("Cannot create file", noFolder, ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(path.empty());
}

TEST(Streams, CreateReplacesAndTruncatesWithNormalAttributes) {
    Sandbox box;
    const std::string path = box.Src("f");
    ASSERT_TRUE(WriteFileBytes(path, "long old content"));
    {
        FileStream stream = FileStream::Create(WidenAnsi(path), path);
        stream.WriteBuffer("new", 3);
        stream.Close();
        stream.Close();  // a second close is harmless
    }
    EXPECT_EQ(ReadFileBytes(path), "new");
}

TEST(Streams, TemporaryFilesGetFreshNamesOfTheirOwn) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Dst("keep.txt"), "user data"));
    const std::wstring dst = WidenAnsi(box.Dst()) + L"\\";
    std::set<std::wstring> names;
    std::vector<FileStream> open;
    for (int i = 0; i < 20; ++i) {
        std::wstring path;
        open.push_back(FileStream::CreateTemporary(DirPath(box.Dst()), {}, box.Dst("keep.txt"), path));
        open.back().WriteBuffer("t", 1);
        ASSERT_EQ(path.substr(0, dst.size()), dst);
        // The leftover sweep finds exactly what the generator makes.
        EXPECT_TRUE(IsTemporaryName(path.substr(dst.size())));
        names.insert(path.substr(dst.size()));
    }
    EXPECT_EQ(names.size(), 20u);
    EXPECT_EQ(ReadFileBytes(box.Dst("keep.txt")), "user data");
    EXPECT_EQ(Names(box.Dst()).size(), 21u);
    const std::wstring dir = CreateTemporaryDirectory(DirPath(box.Dst()), {});
    EXPECT_TRUE(DirectoryExists(box.Dst(ShownName(dir))));
    EXPECT_TRUE(IsTemporaryName(dir));
    EXPECT_NE(dir, CreateTemporaryDirectory(DirPath(box.Dst()), {}));
    EXPECT_EQ(CreateTemporaryDirectory(DirPath(box.Root() + "\\nofolder"), {}), L"");
}

TEST(Streams, TemporaryNamesAreExactlyOursAndNothingLikeThem) {
    EXPECT_TRUE(IsTemporaryName("~zlv0123abcd.tmp"));
    EXPECT_TRUE(IsTemporaryName("~zlvffffffff.tmp"));
    for (const char* other : {"~zlv1234567.tmp", "~zlv123456789.tmp", "~zlv12345678.tmp.bak", "x~zlv12345678.tmp",
                              "~ZLV12345678.tmp", "~zlv12345678.TMP", "~zlv1234ABCD.tmp", "~zlvabcdefgh.tmp",
                              "~zlv1234 678.tmp", "~zlv12345678_tmp", "zlv12345678.tmp", ""}) {
        EXPECT_FALSE(IsTemporaryName(other)) << other;
    }
}

// What keeps another copy of the program from removing a live run's folder.
TEST(HeldDirectory, CannotBeRemovedOrRenamedButItsFilesCanChange) {
    Sandbox box;
    const std::string dir = box.Dst("held");
    const std::wstring wideDir = WidenAnsi(dir);
    const std::string file = dir + "\\inside.txt";
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    {
        const FileHandle hold = HoldDirectory(wideDir);
        ASSERT_TRUE(hold.Valid()) << GetLastError();
        EXPECT_FALSE(RemoveEmptyDirectory(wideDir));
        EXPECT_FALSE(MoveFileA(dir.c_str(), box.Dst("moved").c_str()));
        EXPECT_TRUE(DirectoryExists(dir));
        EXPECT_TRUE(WriteFileBytes(file, "x"));
        EXPECT_TRUE(MoveIntoPlace(WidenAnsi(file), box.Dst(L"out.txt"), false));
        EXPECT_TRUE(WriteFileBytes(file, "y"));
        EXPECT_TRUE(RemoveFile(WidenAnsi(file)));
        // Listing it stays possible.
        DirEntry entry;
        EXPECT_FALSE(DirListing(dir).Next(entry));
    }
    EXPECT_TRUE(RemoveEmptyDirectory(wideDir));
    EXPECT_FALSE(HoldDirectory(wideDir).Valid());
}

}  // namespace
