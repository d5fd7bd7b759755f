// The real program, started as a separate process in a folder of its own and
// driven from outside through window messages, as a user's clicks would.
#include "Backup.h"
#include "Main.h"
#include "core/ProfileFile.h"
#include "windows/RunValueGuard.h"
#include "windows/ScratchDir.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace zelvo {
namespace {

using Clock = std::chrono::steady_clock;
using test::ScratchDir;

std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') {
        for (char& c : path) {
            if (c == '/') c = '\\';
        }
        path = "Z:" + path;
    }
    return path;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

std::string Text(HWND hwnd) {
    char text[512] = {};
    ::SendMessageA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

// A block of memory in the program's address space, for messages whose
// pointer arguments the system does not carry across processes.
class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, std::size_t size)
        : process_(process),
          address_(::VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE)),
          size_(size) {}
    ~RemoteBuffer() { ::VirtualFreeEx(process_, address_, 0, MEM_RELEASE); }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    LPARAM Address() const { return reinterpret_cast<LPARAM>(address_); }
    void Write(const void* data, std::size_t size) {
        SIZE_T done = 0;
        ::WriteProcessMemory(process_, address_, data, size, &done);
    }
    std::string Read() const {
        std::string bytes(size_, '\0');
        SIZE_T done = 0;
        ::ReadProcessMemory(process_, address_, bytes.data(), size_, &done);
        return bytes;
    }

private:
    HANDLE process_;
    void* address_;
    std::size_t size_;
};

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* exe = std::getenv("ZELVO_EXE");
        ASSERT_NE(exe, nullptr) << "ZELVO_EXE is not set";
        folder = scratch.Path();
        program = folder + "\\ZelvoBackup.exe";
        ASSERT_TRUE(::CopyFileA(WindowsPath(exe).c_str(), program.c_str(), FALSE)) << exe;
        source = folder + "\\源目录";
        dest = folder + "\\目的目录";
        ::CreateDirectoryA(source.c_str(), nullptr);
    }

    void TearDown() override {
        if (process.hProcess) {
            if (::WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
                ::TerminateProcess(process.hProcess, 1);
                ::WaitForSingleObject(process.hProcess, 5000);
            }
            ::CloseHandle(process.hProcess);
            ::CloseHandle(process.hThread);
        }
    }

    // Starts the program and waits for its main window; returns the milliseconds it took.
    long Start(WORD showCommand = SW_SHOWNORMAL, bool waitVisible = true) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = showCommand;
        std::string commandLine = "\"" + program + "\"";
        const auto began = Clock::now();
        EXPECT_TRUE(::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                     nullptr, folder.c_str(), &startup, &process));
        WaitFor([&] {
            main = FindOwn(TMainForm::kClassName);
            return main && (!waitVisible || ::IsWindowVisible(main));
        }, 30000);
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began).count());
    }

    // The program's top-level window of a class (and the title, if given).
    HWND FindOwn(const char* className, const char* title = nullptr) const {
        HWND found = nullptr;
        for (HWND at = nullptr; (at = ::FindWindowExA(nullptr, at, className, title)) != nullptr;) {
            DWORD pid = 0;
            ::GetWindowThreadProcessId(at, &pid);
            if (pid == process.dwProcessId) found = at;
        }
        return found;
    }

    struct Search {
        int id;
        HWND found;
    };
    static BOOL CALLBACK MatchId(HWND hwnd, LPARAM data) {
        auto* search = reinterpret_cast<Search*>(data);
        if (::GetDlgCtrlID(hwnd) != search->id) return TRUE;
        search->found = hwnd;
        return FALSE;
    }

    HWND Control(int id) const {
        Search search{id, nullptr};
        ::EnumChildWindows(main, &MatchId, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    std::string StatusText() {
        RemoteBuffer buffer(process.hProcess, 256);
        ::SendMessageA(Control(TMainForm::kStatusBar1Id), SB_GETTEXTA, 0, buffer.Address());
        return buffer.Read().c_str();
    }

    bool Checked(int id) const { return ::SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

    // A picker's time as "hh:mm:ss".
    std::string PickerTime(int id) {
        RemoteBuffer remote(process.hProcess, sizeof(SYSTEMTIME));
        ::SendMessageA(Control(id), DTM_GETSYSTEMTIME, 0, remote.Address());
        SYSTEMTIME at{};
        remote.Read().copy(reinterpret_cast<char*>(&at), sizeof at);
        char text[16];
        std::snprintf(text, sizeof text, "%02u:%02u:%02u", at.wHour, at.wMinute, at.wSecond);
        return text;
    }

    // A click as the user's: the handler has run when this returns, unless
    // it opened a box, which would hold it up to the time-out.
    void Press(int id) {
        DWORD_PTR result = 0;
        ::SendMessageTimeoutA(Control(id), BM_CLICK, 0, 0, SMTO_NORMAL, 10000, &result);
    }

    std::string SettingsFile() const { return folder + "\\SetFile.ini"; }

    // Sets a picker to a local time `secondsAhead` from now and ticks its box.
    SYSTEMTIME ArmSlot(int checkBoxId, int pickerId, int secondsAhead) {
        FILETIME now{};
        ::GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER t{};
        t.LowPart = now.dwLowDateTime;
        t.HighPart = now.dwHighDateTime;
        t.QuadPart += static_cast<ULONGLONG>(secondsAhead) * 10000000ULL;
        FILETIME ahead{t.LowPart, t.HighPart}, local{};
        ::FileTimeToLocalFileTime(&ahead, &local);
        SYSTEMTIME at{};
        ::FileTimeToSystemTime(&local, &at);
        at.wMilliseconds = 0;
        RemoteBuffer remote(process.hProcess, sizeof(SYSTEMTIME));
        remote.Write(&at, sizeof at);
        ::SendMessageA(Control(pickerId), DTM_SETSYSTEMTIME, GDT_VALID, remote.Address());
        const HWND box = Control(checkBoxId);
        if (::SendMessageA(box, BM_GETCHECK, 0, 0) != BST_CHECKED) ::SendMessageA(box, BM_CLICK, 0, 0);
        return at;
    }

    void SetPaths() {
        ::SendMessageA(Control(TMainForm::kSourceEditId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(source.c_str()));
        ::SendMessageA(Control(TMainForm::kDesEditId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(dest.c_str()));
    }

    bool EndsWithin(int ms) { return ::WaitForSingleObject(process.hProcess, ms) == WAIT_OBJECT_0; }

    ScratchDir scratch;  // removed after TearDown has ended the program
    std::string folder, program, source, dest;
    PROCESS_INFORMATION process{};
    HWND main = nullptr;
};

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

    ScratchDir::Write(source + "\\a.txt", "alpha");
    ScratchDir::Write(source + "\\b.txt", "bravo");
    SetPaths();
    const SYSTEMTIME at = ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 4);
    EXPECT_TRUE(::IsWindowEnabled(Control(TMainForm::kDateTimePicker1Id)));
    EXPECT_EQ(::GetFileAttributesA(dest.c_str()), INVALID_FILE_ATTRIBUTES);

    ASSERT_TRUE(WaitFor([&] { return ScratchDir::Read(dest + "\\b.txt") == "bravo"; }, 10000))
        << "no copy within 10 s";
    SYSTEMTIME done{};
    ::GetLocalTime(&done);
    // Seen within 50 ms of the copy: in the set second or just after, never before.
    const int setSecond = at.wHour * 3600 + at.wMinute * 60 + at.wSecond;
    int late = done.wHour * 3600 + done.wMinute * 60 + done.wSecond - setSecond;
    if (late < -43200) late += 86400;
    EXPECT_GE(late, 0);
    EXPECT_LE(late, 2);
    EXPECT_EQ(ScratchDir::Read(dest + "\\a.txt"), "alpha");

    // Closing from the menu ends the process.
    ::PostMessageA(main, WM_COMMAND, TMainForm::kNCloseId, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

TEST_F(ProgramTest, RunDialogShowsItsEndAndOneBoxWithTheFailures) {
    ASSERT_NE((Start(), main), nullptr);
    ScratchDir::Write(source + "\\free.txt", "free");
    ScratchDir::Write(source + "\\locked.txt", "locked");
    test::ExclusiveLock lock(source + "\\locked.txt");
    ASSERT_TRUE(lock.Held());
    SetPaths();
    ArmSlot(TMainForm::kCheckBox2Id, TMainForm::kDateTimePicker2Id, 3);

    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = FindOwn("#32770", kApplicationTitle)) != nullptr; }, 10000))
        << "no error box";
    const HWND dialog = FindOwn(TBackupForm::kClassName);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(::IsWindowVisible(dialog));
    EXPECT_EQ(Text(dialog).rfind(" 备份 " + source + "\\", 0), 0u) << Text(dialog);
    HWND bar = ::FindWindowExA(::FindWindowExA(dialog, nullptr, "TPanel", nullptr), nullptr, PROGRESS_CLASSA, nullptr);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), 10000);

    std::string boxText;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (Text(child).find("Cannot") != std::string::npos) boxText = Text(child);
    }
    EXPECT_EQ(boxText, "Cannot open file " + source + "\\locked.txt.");
    EXPECT_EQ(ScratchDir::Read(dest + "\\free.txt"), "free");

    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return !::IsWindow(dialog); }, 5000));
    lock.Release();
    ::PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

TEST_F(ProgramTest, StartRequestedMinimizedShowsNoWindowUntilRestored) {
    Start(SW_SHOWMINNOACTIVE, false);
    ASSERT_NE(main, nullptr);
    const HWND app = FindOwn("TApplication", kApplicationTitle);
    ASSERT_NE(app, nullptr);
    EXPECT_TRUE(WaitFor([&] { return ::IsIconic(app) != FALSE; }, 3000));
    EXPECT_FALSE(::IsWindowVisible(main));

    ::SendMessageA(app, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_TRUE(WaitFor([&] { return ::IsWindowVisible(main) != FALSE; }, 3000));
    EXPECT_FALSE(::IsIconic(main));
    ::PostMessageA(main, WM_COMMAND, TMainForm::kN1Id, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

}  // namespace
}  // namespace zelvo

namespace zelvo {
namespace {

TEST_F(ProgramTest, PreparedSettingsFileShowsInTheControls) {
    ScratchDir::Write(SettingsFile(), "[AppPara]\r\nSourceDir=" + source + "\r\nDestinationDir=" + dest +
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
    EXPECT_EQ(ScratchDir::Read(SettingsFile()),
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
    ScratchDir::Write(SettingsFile(), "[AppPara]\r\nAutoRun=1\r\n");
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
