// Pixels at 96 DPI turned into pixels at the DPI a window is shown at. Every
// size and position of the windows is written for 96 DPI; a window lays
// itself out at the DPI of the monitor it is on through one DpiScale.
//
// The functions that tell a window's DPI (user32 of Windows 10) are looked
// up, not imported: on Windows 7 and 8 the program knows the system DPI only,
// and an import would stop it from starting there.
#pragma once

#include <windows.h>

namespace zelvo::ui {

inline constexpr UINT kDesignDpi = 96;

// A place in a parent's client area: left, top, width, height.
struct Bounds {
    int left = 0, top = 0, width = 0, height = 0;
};

// The DPI of the screen at start-up, which every window has where the
// system knows no other (before Windows 10).
UINT SystemDpi();

// The system's GetDpiForWindow (null before Windows 10), through which
// WindowDpi asks, so that a test can move a window to another DPI.
extern UINT(WINAPI* GetDpiForWindowCall)(HWND hwnd);

// The DPI of the monitor a window is on (GetDpiForWindow), else SystemDpi().
UINT WindowDpi(HWND hwnd);

class DpiScale {
public:
    explicit DpiScale(UINT dpi = kDesignDpi) : dpi_(dpi ? dpi : kDesignDpi) {}

    UINT Dpi() const { return dpi_; }
    // A length or a coordinate at 96 DPI, at this DPI (rounded to the nearest pixel).
    int operator()(int figure) const { return ::MulDiv(figure, static_cast<int>(dpi_), kDesignDpi); }
    SIZE operator()(SIZE size) const { return SIZE{(*this)(size.cx), (*this)(size.cy)}; }
    POINT operator()(POINT point) const { return POINT{(*this)(point.x), (*this)(point.y)}; }
    // The edges scale, not the sizes: windows that touch at 96 DPI touch at
    // every DPI, and windows that keep apart never come to overlap.
    Bounds operator()(const Bounds& b) const;

    // A system metric (SM_...) at this DPI: GetSystemMetricsForDpi where the
    // system has it, else the system's value at its own DPI, scaled.
    int Metric(int index) const;
    // The outer size of a window around a client area of this size (in
    // pixels at this DPI): AdjustWindowRectExForDpi where the system has it.
    SIZE Frame(SIZE client, DWORD style, bool menu, DWORD exStyle) const;

private:
    UINT dpi_;
};

}  // namespace zelvo::ui
