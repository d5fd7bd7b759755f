#include "platform/Window.h"

#include "core/Paths.h"
#include "platform/Application.h"
#include "platform/Form.h"
#include "platform/Gdi.h"
#include "platform/ReportQueue.h"

#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

namespace zelvo::ui {

BOOL(WINAPI* PeekMessageCall)(LPMSG msg, HWND hwnd, UINT first, UINT last, UINT remove) = ::PeekMessageA;

namespace {

constexpr char kUnknownFailure[] = "Unknown failure";

// What becomes of a message that a run's look at its queue delivers.
enum class DuringRun {
    Pass,    // the system's default: it answers, paints or follows a change made elsewhere
    Defer,   // posted again, so the program handles it once the run is over
    Latest,  // kept for the run's end, where only the latest of its window is handled
    Drop,    // answered 0 and forgotten
};

DuringRun TreatmentDuringRun(UINT msg, WPARAM wParam) {
    switch (msg) {
    // The default destroys the window (the application window: with every
    // form it owns) without the program's own close; the process would live
    // on without a window and without its schedule.
    case WM_CLOSE:
    // A menu command or a click that another program sends: the default drops it.
    case WM_COMMAND:
        return DuringRun::Defer;
    // A task bar that minimizes or restores the application window without a
    // system command: the program follows the change, the last one asked for
    // (a minimize and a restore after it leave the program on the screen).
    case WM_SIZE:
        return DuringRun::Latest;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        // The task bar's button and its menu, or a tool: the default would
        // close or move this one window behind the program's back, which
        // takes the whole application into the tray and out of it.
        case SC_CLOSE:
            return DuringRun::Defer;
        case SC_MINIMIZE:
        case SC_MAXIMIZE:
        case SC_RESTORE:
            return DuringRun::Latest;
        // The system's own, acting on nothing of the program's.
        case SC_SCREENSAVE:
        case SC_MONITORPOWER:
            return DuringRun::Pass;
        // Moving, sizing, menus, scrolling and help mode each run a loop of
        // their own that would dispatch other messages inside the run; the
        // rest acts on other windows.
        default:
            return DuringRun::Drop;
        }
    // The run answers no input. The default would open the window menu, start
    // moving or sizing (a loop of its own), or pass the message on to others.
    case WM_CONTEXTMENU:
    case WM_APPCOMMAND:
    case WM_HELP:
    case WM_NCMOUSEHOVER:
    case WM_NCMOUSELEAVE:
        return DuringRun::Drop;
    default:
        break;
    }
    if ((msg >= WM_KEYFIRST && msg <= WM_KEYLAST) || (msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST) ||
        (msg >= WM_NCMOUSEMOVE && msg <= WM_NCXBUTTONDBLCLK)) {
        return DuringRun::Drop;
    }
    // Queries (WM_NULL, WM_GETTEXT, WM_GETICON, WM_GETMINMAXINFO, WM_NCHITTEST,
    // WM_QUERYDRAGICON, WM_QUERYOPEN), painting, activation and focus, position
    // and show changes made elsewhere, text and icons set by others, and the
    // broadcasts (WM_SETTINGCHANGE, WM_ACTIVATEAPP, WM_TIMECHANGE, ...), which
    // the program does not act on.
    return DuringRun::Pass;
}

}  // namespace

void ReportHandlerFailure(std::exception_ptr failure) noexcept {
    try {
        std::rethrow_exception(failure);
    } catch (const SilentAbort&) {
    } catch (const std::exception& e) {
        try {
            ShowReport(Report{ReportKind::Error, std::string(), {e.what()}, std::string()});
        } catch (...) {
        }
    } catch (...) {
        ShowReport(Report{ReportKind::Error, std::string(), {kUnknownFailure}, std::string()});
    }
}

Window::~Window() {
    DestroyHandle();
    if (form_ && form_ != this) form_->Forget(*this);
}

std::string Window::Text() const {
    const int length = ::GetWindowTextLengthA(hwnd_);
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    const int got = ::GetWindowTextA(hwnd_, buffer.data(), length + 1);
    return std::string(buffer.data(), static_cast<std::size_t>(got > 0 ? got : 0));
}

void Window::SetText(const std::string& text) { ::SetWindowTextA(hwnd_, text.c_str()); }

bool Window::Visible() const {
    return (::GetWindowLongPtrA(hwnd_, GWL_STYLE) & WS_VISIBLE) != 0;
}

void Window::SetBounds(int left, int top, int width, int height) {
    ::SetWindowPos(hwnd_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT Window::ParentRect() const {
    RECT r{};
    ::GetWindowRect(hwnd_, &r);
    const HWND parent = (::GetWindowLongPtrA(hwnd_, GWL_STYLE) & WS_CHILD) ? ::GetParent(hwnd_)
                                                                          : nullptr;
    if (parent) ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

SIZE Window::ClientSize() const {
    RECT r{};
    ::GetClientRect(hwnd_, &r);
    return SIZE{r.right, r.bottom};
}

void Window::SetFont(HFONT font) {
    font_ = font;
    ::SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

UINT Window::Dpi() const { return form_ ? form_->dpi_ : kDesignDpi; }

void Window::JoinForm(const Window& parent, const Bounds& design) {
    design_ = design;
    form_ = parent.form_;
    if (form_) form_->members_.push_back(this);
}

void Window::Rescale(HFONT oldFont, HFONT newFont) {
    if (!hwnd_) return;
    if (font_ == oldFont) SetFont(newFont);
    const Bounds place = Scale()(design_);
    SetBounds(place.left, place.top, place.width, place.height);
    DpiChanged();
}

Window* Window::FromHandle(HWND hwnd) {
    if (!hwnd || reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(hwnd, GWLP_WNDPROC)) != &WindowProc) {
        return nullptr;
    }
    return reinterpret_cast<Window*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

void Window::RegisterOwnClass(const char* className, UINT classStyle, HBRUSH background,
                              bool withIcon) {
    static std::set<std::string> registered;
    if (registered.count(className)) return;
    const HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.style = classStyle;
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = background;
    wc.lpszClassName = className;
    if (withIcon) {
        // Both sizes: left to itself the system shrinks the large one for
        // captions and task-bar buttons instead of taking the 16-pixel image.
        wc.hIcon = ProgramIcon(IconSize::Large);
        wc.hIconSm = ProgramIcon(IconSize::Small);
    }
    if (!::RegisterClassExA(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        throw std::runtime_error(std::string("Cannot register window class ") + className);
    }
    registered.insert(className);
}

void Window::CreateOwnWindow(const char* className, const std::string& text, DWORD style,
                             DWORD exStyle, int left, int top, int width, int height, HWND parent,
                             HMENU menuOrId) {
    ownClass_ = true;
    const HWND created = ::CreateWindowExA(exStyle, className, text.c_str(), style, left, top, width,
                                           height, parent, menuOrId, ::GetModuleHandleA(nullptr), this);
    if (!created) throw std::runtime_error(std::string("Error creating window ") + className);
    hwnd_ = created;
}

void Window::CreateSystemWindow(const char* className, const std::string& text, DWORD style,
                                DWORD exStyle, int left, int top, int width, int height,
                                HWND parent, int id) {
    hwnd_ = ::CreateWindowExA(exStyle, className, text.c_str(), style, left, top, width, height,
                              parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                              ::GetModuleHandleA(nullptr), nullptr);
    if (!hwnd_) throw std::runtime_error(std::string("Error creating window ") + className);
}

void Window::DestroyHandle() noexcept {
    const HWND hwnd = hwnd_;
    hwnd_ = nullptr;
    if (!hwnd || !::IsWindow(hwnd)) return;
    if (ownClass_) ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    ::DestroyWindow(hwnd);
}

LRESULT Window::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcA(hwnd_, msg, wParam, lParam);
}

LRESULT Window::SentDuringRun(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (TreatmentDuringRun(msg, wParam)) {
    case DuringRun::Defer:
        // The run takes no posted message from the queue: this waits for its end.
        ::PostMessageA(hwnd_, msg, wParam, lParam);
        return 0;
    case DuringRun::Latest:
        if (RunGate* gate = RunGate::Current()) gate->Defer(hwnd_, msg, wParam, lParam);
        return 0;
    case DuringRun::Drop:
        return 0;
    case DuringRun::Pass:
    default:
        return ::DefWindowProcA(hwnd_, msg, wParam, lParam);
    }
}

RunGate::RunGate(HWND reasonWindow, const std::string& reason, std::function<void()> sessionEnding)
    : previous_(current_), reasonWindow_(reasonWindow), sessionEnding_(std::move(sessionEnding)) {
    reasonSet_ = ::ShutdownBlockReasonCreate(reasonWindow_, WidenAnsi(reason).c_str()) != FALSE;
    current_ = this;
}

RunGate::~RunGate() {
    current_ = previous_;
    if (reasonSet_ && ::IsWindow(reasonWindow_)) ::ShutdownBlockReasonDestroy(reasonWindow_);
    for (const Deferred& deferred : showStates_) {
        if (!::IsWindow(deferred.window)) continue;
        ::PostMessageA(deferred.window, deferred.msg, deferred.wParam, deferred.lParam);
    }
    // A form that cannot be laid out now (no memory for its fonts, say)
    // keeps its layout until its next DPI change: a throw out of here would
    // end the program.
    try {
        for (HWND hwnd : ThreadWindows()) {
            try {
                if (Form* form = Form::FromHandle(hwnd)) form->FollowMonitorDpi();
            } catch (...) {
            }
        }
    } catch (...) {
    }
}

void RunGate::LookAtQueue() {
    RunGate* const gate = current_;
    if (gate) gate->looking_ = true;
    MSG msg;
    PeekMessageCall(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_NOYIELD);
    if (gate) gate->looking_ = false;
}

void RunGate::Defer(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    for (Deferred& deferred : showStates_) {
        if (deferred.window == window) {
            deferred = Deferred{window, msg, wParam, lParam};
            return;
        }
    }
    showStates_.push_back(Deferred{window, msg, wParam, lParam});
}

LRESULT RunGate::Handle(Window& window, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
    try {
        switch (msg) {
        case WM_QUERYENDSESSION:
            return FALSE;
        case WM_ENDSESSION:
            // Every top-level window hears it; the work is done at the first.
            if (wParam && !sessionEnded_) {
                sessionEnded_ = true;
                if (sessionEnding_) sessionEnding_();
            }
            return 0;
        default:
            return window.SentDuringRun(msg, wParam, lParam);
        }
    } catch (...) {
        // A box here would open a loop inside the run; the failure goes unseen.
        return 0;
    }
}

LRESULT CALLBACK Window::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* self = nullptr;
    if (msg == WM_NCCREATE) {
        self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Window*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    }
    if (!self) return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    if (RunGate* gate = RunGate::Current(); gate && gate->Looking()) {
        return gate->Handle(*self, msg, wParam, lParam);
    }
    LRESULT result = 0;
    RunGuarded([&] { result = self->HandleMessage(msg, wParam, lParam); });
    return result;
}

bool ForwardToForm(HWND container, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (msg != WM_COMMAND && msg != WM_NOTIFY) return false;
    const HWND root = ::GetAncestor(container, GA_ROOT);
    result = (root && root != container) ? ::SendMessageA(root, msg, wParam, lParam) : 0;
    return true;
}

}  // namespace zelvo::ui
