#include "platform/Application.h"

#include "platform/CommonControls.h"
#include "platform/Form.h"

#include <commctrl.h>

#include <algorithm>
#include <new>
#include <utility>

namespace zelvo::ui {

namespace {

constexpr char kApplicationClass[] = "TApplication";
// Posted to the application window to pass activation on to the form the user last worked in.
constexpr UINT kActivateLastPopupMessage = WM_APP + 1;

struct Collected {
    std::vector<HWND> windows;
    bool outOfMemory = false;
};

// No exception may cross user32's frames: the enumeration stops instead.
BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM list) {
    auto& collected = *reinterpret_cast<Collected*>(list);
    try {
        collected.windows.push_back(hwnd);
        return TRUE;
    } catch (const std::bad_alloc&) {
        collected.outOfMemory = true;
        return FALSE;
    }
}

bool OwnedBy(HWND hwnd, HWND owner) {
    for (HWND h = ::GetWindow(hwnd, GW_OWNER); h; h = ::GetWindow(h, GW_OWNER)) {
        if (h == owner) return true;
    }
    return false;
}

BOOL CALLBACK CancelLabelEdit(HWND child, LPARAM) {
    char name[32] = {};
    ::GetClassNameA(child, name, sizeof name);
    if (::lstrcmpiA(name, WC_TREEVIEWA) == 0 && TreeView_GetEditControl(child)) {
        TreeView_EndEditLabelNow(child, TRUE);
    }
    return TRUE;
}

bool CanActivate(HWND hwnd) {
    return hwnd && ::IsWindow(hwnd) && ::IsWindowVisible(hwnd) && ::IsWindowEnabled(hwnd);
}

}  // namespace

std::vector<HWND> ThreadWindows() {
    Collected collected;
    ::EnumThreadWindows(::GetCurrentThreadId(), &CollectWindow, reinterpret_cast<LPARAM>(&collected));
    if (collected.outOfMemory) throw std::bad_alloc();
    return std::move(collected.windows);
}

TaskWindowsDisabled::TaskWindowsDisabled(HWND except) {
    // The application window and the main form are disabled also while the
    // program sits in the tray: a restore must bring them back behind the
    // modal window, not in front of it and usable.
    const Application& app = Application::Instance();
    const HWND main = app.MainForm() ? app.MainForm()->Handle() : nullptr;
    for (HWND hwnd : ThreadWindows()) {
        const bool restorable = hwnd == app.Handle() || hwnd == main;
        if (hwnd != except && (::IsWindowVisible(hwnd) || restorable) && ::IsWindowEnabled(hwnd)) {
            ::EnableWindow(hwnd, FALSE);
            disabled_.push_back(hwnd);
        }
    }
}

void TaskWindowsDisabled::Enable() {
    for (HWND hwnd : disabled_) {
        if (::IsWindow(hwnd)) ::EnableWindow(hwnd, TRUE);
    }
    disabled_.clear();
}

void CancelLabelEdits() {
    for (HWND window : ThreadWindows()) ::EnumChildWindows(window, &CancelLabelEdit, 0);
}

Application& Application::Instance() {
    static Application app;
    return app;
}

void Application::Initialize() {
    if (hwnd_) return;
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_DATE_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES |
                                              ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    comctl32::InitCommonControlsEx(&icc);
    RegisterOwnClass(kApplicationClass, 0, nullptr);
    // A captioned pop-up of no size: invisible on the screen, but a visible,
    // unowned window, so it carries the task-bar button and its window menu.
    CreateOwnWindow(kApplicationClass, title_,
                    WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, 0,
                    ::GetSystemMetrics(SM_CXSCREEN) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0,
                    nullptr, nullptr);
}

void Application::SetTitle(const std::string& title) {
    title_ = title;
    if (hwnd_) SetText(title);
}

int Application::StartupShowCommand() {
    STARTUPINFOA info{};
    info.cb = sizeof(info);
    ::GetStartupInfoA(&info);
    return (info.dwFlags & STARTF_USESHOWWINDOW) ? info.wShowWindow : SW_SHOWNORMAL;
}

void Application::ShowMainForm(int showCommand) {
    Initialize();
    if (!mainForm_) return;
    if (showCommand == SW_SHOWMAXIMIZED) {
        mainForm_->SetState(WindowState::Maximized);
    } else if (showCommand == SW_SHOWMINNOACTIVE) {
        mainForm_->SetState(WindowState::Minimized);
    }
    if (mainForm_->State() == WindowState::Minimized) {
        // Restoring from here shows the main form in the normal state.
        mainForm_->SetState(WindowState::Normal);
        Minimize();
        return;
    }
    // Not SW_SHOWNORMAL: the first showing of a top-level window may be
    // replaced by the starting program's show command, which is handled above.
    ::ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
    mainForm_->Show();
}

int Application::Run() {
    ShowMainForm(StartupShowCommand());
    MSG msg{};
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchOne(msg);
    return static_cast<int>(msg.wParam);
}

void Application::RunLoopUntil(const std::function<bool()>& done) {
    MSG msg{};
    while (!done()) {
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (got < 0) return;
        DispatchOne(msg);
    }
}

bool Application::ProcessMessages() {
    MSG msg{};
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        DispatchOne(msg);
    }
    return true;
}

void Application::DispatchOne(MSG& msg) {
    // Tab, Enter and Escape work in every form as in a dialog.
    if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) {
        const HWND root = ::GetAncestor(msg.hwnd, GA_ROOT);
        if (root && Form::FromHandle(root) && ::IsDialogMessageA(root, &msg)) return;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
}

void Application::HideProgramWindows() {
    hiddenByMinimize_.clear();
    const HWND active = ::GetActiveWindow();
    activeBeforeMinimize_ = (active && OwnedBy(active, hwnd_)) ? active : nullptr;
    for (HWND hwnd : ThreadWindows()) {
        if (hwnd != hwnd_ && ::IsWindowVisible(hwnd) && OwnedBy(hwnd, hwnd_)) {
            ::ShowWindow(hwnd, SW_HIDE);
            hiddenByMinimize_.push_back(hwnd);
        }
    }
    // A main form that was never shown (a start in the minimized state) is
    // shown by restoring as well.
    const HWND main = mainForm_ ? mainForm_->Handle() : nullptr;
    if (main && std::find(hiddenByMinimize_.begin(), hiddenByMinimize_.end(), main) ==
                    hiddenByMinimize_.end()) {
        hiddenByMinimize_.insert(hiddenByMinimize_.begin(), main);
    }
}

void Application::ShowProgramWindows() {
    // Bottom of the z-order first, so the stacking comes back as it was.
    for (auto it = hiddenByMinimize_.rbegin(); it != hiddenByMinimize_.rend(); ++it) {
        if (::IsWindow(*it)) ::ShowWindow(*it, SW_SHOWNA);
    }
    hiddenByMinimize_.clear();
}

void Application::ActivateLastPopup() {
    HWND target = activeBeforeMinimize_;
    if (!CanActivate(target)) target = ::GetLastActivePopup(hwnd_);
    if (!CanActivate(target) || target == hwnd_) target = mainForm_ ? mainForm_->Handle() : nullptr;
    if (!CanActivate(target)) {
        // A modal window keeps the others disabled, and was perhaps never
        // active (it opened while the program sat in the tray): the topmost
        // window of ours that can be activated is that one.
        target = nullptr;
        for (HWND hwnd : ThreadWindows()) {
            if (hwnd != hwnd_ && CanActivate(hwnd) && OwnedBy(hwnd, hwnd_)) {
                target = hwnd;
                break;
            }
        }
    }
    if (!CanActivate(target)) return;
    // Already the foreground window, it would stay beneath the windows that
    // restoring has just shown.
    ::BringWindowToTop(target);
    ::SetForegroundWindow(target);
}

void Application::Minimize() {
    if (minimized_) return;
    HideProgramWindows();
    minimized_ = true;
    if (!::IsIconic(hwnd_)) ::ShowWindow(hwnd_, SW_MINIMIZE);
    if (OnMinimize) OnMinimize();
}

void Application::Restore() {
    if (!minimized_) return;
    minimized_ = false;
    if (::IsIconic(hwnd_)) ::ShowWindow(hwnd_, SW_RESTORE);
    ShowProgramWindows();
    ActivateLastPopup();
}

LRESULT Application::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_MINIMIZE:
            Minimize();
            return 0;
        case SC_RESTORE:
            Restore();
            return 0;
        case SC_MAXIMIZE:
            return 0;
        case SC_CLOSE:
            if (mainForm_) mainForm_->Close();
            return 0;
        default:
            break;
        }
        break;
    case WM_CLOSE:
        if (mainForm_) mainForm_->Close();
        return 0;
    case WM_SIZE:
        // Task bars may minimize or restore the window directly, without a
        // system command; the state change is what counts.
        if (wParam == SIZE_MINIMIZED) {
            Minimize();
        } else if (!::IsIconic(hwnd_)) {
            Restore();
        }
        return 0;
    case WM_SETFOCUS:
        if (!minimized_) ::PostMessageA(hwnd_, kActivateLastPopupMessage, 0, 0);
        return 0;
    case kActivateLastPopupMessage:
        if (!minimized_ && ::GetActiveWindow() == hwnd_) ActivateLastPopup();
        return 0;
    default:
        break;
    }
    return Window::HandleMessage(msg, wParam, lParam);
}

}  // namespace zelvo::ui
