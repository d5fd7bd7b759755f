// A second process for the end-to-end tests: holds one file open as a viewer
// (reading, sharing reading), a writer (writing, sharing reading and writing)
// or a scanner that shares nothing would, until it is ended, or for two
// minutes at most.
//
//   FileHolder.exe read|write|exclusive <file> <event>
//
// Sets the named event once the file is open; ends with 2 when it cannot.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    constexpr DWORD kHoldMs = 120000;
    if (argc != 4) return 2;
    const bool write = std::wcscmp(argv[1], L"write") == 0;
    const bool exclusive = std::wcscmp(argv[1], L"exclusive") == 0;
    const DWORD sharing = exclusive ? 0 : write ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
    const HANDLE file =
        ::CreateFileW(argv[2], write ? GENERIC_WRITE : GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    const HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (!ready || !::SetEvent(ready)) return 2;
    ::Sleep(kHoldMs);
    ::CloseHandle(ready);
    ::CloseHandle(file);
    return 0;
}
