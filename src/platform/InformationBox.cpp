#include "platform/InformationBox.h"

#include "platform/CommonControls.h"

#include <algorithm>

namespace zelvo::ui {

namespace {

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

InformationBox::InformationBox(const std::string& text) {
    // Sized to the text by Layout, once the font is known.
    CreateForm(kClassName, kCaption, DialogLayout(SIZE{100, 100}));
    icon_ = ::CreateWindowExA(0, "STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_ICON, 0, 0, 0, 0, hwnd_,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIconId)),
                              ::GetModuleHandleA(nullptr), nullptr);
    TextLabel.Create(*this, kTextId, text, Bounds{});
    OkButton.Create(*this, IDOK, kOkCaption, Bounds{}, true);
    Layout();
    CenterOnScreen(hwnd_);
}

InformationBox::~InformationBox() { DestroyHandle(); }

void InformationBox::Show(const std::string& text) {
    InformationBox box(text);
    box.ShowModal();
}

ScopedFont InformationBox::MakeFont(UINT dpi) const { return CreateMessageFont(dpi); }

void InformationBox::OnDpiChanged() { Layout(); }

void InformationBox::Layout() {
    // The system's own message box measures in dialog units of its font.
    const SIZE units = BaseUnits(hwnd_, font_);
    const int horzMargin = ::MulDiv(8, units.cx, 4);
    const int vertMargin = ::MulDiv(8, units.cy, 8);
    const int horzSpacing = ::MulDiv(10, units.cx, 4);
    const int vertSpacing = ::MulDiv(10, units.cy, 8);
    const int buttonWidth = ::MulDiv(50, units.cx, 4);
    const int buttonHeight = ::MulDiv(14, units.cy, 8);
    const DpiScale scale = Scale();
    const int iconSize = scale.Metric(SM_CXICON);

    const SIZE textSize = MeasureText(hwnd_, font_, TextLabel.Text(), DT_WORDBREAK);
    const int textLeft = horzMargin + iconSize + horzSpacing;
    const int clientWidth =
        std::max(textLeft + static_cast<int>(textSize.cx), buttonWidth + 2 * horzMargin) + horzMargin;
    const int bodyHeight = std::max(iconSize, static_cast<int>(textSize.cy));
    const int buttonTop = vertMargin + bodyHeight + vertSpacing;
    const int clientHeight = buttonTop + buttonHeight + vertMargin;

    SizeToClient(SIZE{clientWidth, clientHeight});

    // The system's icon at the size for the DPI, not the system DPI's stretched.
    ScopedIcon icon = comctl32::LoadSystemIcon(IDI_INFORMATION, iconSize);
    ::SendMessageA(icon_, STM_SETICON, reinterpret_cast<WPARAM>(icon.Get()), 0);
    infoIcon_ = std::move(icon);
    ::SetWindowPos(icon_, nullptr, horzMargin, vertMargin, iconSize, iconSize, SWP_NOZORDER | SWP_NOACTIVATE);
    TextLabel.SetBounds(textLeft, vertMargin, textSize.cx, textSize.cy);
    OkButton.SetBounds((clientWidth - buttonWidth) / 2, buttonTop, buttonWidth, buttonHeight);
}

void InformationBox::OnCommand(WORD id, WORD, HWND) {
    // Enter gives IDOK (the default button), Escape IDCANCEL.
    if (id == IDOK || id == IDCANCEL) {
        SetModalResult(id);
        Close();
    }
}

}  // namespace zelvo::ui
