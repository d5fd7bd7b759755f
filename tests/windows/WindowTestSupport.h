// What the in-process window tests share: a reporter that records the
// texts of the boxes instead of showing them, a scripted clock, a scratch
// folder tree, a counter of created windows of one class, timed steps and a
// guard for the nested loops of menus and modal windows, the place of a
// control at the DPI the test runs at, and the check that a window's
// controls fit.
#pragma once

#include "core/DateTime.h"
#include "platform/Application.h"
#include "platform/Form.h"
#include "platform/Reporter.h"
#include "windows/ScratchDir.h"
#include "windows/TrayProbe.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace zelvo::test {

class RecordingReporter : public ui::Reporter {
public:
    void ShowError(const std::string& message) override {
        errors.push_back(message);
        if (onBox) onBox();
    }
    void ShowInformation(const std::string& text) override {
        informations.push_back(text);
        if (onBox) onBox();
    }
    std::vector<std::string> errors;
    std::vector<std::string> informations;
    // Runs while the box would be on the screen.
    std::function<void()> onBox;
};

// Returns the scripted readings one by one, then the last one again and again.
class ScriptedClock {
public:
    void Set(std::initializer_list<DateTime> readings) { readings_.assign(readings); }
    // Readings computed at each call instead, when set.
    std::function<DateTime()> computed;
    Clock AsClock() {
        return [this] {
            if (computed) return computed();
            const DateTime now = readings_.front();
            if (readings_.size() > 1) readings_.pop_front();
            return now;
        };
    }

private:
    std::deque<DateTime> readings_{EncodeDate(2026, 12, 7) + EncodeTime(9, 3, 5)};
};

inline DateTime At(int hour, int minute, int second) {
    return EncodeDate(2026, 12, 7) + EncodeTime(hour, minute, second);
}

// Counts the windows of one class created on this thread while it lives, and
// can run an action at each creation (a CBT hook).
class CreationWatch {
public:
    explicit CreationWatch(std::string className) : className_(std::move(className)) {
        current_ = this;
        hook_ = ::SetWindowsHookExA(WH_CBT, &Hook, nullptr, ::GetCurrentThreadId());
    }
    ~CreationWatch() {
        ::UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }
    CreationWatch(const CreationWatch&) = delete;
    CreationWatch& operator=(const CreationWatch&) = delete;

    int count = 0;
    std::function<void(HWND)> onCreate;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_CREATEWND && current_) {
            char name[64] = {};
            ::GetClassNameA(reinterpret_cast<HWND>(wParam), name, sizeof name);
            if (current_->className_ == name) {
                ++current_->count;
                if (current_->onCreate) current_->onCreate(reinterpret_cast<HWND>(wParam));
            }
        }
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static inline CreationWatch* current_ = nullptr;
    std::string className_;
    HHOOK hook_ = nullptr;
};

// Runs the steps one by one, `intervalMs` apart, each from inside whatever
// message loop runs at its time (a timer with no window, dispatched by every
// GetMessage loop: modal forms, boxes, pop-up menus), to drive windows that
// block the test while they are open.
class TimedSteps {
public:
    TimedSteps(UINT intervalMs, std::vector<std::function<void()>> steps) : steps_(std::move(steps)) {
        current_ = this;
        id_ = ::SetTimer(nullptr, 0, intervalMs, &Fire);
    }
    ~TimedSteps() {
        ::KillTimer(nullptr, id_);
        current_ = nullptr;
    }
    TimedSteps(const TimedSteps&) = delete;
    TimedSteps& operator=(const TimedSteps&) = delete;
    bool Finished() const { return done == steps_.size(); }
    std::size_t done = 0;

private:
    static void CALLBACK Fire(HWND, UINT, UINT_PTR id, DWORD) {
        TimedSteps* self = current_;
        if (!self || self->id_ != id || self->running_) return;
        if (self->Finished()) {
            ::KillTimer(nullptr, id);
            return;
        }
        // A step may run a loop of its own (a box); no step starts inside it.
        self->running_ = true;
        self->steps_[self->done++]();
        self->running_ = false;
    }
    static inline TimedSteps* current_ = nullptr;
    std::vector<std::function<void()>> steps_;
    UINT_PTR id_ = 0;
    bool running_ = false;
};

// Runs `action` once from inside whatever message loop runs next, e.g. to
// answer a modal box.
class SoonAction : public TimedSteps {
public:
    SoonAction(UINT delayMs, std::function<void()> action) : TimedSteps(delayMs, {std::move(action)}) {}
    bool Fired() const { return Finished(); }
};

// Ends, after `timeoutMs`, every nested loop that a test left running: the
// pop-up menu, the modal forms and the boxes of this thread. The test fails
// instead of hanging.
class LoopGuard {
public:
    explicit LoopGuard(UINT timeoutMs) {
        current_ = this;
        id_ = ::SetTimer(nullptr, 0, timeoutMs, &Fire);
    }
    ~LoopGuard() {
        ::KillTimer(nullptr, id_);
        current_ = nullptr;
        EXPECT_FALSE(expired) << "a menu or modal window was still open; the guard ended it";
    }
    LoopGuard(const LoopGuard&) = delete;
    LoopGuard& operator=(const LoopGuard&) = delete;
    bool expired = false;

private:
    static void CALLBACK Fire(HWND, UINT, UINT_PTR id, DWORD) {
        ::KillTimer(nullptr, id);
        if (!current_) return;
        current_->expired = true;
        ::EndMenu();
        for (HWND hwnd : ui::ThreadWindows()) {
            if (!::IsWindowVisible(hwnd)) continue;
            char name[64] = {};
            ::GetClassNameA(hwnd, name, sizeof name);
            if (std::string(name) == "#32770") {
                ::PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
            } else if (ui::Form* form = ui::Form::FromHandle(hwnd); form && form->Modal()) {
                form->Close();
            }
        }
    }
    static inline LoopGuard* current_ = nullptr;
    UINT_PTR id_ = 0;
};

// Left, top, width and height of a window in its parent.
struct Place {
    int left, top, width, height;
    bool operator==(const Place& o) const {
        return left == o.left && top == o.top && width == o.width && height == o.height;
    }
};

inline std::ostream& operator<<(std::ostream& os, const Place& p) {
    return os << "{" << p.left << ", " << p.top << ", " << p.width << ", " << p.height << "}";
}

inline Place PlaceOf(const ui::Window& w) {
    const RECT r = w.ParentRect();
    return Place{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// The DPI this process runs at: the screen's, which the system reads at start-up.
inline UINT ScreenDpi() {
    const ui::WindowDC screen(nullptr);
    return static_cast<UINT>(::GetDeviceCaps(screen.Get(), LOGPIXELSY));
}

// A length at 96 DPI at another DPI, rounded to the nearest pixel.
inline int Scaled(int figure, UINT dpi = ScreenDpi()) { return ::MulDiv(figure, static_cast<int>(dpi), 96); }

// A place at 96 DPI at another DPI: its edges, each rounded to the nearest pixel.
inline Place Scaled(const Place& p, UINT dpi = ScreenDpi()) {
    const int left = Scaled(p.left, dpi), top = Scaled(p.top, dpi);
    return Place{left, top, Scaled(p.left + p.width, dpi) - left, Scaled(p.top + p.height, dpi) - top};
}

// A place at 96 DPI as a label or check box has it at another DPI: its
// corner the scaled one, its size at least the scaled one (wider or taller
// where the caption needs it there).
inline ::testing::AssertionResult GrownFrom(const Place& at, const Place& figures, UINT dpi = ScreenDpi()) {
    const Place scaled = Scaled(figures, dpi);
    if (at.left == scaled.left && at.top == scaled.top && at.width >= scaled.width && at.height >= scaled.height &&
        (dpi != 96 || at == scaled)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << at << " is not " << scaled << " or grown from it";
}

// Width and height of an icon's image.
inline SIZE IconPixels(HICON icon) {
    ICONINFO info{};
    if (!::GetIconInfo(icon, &info)) return SIZE{0, 0};
    const ui::ScopedBitmap mask(info.hbmMask), colour(info.hbmColor);
    BITMAP bitmap{};
    ::GetObjectA(mask.Get(), sizeof bitmap, &bitmap);
    // Without a colour bitmap the mask holds the AND and XOR halves one above the other.
    return SIZE{bitmap.bmWidth, colour ? bitmap.bmHeight : bitmap.bmHeight / 2};
}

// Every visible control inside `top`, at every depth, lies inside its
// parent's client area, overlaps none of its visible siblings, and shows its
// caption whole, measured in its own font: a label's lines (a character
// height is enough for the last one, as a label of the font's size has it),
// a button's caption inside its edges, a check box's box and caption (the
// width the control asks for), a link label's line, every line of a
// read-only text.
void ExpectLaidOut(HWND top);

// The first visible top-level window of this thread with that class.
inline HWND FindThreadWindow(const char* className) {
    for (HWND hwnd : ui::ThreadWindows()) {
        char name[64] = {};
        ::GetClassNameA(hwnd, name, sizeof name);
        if (std::string(name) == className && ::IsWindowVisible(hwnd)) return hwnd;
    }
    return nullptr;
}

inline std::string WindowText(HWND hwnd) {
    char text[512] = {};
    ::GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

}  // namespace zelvo::test
