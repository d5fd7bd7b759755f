// The application object: the title, the message loop, and a top-level window
// of its own that owns the task-bar button. Every form is owned by that
// window, so no form has a button of its own, and minimizing the application
// takes all of them away while the button stays.
#pragma once

#include "platform/Window.h"

#include <functional>
#include <string>
#include <vector>

namespace zelvo::ui {

class Form;

class Application : public Window {
public:
    static Application& Instance();

    // Creates the application window (once); forms need it as their owner.
    void Initialize();
    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& title);

    Form* MainForm() const { return mainForm_; }
    void SetMainForm(Form* form) { mainForm_ = form; }

    // The show command the starting program asked for (STARTUPINFO), SW_SHOWNORMAL if none.
    static int StartupShowCommand();
    // Shows the main form as a start-up with this show command asks:
    // 3 maximizes it, 7 minimizes it; a minimized main form minimizes the
    // application instead of appearing.
    void ShowMainForm(int showCommand);
    // ShowMainForm(StartupShowCommand()), then the message loop until the
    // main form closes. Returns the exit code.
    int Run();
    void Terminate() { ::PostQuitMessage(0); }

    // Runs messages until done() holds or WM_QUIT arrives (which is posted
    // again for the outer loop). Modal forms and tests use it.
    void RunLoopUntil(const std::function<bool()>& done);
    // Dispatches every message waiting now; false once WM_QUIT was seen.
    bool ProcessMessages();

    void Minimize();
    void Restore();
    bool Minimized() const { return minimized_; }
    // Called after each minimizing of the application (not when already minimized).
    std::function<void()> OnMinimize;

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    Application() = default;
    void DispatchOne(MSG& msg);
    void HideProgramWindows();
    void ShowProgramWindows();
    void ActivateLastPopup();

    std::string title_;
    Form* mainForm_ = nullptr;
    bool minimized_ = false;
    // The windows that minimizing took away, shown again by restoring.
    std::vector<HWND> hiddenByMinimize_;
    HWND activeBeforeMinimize_ = nullptr;
};

// Disables every other visible, enabled top-level window of the thread for
// its lifetime, as a modal window or box must; re-enables exactly those.
class TaskWindowsDisabled {
public:
    explicit TaskWindowsDisabled(HWND except);
    ~TaskWindowsDisabled() { Enable(); }
    TaskWindowsDisabled(const TaskWindowsDisabled&) = delete;
    TaskWindowsDisabled& operator=(const TaskWindowsDisabled&) = delete;
    void Enable();

private:
    std::vector<HWND> disabled_;
};

// The top-level windows of the calling thread, in z-order; throws
// std::bad_alloc when there is no memory for the list.
std::vector<HWND> ThreadWindows();

// Ends every label edit open in a tree view of this thread without taking
// the typed text. A window that the program opens by itself takes the focus,
// and a tree commits an edit that loses it.
void CancelLabelEdits();

}  // namespace zelvo::ui
