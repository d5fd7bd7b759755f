// The base of every window of the program: a thin owner of one HWND.
// Windows of the program's own classes share one window procedure, which
// stores `this` at WM_NCCREATE and hands each message to HandleMessage inside
// the dispatcher's catch: no exception ever leaves a window procedure.
#pragma once

#include "platform/Dpi.h"

#include <windows.h>

#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace zelvo::ui {

class Form;

// Ends the operation in hand without any message; the dispatcher shows nothing.
class SilentAbort : public std::exception {
public:
    const char* what() const noexcept override { return "Operation aborted"; }
};

// Shows a failure that reached an event handler: SilentAbort shows nothing,
// anything else goes to the uniform error box. Never throws.
void ReportHandlerFailure(std::exception_ptr failure) noexcept;

// Runs f as an event handler runs: a failure is reported, never propagated.
template <typename F>
void RunGuarded(F&& f) noexcept {
    try {
        f();
    } catch (...) {
        ReportHandlerFailure(std::current_exception());
    }
}

class Window {
public:
    Window() = default;
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Handle() const { return hwnd_; }
    int Id() const { return ::GetDlgCtrlID(hwnd_); }
    HFONT Font() const { return font_; }

    std::string Text() const;
    void SetText(const std::string& text);
    bool Enabled() const { return ::IsWindowEnabled(hwnd_) != FALSE; }
    void SetEnabled(bool enabled) { ::EnableWindow(hwnd_, enabled ? TRUE : FALSE); }
    // The window's own visibility flag (WS_VISIBLE), whatever its parents show.
    bool Visible() const;
    void SetBounds(int left, int top, int width, int height);
    // Position and size in the parent's client coordinates (screen for top-level windows).
    RECT ParentRect() const;
    SIZE ClientSize() const;
    void SetFont(HFONT font);

    // The DPI the window is laid out for: its form's (96 outside a form).
    UINT Dpi() const;
    DpiScale Scale() const { return DpiScale(Dpi()); }

    // The object behind a window of the program's own classes; null for others.
    static Window* FromHandle(HWND hwnd);

protected:
    // Registers (once) a window class of the program's own on the shared
    // procedure, with the program's icon or none.
    static void RegisterOwnClass(const char* className, UINT classStyle, HBRUSH background,
                                 bool withIcon = true);
    // Creates a window of such a class; messages reach HandleMessage from WM_NCCREATE on.
    void CreateOwnWindow(const char* className, const std::string& text, DWORD style, DWORD exStyle,
                         int left, int top, int width, int height, HWND parent, HMENU menuOrId);
    // Creates a window of a system class (a control); its messages stay with its class.
    void CreateSystemWindow(const char* className, const std::string& text, DWORD style,
                            DWORD exStyle, int left, int top, int width, int height, HWND parent,
                            int id);
    // Makes a child window just created inside parent a member of parent's
    // form: laid out for the form's DPI, at `design` (pixels at 96 DPI), again
    // whenever that DPI changes. Its place at creation is parent.Scale()(design).
    void JoinForm(const Window& parent, const Bounds& design);
    // Called when the form's DPI has changed, after the window has taken the
    // form's new font (if it had the old one) and its place for the new DPI:
    // whatever else of the window depends on the DPI.
    virtual void DpiChanged() {}

    // Unhooks the object, then destroys the window. Each class whose handlers
    // use its own members calls this first in its destructor.
    void DestroyHandle() noexcept;

    virtual LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    // What a message delivered while a run looks at its queue (RunGate) gets
    // instead of HandleMessage; it must not re-enter the run (no box, no
    // loop, no call to another process). A close and a command are posted
    // again, to be handled once the run is over; of the changes of the show
    // state and the resizes asked for, the latest is handled then, once;
    // input is dropped; the rest gets the system's default.
    virtual LRESULT SentDuringRun(UINT msg, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;  // not owned; the form that holds the controls owns it

private:
    friend class RunGate;
    friend class Form;
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    // The form's DPI has changed from the one its old font was made for.
    void Rescale(HFONT oldFont, HFONT newFont);
    bool ownClass_ = false;
    Form* form_ = nullptr;  // the form whose DPI the window is laid out for (a form: itself)
    Bounds design_;
};

// Lives as long as a backup run copies. The run looks at the queue at each
// entry, between buffers and while it waits, so that the system never takes
// the program for hung, and that look (LookAtQueue) delivers every message
// that another thread or process sends, and the queue events of another
// process's asynchronous show and position changes. None of them may
// re-enter the run: what is delivered during a look reaches SentDuringRun of
// its window instead of its handler, while the program's own messages (its
// painting, its captions) go their usual way. Log-off waits for the run:
// WM_QUERYENDSESSION is answered FALSE, with the reason shown on the reason
// window, and a WM_ENDSESSION that ends the session all the same calls
// sessionEnding once, inside that message, because Windows may end the
// process as soon as it is answered. When the gate goes, each window gets
// the latest show state or size asked for during the run, once, and each
// form lays itself out for the DPI of its monitor should it have changed
// meanwhile (WM_DPICHANGED points to a rectangle of its moment, and cannot
// wait for the run's end).
// The platform's PeekMessageA, through which RunGate::LookAtQueue looks, so
// that a test can play what a look delivers (a queue event of another
// process's ShowWindowAsync comes with no sender).
extern BOOL(WINAPI* PeekMessageCall)(LPMSG msg, HWND hwnd, UINT first, UINT last, UINT remove);

class RunGate {
public:
    RunGate(HWND reasonWindow, const std::string& reason, std::function<void()> sessionEnding);
    ~RunGate();
    RunGate(const RunGate&) = delete;
    RunGate& operator=(const RunGate&) = delete;

    static RunGate* Current() { return current_; }
    // Looks at the thread's queue without taking anything; through the
    // current gate, if there is one.
    static void LookAtQueue();
    // Whether the message in hand is delivered by a look at the queue.
    bool Looking() const { return looking_; }
    // Answers a message delivered by a look; never throws.
    LRESULT Handle(Window& window, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
    // Keeps a change of the show state or a size asked for during the run,
    // replacing an earlier one for that window.
    void Defer(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

private:
    struct Deferred {
        HWND window;
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
    };

    static inline RunGate* current_ = nullptr;
    RunGate* previous_;
    HWND reasonWindow_;
    bool reasonSet_ = false;
    std::function<void()> sessionEnding_;
    bool sessionEnded_ = false;
    bool looking_ = false;
    std::vector<Deferred> showStates_;
};

// Sends notifications of child controls (WM_COMMAND, WM_NOTIFY) on to the
// top-level window, so forms see the events of controls inside panels and pages.
bool ForwardToForm(HWND container, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

}  // namespace zelvo::ui
