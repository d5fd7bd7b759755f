#include "platform/Controls.h"

#include "platform/CommonControls.h"

#include <windowsx.h>

#include <algorithm>
#include <stdexcept>

namespace zelvo::ui {

namespace {

constexpr char kPanelClass[] = "TPanel";
constexpr char kEllipsis[] = "...";
constexpr char kLinkLabelClass[] = "TLinkLabel";
constexpr char kImageClass[] = "TImage";
constexpr UINT_PTR kEditSubclassId = 1;
constexpr UINT_PTR kMemoSubclassId = 2;

// A bevel `width` pixels wide, drawn inwards from rect, which shrinks by it.
void DrawBevel(HDC dc, RECT& rect, Bevel bevel, int width) {
    for (int line = 0; line < width; ++line) {
        if (bevel == Bevel::Lowered) ::DrawEdge(dc, &rect, BDR_SUNKENOUTER, BF_RECT);
        if (bevel == Bevel::Raised) ::DrawEdge(dc, &rect, BDR_RAISEDINNER, BF_RECT);
        ::InflateRect(&rect, -1, -1);
    }
}

// The room a check box needs for its box and its caption: what the control
// itself asks for where it can tell (common controls 6), else the classic
// box (13 pixels at 96 DPI) and a gap of half a digit before the caption.
int CheckBoxWidth(const Window& box) {
    SIZE ideal{0, 0};
    if (::SendMessageA(box.Handle(), BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)) && ideal.cx > 0) {
        return ideal.cx;
    }
    const int digit = MeasureText(box.Handle(), box.Font(), "0", DT_SINGLELINE).cx;
    return box.Scale()(13) + digit / 2 + MeasureText(box.Handle(), box.Font(), box.Text(), DT_SINGLELINE).cx;
}

// Makes a window's client area at least this size, keeping its top-left corner.
void GrowTo(Window& window, SIZE needed) {
    const RECT r = window.ParentRect();
    const SIZE client = window.ClientSize();
    const LONG width = std::max(r.right - r.left, needed.cx + (r.right - r.left - client.cx));
    const LONG height = std::max(r.bottom - r.top, needed.cy + (r.bottom - r.top - client.cy));
    if (width == r.right - r.left && height == r.bottom - r.top) return;
    ::SetWindowPos(window.Handle(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

void Control::CreateControl(Window& parent, const char* className, int id, const std::string& text,
                            const Bounds& bounds, DWORD style, DWORD exStyle) {
    const Bounds b = parent.Scale()(bounds);
    CreateSystemWindow(className, text, WS_CHILD | WS_VISIBLE | style, exStyle, b.left, b.top,
                       b.width, b.height, parent.Handle(), id);
    JoinForm(parent, bounds);
    SetFont(parent.Font());
}

void Label::Create(Window& parent, int id, const std::string& caption, const Bounds& bounds) {
    CreateControl(parent, "STATIC", id, caption, bounds, SS_LEFT | SS_NOPREFIX);
    Fit();
}

void Label::Create(Window& parent, int id, const std::string& caption, POINT at) {
    CreateControl(parent, "STATIC", id, caption, Bounds{at.x, at.y, 0, 0},
                  SS_LEFTNOWORDWRAP | SS_NOPREFIX);
    autoSize_ = true;
    SizeToText(*this);
}

void Label::SetCaption(const std::string& caption) {
    SetText(caption);
    if (autoSize_) SizeToText(*this);
}

void Label::DpiChanged() { Fit(); }

void Label::Fit() {
    if (autoSize_) {
        SizeToText(*this);
        return;
    }
    // Its character height, not its line: a label as tall as the font's
    // character height (12 pixels at 96 DPI) shows the caption whole.
    TEXTMETRICA metrics{};
    {
        WindowDC dc(hwnd_);
        SelectScope select(dc.Get(), font_);
        ::GetTextMetricsA(dc.Get(), &metrics);
    }
    const SIZE text = MeasureText(hwnd_, font_, Text(), DT_SINGLELINE);
    GrowTo(*this, SIZE{text.cx, metrics.tmHeight - metrics.tmInternalLeading});
}

void SizeToText(Window& window) {
    const SIZE size = MeasureText(window.Handle(), window.Font(), window.Text(), DT_SINGLELINE);
    ::SetWindowPos(window.Handle(), nullptr, 0, 0, size.cx, size.cy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LinkLabel::~LinkLabel() { DestroyHandle(); }

void LinkLabel::Create(Window& parent, int id, const std::string& caption, POINT at) {
    RegisterOwnClass(kLinkLabelClass, 0, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), false);
    const POINT place = parent.Scale()(at);
    CreateOwnWindow(kLinkLabelClass, caption, WS_CHILD | WS_VISIBLE, 0, place.x, place.y, 0, 0,
                    parent.Handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)));
    JoinForm(parent, Bounds{at.x, at.y, 0, 0});
    font_ = parent.Font();
    DpiChanged();
}

void LinkLabel::DpiChanged() {
    LOGFONTA lf{};
    ::GetObjectA(font_, sizeof lf, &lf);
    lf.lfUnderline = TRUE;
    underlinedFont_ = ScopedFont(::CreateFontIndirectA(&lf));
    SizeToText(*this);
}

void LinkLabel::SetColor(TextColor color) {
    if (color == color_) return;
    color_ = color;
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void LinkLabel::SetUnderlined(bool underlined) {
    if (underlined == underlined_) return;
    underlined_ = underlined;
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void LinkLabel::Paint() {
    PaintScope paint(hwnd_);
    RECT r{};
    ::GetClientRect(hwnd_, &r);
    SelectScope select(paint.Get(), underlined_ ? underlinedFont_.Get() : font_);
    ::SetBkMode(paint.Get(), TRANSPARENT);
    ::SetTextColor(paint.Get(), color_.Resolve());
    const std::string text = Text();
    ::DrawTextA(paint.Get(), text.c_str(), static_cast<int>(text.size()), &r,
                DT_SINGLELINE | DT_NOPREFIX | DT_LEFT | DT_TOP);
}

void LinkLabel::Notify(WORD code) {
    ::SendMessageA(::GetParent(hwnd_), WM_COMMAND, MAKEWPARAM(Id(), code),
                   reinterpret_cast<LPARAM>(hwnd_));
}

LRESULT LinkLabel::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_PAINT:
        Paint();
        return 0;
    case WM_SETCURSOR:
        ::SetCursor(::LoadCursorA(nullptr, IDC_HAND));
        return TRUE;
    case WM_MOUSEMOVE:
        if (!tracking_) {
            // WM_MOUSELEAVE comes once per request, so it is asked for again
            // after each leave.
            TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd_, 0};
            tracking_ = ::TrackMouseEvent(&track) != FALSE;
        }
        Notify(kLabelMouseMove);
        return 0;
    case WM_MOUSELEAVE:
        tracking_ = false;
        Notify(kLabelMouseLeave);
        return 0;
    case WM_LBUTTONDOWN:
        pressed_ = true;
        ::SetCapture(hwnd_);
        return 0;
    case WM_LBUTTONUP: {
        if (!pressed_) return 0;
        pressed_ = false;
        ::ReleaseCapture();
        RECT r{};
        ::GetClientRect(hwnd_, &r);
        const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (::PtInRect(&r, at)) Notify(kLabelClicked);
        return 0;
    }
    case WM_CAPTURECHANGED:
        pressed_ = false;
        return 0;
    default:
        break;
    }
    return Window::HandleMessage(msg, wParam, lParam);
}

Memo::~Memo() {
    if (hwnd_ && ::IsWindow(hwnd_)) comctl32::RemoveWindowSubclass(hwnd_, &SubclassProc, kMemoSubclassId);
}

void Memo::Create(Window& parent, int id, const std::vector<std::string>& lines, const Bounds& bounds,
                  COLORREF background) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) text += (i ? "\r\n" : "") + lines[i];
    // No ES_AUTOHSCROLL: the lines wrap at the right edge.
    CreateControl(parent, "EDIT", id, text, bounds,
                  WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_LEFT, WS_EX_CLIENTEDGE);
    background_ = background;
    brush_ = ScopedBrush(::CreateSolidBrush(background));
    comctl32::SetWindowSubclass(hwnd_, &SubclassProc, kMemoSubclassId, 0);
}

LRESULT Memo::CtlColor(HDC dc) const {
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::SetBkColor(dc, background_);
    return reinterpret_cast<LRESULT>(brush_.Get());
}

LRESULT CALLBACK Memo::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR) {
    switch (msg) {
    case WM_GETDLGCODE: {
        // A multi-line edit asks for every key, and in a dialog it turns
        // Escape into WM_CLOSE of its parent. Nothing can be typed here, so
        // these keys go to the form instead.
        LRESULT code = comctl32::DefSubclassProc(hwnd, msg, wParam, lParam);
        const MSG* key = reinterpret_cast<const MSG*>(lParam);
        if (key && key->message == WM_KEYDOWN &&
            (key->wParam == VK_RETURN || key->wParam == VK_ESCAPE || key->wParam == VK_TAB)) {
            code &= ~DLGC_WANTALLKEYS;
        }
        return code & ~DLGC_WANTTAB;
    }
    case WM_NCDESTROY:
        comctl32::RemoveWindowSubclass(hwnd, &SubclassProc, kMemoSubclassId);
        break;
    default:
        break;
    }
    return comctl32::DefSubclassProc(hwnd, msg, wParam, lParam);
}

Image::~Image() { DestroyHandle(); }

void Image::Create(Window& parent, int id, const Bounds& bounds, int bitmapResource) {
    RegisterOwnClass(kImageClass, 0, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), false);
    const Bounds b = parent.Scale()(bounds);
    CreateOwnWindow(kImageClass, std::string(), WS_CHILD | WS_VISIBLE, 0, b.left, b.top, b.width,
                    b.height, parent.Handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)));
    JoinForm(parent, bounds);
    bitmap_ = ScopedBitmap(static_cast<HBITMAP>(::LoadImageA(
        ::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(bitmapResource), IMAGE_BITMAP, 0, 0, 0)));
}

SIZE Image::PictureSize() const {
    BITMAP info{};
    if (!bitmap_.Get() || !::GetObjectA(bitmap_.Get(), sizeof info, &info)) return SIZE{0, 0};
    return SIZE{info.bmWidth, info.bmHeight};
}

void Image::Paint() {
    PaintScope paint(hwnd_);
    const SIZE size = PictureSize();
    if (size.cx == 0) return;
    const ScopedDC source(::CreateCompatibleDC(paint.Get()));
    SelectScope select(source.Get(), bitmap_.Get());
    const COLORREF transparent = ::GetPixel(source.Get(), 0, size.cy - 1);
    const SIZE shown = Scale()(size);
    ::GdiTransparentBlt(paint.Get(), 0, 0, shown.cx, shown.cy, source.Get(), 0, 0, size.cx, size.cy,
                        transparent);
}

LRESULT Image::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PAINT) {
        Paint();
        return 0;
    }
    return Window::HandleMessage(msg, wParam, lParam);
}

void Button::Create(Window& parent, int id, const std::string& caption, const Bounds& bounds,
                    bool isDefault) {
    CreateControl(parent, "BUTTON", id, caption, bounds,
                  WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON));
}

void Button::Click() { ::SendMessageA(hwnd_, BM_CLICK, 0, 0); }

void CheckBox::Create(Window& parent, int id, const std::string& caption, const Bounds& bounds) {
    CreateControl(parent, "BUTTON", id, caption, bounds, WS_TABSTOP | BS_AUTOCHECKBOX);
    Fit();
}

void CheckBox::DpiChanged() { Fit(); }

void CheckBox::Fit() { GrowTo(*this, SIZE{CheckBoxWidth(*this), 0}); }

bool CheckBox::Checked() const {
    return ::SendMessageA(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void CheckBox::SetChecked(bool checked) {
    ::SendMessageA(hwnd_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void CheckBox::Click() { ::SendMessageA(hwnd_, BM_CLICK, 0, 0); }

void Edit::Create(Window& parent, int id, const Bounds& bounds) {
    CreateControl(parent, "EDIT", id, std::string(), bounds, WS_TABSTOP | ES_AUTOHSCROLL,
                  WS_EX_CLIENTEDGE);
}

EditWithButton::~EditWithButton() {
    if (hwnd_ && ::IsWindow(hwnd_)) comctl32::RemoveWindowSubclass(hwnd_, &SubclassProc, kEditSubclassId);
}

void EditWithButton::Create(Window& parent, int id, const Bounds& bounds) {
    Edit::Create(parent, id, bounds);
    // Without WS_CLIPCHILDREN the edit paints its text over the button.
    ::SetWindowLongPtrA(hwnd_, GWL_STYLE, ::GetWindowLongPtrA(hwnd_, GWL_STYLE) | WS_CLIPCHILDREN);
    button_ = ::CreateWindowExA(0, "BUTTON", kEllipsis, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0,
                                0, 0, hwnd_, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    if (!button_) throw std::runtime_error("Error creating window BUTTON");
    ::SendMessageA(button_, WM_SETFONT, reinterpret_cast<WPARAM>(Font()), FALSE);
    comctl32::SetWindowSubclass(hwnd_, &SubclassProc, kEditSubclassId, reinterpret_cast<DWORD_PTR>(this));
    PlaceButton();
}

void EditWithButton::PlaceButton() {
    RECT client{};
    ::GetClientRect(hwnd_, &client);
    // Square, or as wide as its dots and its edges need.
    const int dots = MeasureText(button_, font_, kEllipsis, DT_SINGLELINE).cx;
    const int width = std::max(static_cast<int>(client.bottom) + 1, dots + 2 * Scale().Metric(SM_CXEDGE));
    ::SetWindowPos(button_, nullptr, client.right - width, 0, width, client.bottom,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    // A font change resets the margins, so they are set after every one.
    ::SendMessageA(hwnd_, EM_SETMARGINS, EC_RIGHTMARGIN, MAKELPARAM(0, width + 1));
}

LRESULT CALLBACK EditWithButton::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                              UINT_PTR, DWORD_PTR data) {
    auto* self = reinterpret_cast<EditWithButton*>(data);
    switch (msg) {
    case WM_COMMAND:
        if (reinterpret_cast<HWND>(lParam) == self->button_ && HIWORD(wParam) == BN_CLICKED) {
            ::SetFocus(hwnd);
            return ::SendMessageA(::GetParent(hwnd), WM_COMMAND,
                                  MAKEWPARAM(::GetDlgCtrlID(hwnd), kEditButtonClicked),
                                  reinterpret_cast<LPARAM>(hwnd));
        }
        break;
    case WM_PRINTCLIENT: {
        // A themed button draws the edit beneath its rounded corners through
        // this message, into the button's own device context; Wine's edit
        // leaves that context clipped to its text, outside which the button
        // sits, and the button's face would never show.
        const HDC dc = reinterpret_cast<HDC>(wParam);
        const int saved = ::SaveDC(dc);
        const LRESULT result = comctl32::DefSubclassProc(hwnd, msg, wParam, lParam);
        ::RestoreDC(dc, saved);
        return result;
    }
    case WM_SETFONT:
        if (self->button_) ::SendMessageA(self->button_, WM_SETFONT, wParam, lParam);
        [[fallthrough]];
    case WM_SIZE: {
        const LRESULT result = comctl32::DefSubclassProc(hwnd, msg, wParam, lParam);
        if (self->button_) self->PlaceButton();
        return result;
    }
    case WM_NCDESTROY:
        comctl32::RemoveWindowSubclass(hwnd, &SubclassProc, kEditSubclassId);
        break;
    default:
        break;
    }
    return comctl32::DefSubclassProc(hwnd, msg, wParam, lParam);
}

void TimePicker::Create(Window& parent, int id, const Bounds& bounds) {
    CreateControl(parent, DATETIMEPICK_CLASSA, id, std::string(), bounds,
                  WS_TABSTOP | DTS_TIMEFORMAT);
}

DateTime TimePicker::Value() const {
    SYSTEMTIME st{};
    ::SendMessageA(hwnd_, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&st));
    DateTime date = 0, time = 0;
    TryEncodeDate(st.wYear, st.wMonth, st.wDay, date);
    TryEncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, time);
    return date + time;
}

void TimePicker::SetTime(DateTime time) {
    SYSTEMTIME st{};
    ::SendMessageA(hwnd_, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&st));
    const DateTimeParts parts = DecodeDateTime(time);
    st.wHour = static_cast<WORD>(parts.hour);
    st.wMinute = static_cast<WORD>(parts.minute);
    st.wSecond = static_cast<WORD>(parts.second);
    st.wMilliseconds = static_cast<WORD>(parts.millisecond);
    ::SendMessageA(hwnd_, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st));
}

void StatusBar::Create(Window& parent, int id) {
    // Placed by its form: left to itself, the bar takes a height from its font.
    CreateControl(parent, STATUSCLASSNAMEA, id, std::string(), Bounds{},
                  SBARS_SIZEGRIP | CCS_NOPARENTALIGN | CCS_NORESIZE);
}

void StatusBar::SetPanelWidths(const std::vector<int>& widths) {
    widths_ = widths;
    DpiChanged();
}

void StatusBar::DpiChanged() {
    std::vector<int> edges;
    int right = 0;
    for (int width : widths_) edges.push_back(Scale()(right += width));
    ::SendMessageA(hwnd_, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}

void StatusBar::SetPanelText(int panel, const std::string& text) {
    ::SendMessageA(hwnd_, SB_SETTEXTA, static_cast<WPARAM>(panel), reinterpret_cast<LPARAM>(text.c_str()));
}

std::string StatusBar::PanelText(int panel) const {
    const LRESULT info = ::SendMessageA(hwnd_, SB_GETTEXTLENGTHA, static_cast<WPARAM>(panel), 0);
    std::string text(LOWORD(info) + 1, '\0');
    ::SendMessageA(hwnd_, SB_GETTEXTA, static_cast<WPARAM>(panel), reinterpret_cast<LPARAM>(text.data()));
    text.resize(LOWORD(info));
    return text;
}

void ProgressBar::Create(Window& parent, int id, const Bounds& bounds) {
    CreateControl(parent, PROGRESS_CLASSA, id, std::string(), bounds, PBS_SMOOTH);
}

void ProgressBar::SetRange(int minimum, int maximum) {
    ::SendMessageA(hwnd_, PBM_SETRANGE32, static_cast<WPARAM>(minimum), maximum);
}

int ProgressBar::Maximum() const {
    return static_cast<int>(::SendMessageA(hwnd_, PBM_GETRANGE, FALSE, 0));
}

void ProgressBar::SetStep(int step) {
    step_ = step;
    ::SendMessageA(hwnd_, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
}

void ProgressBar::StepIt() { ::SendMessageA(hwnd_, PBM_STEPIT, 0, 0); }

void ProgressBar::StepBy(int count) {
    if (step_ == 0) return;  // the bar would not move
    // Steps that stay within the range are one move; a step that would pass
    // the maximum (or go back) is the bar's own, so it starts over as it always does.
    const int maximum = Maximum();
    while (count > 0) {
        const int room = step_ > 0 ? (maximum - Position()) / step_ : 0;
        const int moves = room < count ? room : count;
        if (moves > 0) ::SendMessageA(hwnd_, PBM_DELTAPOS, static_cast<WPARAM>(moves * step_), 0);
        count -= moves;
        if (count > 0) {
            StepIt();
            --count;
        }
    }
}

int ProgressBar::Position() const { return static_cast<int>(::SendMessageA(hwnd_, PBM_GETPOS, 0, 0)); }

void ProgressBar::SetPosition(int position) {
    ::SendMessageA(hwnd_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Panel::Create(Window& parent, int id, const Bounds& bounds, Bevel outer, Bevel inner, int borderWidth) {
    outer_ = outer;
    inner_ = inner;
    borderWidth_ = borderWidth;
    RegisterOwnClass(kPanelClass, CS_HREDRAW | CS_VREDRAW, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    const Bounds b = parent.Scale()(bounds);
    // WS_EX_CONTROLPARENT lets Tab move through the panel's controls.
    CreateOwnWindow(kPanelClass, std::string(), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                    WS_EX_CONTROLPARENT, b.left, b.top, b.width, b.height, parent.Handle(),
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)));
    JoinForm(parent, bounds);
    font_ = parent.Font();
}

void Panel::Paint() {
    PaintScope paint(hwnd_);
    RECT r{};
    ::GetClientRect(hwnd_, &r);
    // Each edge at its own scaled place, as the controls inside keep theirs.
    const DpiScale scale = Scale();
    const int outerWidth = outer_ == Bevel::None ? 0 : 1;
    const int innerWidth = inner_ == Bevel::None ? 0 : 1;
    DrawBevel(paint.Get(), r, outer_, scale(outerWidth));
    const int border = scale(outerWidth + borderWidth_) - scale(outerWidth);
    ::InflateRect(&r, -border, -border);
    DrawBevel(paint.Get(), r, inner_, scale(outerWidth + borderWidth_ + innerWidth) - scale(outerWidth + borderWidth_));
}

LRESULT Panel::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (ForwardToForm(hwnd_, msg, wParam, lParam, result)) return result;
    if (msg == WM_PAINT) {
        Paint();
        return 0;
    }
    return Window::HandleMessage(msg, wParam, lParam);
}

void PageControl::Create(Window& parent, int id, const Bounds& bounds) {
    CreateControl(parent, WC_TABCONTROLA, id, std::string(), bounds,
                  WS_TABSTOP | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, WS_EX_CONTROLPARENT);
}

void PageControl::AddPage(TabSheet& page, int id, const std::string& caption, bool tabVisible) {
    page.caption_ = caption;
    page.tabVisible_ = tabVisible;
    page.Create(*this, id, Bounds{}, Bevel::None, Bevel::None, 0);
    if (tabVisible) {
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<char*>(page.caption_.c_str());
        ::SendMessageA(hwnd_, TCM_INSERTITEMA, static_cast<WPARAM>(TabCount()),
                       reinterpret_cast<LPARAM>(&item));
    }
    pages_.push_back(&page);
    Arrange();
}

int PageControl::TabCount() const {
    return static_cast<int>(::SendMessageA(hwnd_, TCM_GETITEMCOUNT, 0, 0));
}

std::string PageControl::TabCaption(int index) const {
    char buffer[256] = {};
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = buffer;
    item.cchTextMax = sizeof(buffer);
    ::SendMessageA(hwnd_, TCM_GETITEMA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    return buffer;
}

TabSheet* PageControl::ActivePage() const {
    const int selected = static_cast<int>(::SendMessageA(hwnd_, TCM_GETCURSEL, 0, 0));
    int tab = 0;
    for (TabSheet* page : pages_) {
        if (!page->TabVisible()) continue;
        if (tab++ == selected) return page;
    }
    return nullptr;
}

void PageControl::Arrange() {
    RECT display{};
    ::GetClientRect(hwnd_, &display);
    ::SendMessageA(hwnd_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    const TabSheet* active = ActivePage();
    for (TabSheet* page : pages_) {
        ::SetWindowPos(page->Handle(), HWND_TOP, display.left, display.top,
                       display.right - display.left, display.bottom - display.top,
                       SWP_NOACTIVATE | (page == active ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
    }
}

Timer::~Timer() {
    if (enabled_ && owner_.Handle()) ::KillTimer(owner_.Handle(), id_);
}

void Timer::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (enabled) {
        ::SetTimer(owner_.Handle(), id_, interval_, nullptr);
    } else {
        ::KillTimer(owner_.Handle(), id_);
    }
}

void Menu::AddItem(UINT id, const std::string& caption) {
    ::AppendMenuA(menu_.Get(), MF_STRING, id, caption.c_str());
}

void Menu::AddSubmenu(Menu&& submenu, const std::string& caption) {
    ::AppendMenuA(menu_.Get(), MF_POPUP | MF_STRING,
                  reinterpret_cast<UINT_PTR>(submenu.menu_.Release()), caption.c_str());
}

std::string Menu::ItemCaption(int position) const {
    char buffer[256] = {};
    ::GetMenuStringA(menu_.Get(), static_cast<UINT>(position), buffer, sizeof(buffer), MF_BYPOSITION);
    return buffer;
}

UINT Menu::ItemId(int position) const { return ::GetMenuItemID(menu_.Get(), position); }

int Menu::ItemCount() const { return ::GetMenuItemCount(menu_.Get()); }

void PopupMenu::AddItem(UINT id, const std::string& caption, char dbcsAccelerator) {
    if (::GetSystemMetrics(SM_DBCSENABLED)) {
        Menu::AddItem(id, caption + "(&" + dbcsAccelerator + ")");
    } else {
        Menu::AddItem(id, caption);
    }
}

void PopupMenu::Popup(HWND owner, POINT screenPoint) const {
    ::TrackPopupMenu(Handle(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, screenPoint.x,
                     screenPoint.y, 0, owner, nullptr);
}

}  // namespace zelvo::ui
