// The controls the windows of the program are built from. Most are system
// controls whose notifications go to their parent as usual; the containers
// (Panel, TabSheet) pass those on to their form.
#pragma once

#include "core/DateTime.h"
#include "platform/Gdi.h"
#include "platform/Window.h"

#include <commctrl.h>

#include <string>
#include <vector>

namespace zelvo::ui {

// Every place (Bounds, POINT) given to Create below is in pixels at 96 DPI,
// in the parent's client area; the control is laid out for its form's DPI.

// A child window of a system class, in the font of its parent.
class Control : public Window {
protected:
    void CreateControl(Window& parent, const char* className, int id, const std::string& text,
                       const Bounds& bounds, DWORD style, DWORD exStyle = 0);
};

class Label : public Control {
public:
    // A label of a fixed place, made wider or taller where its caption (one
    // line) would not fit at some DPI.
    void Create(Window& parent, int id, const std::string& caption, const Bounds& bounds);
    // A label that sizes itself to its caption (one line), now and at each SetCaption.
    void Create(Window& parent, int id, const std::string& caption, POINT at);
    void SetCaption(const std::string& caption);

protected:
    void DpiChanged() override;

private:
    void Fit();
    bool autoSize_ = false;
};

// Sizes a window to its text drawn on one line in its font.
void SizeToText(Window& window);

// A text colour as labels keep it: a fixed one, or one of the system's
// colours, looked up at each painting so it follows the user's scheme.
class TextColor {
public:
    static TextColor Rgb(COLORREF rgb) { return TextColor(rgb, -1); }
    static TextColor System(int index) { return TextColor(0, index); }
    COLORREF Resolve() const { return system_ >= 0 ? ::GetSysColor(system_) : rgb_; }
    bool operator==(const TextColor& o) const { return rgb_ == o.rgb_ && system_ == o.system_; }
    bool operator!=(const TextColor& o) const { return !(*this == o); }

private:
    TextColor(COLORREF rgb, int system) : rgb_(system >= 0 ? 0 : rgb), system_(system) {}
    COLORREF rgb_;
    int system_;
};

// Notification codes of the WM_COMMAND a LinkLabel sends its parent (its id
// and handle): a click (button pressed and released over it), the mouse
// moving over it, and the mouse leaving it.
inline constexpr WORD kLabelClicked = STN_CLICKED;
inline constexpr WORD kLabelMouseMove = 0x7F02;
inline constexpr WORD kLabelMouseLeave = 0x7F03;

// A one-line label of the program's own that reports clicks and the mouse
// passing over it, shows the hand cursor, and has a settable colour and
// underline. It sizes itself to its text.
class LinkLabel : public Window {
public:
    ~LinkLabel() override;
    void Create(Window& parent, int id, const std::string& caption, POINT at);
    TextColor Color() const { return color_; }
    void SetColor(TextColor color);
    bool Underlined() const { return underlined_; }
    void SetUnderlined(bool underlined);

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void DpiChanged() override;

private:
    void Paint();
    void Notify(WORD code);
    TextColor color_ = TextColor::System(COLOR_WINDOWTEXT);
    bool underlined_ = false;
    bool tracking_ = false;
    bool pressed_ = false;
    ScopedFont underlinedFont_;
};

// A read-only multi-line text: word-wrapped, no scroll bars, with a
// background colour of its own. Its text can be selected and copied. Enter,
// Escape and Tab are left to the form, as in a dialog of static texts.
class Memo : public Control {
public:
    ~Memo() override;
    // The lines are joined with CR LF.
    void Create(Window& parent, int id, const std::vector<std::string>& lines, const Bounds& bounds,
                COLORREF background);
    // The answer to the WM_CTLCOLORSTATIC that its parent gets for it.
    LRESULT CtlColor(HDC dc) const;

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR data);
    COLORREF background_ = 0;
    ScopedBrush brush_;
};

// A picture from a bitmap resource, drawn at the top-left of its box and
// transparent: the colour of its bottom-left pixel lets the background show.
// It is drawn at its size times the DPI's scale, as every other figure.
class Image : public Window {
public:
    ~Image() override;
    void Create(Window& parent, int id, const Bounds& bounds, int bitmapResource);
    // Width and height of the picture (zero without one).
    SIZE PictureSize() const;

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void Paint();
    ScopedBitmap bitmap_;
};

class Button : public Control {
public:
    void Create(Window& parent, int id, const std::string& caption, const Bounds& bounds,
                bool isDefault = false);
    // Sends a click as the user's would (BN_CLICKED to the parent).
    void Click();
};

// A check box made wider where its box and caption would not fit at some DPI.
class CheckBox : public Control {
public:
    void Create(Window& parent, int id, const std::string& caption, const Bounds& bounds);
    bool Checked() const;
    void SetChecked(bool checked);
    void Click();

protected:
    void DpiChanged() override;

private:
    void Fit();
};

class Edit : public Control {
public:
    void Create(Window& parent, int id, const Bounds& bounds);
};

// Notification code of the WM_COMMAND that an EditWithButton sends its
// parent when its embedded button is clicked (the edit's id and handle).
inline constexpr WORD kEditButtonClicked = 0x7F01;

// A single-line edit with one ellipsis button inside its right edge. The
// button is a child of the edit; the edit keeps its text clear of it with a
// right margin.
class EditWithButton : public Edit {
public:
    ~EditWithButton() override;
    void Create(Window& parent, int id, const Bounds& bounds);
    HWND ButtonHandle() const { return button_; }

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR data);
    void PlaceButton();
    HWND button_ = nullptr;
};

// A time-only date-time picker (hours, minutes, seconds in the locale's time
// format, set by typing or with its spin control).
class TimePicker : public Control {
public:
    void Create(Window& parent, int id, const Bounds& bounds);
    // The picker's value: its date and its time of day.
    DateTime Value() const;
    // Sets the time of day; the date part of the value stays.
    void SetTime(DateTime time);
};

class StatusBar : public Control {
public:
    void Create(Window& parent, int id);
    void SetPanelWidths(const std::vector<int>& widths);
    void SetPanelText(int panel, const std::string& text);
    std::string PanelText(int panel) const;

protected:
    void DpiChanged() override;

private:
    std::vector<int> widths_;
};

class ProgressBar : public Control {
public:
    // A smooth (continuous) bar.
    void Create(Window& parent, int id, const Bounds& bounds);
    void SetRange(int minimum, int maximum);
    int Maximum() const;
    void SetStep(int step);
    // Advances by the step; past the maximum the bar starts over from the minimum.
    void StepIt();
    // Ends where `count` StepIt calls would, in as few trips through the bar
    // as the range allows.
    void StepBy(int count);
    int Position() const;
    void SetPosition(int position);

private:
    int step_ = 10;  // the control's own default
};

enum class Bevel { None, Lowered, Raised, Space };

// A container that draws its bevels (outer, border width, inner) and passes
// its children's notifications on to its form. Bevels and border are one and
// `borderWidth` pixels wide at 96 DPI.
class Panel : public Window {
public:
    void Create(Window& parent, int id, const Bounds& bounds, Bevel outer, Bevel inner,
                int borderWidth);

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void Paint();
    Bevel outer_ = Bevel::None;
    Bevel inner_ = Bevel::None;
    int borderWidth_ = 0;
};

class PageControl;

// A page of a PageControl; a page whose tab is hidden exists but cannot be reached.
class TabSheet : public Panel {
public:
    const std::string& Caption() const { return caption_; }
    bool TabVisible() const { return tabVisible_; }

private:
    friend class PageControl;
    std::string caption_;
    bool tabVisible_ = true;
};

class PageControl : public Control {
public:
    void Create(Window& parent, int id, const Bounds& bounds);
    // Creates the page inside the tab control; only pages with a visible tab get a tab.
    void AddPage(TabSheet& page, int id, const std::string& caption, bool tabVisible);
    int TabCount() const;
    std::string TabCaption(int index) const;
    TabSheet* ActivePage() const;
    // Lays the pages over the display area and shows the selected one; call
    // after a resize and on TCN_SELCHANGE.
    void Arrange();

private:
    std::vector<TabSheet*> pages_;
};

// A timer of a window, ticking through the message loop (WM_TIMER with its id).
class Timer {
public:
    Timer(Window& owner, UINT_PTR id, UINT intervalMs) : owner_(owner), id_(id), interval_(intervalMs) {}
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    UINT_PTR Id() const { return id_; }
    UINT Interval() const { return interval_; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);

private:
    Window& owner_;
    UINT_PTR id_;
    UINT interval_;
    bool enabled_ = false;
};

// A menu built item by item; destroyed with its owner object unless a window took it.
class Menu {
public:
    explicit Menu(bool popup) : menu_(popup ? ::CreatePopupMenu() : ::CreateMenu()) {}
    HMENU Handle() const { return menu_.Get(); }
    void AddItem(UINT id, const std::string& caption);
    void AddSubmenu(Menu&& submenu, const std::string& caption);
    // For a menu bar: the window destroys it from now on.
    HMENU Release() { return menu_.Release(); }
    std::string ItemCaption(int position) const;
    UINT ItemId(int position) const;
    int ItemCount() const;

private:
    ScopedMenu menu_;
};

// A pop-up menu whose items get the automatic accelerators of a double-byte
// system: the letter appended in parentheses and underlined.
class PopupMenu : public Menu {
public:
    PopupMenu() : Menu(true) {}
    void AddItem(UINT id, const std::string& caption, char dbcsAccelerator);
    // Opens the menu with its top-left corner at a screen point; the command
    // goes to the owner window as WM_COMMAND.
    void Popup(HWND owner, POINT screenPoint) const;
};

}  // namespace zelvo::ui
