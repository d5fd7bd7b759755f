#include "platform/CommonControls.h"

#include "platform/SystemLibrary.h"

#include <utility>

namespace zelvo::ui::comctl32 {

namespace {

using LoadIconWithScaleDownFunction = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);

ScopedModule LoadCommonControls() {
    ScopedModule module = LoadSideBySideLibrary(kFileName);
    return module ? std::move(module) : LoadSystemLibrary(kFileName);
}

struct Exports {
    ScopedModule module = LoadCommonControls();
    decltype(&::InitCommonControlsEx) initCommonControlsEx =
        ExportedFunction<decltype(&::InitCommonControlsEx)>(module, "InitCommonControlsEx");
    decltype(&::SetWindowSubclass) setWindowSubclass =
        ExportedFunction<decltype(&::SetWindowSubclass)>(module, "SetWindowSubclass");
    decltype(&::RemoveWindowSubclass) removeWindowSubclass =
        ExportedFunction<decltype(&::RemoveWindowSubclass)>(module, "RemoveWindowSubclass");
    decltype(&::DefSubclassProc) defSubclassProc =
        ExportedFunction<decltype(&::DefSubclassProc)>(module, "DefSubclassProc");
    // Common controls 6 only.
    LoadIconWithScaleDownFunction loadIconWithScaleDown =
        ExportedFunction<LoadIconWithScaleDownFunction>(module, "LoadIconWithScaleDown");
};

// Never destroyed: like an imported DLL, comctl32 stays until the process
// ends, since windows of its classes may still exist while statics go.
const Exports& Library() {
    static const Exports* const exports = new Exports;
    return *exports;
}

}  // namespace

bool Load() { return Library().module.Valid(); }

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* classes) {
    const auto function = Library().initCommonControlsEx;
    return function ? function(classes) : FALSE;
}

BOOL SetWindowSubclass(HWND hwnd, SUBCLASSPROC procedure, UINT_PTR id, DWORD_PTR data) {
    const auto function = Library().setWindowSubclass;
    return function ? function(hwnd, procedure, id, data) : FALSE;
}

BOOL RemoveWindowSubclass(HWND hwnd, SUBCLASSPROC procedure, UINT_PTR id) {
    const auto function = Library().removeWindowSubclass;
    return function ? function(hwnd, procedure, id) : FALSE;
}

LRESULT DefSubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    const auto function = Library().defSubclassProc;
    return function ? function(hwnd, msg, wParam, lParam) : ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

ScopedIcon LoadSystemIcon(LPCSTR id, int size) {
    HICON icon = nullptr;
    const auto function = Library().loadIconWithScaleDown;
    const auto wideId = MAKEINTRESOURCEW(LOWORD(reinterpret_cast<ULONG_PTR>(id)));
    if (function && SUCCEEDED(function(nullptr, wideId, size, size, &icon)) && icon) return ScopedIcon(icon);
    // A copy: the icon LoadIcon gives is the system's, never to be destroyed.
    return ScopedIcon(static_cast<HICON>(::CopyImage(::LoadIconA(nullptr, id), IMAGE_ICON, size, size, 0)));
}

}  // namespace zelvo::ui::comctl32
