// The real program, started as a separate process in a folder of its own and
// driven from outside through window messages, as a user's clicks would.
#include "Backup.h"
#include "Main.h"
#include "core/Paths.h"
#include "core/ProfileFile.h"
#include "e2e/ProgramDriver.h"
#include "platform/InformationBox.h"
#include "windows/RunValueGuard.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

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

    // Both are in flight at once, and either may be put in place first.
    ASSERT_TRUE(WaitFor([&] {
        return ReadFileBytes(dest + "\\a.txt") == "alpha" && ReadFileBytes(dest + "\\b.txt") == "bravo";
    }, 10000)) << "no copies within 10 s";
    SYSTEMTIME done{};
    ::GetLocalTime(&done);
    // Seen within 50 ms of the copy: in the set second or just after, never before.
    const int setSecond = at.wHour * 3600 + at.wMinute * 60 + at.wSecond;
    int late = done.wHour * 3600 + done.wMinute * 60 + done.wSecond - setSecond;
    if (late < -43200) late += 86400;
    EXPECT_GE(late, 0);
    EXPECT_LE(late, 2);

    // Closing from the menu ends the process.
    ::PostMessageA(main, WM_COMMAND, TMainForm::kNCloseId, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

TEST_F(ProgramTest, RunFailuresComeInOneBoxOnceTheDialogIsGone) {
    ASSERT_NE((Start(), main), nullptr);
    WriteFileBytes(source + "\\free.txt", "free");
    WriteFileBytes(source + "\\locked.txt", "locked");
    WriteFileBytes(source + "\\held.txt", "held");
    // Folders in the way of two copies: those files fail at once.
    ASSERT_TRUE(::CreateDirectoryA(dest.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA((dest + "\\locked.txt").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA((dest + "\\held.txt").c_str(), nullptr));
    SetPaths();
    ArmSlot(TMainForm::kCheckBox2Id, TMainForm::kDateTimePicker2Id, 3);

    const HWND box = WaitForErrorBox(10000);
    ASSERT_NE(box, nullptr) << "no error box";
    EXPECT_EQ(FindOwn(TBackupForm::kClassName), nullptr);
    const std::string message = e2e::BoxMessage(box);
    // Which file, and why, in Windows' words.
    const std::string refused = " (" + SystemErrorText(ERROR_ACCESS_DENIED) + ")";
    EXPECT_NE(message.find("Cannot create file " + dest + "\\locked.txt" + refused), std::string::npos) << message;
    EXPECT_NE(message.find("Cannot create file " + dest + "\\held.txt" + refused), std::string::npos) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_EQ(message.back(), ')');  // no full stop after a bracket
    EXPECT_EQ(ReadFileBytes(dest + "\\free.txt"), "free");

    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return FindOwn("#32770", kApplicationTitle) == nullptr; }, 5000));

    // A destination on a small disk: the file that does not fit fails with
    // its name and the reason, in the box and in the log; its old copy stays
    // whole, the other files are copied, and no temporary file is left.
    const std::string small = folder + "\\small";
    const e2e::Mounted tmpfs(small, "mount -t tmpfs -o size=8m tmpfs '%s'");
    if (!tmpfs.Ok() && !e2e::AsRoot()) GTEST_SKIP() << "not root on the Unix side: no small disk can be mounted";
    ASSERT_TRUE(tmpfs.Ok()) << "no tmpfs could be mounted at " << tmpfs.Unix();
    const std::string old(2u << 20, 'o');
    ASSERT_TRUE(WriteFileBytes(small + "\\big.bin", old));
    source = folder + "\\more";
    dest = small;
    ::CreateDirectoryA(source.c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(source + "\\a.txt", "alpha"));
    ASSERT_TRUE(WriteFileBytes(source + "\\big.bin", std::string(7u << 20, 'n')));
    ASSERT_TRUE(WriteFileBytes(source + "\\c.txt", "charlie"));
    SetPaths();
    Press(TMainForm::kOverWriteCheckBoxId);
    ArmSlot(TMainForm::kCheckBox3Id, TMainForm::kDateTimePicker3Id, 3);
    const HWND full = WaitForErrorBox(10000);
    ASSERT_NE(full, nullptr) << "no error box";
    const std::string line = "Stream write error " + small + "\\big.bin (" + SystemErrorText(ERROR_DISK_FULL) + ")";
    EXPECT_EQ(e2e::BoxMessage(full), line);
    EXPECT_NE(ReadFileBytes(folder + "\\Backup.log").find("    失败: 1 个\r\n    " + line + "\r\n"), std::string::npos)
        << ReadFileBytes(folder + "\\Backup.log");
    EXPECT_TRUE(ReadFileBytes(small + "\\big.bin") == old);
    EXPECT_EQ(ReadFileBytes(small + "\\a.txt"), "alpha");
    EXPECT_EQ(ReadFileBytes(small + "\\c.txt"), "charlie");
    std::vector<std::string> names = ScratchDir::List(small);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "big.bin", "c.txt"}));
    ::PostMessageA(full, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return FindOwn("#32770", kApplicationTitle) == nullptr; }, 5000));
    ::PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

// The files of a new user's source: names the code page holds not at all
// or only as a look-alike, a document open in a viewer, a log being written.
TEST_F(ProgramTest, EveryNameIsBackedUpAndOnlyAWriterKeepsAFileBack) {
    ASSERT_NE((Start(), main), nullptr);
    const DirPath from(source), into(dest);
    const std::wstring names[] = {L"\u62a5\u544a\U0001F600.txt", L"\ud55c\uad6d\uc5b4.txt", L"M\u00fcller \u00f6.txt",
                                  L"a\u2022b.txt",  L"p\u00e2te.txt", L"pate.txt", L"viewed.pdf", L"\u4e2d\u6587.txt",
                                  L"price\u20ac.txt", std::wstring(200, L'x') + L".txt"};
    for (const auto& name : names) ASSERT_TRUE(WriteFileBytes(from.PathOf(name), "content of " + ShownName(name)));
    ASSERT_TRUE(WriteFileBytes(from.PathOf(L"writing.log"), "being written"));
    e2e::HeldByAnotherProcess viewer(from.PathOf(L"viewed.pdf"), e2e::HeldByAnotherProcess::Access::Read);
    e2e::HeldByAnotherProcess writer(from.PathOf(L"writing.log"), e2e::HeldByAnotherProcess::Access::Write);
    ASSERT_TRUE(viewer.Held() && writer.Held());
    SetPaths();
    ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 3);

    // After the second chance that files in use get, 10 s past the others.
    const HWND box = WaitForErrorBox(25000);
    ASSERT_NE(box, nullptr) << "no error box";
    EXPECT_EQ(e2e::BoxMessage(box),
              "Cannot open file " + source + "\\writing.log (" + SystemErrorText(ERROR_SHARING_VIOLATION) + ")");
    for (const auto& name : names) {
        EXPECT_EQ(ReadFileBytes(into.PathOf(name)), "content of " + ShownName(name)) << ShownName(name);
    }
    EXPECT_EQ(ScratchDir::List(dest).size(), 10u);
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return FindOwn("#32770", kApplicationTitle) == nullptr; }, 5000));
    viewer.Release();
    writer.Release();

    // The next run finds each copy under its exact name; the log is finished
    // once the run's box would have come.
    ArmSlot(TMainForm::kCheckBox2Id, TMainForm::kDateTimePicker2Id, 2);
    const std::string log = folder + "\\Backup.log";
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(log).find("跳过: 10 个") != std::string::npos; }, 10000))
        << ReadFileBytes(log);
    EXPECT_NE(ReadFileBytes(log).find("    复制: 1 个文件, 13 字节\r\n    跳过: 10 个"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(into.PathOf(L"writing.log")), "being written");
    ::PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

// A destination of 240 characters, whose temporary names would pass
// MAX_PATH, and a source name that makes its path 300 characters long.
TEST_F(ProgramTest, LongDestinationAndLongNamesAreBackedUp) {
    ASSERT_NE((Start(), main), nullptr);
    dest = folder + "\\" + std::string(239 - folder.size(), 'd');
    const std::size_t sourceLength = WidenAnsi(source).size();
    ASSERT_LE(300 - sourceLength - 1, 255u) << "the scratch folder's path is too long for a name of 300";
    const std::wstring longName = std::wstring(300 - sourceLength - 1 - 4, L'n') + L".txt";
    const DirPath from(source), into(dest);
    ASSERT_EQ(from.PathOf(longName).size(), 300u + 4);  // with its \\?\ form
    ASSERT_TRUE(WriteFileBytes(from.PathOf(longName), "long name"));
    ASSERT_TRUE(WriteFileBytes(from.PathOf(L"a.txt"), "alpha"));
    SetPaths();
    ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 3);

    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(folder + "\\Backup.log").find("备份结束") != std::string::npos; },
                        10000));
    EXPECT_EQ(ReadFileBytes(into.PathOf(L"a.txt")), "alpha");
    EXPECT_EQ(ReadFileBytes(into.PathOf(longName)), "long name");
    EXPECT_NE(ReadFileBytes(folder + "\\Backup.log").find("    复制: 2 个文件, 14 字节\r\n"), std::string::npos);
    EXPECT_EQ(FindOwn("#32770", kApplicationTitle), nullptr);
    ::PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

// Folders as users write them: with forward slashes, or pasted from
// Explorer's "Copy as path" with quotes (and a blank) around them.
TEST_F(ProgramTest, SlashedAndQuotedFoldersBackUpAndSaveWithoutTheQuotes) {
    ASSERT_NE((Start(), main), nullptr);
    WriteFileBytes(source + "\\a.txt", "alpha");
    std::string slashed = dest;
    for (char& c : slashed) c = c == '\\' ? '/' : c;
    const std::string quoted = " \"" + source + "\"";
    ::SendMessageA(Control(TMainForm::kSourceEditId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(quoted.c_str()));
    ::SendMessageA(Control(TMainForm::kDesEditId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(slashed.c_str()));
    ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 3);

    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(dest + "\\a.txt") == "alpha"; }, 10000)) << "no copy";
    EXPECT_EQ(FindOwn(ui::InformationBox::kClassName), nullptr);
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(folder + "\\Backup.log").find("备份结束") != std::string::npos; },
                        5000));
    EXPECT_NE(ReadFileBytes(folder + "\\Backup.log").find("    源目录: " + source + "\r\n    目的目录: " + slashed),
              std::string::npos);
    Press(TMainForm::kSaveBitBtnId);
    const std::string saved = ReadFileBytes(SettingsFile());
    EXPECT_NE(saved.find("\r\nSourceDir=" + source + "\r\nDestinationDir=" + slashed + "\r\n"), std::string::npos)
        << saved;
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

// A slot the settings file holds is armed as the program starts: its backup
// runs through the dialog at the set second with nobody at the controls.
TEST_F(ProgramTest, SlotFromTheSettingsFileRunsAtItsSecond) {
    WriteFileBytes(source + "\\a.txt", "alpha");
    // Far enough ahead for the program to be up, also where a process start takes seconds.
    const SYSTEMTIME at = LocalTimeAhead(3 + 2 * (e2e::ProcessStartMs() + 999) / 1000);
    char time[16];
    std::snprintf(time, sizeof time, "%02u:%02u:%02u", at.wHour, at.wMinute, at.wSecond);
    WriteFileBytes(SettingsFile(), "[AppPara]\r\nSourceDir=" + source + "\r\nDestinationDir=" + dest +
                                       "\r\n[DayPara]\r\nUserTime1=1\r\nDayTime1=" + time + "\r\n");
    ASSERT_NE((Start(), main), nullptr);

    const std::string log = folder + "\\Backup.log";
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(log).find("备份结束") != std::string::npos; },
                        10000 + 3 * e2e::ProcessStartMs()))
        << "no run";
    SYSTEMTIME done{};
    ::GetLocalTime(&done);
    int late = done.wHour * 3600 + done.wMinute * 60 + done.wSecond - (at.wHour * 3600 + at.wMinute * 60 + at.wSecond);
    if (late < -43200) late += 86400;
    EXPECT_GE(late, 0);
    EXPECT_LE(late, 2);
    EXPECT_NE(ReadFileBytes(log).find("    复制: 1 个文件, 5 字节\r\n"), std::string::npos) << ReadFileBytes(log);
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
