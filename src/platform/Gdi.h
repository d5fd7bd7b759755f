// Owning wrappers for GDI objects, device contexts and menus, in the manner
// of the kernel handles of core/Handles.h: copying deleted, moving transfers.
#pragma once

#include "core/Handles.h"
#include "platform/Dpi.h"

#include <windows.h>

#include <string>

namespace zelvo::ui {

template <typename T>
struct GdiObjectTraits {
    using Type = T;
    static Type Invalid() noexcept { return nullptr; }
    static bool Close(Type h) noexcept { return ::DeleteObject(h) != FALSE; }
};

struct MenuTraits {
    using Type = HMENU;
    static Type Invalid() noexcept { return nullptr; }
    static bool Close(Type h) noexcept { return ::DestroyMenu(h) != FALSE; }
};

struct IconTraits {
    using Type = HICON;
    static Type Invalid() noexcept { return nullptr; }
    static bool Close(Type h) noexcept { return ::DestroyIcon(h) != FALSE; }
};

// Device contexts of CreateCompatibleDC and CreateDC (not GetDC, which WindowDC releases).
struct DCTraits {
    using Type = HDC;
    static Type Invalid() noexcept { return nullptr; }
    static bool Close(Type h) noexcept { return ::DeleteDC(h) != FALSE; }
};

using ScopedFont = ScopedHandle<GdiObjectTraits<HFONT>>;
using ScopedBrush = ScopedHandle<GdiObjectTraits<HBRUSH>>;
using ScopedBitmap = ScopedHandle<GdiObjectTraits<HBITMAP>>;
using ScopedMenu = ScopedHandle<MenuTraits>;
using ScopedIcon = ScopedHandle<IconTraits>;
using ScopedDC = ScopedHandle<DCTraits>;

// A window's device context from GetDC, released on destruction.
class WindowDC {
public:
    explicit WindowDC(HWND hwnd) : hwnd_(hwnd), dc_(::GetDC(hwnd)) {}
    ~WindowDC() {
        if (dc_) ::ReleaseDC(hwnd_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC Get() const { return dc_; }

private:
    HWND hwnd_;
    HDC dc_;
};

// BeginPaint/EndPaint for one WM_PAINT.
class PaintScope {
public:
    explicit PaintScope(HWND hwnd) : hwnd_(hwnd) { dc_ = ::BeginPaint(hwnd, &ps_); }
    ~PaintScope() { ::EndPaint(hwnd_, &ps_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    HDC Get() const { return dc_; }

private:
    HWND hwnd_;
    PAINTSTRUCT ps_{};
    HDC dc_;
};

// Selects an object into a device context and puts the old one back.
class SelectScope {
public:
    SelectScope(HDC dc, HGDIOBJ object) : dc_(dc), old_(::SelectObject(dc, object)) {}
    ~SelectScope() { ::SelectObject(dc_, old_); }
    SelectScope(const SelectScope&) = delete;
    SelectScope& operator=(const SelectScope&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// The font of every window of the program: 宋体, 12 pixels character height
// at 96 DPI, GB2312.
ScopedFont CreateFormFont(UINT dpi = kDesignDpi);

// The system's message-box font (NONCLIENTMETRICS lfMessageFont) at a DPI.
ScopedFont CreateMessageFont(UINT dpi = SystemDpi());

enum class IconSize { Large, Small };

// The program's icon (IDI_APPICON) at the system's large or small icon size
// for a DPI, shared and never destroyed; the system's application icon in
// executables without it (the test programs).
HICON ProgramIcon(IconSize size, UINT dpi = SystemDpi());

// Width and height of a text drawn in a font, for sizing a window to its text.
// With DT_WORDBREAK the text wraps at wrapWidth, or at half the screen width
// when that is 0.
SIZE MeasureText(HWND hwnd, HFONT font, const std::string& text, UINT extraFormat = 0, int wrapWidth = 0);

}  // namespace zelvo::ui
