#include "core/ProfileFile.h"
#include "core/Failure.h"

#include "core/CoreTestFiles.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

using test::ReadFileBytes;
using test::TempFolder;

class ProfileFileTest : public ::testing::Test {
protected:
    TempFolder folder;
};

TEST_F(ProfileFileTest, MissingFileOrKeyReadsAsDefault) {
    const ProfileFile ini(folder.NewFile("missing"));
    EXPECT_EQ(ini.ReadString("AppPara", "SourceDir"), "");
    EXPECT_EQ(ini.ReadString("AppPara", "SourceDir", "fallback"), "fallback");

    const ProfileFile present(folder.NewFileWith("present", "[AppPara]\r\nSourceDir=x\r\n"));
    EXPECT_EQ(present.ReadString("AppPara", "Other"), "");
    EXPECT_EQ(present.ReadString("DayPara", "SourceDir"), "");
}

TEST_F(ProfileFileTest, NamesIgnoreCaseAndValuesLoseBlanksAndOneQuotePair) {
    const ProfileFile ini(folder.NewFileWith("quotes",
                                             "[AppPara]\r\n"
                                             "SourceDir=  d:\\源目录  \r\n"
                                             "Double=\"quoted value\"\r\n"
                                             "Single='x'\r\n"
                                             "Half=\"half\r\n"
                                             "Twice=\"\"in\"\"\r\n"
                                             "Inner=  \" padded \"  \r\n"));
    EXPECT_EQ(ini.ReadString("appPARA", "sourcedir"), "d:\\源目录");
    EXPECT_EQ(ini.ReadString("AppPara", "Double"), "quoted value");
    EXPECT_EQ(ini.ReadString("AppPara", "Single"), "x");
    EXPECT_EQ(ini.ReadString("AppPara", "Half"), "\"half");
    EXPECT_EQ(ini.ReadString("AppPara", "Twice"), "\"in\"");
    EXPECT_EQ(ini.ReadString("AppPara", "Inner"), " padded ");
}

TEST_F(ProfileFileTest, OnlyTheFirst2047BytesOfAValueAreSeen) {
    std::string longValue;
    for (int i = 0; i < 3000; ++i) longValue += static_cast<char>('a' + i % 26);
    const ProfileFile ini(folder.NewFileWith("long", "[AppPara]\r\nSourceDir=" + longValue + "\r\n"));
    EXPECT_EQ(ini.ReadString("AppPara", "SourceDir"), longValue.substr(0, 2047));
}

// Cut inside a double-byte character, the value ends before it, never with a
// stray byte after the cut.
TEST_F(ProfileFileTest, LongGbkValueIsCutAtAWholeCharacter) {
    std::string longValue;
    for (int i = 0; i < 1500; ++i) longValue += "源";
    const ProfileFile ini(folder.NewFileWith("gbk", "[AppPara]\r\nSourceDir=" + longValue + "\r\n"));
    const std::string seen = ini.ReadString("AppPara", "SourceDir");
    EXPECT_GE(seen.size(), 2046u);
    EXPECT_LE(seen.size(), 2047u);
    EXPECT_EQ(longValue.compare(0, seen.size(), seen), 0);
}

// A hand-edited file may repeat a key or a section: the first one counts, and
// a write replaces that one, so what is written is what the next read sees.
TEST_F(ProfileFileTest, FirstOfRepeatedKeysAndSectionsCountsForReadAndWrite) {
    const std::string path = folder.NewFileWith("repeated",
                                                "[AppPara]\r\nSourceDir=first\r\nsourcedir=second\r\n"
                                                "[DayPara]\r\nUserTime1=1\r\n"
                                                "[appPara]\r\nSourceDir=third\r\nDestinationDir=later\r\n");
    ProfileFile ini(path);
    EXPECT_EQ(ini.ReadString("AppPara", "SourceDir"), "first");
    ini.WriteString("AppPara", "SourceDir", "new");
    ini.WriteString("AppPara", "DestinationDir", "dest");
    EXPECT_EQ(ini.ReadString("AppPara", "SourceDir"), "new");
    EXPECT_EQ(ini.ReadString("AppPara", "DestinationDir"), "dest");
    EXPECT_EQ(ProfileFile(path).ReadString("DayPara", "UserTime1"), "1");
}

TEST_F(ProfileFileTest, WrittenValuesReadBackUnchanged) {
    const std::string path = folder.NewFile("roundtrip");
    ProfileFile ini(path);
    const std::string values[] = {"d:\\源目录", " lead", "trail ", "\"quoted\"", "'", "\"", "a \"b\" c",
                                  "\\\\pc\\share\\dir", ""};
    int n = 0;
    for (const auto& value : values) ini.WriteString("AppPara", "Key" + std::to_string(n++), value);
    n = 0;
    for (const auto& value : values) EXPECT_EQ(ini.ReadString("AppPara", "Key" + std::to_string(n++)), value);
    const std::string text = ReadFileBytes(path);
    EXPECT_NE(text.find("Key0=d:\\源目录\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Key1=\" lead\"\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Key3=\"\"quoted\"\"\r\n"), std::string::npos) << text;
}

// Each way the platform refuses a write gives the same text with the full path.
TEST_F(ProfileFileTest, RefusedWriteNamesTheFullPath) {
    const std::string original = "[AppPara]\r\nSourceDir=old\r\n";
    const auto expectRefused = [&](const std::string& path) {
        ProfileFile ini(path);
        try {
            ini.WriteString("AppPara", "SourceDir", "new");
            ADD_FAILURE() << "write succeeded: " << path;
        } catch (const ProfileWriteError& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
        }
    };

    const std::string locked = folder.NewFileWith("locked", original);
    {
        test::ExclusiveLock lock(locked);
        ASSERT_TRUE(lock.Held());
        expectRefused(locked);
    }
    EXPECT_EQ(ReadFileBytes(locked), original);
    EXPECT_EQ(ProfileFile(locked).ReadString("AppPara", "SourceDir"), "old");

    expectRefused(folder.Path());  // a directory of that name
    expectRefused(folder.Path() + "\\no such folder\\SetFile.ini");

    const std::string readOnly = folder.NewFileWith("readonly", original);
    if (TempFolder::MakeReadOnly(readOnly)) {
        expectRefused(readOnly);
        EXPECT_EQ(ReadFileBytes(readOnly), original);
    }
}

TEST_F(ProfileFileTest, RelativePathIsTakenFromTheCurrentDirectory) {
    char saved[MAX_PATH];
    ::GetCurrentDirectoryA(MAX_PATH, saved);
    ::SetCurrentDirectoryA(folder.Path().c_str());
    ProfileFile ini("relative.ini");
    ini.WriteString("AppPara", "SourceDir", "here");
    ::SetCurrentDirectoryA(saved);

    const std::string expected = folder.Path() + "\\relative.ini";
    EXPECT_EQ(ini.Path(), expected);
    EXPECT_EQ(ReadFileBytes(expected), "[AppPara]\r\nSourceDir=here\r\n");
    ::DeleteFileA(expected.c_str());
}

}  // namespace
}  // namespace zelvo
