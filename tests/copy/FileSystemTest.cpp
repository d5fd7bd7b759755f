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
        listed.push_back(entry.name);
        if (entry.name == "plain.txt") {
            EXPECT_EQ(entry.size, 5u);
        }
        if (entry.name == "hidden") {
            EXPECT_TRUE(entry.attributes & FILE_ATTRIBUTE_HIDDEN);
        }
        EXPECT_EQ(entry.IsDirectory(), entry.name == "sub") << entry.name;
    }
    EXPECT_EQ(listed, platform);
    EXPECT_EQ(listed.size(), 6u);
    EXPECT_FALSE(listing.Next(entry));  // stays at its end
}

TEST(Listing, ThatCannotStartYieldsNothing) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("file"), "x"));
    DirEntry entry;
    EXPECT_FALSE(DirListing(box.Src("missing")).Next(entry));
    EXPECT_FALSE(DirListing(box.Src("file")).Next(entry));
    EXPECT_FALSE(DirListing(box.Dst()).Next(entry));  // empty: only "." and ".."
}

TEST(Listing, FileExistsByListingCountsFilesOfEveryKindButNoDirectory) {
    Sandbox box;
    for (const char* name : {"plain", "hidden", "system", "ab"}) ASSERT_TRUE(WriteFileBytes(box.Src(name), ""));
    SetFileAttributesA(box.Src("hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesA(box.Src("system").c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(CreateDirectoryA(box.Src("dir").c_str(), nullptr));

    EXPECT_TRUE(FileExistsByListing(box.Src("plain")));
    EXPECT_TRUE(FileExistsByListing(box.Src("PLAIN")));
    EXPECT_TRUE(FileExistsByListing(box.Src("hidden")));
    EXPECT_TRUE(FileExistsByListing(box.Src("system")));
    EXPECT_FALSE(FileExistsByListing(box.Src("dir")));
    EXPECT_FALSE(FileExistsByListing(box.Src("missing")));
    // Wildcards would list other names; they never make an exact path.
    EXPECT_FALSE(FileExistsByListing(box.Src("a?")));
    EXPECT_FALSE(FileExistsByListing(box.Src("a*")));
    EXPECT_FALSE(FileExistsByListing(box.Src("missing\\plain")));
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

TEST(Streams, FailuresCarryTheProgramsTexts) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("five"), "12345"));
    const std::string missing = box.Src("missing.txt");
    const std::string noFolder = box.Root() + "\nofolder\new.txt";

    EXPECT_EQ(FailureText<FileOpenError>([&] { FileStream::OpenRead(missing); }), "Cannot open file " + missing);
    EXPECT_EQ(FailureText<FileCreateError>([&] { FileStream::Create(noFolder); }), "Cannot create file " + noFolder);
    {
        FileStream held = FileStream::OpenRead(box.Src("five"));
        // No sharing: a second opener is refused while the first holds the file.
        EXPECT_EQ(FailureText<FileOpenError>([&] { FileStream::OpenRead(box.Src("five")); }),
                  "Cannot open file " + box.Src("five"));
        char buffer[8];
        held.ReadBuffer(buffer, 3);
        EXPECT_EQ(std::string(buffer, 3), "123");
        EXPECT_EQ(FailureText<StreamReadError>([&] { held.ReadBuffer(buffer, 3); }), "Stream read error");
        EXPECT_EQ(FailureText<StreamWriteError>([&] { held.WriteBuffer("x", 1); }), "Stream write error");
        EXPECT_EQ(held.Size(), 5u);
    }
    std::string path;
    EXPECT_EQ(FailureText<FileCreateError>(
                  [&] { FileStream::CreateTemporary(box.Root() + "\nofolder", "new.txt", noFolder, path); }),
              "Cannot create file " + noFolder);
    EXPECT_TRUE(path.empty());
}

TEST(Streams, CreateReplacesAndTruncatesWithNormalAttributes) {
    Sandbox box;
    const std::string path = box.Src("f");
    ASSERT_TRUE(WriteFileBytes(path, "long old content"));
    {
        FileStream stream = FileStream::Create(path);
        stream.WriteBuffer("new", 3);
        stream.Close();
        stream.Close();  // a second close is harmless
    }
    EXPECT_EQ(ReadFileBytes(path), "new");
}

TEST(Streams, TemporaryFilesGetFreshNamesOfTheirOwn) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Dst("keep.txt"), "user data"));
    std::set<std::string> paths;
    std::vector<FileStream> open;
    for (int i = 0; i < 20; ++i) {
        std::string path;
        open.push_back(FileStream::CreateTemporary(box.Dst(), "keep.txt", box.Dst("keep.txt"), path));
        open.back().WriteBuffer("t", 1);
        EXPECT_EQ(DirectoryPart(path), box.Dst() + "\\") << path;
        // The leftover sweep finds exactly what the generator makes.
        EXPECT_TRUE(IsTemporaryName(path.substr(box.Dst().size() + 1))) << path;
        paths.insert(path);
    }
    EXPECT_EQ(paths.size(), 20u);
    EXPECT_EQ(ReadFileBytes(box.Dst("keep.txt")), "user data");
    EXPECT_EQ(Names(box.Dst()).size(), 21u);

    const std::string dir = CreateTemporaryDirectory(box.Dst());
    EXPECT_TRUE(DirectoryExists(dir));
    EXPECT_TRUE(IsTemporaryName(dir.substr(box.Dst().size() + 1))) << dir;
    EXPECT_NE(dir, CreateTemporaryDirectory(box.Dst()));
    EXPECT_EQ(CreateTemporaryDirectory(box.Root() + "\nofolder"), "");
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
    const std::string file = dir + "\\inside.txt";
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    {
        const FileHandle hold = HoldDirectory(dir);
        ASSERT_TRUE(hold.Valid()) << GetLastError();
        EXPECT_FALSE(RemoveEmptyDirectory(dir));
        EXPECT_FALSE(MoveFileA(dir.c_str(), box.Dst("moved").c_str()));
        EXPECT_TRUE(DirectoryExists(dir));
        EXPECT_TRUE(WriteFileBytes(file, "x"));
        EXPECT_TRUE(MoveIntoPlace(file, box.Dst("out.txt"), false));
        EXPECT_TRUE(WriteFileBytes(file, "y"));
        EXPECT_TRUE(RemoveFile(file));
        // Listing it stays possible.
        DirEntry entry;
        EXPECT_FALSE(DirListing(dir).Next(entry));
    }
    EXPECT_TRUE(RemoveEmptyDirectory(dir));
    EXPECT_FALSE(HoldDirectory(dir).Valid());
}

}  // namespace
