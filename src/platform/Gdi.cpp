#include "platform/Gdi.h"

#include "resource.h"

#include <cstring>

namespace zelvo::ui {

namespace {
constexpr int kFormFontHeight = -12;  // negative: character height, not cell height
constexpr char kFormFontFace[] = "宋体";
}  // namespace

ScopedFont CreateFormFont() {
    LOGFONTA lf{};
    lf.lfHeight = kFormFontHeight;
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

ScopedFont CreateMessageFont() {
    NONCLIENTMETRICSA metrics{};
    // The size without iPaddedBorderWidth: older systems refuse the larger one.
    metrics.cbSize = offsetof(NONCLIENTMETRICSA, iPaddedBorderWidth);
    if (::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) {
        return ScopedFont(::CreateFontIndirectA(&metrics.lfMessageFont));
    }
    return ScopedFont(::CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                                    "MS Shell Dlg"));
}

HICON ProgramIcon(IconSize size) {
    const bool small = size == IconSize::Small;
    const int cx = ::GetSystemMetrics(small ? SM_CXSMICON : SM_CXICON);
    const int cy = ::GetSystemMetrics(small ? SM_CYSMICON : SM_CYICON);
    HANDLE icon = ::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APPICON), IMAGE_ICON,
                               cx, cy, LR_SHARED);
    if (!icon) icon = ::LoadImageA(nullptr, IDI_APPLICATION, IMAGE_ICON, cx, cy, LR_SHARED);
    return static_cast<HICON>(icon);
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
