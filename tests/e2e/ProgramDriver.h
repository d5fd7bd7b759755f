// Drives the real program from outside: starts it as a separate process in
// a scratch folder of its own, finds its windows, and reads and writes its
// controls through window messages, as a user's clicks would.
#pragma once

#include "Backup.h"
#include "Main.h"
#include "core/Paths.h"
#include "windows/ScratchDir.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <utility>

namespace zelvo::e2e {

using SteadyClock = std::chrono::steady_clock;
using test::ScratchDir;

inline std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') {
        for (char& c : path) {
            if (c == '/') c = '\\';
        }
        path = "Z:" + path;
    }
    return path;
}

// The message of a message box: the text of its static that is no icon.
inline std::string BoxMessage(HWND box) {
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        char cls[32] = {};
        ::GetClassNameA(child, cls, sizeof cls);
        if (std::string(cls) != "Static" ||
            (::GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            continue;
        }
        char text[512] = {};
        ::SendMessageA(child, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
        if (text[0]) return text;
    }
    return std::string();
}

// What one Wine process start costs on this machine, as tools/run-ctest
// measured it: hundredths of a second where 32-bit code runs natively, some
// seconds where it is emulated. A wait that takes in the start of a process
// grows by a few of them.
inline int ProcessStartMs() {
    static const int ms = [] {
        const char* measured = std::getenv("ZELVO_PROCESS_START_MS");
        return measured ? std::atoi(measured) : 0;
    }();
    return ms;
}

inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    const auto end = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    while (SteadyClock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

inline std::string Text(HWND hwnd) {
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

// Another process (tests/e2e/holder) that holds a file open, reading as a
// viewer does, writing, or sharing nothing as a scanner may, for as long as
// this object lives.
class HeldByAnotherProcess {
public:
    enum class Access { Read, Write, Exclusive };

    HeldByAnotherProcess(const std::wstring& file, Access access) {
        const char* holder = std::getenv("ZELVO_FILE_HOLDER");
        EXPECT_NE(holder, nullptr) << "ZELVO_FILE_HOLDER is not set";
        if (!holder) return;
        static int serial = 0;
        const std::wstring event =
            L"zelvo-holder-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++serial);
        ready_ = ::CreateEventW(nullptr, TRUE, FALSE, event.c_str());
        const std::wstring exe = WidenAnsi(WindowsPath(holder));
        const wchar_t* mode = access == Access::Read ? L"read" : access == Access::Write ? L"write" : L"exclusive";
        std::wstring command = L"\"" + exe + L"\" " + mode + L" \"" + file + L"\" " + event;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process_)) {
            const HANDLE waits[] = {ready_, process_.hProcess};
            held_ = ::WaitForMultipleObjects(2, waits, FALSE, 10000 + 3 * ProcessStartMs()) == WAIT_OBJECT_0;
        }
    }
    ~HeldByAnotherProcess() { Release(); }
    HeldByAnotherProcess(const HeldByAnotherProcess&) = delete;
    HeldByAnotherProcess& operator=(const HeldByAnotherProcess&) = delete;

    bool Held() const { return held_; }
    void Release() {
        if (process_.hProcess) {
            ::TerminateProcess(process_.hProcess, 0);
            ::WaitForSingleObject(process_.hProcess, 5000);
            ::CloseHandle(process_.hProcess);
            ::CloseHandle(process_.hThread);
            process_ = PROCESS_INFORMATION{};
        }
        if (ready_) ::CloseHandle(std::exchange(ready_, nullptr));
        held_ = false;
    }

private:
    HANDLE ready_ = nullptr;
    PROCESS_INFORMATION process_{};
    bool held_ = false;
};

// Where Wine keeps a path on the Unix side; "" where the platform is no Wine.
inline std::string UnixPath(const std::string& path) {
    using UnixName = char*(CDECL*)(const WCHAR*);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char* unix = unixName ? unixName(WidenAnsi(path).c_str()) : nullptr;
    if (!unix) return std::string();
    std::string name = unix;
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return name;
}

// Runs a Unix shell command (no double quotes in it) beside Wine and waits
// for it; true when it succeeded within the time. Wine gives no handle to
// wait on for a Unix process, so the command leaves its verdict in a file.
inline bool RunUnix(const std::string& command, const std::string& verdictFile, int timeoutMs) {
    ::DeleteFileA(verdictFile.c_str());
    const std::string verdict = UnixPath(verdictFile);
    if (verdict.empty()) return false;
    std::string line = "/bin/sh -c \"(" + command + ") && echo ok > '" + verdict + "' || echo no > '" + verdict + "'\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        return false;
    }
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    std::string said;
    WaitFor([&] {
        const bool there = ::GetFileAttributesA(verdictFile.c_str()) != INVALID_FILE_ATTRIBUTES;
        said = there ? test::ReadFileBytes(verdictFile) : std::string();
        return said.find('\n') != std::string::npos;
    }, timeoutMs);
    ::DeleteFileA(verdictFile.c_str());
    return said.rfind("ok", 0) == 0;
}

// Whether the tests run as root on the Unix side. Only root may mount a
// tmpfs, and on many machines a FUSE file system; the tests that need one
// skip, saying why, where they run as another user (install-deps then used
// sudo) and the mount fails.
inline bool AsRoot() {
    static const bool root = [] {
        char temp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, temp);
        return RunUnix("test \"$(id -u)\" = 0", std::string(temp) + "zelvo-root.verdict", 15000);
    }();
    return root;
}

// A file system mounted on an empty folder for as long as this lives:
// `mount` is a shell command with %s wherever it names the Unix path of the
// folder.
class Mounted {
public:
    Mounted(std::string folder, const std::string& mount) : folder_(std::move(folder)) {
        ::CreateDirectoryA(folder_.c_str(), nullptr);
        unix_ = UnixPath(folder_);
        std::string command = mount;
        for (std::size_t at; (at = command.find("%s")) != std::string::npos;) command.replace(at, 2, unix_);
        mounted_ = !unix_.empty() && RunUnix(command, folder_ + ".verdict", 15000);
    }
    ~Mounted() {
        // Lazily: the program may still hold a file there when a test fails.
        if (mounted_) RunUnix("umount -l '" + unix_ + "'", folder_ + ".verdict", 15000);
    }
    Mounted(const Mounted&) = delete;
    Mounted& operator=(const Mounted&) = delete;

    bool Ok() const { return mounted_; }
    const std::string& Unix() const { return unix_; }

private:
    std::string folder_;
    std::string unix_;
    bool mounted_ = false;
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
        const auto began = SteadyClock::now();
        EXPECT_TRUE(::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                     nullptr, (workingDir.empty() ? folder : workingDir).c_str(), &startup, &process));
        WaitFor([&] {
            main = FindOwn(TMainForm::kClassName);
            return main && (!waitVisible || ::IsWindowVisible(main));
        }, 30000 + 3 * ProcessStartMs());
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - began).count());
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

    // The program's uniform error box once it is on the screen with its text
    // (the box exists a moment before its text does); null after the time-out.
    HWND WaitForErrorBox(int timeoutMs) const {
        HWND box = nullptr;
        WaitFor([&] {
            box = FindOwn("#32770", kApplicationTitle);
            return box && ::IsWindowVisible(box) && !BoxMessage(box).empty();
        }, timeoutMs);
        return box && ::IsWindowVisible(box) ? box : nullptr;
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

    // The local time `secondsAhead` from now, to the whole second.
    static SYSTEMTIME LocalTimeAhead(int secondsAhead) {
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
        return at;
    }

    // Sets a picker to a local time `secondsAhead` from now and ticks its box.
    SYSTEMTIME ArmSlot(int checkBoxId, int pickerId, int secondsAhead) {
        const SYSTEMTIME at = LocalTimeAhead(secondsAhead);
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

    // Files of zeros in the source, for a run that lasts long enough to watch.
    void WriteBigFiles(int count, std::uint64_t size) const {
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(test::WriteZeroFile(source + "\\big" + std::to_string(i) + ".dat", size));
        }
    }

    // What the destination holds: the copies in place, each of fileSize
    // bytes, and the one under way.
    std::uint64_t DestBytes(std::uint64_t fileSize) const {
        std::uint64_t bytes = test::TemporaryFilesIn(dest).bytes;
        for (const std::string& name : test::ScratchDir::List(dest)) {
            if (!IsTemporaryName(name)) bytes += fileSize;
        }
        return bytes;
    }

    // The run's dialog once it is on the screen and its copy under way; null
    // after the time-out.
    HWND WaitForRun(int timeoutMs) const {
        HWND dialog = nullptr;
        WaitFor([&] {
            dialog = FindOwn(TBackupForm::kClassName);
            return dialog && ::IsWindowVisible(dialog) && test::TemporaryFilesIn(dest).bytes > 0;
        }, timeoutMs);
        return dialog && test::TemporaryFilesIn(dest).bytes > 0 ? dialog : nullptr;
    }

    ScratchDir scratch;  // removed after TearDown has ended the program
    std::string folder, program, source, dest;
    std::string workingDir;  // the program's current directory; empty: its folder
    PROCESS_INFORMATION process{};
    HWND main = nullptr;
};

}  // namespace zelvo::e2e
