// The About box: frame, layout and texts (GBK bytes), the self-sizing
// labels, the product line at every showing, the link labels' hover colours
// and clicks, and the keys.
#include "About.h"
#include "WindowTestSupport.h"
#include "platform/ShellOpen.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <memory>

namespace zelvo {
namespace {

using test::LoopGuard;
using test::Place;
using test::PlaceOf;
using test::Scaled;
using test::TimedSteps;

// Where a label of the box sits (given at 96 DPI) and how large its caption
// is in its font.
Place TextPlace(const ui::Window& w, POINT at) {
    const SIZE size = ui::MeasureText(w.Handle(), w.Font(), w.Text(), DT_SINGLELINE);
    return Place{Scaled(at.x), Scaled(at.y), size.cx, size.cy};
}

class AboutBoxTest : public ::testing::Test {
protected:
    void SetUp() override { box = std::make_unique<TAboutBox>(); }

    // Shows the box modally and runs the steps inside its loop, 100 ms apart.
    int ShowWith(std::vector<std::function<void()>> steps) {
        LoopGuard guard(5000);
        TimedSteps timed(100, std::move(steps));
        const int result = box->ShowModal();
        EXPECT_TRUE(timed.Finished());
        return result;
    }

    test::RecordingReporter reporter;
    ui::ScopedReporter scoped{reporter};
    std::unique_ptr<TAboutBox> box;
};

TEST_F(AboutBoxTest, DialogFrameCentredWithItsClientSize) {
    EXPECT_EQ(AboutBox, box.get());
    EXPECT_EQ(box->Text(), "\xB9\xD8\xD3\xDA");  // 关于 in GBK
    // Wider only where the description would not fit (Wine's 宋体 at 120 DPI).
    const SIZE client = box->ClientSize();
    EXPECT_TRUE(test::GrownFrom(Place{0, 0, client.cx, client.cy}, Place{0, 0, 363, 272}));
    EXPECT_EQ(client.cy, Scaled(272));
    const LONG_PTR style = ::GetWindowLongPtrA(box->Handle(), GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(::GetWindowLongPtrA(box->Handle(), GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
    const RECT r = box->ParentRect();
    EXPECT_NEAR((r.left + r.right) / 2, ::GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((r.top + r.bottom) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2, 1);
    EXPECT_FALSE(box->Visible());
}

TEST_F(AboutBoxTest, ControlsSitWhereTheyBelong) {
    // The text and the panel grow alike where they must, and the button keeps to their right edge.
    EXPECT_TRUE(test::GrownFrom(PlaceOf(box->Memo1), Place{8, 8, 345, 124}));
    const int grown = PlaceOf(box->Memo1).width - Scaled(Place{8, 8, 345, 124}).width;
    EXPECT_EQ(PlaceOf(box->Memo1).height, Scaled(Place{8, 8, 345, 124}).height);
    Place panel = Scaled(Place{9, 139, 344, 97});
    panel.width += grown;
    EXPECT_EQ(PlaceOf(box->Panel1), panel);
    EXPECT_EQ(PlaceOf(box->Image2), Scaled(Place{11, 9, 94, 80}));
    EXPECT_EQ(::GetParent(box->Image2.Handle()), box->Panel1.Handle());
    EXPECT_EQ(box->Image2.PictureSize().cx, 91);
    EXPECT_EQ(box->Image2.PictureSize().cy, 76);
    Place button = Scaled(Place{296, 241, 57, 25});
    button.left += grown;
    EXPECT_EQ(PlaceOf(box->BitBtn1), button);
    EXPECT_EQ(box->BitBtn1.Text(), "\xC8\xB7\xB6\xA8");  // 确定
    EXPECT_EQ(::GetWindowLongPtrA(box->BitBtn1.Handle(), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);

    // The labels size themselves to their captions, on one line.
    EXPECT_EQ(box->ProductName.Text(), "\xB2\xFA\xC6\xB7\xC3\xFB\xB3\xC6:");  // 产品名称:
    EXPECT_EQ(box->WebLabel.Text(), "网    址:");
    EXPECT_EQ(box->E_MailLabel1.Text(), "E_Mail:");
    EXPECT_EQ(box->WWWLabel.Text(), ZELVO_WEB_ADDRESS);
    EXPECT_EQ(box->E_MailLabel.Text(), ZELVO_MAIL_ADDRESS);
    EXPECT_EQ(box->Copyright.Text(), ZELVO_COPYRIGHT);
    EXPECT_EQ(PlaceOf(box->ProductName), TextPlace(box->ProductName, {120, 16}));
    EXPECT_EQ(PlaceOf(box->Copyright), TextPlace(box->Copyright, {120, 36}));
    EXPECT_EQ(PlaceOf(box->WebLabel), TextPlace(box->WebLabel, {120, 55}));
    EXPECT_EQ(PlaceOf(box->WWWLabel), TextPlace(box->WWWLabel, {181, 55}));
    EXPECT_EQ(PlaceOf(box->E_MailLabel1), TextPlace(box->E_MailLabel1, {120, 75}));
    EXPECT_EQ(PlaceOf(box->E_MailLabel), TextPlace(box->E_MailLabel, {181, 75}));
    // Every caption fits inside the panel's bevels, in the font at hand and
    // in 宋体's cells of 6 pixels per GBK byte at 96 DPI, scaled.
    const int inside = box->Panel1.ClientSize().cx - Scaled(2);
    const int cell = Scaled(6);
    for (const ui::Window* label : {static_cast<const ui::Window*>(&box->ProductName),
                                    static_cast<const ui::Window*>(&box->Copyright),
                                    static_cast<const ui::Window*>(&box->WWWLabel),
                                    static_cast<const ui::Window*>(&box->E_MailLabel)}) {
        const RECT r = label->ParentRect();
        EXPECT_LE(r.right, inside) << label->Text();
        EXPECT_LE(r.left + cell * static_cast<int>(label->Text().size()), inside) << label->Text();
    }
    const std::string productLine = TAboutBox::kProductNameCaption + TAboutBox::ProductLine();
    EXPECT_LE(Scaled(120) + cell * static_cast<int>(productLine.size()), inside);
}

TEST_F(AboutBoxTest, DescriptionIsAReadOnlyWrappingTextOnSilver) {
    const std::vector<std::string>& lines = TAboutBox::DescriptionLines();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "                   \xC8\xED\xBC\xFE\xCB\xB5\xC3\xF7");  // 软件说明
    EXPECT_EQ(lines[1], "    本软件用途：每天在指定时间（最多可设置3个自动备份时");
    EXPECT_EQ(lines[2], "间），自动将[源目录]中的文件复制到[目的目录]中。");
    EXPECT_EQ(lines[3], "    局域网之间的电脑备份时，目录格式为：");
    EXPECT_EQ(lines[4], "    \\\\电脑名\\共享目录名。");
    EXPECT_EQ(lines[5], "    如[目的目录]不存在，本软件可自动建立。");
    EXPECT_EQ(lines[6], "    本软件当前版本不支持子目录备份。");
    // Our own lines are no wider than the longest given one, in 宋体's cells.
    EXPECT_LE(lines[7].size(), lines[1].size());
    EXPECT_LE(lines[8].size(), lines[1].size());
    std::string joined;
    for (const std::string& line : lines) joined += (joined.empty() ? "" : "\r\n") + line;
    EXPECT_EQ(box->Memo1.Text(), joined);

    const LONG_PTR style = ::GetWindowLongPtrA(box->Memo1.Handle(), GWL_STYLE);
    EXPECT_TRUE(style & ES_MULTILINE);
    EXPECT_TRUE(style & ES_READONLY);
    EXPECT_FALSE(style & (ES_AUTOHSCROLL | WS_HSCROLL | WS_VSCROLL));
    // Each line fits the memo's width, so the wrapping leaves the lines as they are.
    EXPECT_EQ(::SendMessageA(box->Memo1.Handle(), EM_GETLINECOUNT, 0, 0), 9);

    // The form paints the memo silver.
    ui::WindowDC dc(box->Memo1.Handle());
    const auto brush = reinterpret_cast<HBRUSH>(::SendMessageA(
        box->Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.Get()),
        reinterpret_cast<LPARAM>(box->Memo1.Handle())));
    LOGBRUSH info{};
    ASSERT_TRUE(::GetObjectA(brush, sizeof info, &info));
    EXPECT_EQ(info.lbColor, RGB(192, 192, 192));
    EXPECT_EQ(::GetBkColor(dc.Get()), RGB(192, 192, 192));
}

TEST_F(AboutBoxTest, ProductLineIsTheSameAtEveryShowing) {
    const std::string expected = "产品名称: Zelvo文件备份软件 V1.0";
    std::vector<std::string> seen;
    std::vector<bool> sized;
    const auto look = [&] {
        seen.push_back(box->ProductName.Text());
        sized.push_back(PlaceOf(box->ProductName) == TextPlace(box->ProductName, {120, 16}));
        box->BitBtn1.Click();
    };
    EXPECT_EQ(ShowWith({look}), ui::kModalOk);
    EXPECT_EQ(ShowWith({look}), ui::kModalOk);
    EXPECT_EQ(seen, (std::vector<std::string>{expected, expected}));
    EXPECT_EQ(sized, (std::vector<bool>{true, true}));
}

TEST_F(AboutBoxTest, LinkLabelsTurnBlueAndUnderlinedWhileHovered) {
    const ui::TextColor windowText = ui::TextColor::System(COLOR_WINDOWTEXT);
    const ui::TextColor blue = ui::TextColor::Rgb(RGB(0, 0, 255));
    EXPECT_EQ(box->WWWLabel.Color(), ui::TextColor::Rgb(RGB(0, 0, 0)));
    EXPECT_EQ(box->E_MailLabel.Color(), windowText);
    EXPECT_FALSE(box->WWWLabel.Underlined());
    EXPECT_FALSE(box->E_MailLabel.Underlined());

    for (ui::LinkLabel* link : {&box->WWWLabel, &box->E_MailLabel}) {
        ui::LinkLabel* other = link == &box->WWWLabel ? &box->E_MailLabel : &box->WWWLabel;
        const ui::TextColor otherBefore = other->Color();
        ::SendMessageA(link->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
        EXPECT_EQ(link->Color(), blue);
        EXPECT_TRUE(link->Underlined());
        EXPECT_EQ(other->Color(), otherBefore);
        EXPECT_FALSE(other->Underlined());
        ::SendMessageA(link->Handle(), WM_MOUSELEAVE, 0, 0);
        EXPECT_EQ(link->Color(), windowText);
        EXPECT_FALSE(link->Underlined());
        // And again: the leave is asked for anew after each one.
        ::SendMessageA(link->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
        EXPECT_EQ(link->Color(), blue);
        ::SendMessageA(link->Handle(), WM_MOUSELEAVE, 0, 0);
        EXPECT_EQ(link->Color(), windowText);
    }
}

TEST_F(AboutBoxTest, OnlyTheLinkLabelsShowTheHandCursor) {
    const HCURSOR hand = ::LoadCursorA(nullptr, IDC_HAND);
    for (const ui::Window* label : {static_cast<const ui::Window*>(&box->WWWLabel),
                                    static_cast<const ui::Window*>(&box->E_MailLabel)}) {
        ::SetCursor(nullptr);
        ::SendMessageA(label->Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(label->Handle()),
                       MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        EXPECT_EQ(::GetCursor(), hand);
    }
    for (const ui::Window* label : {static_cast<const ui::Window*>(&box->WebLabel),
                                    static_cast<const ui::Window*>(&box->ProductName),
                                    static_cast<const ui::Window*>(&box->Memo1)}) {
        ::SetCursor(nullptr);
        ::SendMessageA(label->Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(label->Handle()),
                       MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        EXPECT_NE(::GetCursor(), hand);
    }
}

TEST_F(AboutBoxTest, ClicksOpenTheWebAndMailAddresses) {
    std::vector<std::pair<HWND, std::string>> opened;
    ui::ScopedLinkOpener recorder([&](HWND owner, const std::string& target) {
        opened.emplace_back(owner, target);
    });
    const auto click = [](const ui::Window& label, LPARAM upAt) {
        ::SendMessageA(label.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        ::SendMessageA(label.Handle(), WM_LBUTTONUP, 0, upAt);
    };
    click(box->WWWLabel, MAKELPARAM(2, 2));
    click(box->E_MailLabel, MAKELPARAM(2, 2));
    // Released away from the label: no click.
    click(box->WWWLabel, MAKELPARAM(2, 500));
    using Opened = std::vector<std::pair<HWND, std::string>>;
    EXPECT_EQ(opened, (Opened{{box->Handle(), "http://zelvo.example.com"},
                              {box->Handle(), "mailto:support@zelvo.example.com"}}));
}

TEST_F(AboutBoxTest, EnterPressesOkWhileEscapeDoesNothing) {
    bool openAfterEscape = false, openAfterMemoEscape = false;
    const auto key = [](WPARAM vk) { ::PostMessageA(::GetFocus(), WM_KEYDOWN, vk, 0); };
    EXPECT_EQ(ShowWith({
                  [&] { key(VK_ESCAPE); },
                  [&] {
                      openAfterEscape = box->Visible() && box->ModalResult() == ui::kModalNone;
                      ::SetFocus(box->Memo1.Handle());
                      key(VK_ESCAPE);
                  },
                  [&] {
                      openAfterMemoEscape = box->Visible() && box->ModalResult() == ui::kModalNone;
                      key(VK_RETURN);  // from inside the text
                  },
              }),
              ui::kModalOk);
    EXPECT_TRUE(openAfterEscape);
    EXPECT_TRUE(openAfterMemoEscape);

    // The button has the focus when the box appears.
    HWND focus = nullptr;
    EXPECT_EQ(ShowWith({[&] {
                  focus = ::GetFocus();
                  key(VK_RETURN);
              }}),
              ui::kModalOk);
    EXPECT_EQ(focus, box->BitBtn1.Handle());
    // The close box ends the showing too.
    EXPECT_EQ(ShowWith({[&] { ::PostMessageA(box->Handle(), WM_CLOSE, 0, 0); }}), ui::kModalCancel);
}

}  // namespace
}  // namespace zelvo
