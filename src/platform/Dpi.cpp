#include "platform/Dpi.h"

#include "platform/Gdi.h"
#include "platform/SystemLibrary.h"

namespace zelvo::ui {

namespace {

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

}  // namespace

UINT SystemDpi() {
    // Fixed for the life of the process: the system reads it at start-up.
    static const UINT dpi = [] {
        const WindowDC screen(nullptr);
        const int logPixels = screen.Get() ? ::GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
        return logPixels > 0 ? static_cast<UINT>(logPixels) : kDesignDpi;
    }();
    return dpi;
}

UINT(WINAPI* GetDpiForWindowCall)(HWND hwnd) =
    SystemFunction<GetDpiForWindowFunction>("user32.dll", "GetDpiForWindow");

UINT WindowDpi(HWND hwnd) {
    const UINT dpi = GetDpiForWindowCall && hwnd ? GetDpiForWindowCall(hwnd) : 0;
    return dpi ? dpi : SystemDpi();
}

Bounds DpiScale::operator()(const Bounds& b) const {
    const int left = (*this)(b.left);
    const int top = (*this)(b.top);
    return Bounds{left, top, (*this)(b.left + b.width) - left, (*this)(b.top + b.height) - top};
}

int DpiScale::Metric(int index) const {
    static const auto forDpi = SystemFunction<GetSystemMetricsForDpiFunction>("user32.dll", "GetSystemMetricsForDpi");
    if (forDpi) return forDpi(index, dpi_);
    return ::MulDiv(::GetSystemMetrics(index), static_cast<int>(dpi_), static_cast<int>(SystemDpi()));
}

SIZE DpiScale::Frame(SIZE client, DWORD style, bool menu, DWORD exStyle) const {
    static const auto forDpi =
        SystemFunction<AdjustWindowRectExForDpiFunction>("user32.dll", "AdjustWindowRectExForDpi");
    RECT r{0, 0, client.cx, client.cy};
    // Before Windows 10 the system draws every frame at the system DPI.
    if (!forDpi || !forDpi(&r, style, menu, exStyle, dpi_)) ::AdjustWindowRectEx(&r, style, menu, exStyle);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

}  // namespace zelvo::ui
