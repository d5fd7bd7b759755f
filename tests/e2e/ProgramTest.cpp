// The real program, started as a separate process in a folder of its own and
// driven from outside through window messages, as a user's clicks would.
#include "Backup.h"
#include "Main.h"
#include "core/ProfileFile.h"
#include "e2e/ProgramDriver.h"
#include "windows/RunValueGuard.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace zelvo {
namespace {

using e2e::ProgramTest;
using e2e::Text;
using e2e::WaitFor;
using test::ReadFileBytes;
using test::ScratchDir;
using test::WriteFileBytes;

TEST_F(ProgramTest, ShowsTheMainWindowAndCopiesAtTheSetSecond) {
    const long startMs = Start();
    ASSERT_NE(main, nullptr) << "no main window";
    std::printf("start-up to a visible main window: %ld ms\n", startMs);

    // Seen from outside: the captions, the owner that carries the task-bar button.
    EXPECT_EQ(Text(main), kApplicationTitle);
    const HWND app = FindOwn("TApplication", kApplicationTitle);
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(::GetWindow(main, GW_OWNER), app);
    EXPECT_TRUE(::IsWindowVisible(app));
    EXPECT_EQ(Text(Control(TMainForm::kCheckBox1Id)), "备份时间一");
    EXPECT_EQ(Text(Control(TMainForm::kSaveBitBtnId)), "保存设置");
    EXPECT_EQ(Text(Control(TMainForm::kCloseBitBtnId)), "退 出");
    EXPECT_EQ(Text(Control(TMainForm::kLabel2Id)), "源 目 录");
    EXPECT_EQ(Text(Control(TMainForm::kSourceEditId)), "d:\\源目录");  // no settings file

    // The clock in the status bar ticks.
    const std::string first = StatusText();
    ASSERT_EQ(first.size(), 19u) << first;
    EXPECT_EQ(first[4], '-');
    EXPECT_EQ(first[7], '-');
    EXPECT_EQ(first[10], ' ');
    EXPECT_TRUE(WaitFor([&] { return StatusText() != first; }, 3000));

    WriteFileBytes(source + "\\a.txt", "alpha");
    WriteFileBytes(source + "\\b.txt", "bravo");
    SetPaths();
    const SYSTEMTIME at = ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 4);
    EXPECT_TRUE(::IsWindowEnabled(Control(TMainForm::kDateTimePicker1Id)));
    EXPECT_EQ(::GetFileAttributesA(dest.c_str()), INVALID_FILE_ATTRIBUTES);

    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(dest + "\\b.txt") == "bravo"; }, 10000))
        << "no copy within 10 s";
    SYSTEMTIME done{};
    ::GetLocalTime(&done);
    // Seen within 50 ms of the copy: in the set second or just after, never before.
    const int setSecond = at.wHour * 3600 + at.wMinute * 60 + at.wSecond;
    int late = done.wHour * 3600 + done.wMinute * 60 + done.wSecond - setSecond;
    if (late < -43200) late += 86400;
    EXPECT_GE(late, 0);
    EXPECT_LE(late, 2);
    EXPECT_EQ(ReadFileBytes(dest + "\\a.txt"), "alpha");

    // Closing from the menu ends the process.
    ::PostMessageA(main, WM_COMMAND, TMainForm::kNCloseId, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

TEST_F(ProgramTest, RunFailuresComeInOneBoxOnceTheDialogIsGone) {
    ASSERT_NE((Start(), main), nullptr);
    WriteFileBytes(source + "\\free.txt", "free");
    WriteFileBytes(source + "\\locked.txt", "locked");
    WriteFileBytes(source + "\\held.txt", "held");
    test::ExclusiveLock lock(source + "\\locked.txt");
    test::ExclusiveLock hold(source + "\\held.txt");
    ASSERT_TRUE(lock.Held() && hold.Held());
    SetPaths();
    ArmSlot(TMainForm::kCheckBox2Id, TMainForm::kDateTimePicker2Id, 3);

    const HWND box = WaitForErrorBox(10000);
    ASSERT_NE(box, nullptr) << "no error box";
    EXPECT_EQ(FindOwn(TBackupForm::kClassName), nullptr);
    const std::string message = e2e::BoxMessage(box);
    EXPECT_NE(message.find("Cannot open file " + source + "\\locked.txt"), std::string::npos) << message;
    EXPECT_NE(message.find("Cannot open file " + source + "\\held.txt"), std::string::npos) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_EQ(message.back(), '.');
    EXPECT_EQ(ReadFileBytes(dest + "\\free.txt"), "free");

    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return FindOwn("#32770", kApplicationTitle) == nullptr; }, 5000));
    lock.Release();
    hold.Release();
    ::PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

TEST_F(ProgramTest, PreparedSettingsFileShowsInTheControls) {
    WriteFileBytes(SettingsFile(), "[AppPara]\r\nSourceDir=" + source + "\r\nDestinationDir=" + dest +
                                          "\r\nOverWriteFile=1\r\nAutoRun=0\r\n"
                                          "[DayPara]\r\nUserTime1=0\r\nDayTime1=23:59:59\r\n"
                                          "UserTime2=1\r\nDayTime2=07:05:09\r\nDayTime3=12:00\r\n");
    ASSERT_NE((Start(), main), nullptr);
    EXPECT_EQ(Text(Control(TMainForm::kSourceEditId)), source);
    EXPECT_EQ(Text(Control(TMainForm::kDesEditId)), dest);
    EXPECT_TRUE(Checked(TMainForm::kOverWriteCheckBoxId));
    EXPECT_FALSE(Checked(TMainForm::kAutoRunCheckBoxId));
    const int boxes[] = {TMainForm::kCheckBox1Id, TMainForm::kCheckBox2Id, TMainForm::kCheckBox3Id};
    const int pickers[] = {TMainForm::kDateTimePicker1Id, TMainForm::kDateTimePicker2Id,
                           TMainForm::kDateTimePicker3Id};
    const bool on[] = {false, true, false};
    const char* times[] = {"23:59:59", "07:05:09", "12:00:00"};
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(Checked(boxes[row]), on[row]) << row;
        EXPECT_EQ(::IsWindowEnabled(Control(pickers[row])) != FALSE, on[row]) << row;
        EXPECT_EQ(PickerTime(pickers[row]), times[row]) << row;
    }
    ::PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

TEST_F(ProgramTest, FirstSaveWritesTheWholeFileANewUserExpects) {
    test::RunValueGuard runValue;
    SYSTEMTIME before{};
    ::GetLocalTime(&before);
    ASSERT_NE((Start(), main), nullptr);
    // Every row shows the time of loading.
    const std::string loaded = PickerTime(TMainForm::kDateTimePicker1Id);
    EXPECT_EQ(PickerTime(TMainForm::kDateTimePicker2Id), loaded);
    EXPECT_EQ(PickerTime(TMainForm::kDateTimePicker3Id), loaded);
    const int loadedSecond = std::stoi(loaded.substr(0, 2)) * 3600 + std::stoi(loaded.substr(3, 2)) * 60 +
                             std::stoi(loaded.substr(6, 2));
    int late = loadedSecond - (before.wHour * 3600 + before.wMinute * 60 + before.wSecond);
    if (late < -43200) late += 86400;
    EXPECT_GE(late, 0) << loaded;
    EXPECT_LE(late, 30) << loaded;

    Press(TMainForm::kSaveBitBtnId);
    EXPECT_EQ(ReadFileBytes(SettingsFile()),
              "[AppPara]\r\n"
              "SourceDir=d:\\源目录\r\n"
              "DestinationDir=d:\\目的目录\r\n"
              "OverWriteFile=0\r\n"
              "AutoRun=0\r\n"
              "[DayPara]\r\n"
              "UserTime1=0\r\n"
              "DayTime1=" + loaded + "\r\n"
              "UserTime2=0\r\n"
              "DayTime2=" + loaded + "\r\n"
              "UserTime3=0\r\n"
              "DayTime3=" + loaded + "\r\n");
    EXPECT_EQ(runValue.Current(), "");
    EXPECT_EQ(FindOwn("#32770", kApplicationTitle), nullptr);  // no confirmation, no error
    ::PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

TEST_F(ProgramTest, AutoRunOneStartsWithNoVisibleWindow) {
    WriteFileBytes(SettingsFile(), "[AppPara]\r\nAutoRun=1\r\n");
    Start(SW_SHOWNORMAL, false);
    ASSERT_NE(main, nullptr);
    // Idle in its message loop, past the showing of the main window.
    EXPECT_EQ(::WaitForInputIdle(process.hProcess, 10000), 0u);
    EXPECT_TRUE(Checked(TMainForm::kAutoRunCheckBoxId));
    for (int look = 0; look < 10; ++look) {
        EXPECT_FALSE(::IsWindowVisible(main)) << look;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_FALSE(EndsWithin(0));
    ::PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

TEST_F(ProgramTest, SavingWithTheSwitchRegistersTheProgramWhereItLies) {
    test::RunValueGuard runValue;
    folder = scratch / "Zelvo 备份";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    const std::string moved = folder + "\\ZelvoBackup.exe";
    ASSERT_TRUE(::MoveFileA(program.c_str(), moved.c_str()));
    program = moved;
    ASSERT_NE((Start(), main), nullptr);

    Press(TMainForm::kAutoRunCheckBoxId);
    Press(TMainForm::kSaveBitBtnId);
    EXPECT_TRUE(Checked(TMainForm::kAutoRunCheckBoxId));
    EXPECT_EQ(runValue.Current(), "\"" + program + "\"");
    EXPECT_EQ(ProfileFile(SettingsFile()).ReadString(kAppSection, kAutoRunKey), "1");
    ::PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

}  // namespace
}  // namespace zelvo
