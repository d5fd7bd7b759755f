// The common controls (comctl32). Windows does not protect comctl32 as a
// known DLL, so the program does not import it: it is loaded at the first
// call below and stays loaded until the program ends, since the controls'
// window procedures live in it. The program's manifest asks for version 6
// (visual styles), which lives in the system's side-by-side store and is
// reached by name through the activation context; that redirection is not
// subject to the search for DLLs, so no copy beside the program or in the
// current directory is taken. Without it (the test programs that carry no
// manifest), version 5 from the system directory.
#pragma once

#include "platform/Gdi.h"

#include <windows.h>
#include <commctrl.h>

namespace zelvo::ui::comctl32 {

inline constexpr char kFileName[] = "comctl32.dll";

// Loads comctl32 now, if it is not loaded yet; false when it cannot be.
// Wine's own shell32 loads comctl32 by name through a delay import that
// looks in the program's folder first, whatever RestrictDllSearch set; the
// copy already loaded (from the store or the system directory) is the one
// it then finds.
bool Load();

// As the functions of the same name; false, or DefWindowProcA's result,
// when comctl32 cannot be loaded.
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* classes);
BOOL SetWindowSubclass(HWND hwnd, SUBCLASSPROC procedure, UINT_PTR id, DWORD_PTR data);
BOOL RemoveWindowSubclass(HWND hwnd, SUBCLASSPROC procedure, UINT_PTR id);
LRESULT DefSubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// One of the system's icons (IDI_...) drawn for this size (LoadIconWithScaleDown
// of common controls 6); without it, the system's icon stretched to the size.
ScopedIcon LoadSystemIcon(LPCSTR id, int size);

}  // namespace zelvo::ui::comctl32
