#include "platform/SystemLibrary.h"

#include <string>
#include <vector>

namespace zelvo::ui {

namespace {

struct ActivationContextTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static bool Close(Type h) noexcept {
        ::ReleaseActCtx(h);
        return true;
    }
};
using ScopedActivationContext = ScopedHandle<ActivationContextTraits>;

// Whether the assembly that the process's activation context redirects a DLL
// name to has its manifest below the Windows directory (the side-by-side
// store), not beside the program as a private assembly would.
bool RedirectedToSystemAssembly(const char* fileName) {
    ACTCTX_SECTION_KEYED_DATA found{};
    found.cbSize = sizeof(found);
    if (!::FindActCtxSectionStringA(FIND_ACTCTX_SECTION_KEY_RETURN_HACTCTX, nullptr,
                                    ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, fileName, &found)) {
        return false;
    }
    const ScopedActivationContext context(found.hActCtx);
    DWORD index = found.ulAssemblyRosterIndex;
    SIZE_T needed = 0;
    ::QueryActCtxW(0, context.Get(), &index, AssemblyDetailedInformationInActivationContext, nullptr, 0, &needed);
    if (needed < sizeof(ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION)) return false;
    std::vector<char> buffer(needed);
    if (!::QueryActCtxW(0, context.Get(), &index, AssemblyDetailedInformationInActivationContext, buffer.data(),
                        buffer.size(), &needed)) {
        return false;
    }
    const auto* assembly = reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer.data());
    wchar_t windows[MAX_PATH];
    const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH - 1 || !assembly->lpAssemblyManifestPath) return false;
    if (windows[length - 1] != L'\\') {
        windows[length] = L'\\';
        windows[length + 1] = L'\0';
    }
    const std::wstring manifest = assembly->lpAssemblyManifestPath;
    const std::wstring prefix = windows;
    return manifest.size() > prefix.size() &&
           ::CompareStringOrdinal(manifest.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                  static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

bool RestrictDllSearch() {
    ::SetDllDirectoryA("");
    // A Windows 7 without KB2533623 lacks it.
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories =
        SystemFunction<SetDefaultDllDirectoriesFunction>("kernel32.dll", "SetDefaultDllDirectories");
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

ScopedModule LoadSideBySideLibrary(const char* fileName) {
    if (!RedirectedToSystemAssembly(fileName)) return ScopedModule();
    return ScopedModule(::LoadLibraryA(fileName));
}

}  // namespace zelvo::ui
