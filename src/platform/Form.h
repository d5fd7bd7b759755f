// A top-level window of the program: created hidden, owned by the
// application window, shown normally or modally, closed and destroyed.
#pragma once

#include "platform/Gdi.h"
#include "platform/Window.h"

#include <windows.h>

#include <string>

namespace zelvo::ui {

enum class WindowState { Normal, Minimized, Maximized };

inline constexpr int kModalNone = 0;
inline constexpr int kModalOk = IDOK;
inline constexpr int kModalCancel = IDCANCEL;

inline constexpr char kCannotShowModal[] = "Cannot make a visible window modal";

// Outer sizes and positions of a form at creation.
struct FormLayout {
    DWORD style = WS_OVERLAPPEDWINDOW;
    DWORD exStyle = 0;
    SIZE size{0, 0};
    bool sizeIsClient = false;  // size names the client area, not the outer frame
    HMENU menu = nullptr;       // attached to the window, which then destroys it
};

// A dialog frame (caption and close box, neither sizing nor minimizing)
// around a client area of this size.
FormLayout DialogLayout(SIZE client);

class Form : public Window {
public:
    ~Form() override;

    void Show();
    void Hide();
    // Shows the form and runs a nested loop until its modal result is set
    // or it is closed; the other windows of the program are disabled
    // meanwhile. Fails with "Cannot make a visible window modal".
    int ShowModal();
    // Ends a modal showing (result cancel unless one is set); otherwise
    // hides the form; closing the main form ends the application.
    void Close();

    bool Modal() const { return modal_; }
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int result) { modalResult_ = result; }

    // The state the form shows in; set before showing, read at any time.
    WindowState State() const;
    void SetState(WindowState state);

    static Form* FromHandle(HWND hwnd);

protected:
    Form();
    // Creates the window, hidden and centred on the screen, with the program's font.
    void CreateForm(const char* className, const std::string& caption, const FormLayout& layout);

    virtual void FormShow() {}
    virtual void OnCommand(WORD id, WORD code, HWND control);
    virtual LRESULT OnNotify(const NMHDR& header);
    virtual void OnTimer(UINT_PTR id);
    virtual void OnResize() {}

    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void RestoreFocus();

    ScopedFont formFont_;
    WindowState state_ = WindowState::Normal;
    bool modal_ = false;
    int modalResult_ = kModalNone;
    HWND lastFocus_ = nullptr;
};

// Moves a top-level window to the centre of the whole screen.
void CenterOnScreen(HWND hwnd);

}  // namespace zelvo::ui
