#include "platform/Form.h"

#include "core/Failure.h"
#include "platform/Application.h"

#include <algorithm>

namespace zelvo::ui {

void CenterOnScreen(HWND hwnd) {
    RECT r{};
    ::GetWindowRect(hwnd, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    ::SetWindowPos(hwnd, nullptr, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                   (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

FormLayout DialogLayout(SIZE client) {
    FormLayout layout;
    layout.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_CLIPCHILDREN;
    layout.exStyle = WS_EX_DLGMODALFRAME;
    layout.size = client;
    layout.sizeIsClient = true;
    return layout;
}

Form::~Form() {
    Application& app = Application::Instance();
    if (app.MainForm() == this) app.SetMainForm(nullptr);
    DestroyHandle();
    // Members that outlive the form are laid out for no form any more.
    for (Window* member : members_) member->form_ = nullptr;
}

void Form::CreateForm(const char* className, const std::string& caption, const FormLayout& layout) {
    Application& app = Application::Instance();
    app.Initialize();
    // Dialog frames carry no icon in their caption on Windows; Wine would draw the class icon.
    withIcon_ = !(layout.exStyle & WS_EX_DLGMODALFRAME);
    RegisterOwnClass(className, CS_DBLCLKS, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), withIcon_);
    form_ = this;
    CreateOwnWindow(className, caption, layout.style & ~WS_VISIBLE, layout.exStyle, 0, 0, 0, 0, app.Handle(),
                    layout.menu);
    // Where the system knows a DPI per monitor, the window has the one of the
    // monitor it was created on, the one it is centred on below.
    dpi_ = WindowDpi(hwnd_);
    formFont_ = MakeFont(dpi_);
    font_ = formFont_.Get();
    const DpiScale scale(dpi_);
    if (layout.sizeIsClient) {
        SizeToClient(scale(layout.size));
    } else {
        const SIZE outer = scale(layout.size);
        ::SetWindowPos(hwnd_, nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    CenterOnScreen(hwnd_);
    SetIcons();
}

void Form::ChangeDpi(UINT dpi, const RECT& outer) {
    // The old font stays until every member has let go of it.
    const ScopedFont previous = std::move(formFont_);
    dpi_ = dpi;
    formFont_ = MakeFont(dpi_);
    font_ = formFont_.Get();
    for (Window* member : members_) member->Rescale(previous.Get(), font_);
    SetIcons();
    ::SetWindowPos(hwnd_, nullptr, outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    // Also when the frame kept its size: the members laid out by the form moved.
    OnResize();
    OnDpiChanged();
}

void Form::FollowMonitorDpi() {
    if (!hwnd_) return;
    const UINT dpi = WindowDpi(hwnd_);
    if (dpi == dpi_) return;
    RECT r{};
    ::GetWindowRect(hwnd_, &r);
    // As Windows would suggest it: the same frame at the new scale.
    const RECT outer{r.left, r.top, r.left + ::MulDiv(r.right - r.left, static_cast<int>(dpi), static_cast<int>(dpi_)),
                     r.top + ::MulDiv(r.bottom - r.top, static_cast<int>(dpi), static_cast<int>(dpi_))};
    ChangeDpi(dpi, outer);
}

void Form::SizeToClient(SIZE client) {
    const auto style = static_cast<DWORD>(::GetWindowLongPtrA(hwnd_, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(::GetWindowLongPtrA(hwnd_, GWL_EXSTYLE));
    const SIZE outer = DpiScale(dpi_).Frame(client, style, ::GetMenu(hwnd_) != nullptr, exStyle);
    ::SetWindowPos(hwnd_, nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form::SetIcons() {
    if (!withIcon_) return;
    ::SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(ProgramIcon(IconSize::Large, dpi_)));
    ::SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(ProgramIcon(IconSize::Small, dpi_)));
}

void Form::Forget(const Window& member) {
    members_.erase(std::remove(members_.begin(), members_.end(), &member), members_.end());
}

void Form::Show() {
    const int command = state_ == WindowState::Maximized   ? SW_SHOWMAXIMIZED
                        : state_ == WindowState::Minimized ? SW_SHOWMINIMIZED
                                                           : SW_SHOWNORMAL;
    ::ShowWindow(hwnd_, command);
    ::SetForegroundWindow(hwnd_);
    FormShow();
}

void Form::Hide() { ::ShowWindow(hwnd_, SW_HIDE); }

int Form::ShowModal() {
    if (Visible() || !Enabled() || modal_) throw Failure(kCannotShowModal);
    const HWND activeBefore = ::GetActiveWindow();
    modal_ = true;
    modalResult_ = kModalNone;
    {
        TaskWindowsDisabled others(hwnd_);
        try {
            Show();
            Application::Instance().RunLoopUntil(
                [this] { return modalResult_ != kModalNone || !hwnd_; });
        } catch (...) {
            modal_ = false;
            others.Enable();
            if (hwnd_) Hide();
            throw;
        }
        if (modalResult_ == kModalNone) modalResult_ = kModalCancel;
        // Enabled again before hiding, so activation can go back to them.
        others.Enable();
        if (hwnd_) Hide();
    }
    modal_ = false;
    if (activeBefore && ::IsWindow(activeBefore) && ::IsWindowVisible(activeBefore) &&
        ::IsWindowEnabled(activeBefore)) {
        ::SetActiveWindow(activeBefore);
    }
    return modalResult_;
}

void Form::Close() {
    if (modal_) {
        if (modalResult_ == kModalNone) modalResult_ = kModalCancel;
        return;
    }
    Hide();
    Application& app = Application::Instance();
    if (app.MainForm() == this) app.Terminate();
}

WindowState Form::State() const {
    if (!Visible()) return state_;
    if (::IsZoomed(hwnd_)) return WindowState::Maximized;
    if (::IsIconic(hwnd_)) return WindowState::Minimized;
    return WindowState::Normal;
}

void Form::SetState(WindowState state) {
    state_ = state;
    if (!Visible()) return;
    ::ShowWindow(hwnd_, state == WindowState::Maximized   ? SW_SHOWMAXIMIZED
                        : state == WindowState::Minimized ? SW_MINIMIZE
                                                          : SW_RESTORE);
}

Form* Form::FromHandle(HWND hwnd) { return dynamic_cast<Form*>(Window::FromHandle(hwnd)); }

void Form::OnCommand(WORD, WORD, HWND) {}

LRESULT Form::OnNotify(const NMHDR&) { return 0; }

void Form::OnTimer(UINT_PTR) {}

void Form::RestoreFocus() {
    HWND target = lastFocus_;
    if (!target || !::IsWindow(target) || !::IsChild(hwnd_, target) ||
        !::IsWindowVisible(target) || !::IsWindowEnabled(target)) {
        target = ::GetNextDlgTabItem(hwnd_, nullptr, FALSE);
    }
    if (target) ::SetFocus(target);
}

LRESULT Form::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_NOTIFY:
        return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_TIMER:
        OnTimer(wParam);
        return 0;
    case WM_CLOSE:
        Close();
        return 0;
    case WM_SIZE:
        OnResize();
        break;
    case WM_DPICHANGED:
        // The suggested frame keeps the window where the user put it, at the new scale.
        ChangeDpi(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_SYSCOMMAND:
        // The main form's minimize box minimizes the application, which takes
        // every form away and keeps the task-bar button.
        if ((wParam & 0xFFF0) == SC_MINIMIZE && Application::Instance().MainForm() == this) {
            Application::Instance().Minimize();
            return 0;
        }
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            const HWND focus = ::GetFocus();
            if (focus && ::IsChild(hwnd_, focus)) lastFocus_ = focus;
        }
        break;
    case WM_SETFOCUS:
        RestoreFocus();
        return 0;
    default:
        break;
    }
    return Window::HandleMessage(msg, wParam, lParam);
}

}  // namespace zelvo::ui
