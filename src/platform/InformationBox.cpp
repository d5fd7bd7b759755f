#include "platform/InformationBox.h"

#include <algorithm>

namespace zelvo::ui {

namespace {

constexpr int kIconSize = 32;

// Dialog base units of a font: average character width and height in pixels.
SIZE BaseUnits(HWND hwnd, HFONT font) {
    static const char kSample[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    WindowDC dc(hwnd);
    SelectScope select(dc.Get(), font);
    SIZE extent{};
    ::GetTextExtentPoint32A(dc.Get(), kSample, sizeof(kSample) - 1, &extent);
    TEXTMETRICA tm{};
    ::GetTextMetricsA(dc.Get(), &tm);
    return SIZE{(extent.cx / 26 + 1) / 2, tm.tmHeight};
}

}  // namespace

InformationBox::InformationBox(const std::string& text) : messageFont_(CreateMessageFont()) {
    // Sized to the text below, once the font is known.
    const FormLayout layout = DialogLayout(SIZE{100, 100});
    CreateForm(kClassName, kCaption, layout);
    font_ = messageFont_.Get();

    const SIZE units = BaseUnits(hwnd_, font_);
    const int horzMargin = ::MulDiv(8, units.cx, 4);
    const int vertMargin = ::MulDiv(8, units.cy, 8);
    const int horzSpacing = ::MulDiv(10, units.cx, 4);
    const int vertSpacing = ::MulDiv(10, units.cy, 8);
    const int buttonWidth = ::MulDiv(50, units.cx, 4);
    const int buttonHeight = ::MulDiv(14, units.cy, 8);

    const SIZE textSize = MeasureText(hwnd_, font_, text, DT_WORDBREAK);
    const int textLeft = horzMargin + kIconSize + horzSpacing;
    const int clientWidth =
        std::max(textLeft + static_cast<int>(textSize.cx), buttonWidth + 2 * horzMargin) +
        horzMargin;
    const int bodyHeight = std::max(kIconSize, static_cast<int>(textSize.cy));
    const int buttonTop = vertMargin + bodyHeight + vertSpacing;
    const int clientHeight = buttonTop + buttonHeight + vertMargin;

    RECT outer{0, 0, clientWidth, clientHeight};
    ::AdjustWindowRectEx(&outer, layout.style, FALSE, layout.exStyle);
    ::SetWindowPos(hwnd_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    CenterOnScreen(hwnd_);

    icon_ = ::CreateWindowExA(0, "STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_ICON, horzMargin,
                              vertMargin, kIconSize, kIconSize, hwnd_,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIconId)),
                              ::GetModuleHandleA(nullptr), nullptr);
    // A shared system icon: not destroyed by the box.
    ::SendMessageA(icon_, STM_SETICON, reinterpret_cast<WPARAM>(::LoadIconA(nullptr, IDI_INFORMATION)), 0);
    TextLabel.Create(*this, kTextId, text,
                     Bounds{textLeft, vertMargin, textSize.cx, textSize.cy});
    OkButton.Create(*this, IDOK, kOkCaption,
                    Bounds{(clientWidth - buttonWidth) / 2, buttonTop, buttonWidth, buttonHeight},
                    true);
}

InformationBox::~InformationBox() { DestroyHandle(); }

void InformationBox::Show(const std::string& text) {
    InformationBox box(text);
    box.ShowModal();
}

void InformationBox::OnCommand(WORD id, WORD, HWND) {
    // Enter gives IDOK (the default button), Escape IDCANCEL.
    if (id == IDOK || id == IDCANCEL) {
        SetModalResult(id);
        Close();
    }
}

}  // namespace zelvo::ui
