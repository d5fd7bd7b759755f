// Asks the shell whether the tray holds an icon, for the in-process and the
// end-to-end tests alike.
#pragma once

#include <windows.h>
#include <shellapi.h>

namespace zelvo::test {

// Whether the tray holds an icon of this window and id: a NIM_MODIFY that
// changes nothing succeeds only then (on Windows and on Wine alike).
inline bool TrayIconExists(HWND hwnd, UINT id) {
    NOTIFYICONDATAA probe{};
    probe.cbSize = NOTIFYICONDATAA_V1_SIZE;
    probe.hWnd = hwnd;
    probe.uID = id;
    return ::Shell_NotifyIconA(NIM_MODIFY, &probe) != FALSE;
}

}  // namespace zelvo::test
