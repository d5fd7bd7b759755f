// A top-level window of the program: created hidden, owned by the
// application window, shown normally or modally, closed and destroyed.
#pragma once

#include "platform/Gdi.h"
#include "platform/Window.h"

#include <windows.h>

#include <string>
#include <vector>

namespace zelvo::ui {

enum class WindowState { Normal, Minimized, Maximized };

inline constexpr int kModalNone = 0;
inline constexpr int kModalOk = IDOK;
inline constexpr int kModalCancel = IDCANCEL;

inline constexpr char kCannotShowModal[] = "Cannot make a visible window modal";

// Outer sizes and positions of a form at creation, in pixels at 96 DPI.
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

    // Lays the form out again when the DPI of its monitor is no longer the
    // one it has (a WM_DPICHANGED it could not follow at the time), keeping
    // its top-left corner.
    void FollowMonitorDpi();

protected:
    Form() = default;
    // Creates the window, hidden and centred on the screen, laid out for the
    // DPI of the monitor it is on, with the form's font for that DPI.
    void CreateForm(const char* className, const std::string& caption, const FormLayout& layout);

    // The font of the form and of the controls that take it, at a DPI.
    virtual ScopedFont MakeFont(UINT dpi) const { return CreateFormFont(dpi); }
    // After a change of DPI, once every member has its new font and place and
    // the form its new frame.
    virtual void OnDpiChanged() {}
    // Lays the form out for another DPI (WM_DPICHANGED): a new font, each
    // member at its place for it, the window at `outer` (screen coordinates).
    void ChangeDpi(UINT dpi, const RECT& outer);
    // Sizes the frame around a client area of this size (in pixels at the
    // form's DPI), keeping its top-left corner.
    void SizeToClient(SIZE client);

    virtual void FormShow() {}
    virtual void OnCommand(WORD id, WORD code, HWND control);
    virtual LRESULT OnNotify(const NMHDR& header);
    virtual void OnTimer(UINT_PTR id);
    virtual void OnResize() {}

    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    friend class Window;
    void RestoreFocus();
    void SetIcons();
    void Forget(const Window& member);

    UINT dpi_ = kDesignDpi;
    bool withIcon_ = false;
    // The windows laid out for this form's DPI, in the order of their creation.
    std::vector<Window*> members_;
    ScopedFont formFont_;
    WindowState state_ = WindowState::Normal;
    bool modal_ = false;
    int modalResult_ = kModalNone;
    HWND lastFocus_ = nullptr;
};

// Moves a top-level window to the centre of the whole screen.
void CenterOnScreen(HWND hwnd);

}  // namespace zelvo::ui
