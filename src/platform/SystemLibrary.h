// DLLs from the system directory only. For a DLL that Windows does not
// protect as a known DLL (comctl32, version, ...) the loader looks in the
// program's own folder, and unless told otherwise in the current directory,
// before the system directory: a DLL of that name planted there would run
// inside the program. So the program imports known DLLs only and loads
// every other DLL here, by its full path in the system directory.
#pragma once

#include "core/Handles.h"

#include <windows.h>

namespace zelvo::ui {

struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static bool Close(Type h) noexcept { return ::FreeLibrary(h) != FALSE; }
};
using ScopedModule = ScopedHandle<ModuleTraits>;  // LoadLibraryEx results

// Takes the current directory out of the DLL search and, where kernel32 has
// SetDefaultDllDirectories (Windows 8 and later, Windows 7 with KB2533623),
// limits every later search by name, the system's own ones included, to the
// system directory. True when that limit is in force.
bool RestrictDllSearch();

// Loads a DLL, given by its file name, from the system directory; the DLLs
// it imports are looked for there first as well. Empty when it cannot be loaded.
ScopedModule LoadSystemLibrary(const char* fileName);

// Loads a DLL by name where the process's activation context (the program's
// manifest) redirects that name to an assembly of the system's side-by-side
// store, in the Windows directory: the loader then takes that assembly's file
// and never searches the program's folder or the current directory for it.
// Empty without such a redirection (a program without the manifest, or an
// assembly found anywhere but in the store).
ScopedModule LoadSideBySideLibrary(const char* fileName);

// An export of a loaded module as a function pointer of type F; null when
// the module is not loaded or lacks it.
template <typename F>
F ExportedFunction(const ScopedModule& module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module.Get(), name)));
}

// An export of a known DLL that the program imports (and so has loaded), as a
// function pointer of type F; null where this Windows lacks it. Functions of
// later Windows versions are looked up so, not imported: an import the
// system lacks would stop the program from starting.
template <typename F>
F SystemFunction(const char* dllName, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA(dllName), name)));
}

}  // namespace zelvo::ui
