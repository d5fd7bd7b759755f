#include "About.h"

#include "Main.h"
#include "platform/ShellOpen.h"
#include "resource.h"

#include <algorithm>

namespace zelvo {

TAboutBox* AboutBox = nullptr;

namespace {

using ui::Bounds;

constexpr Bounds kMemoBounds{8, 8, 345, 124};
constexpr int kLabelLeft = 120;
constexpr int kLinkLeft = 181;
constexpr char kMailScheme[] = "mailto:";

void ShowHovered(ui::LinkLabel& label) {
    label.SetColor(ui::TextColor::Rgb(TAboutBox::kLinkHoverColor));
    label.SetUnderlined(true);
}

void ShowPlain(ui::LinkLabel& label) {
    label.SetColor(ui::TextColor::System(COLOR_WINDOWTEXT));
    label.SetUnderlined(false);
}

}  // namespace

const std::vector<std::string>& TAboutBox::DescriptionLines() {
    static const std::vector<std::string> lines = {
        "                   软件说明",
        "    本软件用途：每天在指定时间（最多可设置3个自动备份时",
        "间），自动将[源目录]中的文件复制到[目的目录]中。",
        "    局域网之间的电脑备份时，目录格式为：",
        "    \\\\电脑名\\共享目录名。",
        "    如[目的目录]不存在，本软件可自动建立。",
        "    本软件当前版本不支持子目录备份。",
        "    本软件为免费软件，可自由使用和复制，不得用于出售。",
        "    使用本软件造成的任何数据损失，作者不承担任何责任。",
    };
    return lines;
}

std::string TAboutBox::ProductLine() { return std::string(" ") + kApplicationTitle + " V1.0"; }

TAboutBox::TAboutBox() {
    CreateForm(kClassName, kCaption, ui::DialogLayout(SIZE{kClientWidth, kClientHeight}));

    Memo1.Create(*this, kMemo1Id, DescriptionLines(), kMemoBounds, kMemoColor);
    Panel1.Create(*this, kPanel1Id, Bounds{9, 139, 344, 97}, ui::Bevel::Lowered, ui::Bevel::Raised, 0);
    Image2.Create(Panel1, kImage2Id, Bounds{11, 9, 94, 80}, IDB_ABOUTPICTURE);
    ProductName.Create(Panel1, kProductNameId, kProductNameCaption, POINT{kLabelLeft, 16});
    Copyright.Create(Panel1, kCopyrightId, ZELVO_COPYRIGHT, POINT{kLabelLeft, 36});
    WebLabel.Create(Panel1, kWebLabelId, "网    址:", POINT{kLabelLeft, 55});
    WWWLabel.Create(Panel1, kWWWLabelId, ZELVO_WEB_ADDRESS, POINT{kLinkLeft, 55});
    WWWLabel.SetColor(ui::TextColor::Rgb(RGB(0, 0, 0)));
    E_MailLabel1.Create(Panel1, kE_MailLabel1Id, "E_Mail:", POINT{kLabelLeft, 75});
    E_MailLabel.Create(Panel1, kE_MailLabelId, ZELVO_MAIL_ADDRESS, POINT{kLinkLeft, 75});
    BitBtn1.Create(*this, kBitBtn1Id, "确定", Bounds{296, 241, 57, 25}, true);
    GiveRoom();
    ui::CenterOnScreen(hwnd_);
    AboutBox = this;
}

void TAboutBox::OnDpiChanged() { GiveRoom(); }

void TAboutBox::GiveRoom() {
    // Where a line of the description or a caption of the panel would not
    // fit at some DPI (Wine draws 宋体 of 15 pixels 16 pixels wide), the
    // text, the panel and the box grow wider by what the widest needs, and
    // the button keeps to the right edge.
    const ui::DpiScale scale = Scale();
    RECT textArea{};
    ::SendMessageA(Memo1.Handle(), EM_GETRECT, 0, reinterpret_cast<LPARAM>(&textArea));
    const RECT memo = Memo1.ParentRect();
    int extra = 0;
    for (const std::string& line : DescriptionLines()) {
        const int width = ui::MeasureText(Memo1.Handle(), Memo1.Font(), line, DT_SINGLELINE).cx;
        extra = std::max(extra, width - static_cast<int>(textArea.right - textArea.left));
    }
    const int panelInside = Panel1.ClientSize().cx - scale(2);  // within its bevels
    const ui::Window* const widest[] = {&ProductName, &Copyright, &WWWLabel, &E_MailLabel};
    for (const ui::Window* label : widest) {
        extra = std::max(extra, static_cast<int>(label->ParentRect().right) - panelInside);
    }
    if (extra > 0) {
        Memo1.SetBounds(memo.left, memo.top, memo.right - memo.left + extra, memo.bottom - memo.top);
        const RECT panel = Panel1.ParentRect();
        Panel1.SetBounds(panel.left, panel.top, panel.right - panel.left + extra, panel.bottom - panel.top);
        const RECT button = BitBtn1.ParentRect();
        BitBtn1.SetBounds(button.left + extra, button.top, button.right - button.left, button.bottom - button.top);
    }
    // The box's own figures, as wide again as the text has grown: also after
    // a change of DPI, whose suggested frame scales a grown box.
    const int memoRight = kMemoBounds.left + kMemoBounds.width;
    SizeToClient(SIZE{static_cast<int>(memo.right) + extra + scale(kClientWidth) - scale(memoRight),
                      scale(kClientHeight)});
}

TAboutBox::~TAboutBox() {
    DestroyHandle();
    if (AboutBox == this) AboutBox = nullptr;
}

void TAboutBox::FormShow() {
    ProductName.SetCaption(kProductNameCaption + ProductLine());
    GiveRoom();
    // The button rather than the text, so that Enter closes the box at once.
    ::SetFocus(BitBtn1.Handle());
}

void TAboutBox::WWWLabelClick() { ui::ShellOpen(hwnd_, ZELVO_WEB_ADDRESS); }

void TAboutBox::E_MailLabelClick() {
    ui::ShellOpen(hwnd_, std::string(kMailScheme) + ZELVO_MAIL_ADDRESS);
}

void TAboutBox::WWWLabelMouseMove() { ShowHovered(WWWLabel); }

void TAboutBox::WWWLabelMouseLeave() { ShowPlain(WWWLabel); }

void TAboutBox::E_MailLabelMouseMove() { ShowHovered(E_MailLabel); }

void TAboutBox::E_MailLabelMouseLeave() { ShowPlain(E_MailLabel); }

void TAboutBox::OnCommand(WORD id, WORD code, HWND) {
    switch (id) {
    case kBitBtn1Id:
        if (code == BN_CLICKED) SetModalResult(ui::kModalOk);
        break;
    case kWWWLabelId:
        if (code == ui::kLabelClicked) WWWLabelClick();
        if (code == ui::kLabelMouseMove) WWWLabelMouseMove();
        if (code == ui::kLabelMouseLeave) WWWLabelMouseLeave();
        break;
    case kE_MailLabelId:
        if (code == ui::kLabelClicked) E_MailLabelClick();
        if (code == ui::kLabelMouseMove) E_MailLabelMouseMove();
        if (code == ui::kLabelMouseLeave) E_MailLabelMouseLeave();
        break;
    default:
        // IDCANCEL from Escape among them: the box has no cancel button.
        break;
    }
}

LRESULT TAboutBox::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(lParam) == Memo1.Handle()) {
        return Memo1.CtlColor(reinterpret_cast<HDC>(wParam));
    }
    if (msg == DM_GETDEFID) return MAKELRESULT(kBitBtn1Id, DC_HASDEFID);
    return Form::HandleMessage(msg, wParam, lParam);
}

}  // namespace zelvo
