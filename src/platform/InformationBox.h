// The program's own information box: caption "Information", the system's
// information icon, the text in the system's message font and one "确定"
// button that is both default and cancel. It sizes itself to its text and
// sits at the centre of the screen. Its texts do not follow the system
// language, unlike the platform's message box. Like the system's box, it is
// laid out in dialog units of its font, at the DPI of its monitor.
#pragma once

#include "platform/Controls.h"
#include "platform/Form.h"

#include <string>

namespace zelvo::ui {

class InformationBox : public Form {
public:
    static constexpr const char* kClassName = "TInformationBox";
    static constexpr const char* kCaption = "Information";
    static constexpr const char* kOkCaption = "确定";
    static constexpr int kTextId = 100;
    static constexpr int kIconId = 101;

    explicit InformationBox(const std::string& text);
    ~InformationBox() override;

    // Shows a box with this text modally until it is dismissed.
    static void Show(const std::string& text);

    Button OkButton;
    Label TextLabel;

protected:
    void OnCommand(WORD id, WORD code, HWND control) override;
    // The system's message font, which the text and the button take.
    ScopedFont MakeFont(UINT dpi) const override;
    void OnDpiChanged() override;

private:
    // Sizes the box to its text and places the icon, the text and the button.
    void Layout();
    HWND icon_ = nullptr;
    ScopedIcon infoIcon_;
};

}  // namespace zelvo::ui
