// The About box: what the program does, the product line, the maker's
// copyright, web address and mail address (links). Created once at start-up
// and shown modally from the main menu and from the tray's pop-up menu.
#pragma once

#include "platform/Controls.h"
#include "platform/Form.h"

#include <string>
#include <vector>

namespace zelvo {

class TAboutBox : public ui::Form {
public:
    static constexpr const char* kClassName = "TAboutBox";
    static constexpr const char* kCaption = "关于";
    static constexpr int kClientWidth = 363;
    static constexpr int kClientHeight = 272;
    static constexpr const char* kProductNameCaption = "产品名称:";
    static constexpr COLORREF kMemoColor = RGB(192, 192, 192);
    static constexpr COLORREF kLinkHoverColor = RGB(0, 0, 255);

    enum ControlId : int {
        kMemo1Id = 100,
        kPanel1Id,
        kImage2Id,
        kProductNameId,
        kCopyrightId,
        kWebLabelId,
        kWWWLabelId,
        kE_MailLabel1Id,
        kE_MailLabelId,
        // The OK button answers Enter as a dialog's default button does.
        kBitBtn1Id = IDOK,
    };

    // The description, line by line.
    static const std::vector<std::string>& DescriptionLines();
    // What FormShow puts after kProductNameCaption.
    static std::string ProductLine();

    TAboutBox();
    ~TAboutBox() override;

    ui::Memo Memo1;
    ui::Panel Panel1;
    ui::Image Image2;
    ui::Label ProductName;
    ui::Label Copyright;
    ui::Label WebLabel;
    ui::LinkLabel WWWLabel;
    ui::Label E_MailLabel1;
    ui::LinkLabel E_MailLabel;
    ui::Button BitBtn1;

    void WWWLabelClick();
    void E_MailLabelClick();
    void WWWLabelMouseMove();
    void WWWLabelMouseLeave();
    void E_MailLabelMouseMove();
    void E_MailLabelMouseLeave();

protected:
    void FormShow() override;
    void OnCommand(WORD id, WORD code, HWND control) override;
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnDpiChanged() override;

private:
    // Widens the box where its texts would not fit at the DPI.
    void GiveRoom();
};

// The current instance, set while the About box exists.
extern TAboutBox* AboutBox;

}  // namespace zelvo
