#include "core/Settings.h"
#include "core/Failure.h"

#include "core/CoreTestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelvo {
namespace {

using test::ReadFileBytes;
using test::TempFolder;

const std::string kTitle = "Zelvo文件备份软件";
const std::string kExe = "C:\\Program Files\\Zelvo\\ZelvoBackup.exe";

class FakeRegistrar : public StartupRegistrar {
public:
    void Register(const std::string& title, const std::string& command) override {
        calls.push_back("Register " + title + " = " + command);
        if (refuse) throw Failure("Access denied");
    }
    void Unregister(const std::string& keyPath, const std::string& name) noexcept override {
        calls.push_back("Unregister " + keyPath + " " + name);
    }
    bool refuse = false;
    std::vector<std::string> calls;
};

class SettingsTest : public ::testing::Test {
protected:
    SettingsState Load(const std::string& path) {
        SettingsState state;
        LoadSettings(ProfileFile(path), state, clock, fs);
        return state;
    }

    void Save(const std::string& path, SettingsState& state) {
        ProfileFile ini(path);
        SaveSettings(ini, state, registrar, kTitle, kExe, fs);
    }

    static std::string Read(const std::string& path, const char* section, const std::string& key) {
        return ProfileFile(path).ReadString(section, key);
    }

    TempFolder folder;
    FormatSettings fs;
    FakeRegistrar registrar;
    DateTime clockValue = EncodeDate(2026, 12, 7) + EncodeTime(9, 3, 5);
    Clock clock = [this] { return clockValue; };
};

TEST(SettingsKeys, OnlyExactlyOneIsTrue) {
    EXPECT_TRUE(FlagValue("1"));
    for (const char* text : {"", "0", "01", "1 ", "yes", "true", "I", "１"}) EXPECT_FALSE(FlagValue(text)) << text;
}

TEST(SettingsKeys, RunValueDataQuotesPathsWithBlanks) {
    EXPECT_EQ(RunValueData("C:\\Program Files\\Zelvo\\ZelvoBackup.exe"),
              "\"C:\\Program Files\\Zelvo\\ZelvoBackup.exe\"");
    EXPECT_EQ(RunValueData("C:\\Zelvo\\ZelvoBackup.exe"), "C:\\Zelvo\\ZelvoBackup.exe");
}

TEST_F(SettingsTest, MissingFileGivesTheDefaults) {
    const SettingsState state = Load(folder.NewFile("missing"));
    EXPECT_EQ(state.sourceDir, "d:\\源目录");
    EXPECT_EQ(state.destinationDir, "d:\\目的目录");
    EXPECT_FALSE(state.overwrite);
    EXPECT_FALSE(state.autoRun);
    EXPECT_FALSE(state.startMinimized);
    for (const auto& slot : state.slots) {
        EXPECT_FALSE(slot.checked);
        EXPECT_FALSE(slot.pickerEnabled);
        EXPECT_EQ(slot.time, clockValue);  // empty DayTimeN: the time of loading
    }
}

TEST_F(SettingsTest, OnlyExactlyOneSwitchesOn) {
    const std::string path = folder.NewFileWith("flags",
                                                "[AppPara]\r\nOverWriteFile=yes\r\nAutoRun= 1 \r\n"
                                                "[DayPara]\r\nUserTime1=01\r\nUserTime2=1\r\n");
    SettingsState state = Load(path);
    EXPECT_FALSE(state.overwrite);
    EXPECT_TRUE(state.autoRun);  // the platform strips the blanks
    EXPECT_TRUE(state.startMinimized);
    EXPECT_FALSE(state.slots[0].checked);
    EXPECT_TRUE(state.slots[1].checked);
    EXPECT_TRUE(state.slots[1].pickerEnabled);

    state.autoRun = false;
    Save(path, state);
    EXPECT_EQ(Read(path, kAppSection, kOverWriteFileKey), "0");
    EXPECT_EQ(Read(path, kAppSection, kAutoRunKey), "0");
}

TEST_F(SettingsTest, StoredTimeLoadsAndSavesAsTheSameText) {
    const std::string path =
        folder.NewFileWith("time", "[DayPara]\r\nDayTime2=07:05:09\r\nUserTime2=1\r\nUserTime1=1\r\n");
    SettingsState state = Load(path);
    EXPECT_TRUE(state.slots[1].checked);
    EXPECT_TRUE(state.slots[1].pickerEnabled);
    EXPECT_EQ(FormatDateTime(kTimeFormat, state.slots[1].time, fs), "07:05:09");
    EXPECT_TRUE(state.slots[0].checked);
    EXPECT_EQ(state.slots[0].time, clockValue);  // UserTime1=1 without DayTime1

    Save(path, state);
    EXPECT_EQ(Read(path, kDaySection, "DayTime2"), "07:05:09");
    EXPECT_EQ(Read(path, kDaySection, "DayTime1"), "09:03:05");
}

TEST_F(SettingsTest, EmptySourceSavesEmptyAndReloadsTheDefault) {
    const std::string path = folder.NewFile("empty");
    SettingsState state;
    state.destinationDir = "e:\\backup";
    Save(path, state);
    EXPECT_NE(ReadFileBytes(path).find("SourceDir=\r\n"), std::string::npos);
    const SettingsState loaded = Load(path);
    EXPECT_EQ(loaded.sourceDir, "d:\\源目录");
    EXPECT_EQ(loaded.destinationDir, "e:\\backup");
}

// A path pasted with its quotes ("Copy as path") or blanks is saved as the
// folder it names, not protected in a second pair of quotes.
TEST_F(SettingsTest, PathsAreSavedWithoutSurroundingBlanksOrQuotes) {
    const std::string path = folder.NewFile("paths");
    SettingsState state;
    state.sourceDir = " d:\\with blank ";
    state.destinationDir = "\"\\\\pc\\share\\quoted\"";
    Save(path, state);
    const std::string text = ReadFileBytes(path);
    EXPECT_NE(text.find("SourceDir=d:\\with blank\r\nDestinationDir=\\\\pc\\share\\quoted\r\n"), std::string::npos)
        << text;
    const SettingsState loaded = Load(path);
    EXPECT_EQ(loaded.sourceDir, "d:\\with blank");
    EXPECT_EQ(loaded.destinationDir, "\\\\pc\\share\\quoted");
}

TEST_F(SettingsTest, BadDayTimeStopsTheLoadAtThatSlot) {
    const std::string path = folder.NewFileWith("bad",
                                                "[AppPara]\r\nSourceDir=s:\\x\r\nAutoRun=1\r\n"
                                                "[DayPara]\r\nUserTime1=1\r\nDayTime1=08:00:00\r\n"
                                                "UserTime2=1\r\nDayTime2=25:00:00\r\n"
                                                "UserTime3=1\r\nDayTime3=09:00:00\r\n");
    SettingsState state;
    try {
        LoadSettings(ProfileFile(path), state, clock, fs);
        FAIL() << "no ConvertError";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "'25:00:00' is not a valid date and time");
    }
    EXPECT_EQ(state.sourceDir, "s:\\x");
    EXPECT_TRUE(state.startMinimized);
    EXPECT_TRUE(state.slots[0].checked);
    EXPECT_EQ(FormatDateTime(kTimeFormat, state.slots[0].time, fs), "08:00:00");
    EXPECT_TRUE(state.slots[1].checked);
    EXPECT_TRUE(state.slots[1].pickerEnabled);
    EXPECT_EQ(state.slots[1].time, InitialPickerTime());
    EXPECT_FALSE(state.slots[2].checked);
    EXPECT_TRUE(state.slots[2].pickerEnabled);
    EXPECT_EQ(state.slots[2].time, InitialPickerTime());
}

TEST_F(SettingsTest, TimeWrittenUnderOneSeparatorFailsUnderAnother) {
    const std::string path = folder.NewFile("separator");
    FormatSettings dotted = fs;
    dotted.timeSeparator = '.';
    SettingsState state;
    state.slots[0].time = EncodeTime(7, 5, 9);
    ProfileFile ini(path);
    SaveSettings(ini, state, registrar, kTitle, kExe, dotted);
    EXPECT_EQ(Read(path, kDaySection, "DayTime1"), "07.05.09");
    EXPECT_THROW(Load(path), ConvertError);
}

TEST_F(SettingsTest, CheckedAutoRunRegistersThenWritesOne) {
    const std::string path = folder.NewFileWith("autorun", "[AppPara]\r\nAutoRun=0\r\n");
    SettingsState state;
    state.autoRun = true;
    Save(path, state);
    EXPECT_TRUE(state.autoRun);
    EXPECT_EQ(Read(path, kAppSection, kAutoRunKey), "1");
    ASSERT_EQ(registrar.calls.size(), 1u);
    EXPECT_EQ(registrar.calls[0], "Register " + kTitle + " = \"" + kExe + "\"");
}

TEST_F(SettingsTest, RefusedRegistrationIsSilentAndKeepsAutoRun) {
    const std::string path = folder.NewFileWith("refused", "[AppPara]\r\nAutoRun=0\r\n");
    SettingsState state;
    state.autoRun = true;
    state.slots[2].checked = true;
    registrar.refuse = true;
    ASSERT_NO_THROW(Save(path, state));
    EXPECT_FALSE(state.autoRun);
    EXPECT_EQ(Read(path, kAppSection, kAutoRunKey), "0");
    EXPECT_EQ(Read(path, kDaySection, "UserTime3"), "1");  // the save went on
}

// A file held open by another program is refused like a read-only one (which
// Wine does not enforce when the tests run as root).
TEST_F(SettingsTest, RefusedFileStopsTheSaveAtTheFirstWrite) {
    const std::string original = "[AppPara]\r\nSourceDir=old\r\n";
    const std::string path = folder.NewFileWith("refused", original);
    SettingsState state;
    state.sourceDir = "new";
    state.autoRun = true;
    {
        test::ExclusiveLock lock(path);
        ASSERT_TRUE(lock.Held());
        try {
            Save(path, state);
            FAIL() << "save into a locked file succeeded";
        } catch (const ProfileWriteError& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
        }
    }
    EXPECT_TRUE(registrar.calls.empty());
    EXPECT_TRUE(state.autoRun);
    EXPECT_EQ(ReadFileBytes(path), original);
}

TEST_F(SettingsTest, FreshSaveWritesTheKeysInTableOrder) {
    const std::string path = folder.NewFile("fresh");
    SettingsState state;
    state.sourceDir = "d:\\源目录";
    state.destinationDir = "\\\\pc\\share\\dst";
    state.overwrite = true;
    state.slots[0] = {true, true, EncodeDate(2026, 1, 2) + EncodeTime(8, 30, 0, 600)};
    state.slots[2] = {true, true, EncodeTime(23, 59, 59)};
    Save(path, state);
    EXPECT_EQ(ReadFileBytes(path),
              "[AppPara]\r\n"
              "SourceDir=d:\\源目录\r\n"
              "DestinationDir=\\\\pc\\share\\dst\r\n"
              "OverWriteFile=1\r\n"
              "AutoRun=0\r\n"
              "[DayPara]\r\n"
              "UserTime1=1\r\n"
              "DayTime1=08:30:00\r\n"
              "UserTime2=0\r\n"
              "DayTime2=15:47:40\r\n"
              "UserTime3=1\r\n"
              "DayTime3=23:59:59\r\n");
    ASSERT_EQ(registrar.calls.size(), 1u);
    EXPECT_EQ(registrar.calls[0], "Unregister Software\\Microsoft\\Windows\\CurrentVersion\\Run " + kTitle);
}

}  // namespace
}  // namespace zelvo
