// The main window as built: layout (at the DPI the test runs at, and after
// a move to a monitor of another DPI), captions (GBK bytes), tab order,
// initial state, the picker rule, menus and the exit commands.
#include "Main.h"
#include "WindowTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace zelvo {
namespace {

using test::GrownFrom;
using test::Place;
using test::PlaceOf;
using test::RecordingReporter;
using test::Scaled;

// The controls of the main window at their places for a DPI; labels and
// check boxes may be wider where their captions need it.
void ExpectControlsInPlace(const TMainForm& form, UINT dpi) {
    EXPECT_TRUE(GrownFrom(PlaceOf(form.CheckBox1), Place{16, 16, 81, 17}, dpi));
    EXPECT_TRUE(GrownFrom(PlaceOf(form.CheckBox2), Place{16, 40, 81, 17}, dpi));
    EXPECT_TRUE(GrownFrom(PlaceOf(form.CheckBox3), Place{16, 66, 81, 17}, dpi));
    EXPECT_EQ(PlaceOf(form.DateTimePicker1), Scaled(Place{104, 16, 89, 20}, dpi));
    EXPECT_EQ(PlaceOf(form.DateTimePicker2), Scaled(Place{104, 40, 89, 20}, dpi));
    EXPECT_EQ(PlaceOf(form.DateTimePicker3), Scaled(Place{104, 64, 89, 20}, dpi));
    EXPECT_TRUE(GrownFrom(PlaceOf(form.Label2), Place{16, 24, 48, 12}, dpi));
    EXPECT_TRUE(GrownFrom(PlaceOf(form.Label3), Place{16, 48, 48, 12}, dpi));
    EXPECT_EQ(PlaceOf(form.SourceEdit), Scaled(Place{72, 20, 329, 20}, dpi));
    EXPECT_EQ(PlaceOf(form.DesEdit), Scaled(Place{72, 44, 329, 20}, dpi));
    EXPECT_TRUE(GrownFrom(PlaceOf(form.OverWriteCheckBox), Place{72, 73, 105, 17}, dpi));
    EXPECT_EQ(PlaceOf(form.SaveBitBtn), Scaled(Place{72, 104, 65, 25}, dpi));
    EXPECT_EQ(PlaceOf(form.CloseBitBtn), Scaled(Place{152, 104, 65, 25}, dpi));
    EXPECT_TRUE(GrownFrom(PlaceOf(form.AutoRunCheckBox), Place{288, 104, 97, 17}, dpi));

    // The pages on top, the status bar at the bottom, the panel between them.
    const SIZE client = form.ClientSize();
    const RECT pages = form.PageControl1.ParentRect();
    const RECT panel = form.Panel1.ParentRect();
    const RECT status = form.StatusBar1.ParentRect();
    EXPECT_EQ(pages.top, 0);
    EXPECT_EQ(pages.bottom, Scaled(121, dpi));
    EXPECT_EQ(panel.top, pages.bottom);
    EXPECT_EQ(panel.bottom, status.top);
    EXPECT_EQ(panel.right - panel.left, client.cx);
    EXPECT_EQ(status.bottom - status.top, Scaled(19, dpi));
    EXPECT_EQ(status.bottom, client.cy);
    int edges[4] = {};
    EXPECT_EQ(::SendMessageA(form.StatusBar1.Handle(), SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges)), 2);
    EXPECT_EQ(edges[0], Scaled(150, dpi));
    EXPECT_EQ(edges[1], Scaled(200, dpi));
}

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::Application::Instance().SetTitle(kApplicationTitle);
        form = std::make_unique<TMainForm>();
    }
    RecordingReporter reporter;
    ui::ScopedReporter scoped{reporter};
    std::unique_ptr<TMainForm> form;
};

TEST_F(MainFormTest, FrameCaptionAndPlaceOnScreen) {
    EXPECT_EQ(form->Text(), "Zelvo\xCE\xC4\xBC\xFE\xB1\xB8\xB7\xDD\xC8\xED\xBC\xFE");  // GBK bytes
    const RECT r = form->ParentRect();
    EXPECT_EQ(r.right - r.left, Scaled(428));
    EXPECT_EQ(r.bottom - r.top, Scaled(337));
    EXPECT_NEAR((r.left + r.right) / 2, ::GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((r.top + r.bottom) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2, 1);
    const LONG_PTR style = ::GetWindowLongPtrA(form->Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_THICKFRAME);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    // Owned by the application window, so it has no task-bar button of its own.
    EXPECT_EQ(::GetWindow(form->Handle(), GW_OWNER), ui::Application::Instance().Handle());
    EXPECT_FALSE(form->Visible());
    EXPECT_EQ(MainForm, form.get());
}

TEST_F(MainFormTest, OnlyTheDailyPageCanBeReached) {
    EXPECT_EQ(form->PageControl1.TabCount(), 1);
    EXPECT_EQ(form->PageControl1.TabCaption(0), "每天");
    EXPECT_EQ(form->PageControl1.ActivePage(), &form->DayTabSheet);
    EXPECT_EQ(form->TabSheet1.Caption(), "每周");
    EXPECT_EQ(form->TabSheet2.Caption(), "每月");
    EXPECT_FALSE(form->TabSheet1.TabVisible());
    EXPECT_FALSE(form->TabSheet1.Visible());
    EXPECT_FALSE(form->TabSheet2.Visible());
    EXPECT_TRUE(form->DayTabSheet.Visible());
}

TEST_F(MainFormTest, ControlsSitWhereTheyBelong) {
    EXPECT_EQ(form->CheckBox1.Text(), "备份时间一");
    EXPECT_EQ(form->CheckBox2.Text(), "备份时间二");
    EXPECT_EQ(form->CheckBox3.Text(), "备份时间三");
    EXPECT_EQ(::GetParent(form->CheckBox1.Handle()), form->DayTabSheet.Handle());
    EXPECT_TRUE(::GetWindowLongPtrA(form->DateTimePicker1.Handle(), GWL_STYLE) & DTS_TIMEFORMAT);
    EXPECT_EQ(form->Label2.Text(), "源 目 录");
    EXPECT_EQ(form->Label3.Text(), "目的目录");
    EXPECT_EQ(form->OverWriteCheckBox.Text(), "覆盖重名文件");
    EXPECT_EQ(form->SaveBitBtn.Text(), "保存设置");
    EXPECT_EQ(form->CloseBitBtn.Text(), "退 出");
    EXPECT_EQ(form->AutoRunCheckBox.Text(), "开机自动运行");
    ExpectControlsInPlace(*form, test::ScreenDpi());
    test::ExpectLaidOut(form->Handle());
}

// A move to a monitor of another DPI: the window takes the frame Windows
// suggests and lays itself out anew, fonts and icons included; back at 96
// DPI every place is the 96-DPI figure again.
TEST_F(MainFormTest, FollowsItsMonitorToAnotherDpi) {
    // At another DPI the system's own metrics (frames, check boxes) would
    // stay that DPI's while the window acts out another.
    if (test::ScreenDpi() != 96) GTEST_SKIP() << "acted out at 96 DPI";
    using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);
    const auto metricForDpi = reinterpret_cast<GetSystemMetricsForDpiFunction>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("user32.dll"), "GetSystemMetricsForDpi")));
    for (const UINT dpi : {144u, 120u, 192u, 96u}) {
        SCOPED_TRACE(testing::Message() << dpi << " DPI");
        const RECT suggested{40, 30, 40 + Scaled(428, dpi), 30 + Scaled(337, dpi)};
        ::SendMessageA(form->Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(PlaceOf(*form), (Place{40, 30, Scaled(428, dpi), Scaled(337, dpi)}));
        ExpectControlsInPlace(*form, dpi);
        test::ExpectLaidOut(form->Handle());
        for (const ui::Window* control : {static_cast<const ui::Window*>(&form->CheckBox1),
                                          static_cast<const ui::Window*>(&form->Label2),
                                          static_cast<const ui::Window*>(&form->StatusBar1)}) {
            LOGFONTA font{};
            ::GetObjectA(reinterpret_cast<HFONT>(::SendMessageA(control->Handle(), WM_GETFONT, 0, 0)), sizeof font,
                         &font);
            EXPECT_EQ(font.lfHeight, -Scaled(12, dpi));
        }
        if (!metricForDpi) continue;
        // The caption's icon: the small icon for the DPI. The tray's: the
        // small icon at the system's DPI, at which the notification area
        // draws whatever monitor the window is on.
        const auto icon = reinterpret_cast<HICON>(::SendMessageA(form->Handle(), WM_GETICON, ICON_SMALL, 0));
        EXPECT_EQ(test::IconPixels(icon).cx, metricForDpi(SM_CXSMICON, dpi));
        ui::NotifyIconRecord added{};
        {
            const ui::ScopedNotifyIconHook shell([&](DWORD message, ui::NotifyIconRecord& record) {
                if (message == NIM_ADD) added = record;
                return true;
            });
            form->MinimizeToTray();
        }
        EXPECT_EQ(test::IconPixels(added.hIcon).cx, ::GetSystemMetrics(SM_CXSMICON));
        EXPECT_EQ(test::IconPixels(added.hIcon).cy, ::GetSystemMetrics(SM_CYSMICON));
    }
    TrayIconData = ui::NotifyIconRecord{};
}

TEST_F(MainFormTest, EllipsisButtonsSitInsideTheEditsAndReportTheirClicks) {
    for (ui::EditWithButton* edit : {&form->SourceEdit, &form->DesEdit}) {
        const HWND button = edit->ButtonHandle();
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(::GetParent(button), edit->Handle());
        EXPECT_EQ(test::WindowText(button), "...");
        RECT client{}, inButton{};
        ::GetClientRect(edit->Handle(), &client);
        ::GetWindowRect(button, &inButton);
        ::MapWindowPoints(HWND_DESKTOP, edit->Handle(), reinterpret_cast<POINT*>(&inButton), 2);
        EXPECT_EQ(inButton.right, client.right);
        EXPECT_EQ(inButton.top, 0);
        // The text stops before the button.
        const LRESULT margins = ::SendMessageA(edit->Handle(), EM_GETMARGINS, 0, 0);
        EXPECT_GT(HIWORD(margins), inButton.right - inButton.left);
    }

    // A click reaches the form as the edit's notification, through the panel.
    // It stops here: the folder dialog it opens is tested with the shell tree.
    struct Probe : TMainForm {
        int sourceClicks = 0;
        void OnCommand(WORD id, WORD code, HWND control) override {
            if (id == kSourceEditId && code == ui::kEditButtonClicked) {
                ++sourceClicks;
                return;
            }
            TMainForm::OnCommand(id, code, control);
        }
    };
    form.reset();
    Probe probe;
    ::SendMessageA(probe.SourceEdit.ButtonHandle(), BM_CLICK, 0, 0);
    EXPECT_EQ(probe.sourceClicks, 1);
}

TEST_F(MainFormTest, TabOrderFollowsTheRowsThenThePanel) {
    // Rows switched off have their pickers disabled, which the cycle skips.
    for (ui::CheckBox* box : {&form->CheckBox1, &form->CheckBox2, &form->CheckBox3}) box->Click();
    const std::vector<HWND> expected = {
        form->CheckBox1.Handle(),         form->DateTimePicker1.Handle(), form->CheckBox2.Handle(),
        form->DateTimePicker2.Handle(),   form->CheckBox3.Handle(),       form->DateTimePicker3.Handle(),
        form->SourceEdit.Handle(),        form->DesEdit.Handle(),         form->OverWriteCheckBox.Handle(),
        form->SaveBitBtn.Handle(),        form->CloseBitBtn.Handle(),     form->AutoRunCheckBox.Handle(),
    };
    // Walk the form's tab cycle once and keep the controls above.
    std::vector<HWND> seen;
    HWND first = ::GetNextDlgTabItem(form->Handle(), nullptr, FALSE);
    ASSERT_NE(first, nullptr);
    HWND at = first;
    for (int guard = 0; guard < 40; ++guard) {
        if (std::find(expected.begin(), expected.end(), at) != expected.end()) seen.push_back(at);
        at = ::GetNextDlgTabItem(form->Handle(), at, FALSE);
        if (at == first) break;
    }
    // The cycle may start anywhere; rotate it to start at CheckBox1.
    const auto start = std::find(seen.begin(), seen.end(), expected.front());
    ASSERT_NE(start, seen.end());
    std::rotate(seen.begin(), start, seen.end());
    EXPECT_EQ(seen, expected);
    // The ellipsis buttons are no tab stops of their own.
    EXPECT_FALSE(::GetWindowLongPtrA(form->SourceEdit.ButtonHandle(), GWL_STYLE) & WS_TABSTOP);
}

// No SetFile.ini beside the test executable: the defaults, every row off at
// the time of loading.
TEST_F(MainFormTest, StateAfterLoadingWithoutASettingsFile) {
    test::ScriptedClock clock;
    clock.Set({test::At(9, 3, 5)});
    form.reset();
    form = std::make_unique<TMainForm>(clock.AsClock());
    EXPECT_EQ(form->SourceEdit.Text(), "d:\\源目录");
    EXPECT_EQ(form->DesEdit.Text(), "d:\\目的目录");
    for (const ui::CheckBox* box : {&form->CheckBox1, &form->CheckBox2, &form->CheckBox3,
                                    &form->OverWriteCheckBox, &form->AutoRunCheckBox}) {
        EXPECT_FALSE(box->Checked());
    }
    for (const ui::TimePicker* picker : {&form->DateTimePicker1, &form->DateTimePicker2, &form->DateTimePicker3}) {
        EXPECT_FALSE(picker->Enabled());
        EXPECT_EQ(FormatDateTime(kTimeFormat, picker->Value(), FormatSettings()), "09:03:05");
    }
    EXPECT_EQ(form->State(), ui::WindowState::Normal);
    EXPECT_TRUE(reporter.errors.empty());
    EXPECT_TRUE(form->Timer1.Enabled());
    EXPECT_EQ(form->Timer1.Interval(), 1000u);
    // AppPath is the directory of the running executable, with the separator.
    char exe[MAX_PATH];
    ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    EXPECT_EQ(std::string(exe).rfind(form->AppPath, 0), 0u);
    EXPECT_EQ(form->AppPath.back(), '\\');
    EXPECT_EQ(std::string(exe).find('\\', form->AppPath.size()), std::string::npos);
}

TEST_F(MainFormTest, CheckBoxClickEnablesItsRowPickerExactlyWhenChecked) {
    form->DateTimePicker1.SetEnabled(true);  // all rows start disabled: unchecked
    form->CheckBox2.Click();
    EXPECT_TRUE(form->CheckBox2.Checked());
    EXPECT_TRUE(form->DateTimePicker2.Enabled());
    form->CheckBox2.Click();
    EXPECT_FALSE(form->CheckBox2.Checked());
    EXPECT_FALSE(form->DateTimePicker2.Enabled());
    // Other rows are untouched.
    EXPECT_TRUE(form->DateTimePicker1.Enabled());
    EXPECT_FALSE(form->DateTimePicker3.Enabled());
    form->CheckBox2.Click();
    EXPECT_TRUE(form->DateTimePicker2.Enabled());
    form->CheckBox3.Click();
    EXPECT_TRUE(form->DateTimePicker3.Enabled());
    form->CheckBox3.Click();
    EXPECT_FALSE(form->DateTimePicker3.Enabled());
}

TEST_F(MainFormTest, StatusBarHasTwoPanelsAndShowsTheClock) {
    ui::Application::Instance().SetTitle(kApplicationTitle);
    test::ScriptedClock clock;
    clock.Set({test::At(9, 3, 5)});
    form.reset();
    form = std::make_unique<TMainForm>(clock.AsClock());
    EXPECT_EQ(form->StatusBar1.PanelText(0), "2026-12-07 09:03:05");
    EXPECT_EQ(form->StatusBar1.PanelText(1), "");

    clock.Set({test::At(23, 59, 59)});
    form->Timer1Timer();
    EXPECT_EQ(form->StatusBar1.PanelText(0), "2026-12-07 23:59:59");
}

TEST_F(MainFormTest, MenusCarryTheirCaptionsAndCommands) {
    const HMENU bar = ::GetMenu(form->Handle());
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(::GetMenuItemCount(bar), 1);
    char text[64] = {};
    ::GetMenuStringA(bar, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "系统");
    const HMENU system = ::GetSubMenu(bar, 0);
    ASSERT_EQ(::GetMenuItemCount(system), 2);
    ::GetMenuStringA(system, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "关于");
    ::GetMenuStringA(system, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "退出");
    EXPECT_EQ(::GetMenuItemID(system, 0), TMainForm::kN4Id);
    EXPECT_EQ(::GetMenuItemID(system, 1), TMainForm::kNCloseId);

    ASSERT_EQ(form->PopupMenu1.ItemCount(), 2);
    const bool dbcs = ::GetSystemMetrics(SM_DBCSENABLED) != 0;
    EXPECT_EQ(form->PopupMenu1.ItemCaption(0), dbcs ? "关于(&Y)" : "关于");
    EXPECT_EQ(form->PopupMenu1.ItemCaption(1), dbcs ? "退出(&Z)" : "退出");
    EXPECT_EQ(form->PopupMenu1.ItemId(0), TMainForm::kNAboutId);
    EXPECT_EQ(form->PopupMenu1.ItemId(1), TMainForm::kN1Id);
}

// Every exit command closes the main window, which ends the message loop.
TEST_F(MainFormTest, EveryExitCommandEndsTheLoop) {
    ui::Application& app = ui::Application::Instance();
    app.SetMainForm(form.get());
    const auto endsLoop = [&](const std::function<void()>& command) {
        form->Show();
        command();
        EXPECT_FALSE(form->Visible());
        // WM_QUIT is waiting now; the loop stops at it.
        return !app.ProcessMessages() && [] {
            MSG msg;
            return ::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
        }();
    };
    EXPECT_TRUE(endsLoop([&] { form->CloseBitBtn.Click(); }));
    EXPECT_TRUE(endsLoop([&] { ::SendMessageA(form->Handle(), WM_COMMAND, TMainForm::kNCloseId, 0); }));
    EXPECT_TRUE(endsLoop([&] { ::SendMessageA(form->Handle(), WM_COMMAND, TMainForm::kN1Id, 0); }));
    EXPECT_TRUE(endsLoop([&] { ::SendMessageA(form->Handle(), WM_CLOSE, 0, 0); }));
    app.SetMainForm(nullptr);
}

TEST_F(MainFormTest, SettingsStateRoundTripsThroughTheControls) {
    SettingsState state;
    state.sourceDir = "d:\\源目录";
    state.destinationDir = "\\\\pc\\share\\目的";
    state.overwrite = true;
    state.autoRun = true;
    state.slots[1].checked = true;
    state.slots[1].pickerEnabled = true;
    state.slots[1].time = EncodeTime(7, 5, 9);
    state.slots[2].pickerEnabled = false;
    form->ApplySettings(state);
    const SettingsState back = form->ReadSettings();
    EXPECT_EQ(back.sourceDir, state.sourceDir);
    EXPECT_EQ(back.destinationDir, state.destinationDir);
    EXPECT_TRUE(back.overwrite);
    EXPECT_TRUE(back.autoRun);
    EXPECT_FALSE(back.startMinimized);
    EXPECT_FALSE(back.slots[0].checked);
    EXPECT_TRUE(back.slots[1].checked);
    EXPECT_EQ(FormatDateTime(kTimeFormat, back.slots[1].time, FormatSettings()), "07:05:09");
    EXPECT_FALSE(back.slots[2].pickerEnabled);

    state.startMinimized = true;
    form->ApplySettings(state);
    EXPECT_EQ(form->State(), ui::WindowState::Minimized);
}

}  // namespace
}  // namespace zelvo
