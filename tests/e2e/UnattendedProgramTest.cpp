// The real program left alone: a box that waits for a click holds back no
// scheduled run, one box is open at a time, every box fits the screen, the
// tray icon survives a restart of the shell, a session that ends during a
// run leaves the run's block in the log, and so does a set time that passed
// while the program was stopped.
#include "Backup.h"
#include "Main.h"
#include "e2e/ProgramDriver.h"
#include "platform/InformationBox.h"
#include "windows/TrayProbe.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zelvo {
namespace {

using e2e::WaitFor;
using test::ReadFileBytes;
using test::ScratchDir;
using test::WriteFileBytes;

static std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

class UnattendedProgramTest : public e2e::ProgramTest {
protected:
    // The program's visible top-level windows of a class (and title).
    std::vector<HWND> Visible(const char* className, const char* title = nullptr) const {
        std::vector<HWND> found;
        for (HWND at = nullptr; (at = ::FindWindowExA(nullptr, at, className, title)) != nullptr;) {
            DWORD pid = 0;
            ::GetWindowThreadProcessId(at, &pid);
            if (pid == process.dwProcessId && ::IsWindowVisible(at)) found.push_back(at);
        }
        return found;
    }
    std::vector<HWND> ErrorBoxes() const { return Visible("#32770", kApplicationTitle); }
    std::vector<HWND> InformationBoxes() const { return Visible(ui::InformationBox::kClassName); }

    HWND WaitForOne(const std::function<std::vector<HWND>()>& boxes, int timeoutMs) {
        HWND box = nullptr;
        WaitFor([&] {
            const std::vector<HWND> now = boxes();
            box = now.empty() ? nullptr : now.front();
            return box != nullptr;
        }, timeoutMs);
        return box;
    }

    // The whole message of a box (BoxMessage reads only the first 512 bytes).
    static std::string LongMessage(HWND box) {
        for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
            char cls[32] = {};
            ::GetClassNameA(child, cls, sizeof cls);
            if (std::string(cls) != "Static" || (::GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                continue;
            }
            const LRESULT length = ::SendMessageA(child, WM_GETTEXTLENGTH, 0, 0);
            std::string text(static_cast<std::size_t>(length) + 1, '\0');
            ::SendMessageA(child, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
            text.resize(static_cast<std::size_t>(length));
            if (!text.empty()) return text;
        }
        return std::string();
    }

    static void ExpectInsideTheWorkArea(HWND box) {
        RECT work{}, r{};
        ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
        ::GetWindowRect(box, &r);
        std::printf("box %ld x %ld in a work area of %ld x %ld\n", r.right - r.left, r.bottom - r.top,
                    work.right - work.left, work.bottom - work.top);
        EXPECT_LE(r.right - r.left, work.right - work.left);
        EXPECT_LE(r.bottom - r.top, work.bottom - work.top);
        EXPECT_GE(r.left, work.left);
        EXPECT_GE(r.top, work.top);
        EXPECT_LE(r.right, work.right);
        EXPECT_LE(r.bottom, work.bottom);
    }

    void Dismiss(HWND box) { ::PostMessageA(box, WM_COMMAND, IDOK, 0); }

    // A folder of the test's, <name>, passed through tests/e2e/latency_fs.py
    // with these options as a slow or distant disk over <name>-backing. Null,
    // with the reason in `whyNot`, where it cannot be had here: no /dev/fuse,
    // or a mount that fails for a user other than root.
    std::unique_ptr<e2e::Mounted> DistantDisk(const std::string& name, const std::string& options,
                                              std::string& whyNot) const {
        const char* script = std::getenv("ZELVO_LATENCY_FS");
        EXPECT_NE(script, nullptr) << "ZELVO_LATENCY_FS is not set";
        if (!script || !e2e::RunUnix("test -c /dev/fuse", folder + "\\fuse.verdict", 10000)) {
            whyNot = "no /dev/fuse on this machine";
            return nullptr;
        }
        const std::string backing = folder + "\\" + name + "-backing";
        ::CreateDirectoryA(backing.c_str(), nullptr);
        const std::string log = folder + "\\" + name + ".log";
        auto disk = std::make_unique<e2e::Mounted>(
            folder + "\\" + name, "(/usr/bin/python3 '" + std::string(script) + "' '" + e2e::UnixPath(backing) +
                                      "' '%s' " + options + " > '" + e2e::UnixPath(log) +
                                      "' 2>&1 &); for i in $(seq 100); do mountpoint -q '%s' && exit 0; "
                                      "sleep 0.1; done; exit 1");
        if (!disk->Ok() && !e2e::AsRoot()) {
            whyNot = "not root on the Unix side, and the FUSE mount failed: " + ReadFileBytes(log);
            return nullptr;
        }
        EXPECT_TRUE(disk->Ok()) << name << " could not be mounted: " << ReadFileBytes(log);
        return disk;
    }

    // A folder in the place of a file's copy: every run fails on that file at once.
    std::string FolderInTheWay(const std::string& name) const {
        ::CreateDirectoryA(dest.c_str(), nullptr);
        const std::string path = dest + "\\" + name;
        EXPECT_TRUE(::CreateDirectoryA(path.c_str(), nullptr)) << path;
        return path;
    }

    void CloseProgram() {
        ::PostMessageA(main, WM_CLOSE, 0, 0);
        EXPECT_TRUE(EndsWithin(10000));
    }

    // Sends a message to a window of the program as another program does,
    // and tells whether it was answered within the time.
    static bool Answered(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, DWORD_PTR& answer,
                         UINT timeoutMs = 5000) {
        answer = 0xBAD;
        return ::SendMessageTimeoutA(window, msg, wParam, lParam, SMTO_ABORTIFHUNG, timeoutMs, &answer) != 0;
    }

    static constexpr std::uint64_t kBigFile = 256u << 20;

    // Closing messages sent during a run of `files` big files, a WM_CLOSE
    // where the command is 0, else that WM_SYSCOMMAND: nothing closes while
    // the run copies; once its block is in the log, the program ends as its
    // own close ends it.
    void CloseDuringARun(int files, const std::vector<std::pair<HWND, WPARAM>>& closes) {
        const HWND dialog = WaitForRun(10000);
        ASSERT_NE(dialog, nullptr) << "no run";
        const HWND app = FindOwn("TApplication", kApplicationTitle);
        for (const auto& [window, command] : closes) {
            DWORD_PTR answer = 0;
            EXPECT_TRUE(command ? Answered(window, WM_SYSCOMMAND, command, 0, answer)
                                : Answered(window, WM_CLOSE, 0, 0, answer));
        }
        const std::uint64_t before = DestBytes(kBigFile);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_TRUE(::IsWindowVisible(dialog)) << "the run ended before it could be watched: make the files bigger";
        EXPECT_GT(DestBytes(kBigFile), before) << "the copy did not go on";
        EXPECT_TRUE(::IsWindow(main) && ::IsWindow(app)) << "a window was closed under the run";
        EXPECT_TRUE(WaitFor([&] { return !::IsWindow(dialog); }, 60000));
        EXPECT_TRUE(EndsWithin(15000)) << "the program lives on after the run";
        const std::string log = ReadFileBytes(folder + "\\Backup.log");
        EXPECT_EQ(Count(log, "备份结束"), 1u) << log;
        const std::string copied = std::to_string(files) + " 个文件, " + std::to_string(files * kBigFile) + " 字节";
        EXPECT_NE(log.find("    复制: " + copied + "\r\n"), std::string::npos) << log;
    }
};

TEST_F(UnattendedProgramTest, RunsGoOnWhileAnErrorBoxWaitsAndItsReportsWaitForIt) {
    ASSERT_NE((Start(), main), nullptr);
    WriteFileBytes(source + "\\a.txt", "alpha");
    WriteFileBytes(source + "\\locked.txt", "locked");
    FolderInTheWay("locked.txt");
    SetPaths();
    ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 3);

    const HWND first = WaitForOne([&] { return ErrorBoxes(); }, 10000);
    ASSERT_NE(first, nullptr) << "no error box";
    const std::string locked =
        "Cannot create file " + dest + "\\locked.txt (" + SystemErrorText(ERROR_ACCESS_DENIED) + ")";
    EXPECT_EQ(LongMessage(first), locked);
    EXPECT_TRUE(Visible(TBackupForm::kClassName).empty());  // the run's dialog is gone
    EXPECT_EQ(ReadFileBytes(dest + "\\a.txt"), "alpha");

    // Slot 2 comes due while nobody clicks: it runs, and its report waits.
    WriteFileBytes(source + "\\b.txt", "bravo");
    ArmSlot(TMainForm::kCheckBox2Id, TMainForm::kDateTimePicker2Id, 3);
    EXPECT_TRUE(WaitFor([&] { return ReadFileBytes(dest + "\\b.txt") == "bravo"; }, 10000))
        << "slot 2 did not run behind the box";
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_EQ(ErrorBoxes(), std::vector<HWND>{first});

    Dismiss(first);
    HWND second = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        const std::vector<HWND> boxes = ErrorBoxes();
        second = boxes.size() == 1 && boxes[0] != first ? boxes[0] : nullptr;
        return second != nullptr;
    }, 5000)) << "the report that waited was not shown";
    EXPECT_EQ(LongMessage(second), locked);
    Dismiss(second);
    EXPECT_TRUE(WaitFor([&] { return ErrorBoxes().empty(); }, 5000));
    CloseProgram();
}

// Scanners, indexers and sync clients open files for a moment: a source that
// one holds without sharing from just before the run, and (overwrite on) an
// old copy that a reader holds, are backed up in that same run once let go.
TEST_F(UnattendedProgramTest, FilesThatOthersHoldForAMomentAreBackedUpInTheSameRun) {
    for (const char* name : {"f01", "f02", "f03", "f04", "f05", "f06", "f07", "f08", "f09", "f10"}) {
        WriteFileBytes(source + "\\" + name + ".txt", std::string("new ") + name);
    }
    ::CreateDirectoryA(dest.c_str(), nullptr);
    WriteFileBytes(dest + "\\f07.txt", "old copy");
    using Held = e2e::HeldByAnotherProcess;
    Held scanner(WidenAnsi(source + "\\f05.txt"), Held::Access::Exclusive);
    Held reader(WidenAnsi(dest + "\\f07.txt"), Held::Access::Read);
    ASSERT_TRUE(scanner.Held() && reader.Held());
    ASSERT_NE((Start(), main), nullptr);
    SetPaths();
    ::SendMessageA(Control(TMainForm::kOverWriteCheckBoxId), BM_CLICK, 0, 0);
    ASSERT_TRUE(Checked(TMainForm::kOverWriteCheckBoxId));
    ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 2);

    HWND dialog = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        dialog = FindOwn(TBackupForm::kClassName);
        return dialog && ::IsWindowVisible(dialog);
    }, 10000)) << "no run";
    const auto began = e2e::SteadyClock::now();
    std::this_thread::sleep_until(began + std::chrono::milliseconds(2500));
    reader.Release();
    std::this_thread::sleep_until(began + std::chrono::milliseconds(4000));
    scanner.Release();
    ASSERT_TRUE(WaitFor([&] { return !::IsWindow(dialog); }, 20000));

    // The run's block is written only once its dialog is gone.
    std::string log;
    const auto ended = [&] { return (log = ReadFileBytes(folder + "\\Backup.log")).find("备份结束") != std::string::npos; };
    ASSERT_TRUE(WaitFor(ended, 5000)) << log;
    EXPECT_NE(log.find("    复制: 10 个文件, "), std::string::npos) << log;
    EXPECT_NE(log.find("    失败: 0 个\r\n"), std::string::npos) << log;
    EXPECT_EQ(ReadFileBytes(dest + "\\f05.txt"), "new f05");
    EXPECT_EQ(ReadFileBytes(dest + "\\f07.txt"), "new f07");
    EXPECT_TRUE(ErrorBoxes().empty());
    CloseProgram();
}

TEST_F(UnattendedProgramTest, MissingSourceGivesOneBoxThatHoldsBackNoLaterRun) {
    ASSERT_NE((Start(), main), nullptr);
    const std::string missing = folder + "\\没有这个目录";
    source = missing;
    SetPaths();
    // Slots 1 and 2 at one second: one box, dismissed as soon as it shows.
    ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 3);
    ArmSlot(TMainForm::kCheckBox2Id, TMainForm::kDateTimePicker2Id, 3);
    const HWND box = WaitForOne([&] { return InformationBoxes(); }, 10000);
    ASSERT_NE(box, nullptr) << "no information box";
    EXPECT_EQ(e2e::Text(box), "Information");  // read before the box can be gone
    Dismiss(box);
    int boxesSeen = 1;
    HWND last = box;
    const auto until = e2e::SteadyClock::now() + std::chrono::seconds(3);
    while (e2e::SteadyClock::now() < until) {
        for (HWND other : InformationBoxes()) {
            if (other != last) {
                ++boxesSeen;
                last = other;
                Dismiss(other);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(boxesSeen, 1);

    // Behind a missing-directory box that nobody answers, a later slot runs.
    ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 2);
    const HWND waiting = WaitForOne([&] { return InformationBoxes(); }, 10000);
    ASSERT_NE(waiting, nullptr);
    source = folder + "\\源目录";
    WriteFileBytes(source + "\\c.txt", "charlie");
    SetPaths();
    ArmSlot(TMainForm::kCheckBox3Id, TMainForm::kDateTimePicker3Id, 3);
    EXPECT_TRUE(WaitFor([&] { return ReadFileBytes(dest + "\\c.txt") == "charlie"; }, 10000))
        << "slot 3 did not run behind the box";
    EXPECT_TRUE(::IsWindowVisible(waiting));
    Dismiss(waiting);
    EXPECT_TRUE(WaitFor([&] { return InformationBoxes().empty(); }, 5000));
    CloseProgram();
}

TEST_F(UnattendedProgramTest, EveryBoxFitsTheWorkArea) {
    // A time far too long for any box.
    WriteFileBytes(SettingsFile(), "[DayPara]\r\nDayTime1=" + std::string(3000, '7') + "\r\n");
    Start(SW_SHOWNORMAL, false);
    ASSERT_NE(main, nullptr);
    HWND box = WaitForOne([&] { return ErrorBoxes(); }, 10000);
    ASSERT_NE(box, nullptr) << "no load-error box";
    ExpectInsideTheWorkArea(box);
    EXPECT_EQ(LongMessage(box).rfind("'7777", 0), 0u);
    EXPECT_NE(LongMessage(box).find("..."), std::string::npos);
    Dismiss(box);
    ASSERT_TRUE(WaitFor([&] { return ::IsWindowVisible(main) != FALSE; }, 5000));

    // 150 copies that cannot be replaced (read-only in the destination).
    ::CreateDirectoryA(dest.c_str(), nullptr);
    for (int i = 0; i < 150; ++i) {
        const std::string name = "\\file" + std::to_string(i) + ".txt";
        WriteFileBytes(source + name, "new");
        WriteFileBytes(dest + name, "old");
        ::SetFileAttributesA((dest + name).c_str(), FILE_ATTRIBUTE_READONLY);
    }
    SetPaths();
    ::SendMessageA(Control(TMainForm::kOverWriteCheckBoxId), BM_CLICK, 0, 0);
    ArmSlot(TMainForm::kCheckBox2Id, TMainForm::kDateTimePicker2Id, 3);
    box = WaitForOne([&] { return ErrorBoxes(); }, 15000);
    ASSERT_NE(box, nullptr) << "no failure box";
    ExpectInsideTheWorkArea(box);
    const std::string text = LongMessage(box);
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    EXPECT_LE(lines, 21u) << text;
    const std::string last = text.substr(text.rfind('\n') + 1);
    EXPECT_NE(last.find("另有 " + std::to_string(150 - (lines - 1)) + " 条未列出"), std::string::npos) << last;
    EXPECT_NE(last.find(folder + "\\Backup.log"), std::string::npos) << last;
    Dismiss(box);
    for (int i = 0; i < 150; ++i) {
        const std::string name = dest + "\\file" + std::to_string(i) + ".txt";
        EXPECT_EQ(ReadFileBytes(name), "old");
        ::SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    CloseProgram();
}

TEST_F(UnattendedProgramTest, TrayIconComesBackAfterTheShellRestarts) {
    ASSERT_NE((Start(), main), nullptr);
    ::PostMessageA(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitFor([&] { return test::TrayIconExists(main, kTrayIconId); }, 5000));
    // What a crashed and restarted shell leaves: no icon, then its broadcast.
    NOTIFYICONDATAA gone{};
    gone.cbSize = NOTIFYICONDATAA_V1_SIZE;
    gone.hWnd = main;
    gone.uID = kTrayIconId;
    ASSERT_TRUE(::Shell_NotifyIconA(NIM_DELETE, &gone));
    ASSERT_FALSE(test::TrayIconExists(main, kTrayIconId));
    DWORD_PTR result = 0;
    ::SendMessageTimeoutA(HWND_BROADCAST, ::RegisterWindowMessageA("TaskbarCreated"), 0, 0, SMTO_ABORTIFHUNG,
                          5000, &result);
    EXPECT_TRUE(WaitFor([&] { return test::TrayIconExists(main, kTrayIconId); }, 5000));
    EXPECT_FALSE(::IsWindowVisible(main));
    ::PostMessageA(main, WM_COMMAND, TMainForm::kN1Id, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

TEST_F(UnattendedProgramTest, RunLogHoldsABlockPerRunAndRollsOverAtOneMebibyte) {
    const std::string log = folder + "\\Backup.log";
    const std::string old = folder + "\\Backup.old.log";
    std::string full = "an earlier year of runs\r\n";
    full.resize(1u << 20, '.');
    WriteFileBytes(log, full);
    WriteFileBytes(old, "the year before");
    ASSERT_NE((Start(), main), nullptr);
    WriteFileBytes(source + "\\a.txt", "alpha");
    WriteFileBytes(source + "\\locked.txt", "locked");
    const std::string inTheWay = FolderInTheWay("locked.txt");
    SetPaths();
    ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 3);
    const HWND box = WaitForOne([&] { return ErrorBoxes(); }, 10000);
    ASSERT_NE(box, nullptr);
    Dismiss(box);
    ::RemoveDirectoryA(inTheWay.c_str());

    EXPECT_EQ(ReadFileBytes(old), full);  // the full log, replacing the older one
    std::string text = ReadFileBytes(log);
    EXPECT_EQ(text.rfind("[", 0), 0u) << text;
    EXPECT_NE(text.find("] 开始备份\r\n    源目录: " + source + "\r\n    目的目录: " + dest + "\r\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find("    复制: 1 个文件, 5 字节\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("    失败: 1 个\r\n    Cannot create file " + inTheWay + " (" +
                        SystemErrorText(ERROR_ACCESS_DENIED) + ")\r\n"),
              std::string::npos) << text;

    // A clean run adds its own block; a missing source one line.
    ArmSlot(TMainForm::kCheckBox2Id, TMainForm::kDateTimePicker2Id, 2);
    ASSERT_TRUE(WaitFor([&] { return Count(ReadFileBytes(log), "开始备份") == 2; }, 10000)) << ReadFileBytes(log);
    EXPECT_TRUE(ErrorBoxes().empty());
    source = folder + "\\不在了";
    SetPaths();
    ArmSlot(TMainForm::kCheckBox3Id, TMainForm::kDateTimePicker3Id, 2);
    const HWND missing = WaitForOne([&] { return InformationBoxes(); }, 10000);
    ASSERT_NE(missing, nullptr);
    Dismiss(missing);
    text = ReadFileBytes(log);
    EXPECT_NE(text.find("] 目录[" + source + "]不存在! 未备份\r\n"), std::string::npos) << text;
    EXPECT_EQ(Count(text, "开始备份"), 2u);
    CloseProgram();
}

// The program's process is stopped (SIGSTOP) for 8 s across a set time, as
// sleep or a frozen process would keep its ticks away: once it goes on, the
// log says which time was missed, and no backup runs late.
TEST_F(UnattendedProgramTest, ASetTimePassedWhileTheProgramWasStoppedIsLoggedAndNotCaughtUp) {
    WriteFileBytes(source + "\\a.txt", "alpha");
    ASSERT_NE((Start(), main), nullptr);
    SetPaths();
    const SYSTEMTIME at = ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id,
                                  4 + (e2e::ProcessStartMs() + 999) / 1000);
    // A tick has examined the armed slot (a slot's first examination looks not back).
    const std::string armed = StatusText();
    ASSERT_TRUE(WaitFor([&] { return StatusText() != armed; }, 3000)) << "no tick";
    // Under Wine the Unix process's command line names the exe by its path,
    // whose folder is this test's own; the brackets keep the pattern from
    // matching the shell that carries it.
    const std::string pattern = folder.substr(folder.rfind('\\') + 1) + ".ZelvoBackup[.]exe";
    const std::string verdict = folder + "\\signal.verdict";
    ASSERT_TRUE(e2e::RunUnix("kill -STOP $(pgrep -f '" + pattern + "')", verdict, 10000)) << "not stopped";
    SYSTEMTIME stopped{}, resumed{};
    ::GetLocalTime(&stopped);
    std::this_thread::sleep_for(std::chrono::seconds(8));
    ::GetLocalTime(&resumed);
    ASSERT_TRUE(e2e::RunUnix("kill -CONT $(pgrep -f '" + pattern + "')", verdict, 10000)) << "not continued";
    // Seconds from the set time, across midnight too.
    const auto fromSetTime = [&at](const SYSTEMTIME& t) {
        const int seconds = (t.wHour - at.wHour) * 3600 + (t.wMinute - at.wMinute) * 60 + t.wSecond - at.wSecond;
        return seconds < -43200 ? seconds + 86400 : seconds > 43200 ? seconds - 86400 : seconds;
    };
    ASSERT_LT(fromSetTime(stopped), 0) << "stopped too late to tell";
    ASSERT_GT(fromSetTime(resumed), 1);

    char time[16];
    std::snprintf(time, sizeof time, "%02u:%02u:%02u", at.wHour, at.wMinute, at.wSecond);
    const std::string log = folder + "\\Backup.log";
    const std::string line = std::string("] 错过备份时间 ") + time + "\r\n\r\n";
    EXPECT_TRUE(WaitFor([&] { return ReadFileBytes(log).find(line) != std::string::npos; }, 5000))
        << ReadFileBytes(log);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(ReadFileBytes(log).find("开始备份"), std::string::npos) << ReadFileBytes(log);
    EXPECT_EQ(::GetFileAttributesA(dest.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(ErrorBoxes().empty() && InformationBoxes().empty());
    CloseProgram();
}

TEST_F(UnattendedProgramTest, TheNextRunSweepsAKilledRunsLeftoversAndNothingElse) {
    ::CreateDirectoryA(dest.c_str(), nullptr);
    const std::string leftover = dest + "\\~zlv0123abcd.tmp";
    ::CreateDirectoryA(leftover.c_str(), nullptr);
    WriteFileBytes(leftover + "\\~zlv89abcdef.tmp", std::string(1u << 20, 'p'));  // cut off mid-copy
    WriteFileBytes(dest + "\\~zlv0123abcd.tmp.bak", "a user's file");
    const std::string usersFolder = dest + "\\~zlv0000ffff.tmp";
    ::CreateDirectoryA(usersFolder.c_str(), nullptr);
    WriteFileBytes(usersFolder + "\\notes.txt", "a user's notes");
    ASSERT_NE((Start(), main), nullptr);
    WriteFileBytes(source + "\\a.txt", "alpha");
    // A user's file that happens to look like ours is backed up like any other.
    WriteFileBytes(source + "\\~zlv0badf00d.tmp", "a user's look-alike");
    SetPaths();
    ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 3);
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(dest + "\\a.txt") == "alpha"; }, 10000));
    ASSERT_TRUE(WaitFor([&] { return Count(ReadFileBytes(folder + "\\Backup.log"), "备份结束") == 1; }, 5000));

    EXPECT_EQ(::GetFileAttributesA(leftover.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadFileBytes(dest + "\\~zlv0123abcd.tmp.bak"), "a user's file");
    EXPECT_EQ(ReadFileBytes(usersFolder + "\\notes.txt"), "a user's notes");
    std::vector<std::string> names = test::ScratchDir::List(dest);
    std::sort(names.begin(), names.end());
    const std::vector<std::string> expected{"a.txt", "~zlv0000ffff.tmp", "~zlv0123abcd.tmp.bak", "~zlv0badf00d.tmp"};
    EXPECT_EQ(names, expected);
    EXPECT_NE(ReadFileBytes(folder + "\\Backup.log").find("清除:"), std::string::npos);

    // The user deletes the look-alike from the source: its backup, the only
    // copy left, is no leftover to the next two runs either.
    ASSERT_TRUE(::DeleteFileA((source + "\\~zlv0badf00d.tmp").c_str()));
    for (const std::size_t run : {2u, 3u}) {
        ArmSlot(run == 2 ? TMainForm::kCheckBox2Id : TMainForm::kCheckBox3Id,
                run == 2 ? TMainForm::kDateTimePicker2Id : TMainForm::kDateTimePicker3Id, 2);
        const auto logged = [&] { return Count(ReadFileBytes(folder + "\\Backup.log"), "备份结束") == run; };
        ASSERT_TRUE(WaitFor(logged, 10000));
        EXPECT_EQ(ReadFileBytes(dest + "\\~zlv0badf00d.tmp"), "a user's look-alike") << run;
        names = test::ScratchDir::List(dest);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, expected) << run;
    }
    EXPECT_EQ(Count(ReadFileBytes(folder + "\\Backup.log"), "清除:"), 1u);
    CloseProgram();
}

// The user ends the session during a run all the same (log-off was
// refused). Windows may end the process as soon as WM_ENDSESSION is answered,
// as this test does: by then the run's block is in the log, marked cut off,
// and the file being copied goes with the process.
TEST_F(UnattendedProgramTest, SessionEndingDuringARunLeavesACutOffBlockAndNoTemporaryFile) {
    ASSERT_TRUE(test::WriteZeroFile(source + "\\big.dat", 2ull << 30));
    ASSERT_NE((Start(), main), nullptr);
    SetPaths();
    ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 2);
    ASSERT_TRUE(WaitFor([&] { return test::TemporaryFilesIn(dest).bytes > 0; }, 10000)) << "no run";

    DWORD_PTR answer = 0xBAD;
    ASSERT_TRUE(::SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer));
    EXPECT_EQ(answer, 0u);
    ASSERT_TRUE(::SendMessageTimeoutA(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer));
    const std::string log = ReadFileBytes(folder + "\\Backup.log");
    ::TerminateProcess(process.hProcess, 1);
    ASSERT_TRUE(EndsWithin(10000));

    EXPECT_EQ(Count(log, "开始备份"), 1u) << log;
    EXPECT_NE(log.find("] 备份中断: Windows 会话结束 (注销、重启或关机), 其余文件未备份\r\n"
                       "    复制: 0 个文件, 0 字节\r\n"),
              std::string::npos) << log;
    EXPECT_EQ(ReadFileBytes(folder + "\\Backup.log"), log);
    EXPECT_EQ(test::TemporaryFilesIn(dest).count, 0);
    EXPECT_EQ(::GetFileAttributesA((dest + "\\big.dat").c_str()), INVALID_FILE_ATTRIBUTES);
}

// A script, an automation tool or a task manager closes programs by sending
// WM_CLOSE, here to the main window and then to the application window.
TEST_F(UnattendedProgramTest, WindowsClosedDuringARunEndTheProgramAfterIt) {
    WriteBigFiles(4, kBigFile);
    // Its failure's box comes after the run: the close waits for no click.
    WriteFileBytes(source + "\\locked.txt", "locked");
    FolderInTheWay("locked.txt");
    ASSERT_NE((Start(), main), nullptr);
    SetPaths();
    ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 2);
    CloseDuringARun(4, {{main, 0}, {FindOwn("TApplication", kApplicationTitle), 0}});
    EXPECT_NE(ReadFileBytes(folder + "\\Backup.log").find("Cannot create file " + dest + "\\locked.txt"),
              std::string::npos);
}

// The task bar's "Close window" sends SC_CLOSE to the application window, here
// while the program sits in the tray; its tray icon goes with it.
TEST_F(UnattendedProgramTest, ACloseCommandDuringARunInTheTrayEndsTheProgramAfterIt) {
    WriteBigFiles(3, kBigFile);
    ASSERT_NE((Start(), main), nullptr);
    SetPaths();
    ::PostMessageA(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitFor([&] { return test::TrayIconExists(main, kTrayIconId); }, 5000));
    ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 2);
    CloseDuringARun(3, {{FindOwn("TApplication", kApplicationTitle), SC_CLOSE}, {main, SC_CLOSE}});
    EXPECT_FALSE(test::TrayIconExists(main, kTrayIconId));
}

// A destination whose every flush takes 6 s (a write-cached USB stick; here a
// FUSE pass-through): while the run waits for a flush, the dialog answers
// within the second, past the 5 s after which Windows would take it for
// hung, and log-off is refused.
TEST_F(UnattendedProgramTest, ADialogWaitingForASlowDiskAnswersAndRefusesLogOff) {
    std::string whyNot;
    const auto slow = DistantDisk("slow", "--fsync-ms 6000", whyNot);
    if (!slow) GTEST_SKIP() << whyNot << ": no slow disk can be mounted";
    ASSERT_TRUE(slow->Ok());
    dest = folder + "\\slow";
    ASSERT_TRUE(WriteFileBytes(source + "\\one.bin", std::string(1u << 20, '1')));
    ASSERT_TRUE(WriteFileBytes(source + "\\two.bin", std::string(1u << 20, '2')));
    ASSERT_NE((Start(), main), nullptr);
    SetPaths();
    ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 2);
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (dialog = FindOwn(TBackupForm::kClassName)) && ::IsWindowVisible(dialog); },
                        10000)) << "no run";

    const auto began = e2e::SteadyClock::now();
    int answered = 0, unanswered = 0;
    DWORD_PTR answer = 0, refused = 0xBAD;
    bool asked = false;
    while (::IsWindow(dialog)) {
        // A dialog that goes during the call has answered all it was asked.
        if (Answered(dialog, WM_NULL, 0, 0, answer, 1000)) {
            ++answered;
        } else if (::IsWindow(dialog)) {
            std::printf("no answer: error %lu\n", ::GetLastError());
            ++unanswered;
        }
        if (!asked && e2e::SteadyClock::now() - began > std::chrono::milliseconds(5500)) {
            asked = Answered(dialog, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, refused, 1000);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const double seconds = std::chrono::duration<double>(e2e::SteadyClock::now() - began).count();
    std::printf("the run lasted %.1f s; %d answers\n", seconds, answered);

    // The two copies are in flight together, so their flushes sleep side by side.
    EXPECT_GE(seconds, 6.0) << "the flushes were not slow";
    EXPECT_EQ(unanswered, 0) << "the dialog did not answer within the second";
    EXPECT_TRUE(asked);
    EXPECT_EQ(refused, 0u);
    EXPECT_EQ(ReadFileBytes(dest + "\\one.bin"), std::string(1u << 20, '1'));
    EXPECT_EQ(ReadFileBytes(dest + "\\two.bin"), std::string(1u << 20, '2'));
    CloseProgram();
}

// The session ends while the run passes over files it need not copy (the
// switch is off and 200 are in the destination already) and copies new empty
// ones, none of which has a buffer: the run stops there. The block in the
// log, written when the session ended, counts what the destination holds,
// and nothing is put in place after it.
TEST_F(UnattendedProgramTest, ASessionThatEndsBetweenFilesLeavesABlockThatMatchesTheDestination) {
    ::CreateDirectoryA(dest.c_str(), nullptr);
    for (int i = 0; i < 200; ++i) {
        const std::string name = "\\old" + std::to_string(i) + ".txt";
        ASSERT_TRUE(WriteFileBytes(source + name, "new"));
        ASSERT_TRUE(WriteFileBytes(dest + name, "old"));
    }
    constexpr int kNewFiles = 3000;
    for (int i = 0; i < kNewFiles; ++i) ASSERT_TRUE(WriteFileBytes(source + "\\new" + std::to_string(i), ""));
    const auto copiedNow = [&] {
        std::size_t count = 0;
        for (const std::string& name : ScratchDir::List(dest)) count += name.rfind("new", 0) == 0 ? 1 : 0;
        return count;
    };
    ASSERT_NE((Start(), main), nullptr);
    SetPaths();
    ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 2);
    ASSERT_TRUE(WaitFor([&] { return copiedNow() >= 20; }, 15000)) << "no run";

    DWORD_PTR answer = 0;
    ASSERT_TRUE(Answered(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, answer));
    EXPECT_EQ(answer, 0u);
    ASSERT_TRUE(Answered(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, answer));
    const std::string log = ReadFileBytes(folder + "\\Backup.log");
    const std::size_t copied = copiedNow();
    ASSERT_LT(copied, static_cast<std::size_t>(kNewFiles)) << "the run ended before the session: make more files";
    // The program ends with the session.
    EXPECT_TRUE(EndsWithin(20000));

    EXPECT_EQ(ReadFileBytes(folder + "\\Backup.log"), log);
    EXPECT_EQ(copiedNow(), copied) << "files were put in place after the block";
    EXPECT_NE(log.find("] 备份中断: Windows 会话结束 (注销、重启或关机), 其余文件未备份\r\n"
                       "    复制: " + std::to_string(copied) + " 个文件, 0 字节\r\n"),
              std::string::npos) << log;
    // How many of the old files the run had come to when it was cut off
    // depends on the listing's order, which is the file system's; each of
    // them is left as it was, and none of them is among the copies.
    EXPECT_NE(log.find(" 个已存在的文件 (未选覆盖重名文件)\r\n"), std::string::npos) << log;
    EXPECT_EQ(ScratchDir::List(dest).size(), 200 + copied);
    EXPECT_EQ(test::TemporaryFilesIn(dest).count, 0);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(ReadFileBytes(dest + "\\old" + std::to_string(i) + ".txt"), "old");
}

// A backup to a NAS: \\zelvo-nas-<pid>\backup is served by Wine from its
// prefix's dosdevices\unc, here a FUSE pass-through in which every operation
// waits 1 ms and every flush 5 ms more (a LAN round trip, a NAS disk), and
// every request times out while the share is off. The run copies everything
// with files in flight; a second run, during which the share drops for a
// second, still backs up every file; a third, during which it drops for
// good, stops with one line for the folder, keeps what it placed, and counts
// the rest as not backed up.
TEST_F(UnattendedProgramTest, ABackupToAShareAndAShareThatDropsDuringOne) {
    const std::string backing = folder + "\\nas-backing";
    const std::string off = folder + "\\nas-off";
    std::string whyNot;
    const auto nas = DistantDisk("nas", "--op-ms 1 --fsync-ms 5 --off '" + e2e::UnixPath(off) + "'", whyNot);
    if (!nas) GTEST_SKIP() << whyNot << ": no share can be simulated";
    ASSERT_TRUE(nas->Ok());
    char prefix[MAX_PATH] = {};
    ASSERT_GT(::GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH), 0u);
    const std::string server = "zelvo-nas-" + std::to_string(::GetCurrentProcessId());
    const std::string unc = std::string(prefix) + "/dosdevices/unc/" + server;
    ASSERT_TRUE(e2e::RunUnix("mkdir -p '" + unc + "' && ln -s '" + nas->Unix() + "' '" + unc + "/backup'",
                             folder + "\\link.verdict", 10000));
    struct Unlink {
        std::string unc, verdict;
        ~Unlink() { e2e::RunUnix("rm -rf '" + unc + "'", verdict, 10000); }
    } unlink{unc, folder + "\\unlink.verdict"};
    constexpr int kFiles = 300;
    const auto writeFiles = [&](const char* stem) {
        for (int i = 0; i < kFiles; ++i) {
            WriteFileBytes(source + "\\" + stem + std::to_string(1000 + i) + ".dat", std::string(4096, stem[0]));
        }
    };
    const auto inBacking = [&](const char* stem) {
        int count = 0;
        for (const std::string& name : ScratchDir::List(backing)) count += name.rfind(stem, 0) == 0 ? 1 : 0;
        return count;
    };
    writeFiles("f");
    dest = "\\\\" + server + "\\backup";
    ASSERT_NE((Start(), main), nullptr);
    SetPaths();
    ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 2);
    ASSERT_TRUE(WaitFor([&] { return Count(ReadFileBytes(folder + "\\Backup.log"), "开始备份") == 1; }, 60000));
    std::string log = ReadFileBytes(folder + "\\Backup.log");
    EXPECT_NE(log.find("    复制: 300 个文件, 1228800 字节\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("    失败: 0 个\r\n"), std::string::npos) << log;
    EXPECT_EQ(ScratchDir::List(backing).size(), static_cast<std::size_t>(kFiles));

    // The share drops for a second once the second run has put some of its
    // copies in place.
    writeFiles("g");
    ArmSlot(TMainForm::kCheckBox2Id, TMainForm::kDateTimePicker2Id, 2);
    ASSERT_TRUE(WaitFor([&] { return inBacking("g") >= 30; }, 30000)) << "the second run did not start";
    WriteFileBytes(off, "off");
    ASSERT_LT(inBacking("g"), kFiles) << "the run ended before the share dropped: make more files";
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ::DeleteFileA(off.c_str());
    ASSERT_TRUE(WaitFor([&] { return Count(ReadFileBytes(folder + "\\Backup.log"), "开始备份") == 2; }, 60000));
    log = ReadFileBytes(folder + "\\Backup.log");
    const std::string second = log.substr(log.rfind("开始备份"));
    EXPECT_NE(second.find("    复制: 300 个文件, 1228800 字节\r\n"), std::string::npos) << second;
    EXPECT_NE(second.find("    失败: 0 个\r\n"), std::string::npos) << second;
    EXPECT_EQ(inBacking("g"), kFiles);
    EXPECT_TRUE(ErrorBoxes().empty());

    // The share drops for good once the third run has put some of its copies in place.
    writeFiles("h");
    ArmSlot(TMainForm::kCheckBox3Id, TMainForm::kDateTimePicker3Id, 2);
    ASSERT_TRUE(WaitFor([&] { return inBacking("h") >= 30; }, 30000)) << "the third run did not start";
    WriteFileBytes(off, "off");
    const HWND box = WaitForOne([&] { return ErrorBoxes(); }, 30000);
    ASSERT_NE(box, nullptr) << "no error box";
    ::DeleteFileA(off.c_str());
    // Wine's reason for the time-out depends on the call that met it (the
    // probe's open gives ERROR_GEN_FAILURE, a write ERROR_SEM_TIMEOUT).
    const std::string line = LongMessage(box);
    EXPECT_EQ(line.rfind("目的目录[" + dest + "]无法访问 (", 0), 0u) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    Dismiss(box);
    log = ReadFileBytes(folder + "\\Backup.log");
    const int placed = inBacking("h");
    EXPECT_LT(placed, kFiles);
    EXPECT_NE(log.find("    复制: " + std::to_string(placed) + " 个文件, "), std::string::npos) << log;
    EXPECT_NE(log.find("    失败: 1 个\r\n    " + line + "\r\n    未备份: " + std::to_string(kFiles - placed) +
                       " 个文件 (目录无法访问)\r\n"),
              std::string::npos)
        << log;
    CloseProgram();
}

}  // namespace
}  // namespace zelvo
