#include "platform/Gdi.h"

#include "platform/SystemLibrary.h"
#include "resource.h"

#include <cstring>
#include <map>
#include <utility>

namespace zelvo::ui {

namespace {
constexpr int kFormFontHeight = 12;  // character height, not cell height
constexpr char kFormFontFace[] = "宋体";

using SystemParametersInfoForDpiFunction = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);
}  // namespace

ScopedFont CreateFormFont(UINT dpi) {
    LOGFONTA lf{};
    lf.lfHeight = -DpiScale(dpi)(kFormFontHeight);
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = GB2312_CHARSET;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    static_assert(sizeof(kFormFontFace) <= LF_FACESIZE, "face name too long");
    std::memcpy(lf.lfFaceName, kFormFontFace, sizeof(kFormFontFace));
    return ScopedFont(::CreateFontIndirectA(&lf));
}

ScopedFont CreateMessageFont(UINT dpi) {
    // Looked up: Windows 10's. Before it every window has the system DPI.
    static const auto forDpi =
        SystemFunction<SystemParametersInfoForDpiFunction>("user32.dll", "SystemParametersInfoForDpi");
    if (forDpi) {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof(metrics);
        if (forDpi(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0, dpi)) {
            return ScopedFont(::CreateFontIndirectW(&metrics.lfMessageFont));
        }
    }
    NONCLIENTMETRICSA metrics{};
    // The size without iPaddedBorderWidth: older systems refuse the larger one.
    metrics.cbSize = offsetof(NONCLIENTMETRICSA, iPaddedBorderWidth);
    if (::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) {
        metrics.lfMessageFont.lfHeight =
            ::MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
        return ScopedFont(::CreateFontIndirectA(&metrics.lfMessageFont));
    }
    return ScopedFont(::CreateFontA(-DpiScale(dpi)(12), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                                    0, 0, "MS Shell Dlg"));
}

HICON ProgramIcon(IconSize size, UINT dpi) {
    const bool small = size == IconSize::Small;
    const DpiScale scale(dpi);
    const int cx = scale.Metric(small ? SM_CXSMICON : SM_CXICON);
    const int cy = scale.Metric(small ? SM_CYSMICON : SM_CYICON);
    // One icon per size for the life of the process: LR_SHARED would hand
    // out the size loaded first for every later size.
    static auto* const loaded = new std::map<std::pair<int, int>, HICON>;
    HICON& icon = (*loaded)[{cx, cy}];
    if (!icon) {
        icon = static_cast<HICON>(::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APPICON),
                                               IMAGE_ICON, cx, cy, 0));
    }
    if (!icon) icon = static_cast<HICON>(::LoadImageA(nullptr, IDI_APPLICATION, IMAGE_ICON, cx, cy, LR_SHARED));
    return icon;
}

SIZE MeasureText(HWND hwnd, HFONT font, const std::string& text, UINT extraFormat, int wrapWidth) {
    WindowDC dc(hwnd);
    SelectScope select(dc.Get(), font);
    RECT r{0, 0, 0, 0};
    if (extraFormat & DT_WORDBREAK) r.right = wrapWidth > 0 ? wrapWidth : ::GetSystemMetrics(SM_CXSCREEN) / 2;
    ::DrawTextA(dc.Get(), text.c_str(), static_cast<int>(text.size()), &r,
                DT_CALCRECT | DT_NOPREFIX | extraFormat);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

}  // namespace zelvo::ui
