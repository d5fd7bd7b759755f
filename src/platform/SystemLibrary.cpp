#include "platform/SystemLibrary.h"

#include <string>

namespace zelvo::ui {

bool RestrictDllSearch() {
    ::SetDllDirectoryA("");
    // Looked up, not imported: a Windows 7 without KB2533623 lacks it, and an
    // import would stop the program from starting there.
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    return setDefaultDllDirectories && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

ScopedModule LoadSystemLibrary(const char* fileName) {
    char directory[MAX_PATH];
    const UINT length = ::GetSystemDirectoryA(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return ScopedModule();
    const std::string path = std::string(directory, length) + "\\" + fileName;
    // With a full path, LOAD_WITH_ALTERED_SEARCH_PATH starts the search for
    // the DLL's own imports in its folder instead of the program's. Unlike
    // LOAD_LIBRARY_SEARCH_SYSTEM32 it exists on every Windows.
    return ScopedModule(::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

}  // namespace zelvo::ui
