// The tray icon: the record's bytes, minimizing into the tray, the
// double-click and right-button paths, one icon at a time, the removal on
// destruction, and the About box opened from the tray.
#include "About.h"
#include "Main.h"
#include "WindowTestSupport.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>

namespace zelvo {
namespace {

using test::FindThreadWindow;
using test::LoopGuard;
using test::TimedSteps;
using test::TrayIconExists;

// A field of the record read from its bytes at the offset the shell reads it.
template <typename T>
T FieldAt(std::size_t offset) {
    T value{};
    std::memcpy(&value, reinterpret_cast<const unsigned char*>(&TrayIconData) + offset, sizeof value);
    return value;
}

std::string TipBytes() { return std::string(TrayIconData.szTip, sizeof TrayIconData.szTip); }

class TrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        app.SetTitle(kApplicationTitle);
        form = std::make_unique<TMainForm>();
        form->Timer1.SetEnabled(false);
        app.SetMainForm(form.get());
    }
    void TearDown() override {
        app.Restore();
        form.reset();
    }

    bool IconShown() const { return TrayIconExists(form->Handle(), kTrayIconId); }
    void TrayEvent(UINT mouseEvent) {
        ::SendMessageA(form->Handle(), kTrayCallbackMessage, kTrayIconId, mouseEvent);
    }
    // In the tray: icon present, neither window nor task-bar button shown.
    bool InTray() const {
        return IconShown() && app.Minimized() && !form->Visible() && !::IsWindowVisible(app.Handle());
    }

    ui::Application& app = ui::Application::Instance();
    test::RecordingReporter reporter;
    ui::ScopedReporter scoped{reporter};
    std::unique_ptr<TMainForm> form;
};

TEST_F(TrayTest, MinimizingFillsTheRecordAndGoesIntoTheTray) {
    TrayIconData = ui::NotifyIconRecord{};
    app.ShowMainForm(SW_SHOWNORMAL);
    ASSERT_FALSE(IconShown());
    ::SendMessageA(form->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(InTray());

    // The first form of NOTIFYICONDATAA, field by field, at the shell's offsets
    // (88 bytes in the 32-bit program; a 64-bit test build has wider handles).
    EXPECT_EQ(sizeof TrayIconData, NOTIFYICONDATAA_V1_SIZE);
    if (sizeof(void*) == 4) {
        EXPECT_EQ(sizeof TrayIconData, 88u);
    }
    EXPECT_EQ(FieldAt<DWORD>(offsetof(NOTIFYICONDATAA, cbSize)), NOTIFYICONDATAA_V1_SIZE);
    EXPECT_EQ(FieldAt<HWND>(offsetof(NOTIFYICONDATAA, hWnd)), form->Handle());
    EXPECT_EQ(FieldAt<UINT>(offsetof(NOTIFYICONDATAA, uID)), 1000u);
    EXPECT_EQ(FieldAt<UINT>(offsetof(NOTIFYICONDATAA, uFlags)), 7u);
    EXPECT_EQ(FieldAt<UINT>(offsetof(NOTIFYICONDATAA, uCallbackMessage)), 2000u);
    EXPECT_EQ(FieldAt<HICON>(offsetof(NOTIFYICONDATAA, hIcon)), ui::ProgramIcon(ui::IconSize::Small));
    EXPECT_NE(FieldAt<HICON>(offsetof(NOTIFYICONDATAA, hIcon)), nullptr);
    // The title in GBK, zero-filled to 64 bytes.
    const std::string title = "Zelvo\xCE\xC4\xBC\xFE\xB1\xB8\xB7\xDD\xC8\xED\xBC\xFE";
    EXPECT_EQ(TipBytes(), title + std::string(64 - title.size(), '\0'));
}

TEST_F(TrayTest, TaskBarButtonAndCaptionShowTheProgramIcon) {
    const HICON large = ui::ProgramIcon(ui::IconSize::Large);
    const HICON small = ui::ProgramIcon(ui::IconSize::Small);
    // The executable's own icon at each size, not the system's stand-in.
    const int cx = ::GetSystemMetrics(SM_CXSMICON), cy = ::GetSystemMetrics(SM_CYSMICON);
    EXPECT_NE(small, ::LoadImageA(nullptr, IDI_APPLICATION, IMAGE_ICON, cx, cy, LR_SHARED));
    EXPECT_NE(small, ::LoadIconA(nullptr, IDI_APPLICATION));
    EXPECT_EQ(test::IconPixels(small).cx, cx);
    EXPECT_EQ(test::IconPixels(small).cy, cy);
    EXPECT_EQ(test::IconPixels(large).cx, ::GetSystemMetrics(SM_CXICON));
    EXPECT_EQ(ui::ProgramIcon(ui::IconSize::Small), small);
    // The task-bar button is the application window's, the caption the main window's.
    for (const HWND hwnd : {app.Handle(), form->Handle()}) {
        EXPECT_EQ(::GetClassLongPtrA(hwnd, GCLP_HICON), reinterpret_cast<LONG_PTR>(large));
        EXPECT_EQ(::GetClassLongPtrA(hwnd, GCLP_HICONSM), reinterpret_cast<LONG_PTR>(small));
    }
}

TEST_F(TrayTest, DoubleClickRemovesTheIconAndBringsTheWindowBackActive) {
    app.ShowMainForm(SW_SHOWNORMAL);
    ::SendMessageA(app.Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);  // the task-bar button's menu
    ASSERT_TRUE(InTray());
    const HICON icon = TrayIconData.hIcon;
    // The removal fills the record afresh, whatever it holds by then.
    TrayIconData.cbSize = 0;
    TrayIconData.uID = 0;
    TrayIconData.uFlags = 0;
    TrayIconData.uCallbackMessage = 0;

    TrayEvent(WM_LBUTTONDBLCLK);
    app.ProcessMessages();
    EXPECT_FALSE(IconShown());
    EXPECT_FALSE(app.Minimized());
    EXPECT_TRUE(::IsWindowVisible(app.Handle()));
    EXPECT_FALSE(::IsIconic(app.Handle()));
    EXPECT_TRUE(form->Visible());
    EXPECT_EQ(form->State(), ui::WindowState::Normal);
    EXPECT_EQ(::GetActiveWindow(), form->Handle());

    EXPECT_EQ(TrayIconData.cbSize, NOTIFYICONDATAA_V1_SIZE);
    EXPECT_EQ(TrayIconData.hWnd, form->Handle());
    EXPECT_EQ(TrayIconData.uID, 1000u);
    EXPECT_EQ(TrayIconData.uFlags, 7u);
    EXPECT_EQ(TrayIconData.uCallbackMessage, 2000u);
    EXPECT_EQ(TrayIconData.hIcon, icon);
    EXPECT_EQ(TipBytes(), std::string(64, '\0'));
}

TEST_F(TrayTest, MaximizedWindowComesBackMaximized) {
    app.ShowMainForm(SW_SHOWMAXIMIZED);
    ::SendMessageA(form->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(InTray());
    TrayEvent(WM_LBUTTONDBLCLK);
    EXPECT_TRUE(form->Visible());
    EXPECT_EQ(form->State(), ui::WindowState::Maximized);
    EXPECT_FALSE(IconShown());
}

TEST_F(TrayTest, StartsInTheMinimizedStateGoStraightIntoTheTray) {
    // As loading AutoRun = "1" leaves it, and as show command 7 asks.
    for (const bool byShowCommand : {false, true}) {
        SCOPED_TRACE(byShowCommand ? "show command 7" : "minimized state");
        if (!byShowCommand) form->SetState(ui::WindowState::Minimized);
        app.ShowMainForm(byShowCommand ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL);
        EXPECT_TRUE(InTray());
        TrayEvent(WM_LBUTTONDBLCLK);
        EXPECT_TRUE(form->Visible());
        EXPECT_EQ(form->State(), ui::WindowState::Normal);
        EXPECT_FALSE(IconShown());
        TearDown();
        SetUp();
    }
}

TEST_F(TrayTest, OneIconAtAnyTime) {
    app.ShowMainForm(SW_SHOWNORMAL);
    for (int round = 0; round < 2; ++round) {
        ::SendMessageA(form->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
        EXPECT_TRUE(InTray());
        // Other mouse events over the icon change nothing.
        for (UINT event : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONDBLCLK}) {
            TrayEvent(event);
        }
        EXPECT_TRUE(InTray());
        TrayEvent(WM_LBUTTONDBLCLK);
        EXPECT_FALSE(IconShown());
        EXPECT_TRUE(form->Visible());
    }
    // A second add for the same window and id is refused: one removal leaves none.
    app.Minimize();
    form->MinimizeToTray();
    EXPECT_TRUE(IconShown());
    TrayEvent(WM_LBUTTONDBLCLK);
    EXPECT_FALSE(IconShown());
}

// A restarted shell broadcasts "TaskbarCreated" with every icon gone: the
// program in the tray adds its icon again with the same record; a program on
// the screen has none to add.
TEST_F(TrayTest, TaskbarCreatedBringsTheIconBackOnlyInTheTray) {
    const UINT taskbarCreated = ::RegisterWindowMessageA("TaskbarCreated");
    ASSERT_NE(taskbarCreated, 0u);
    app.ShowMainForm(SW_SHOWNORMAL);
    ::SendMessageA(form->Handle(), taskbarCreated, 0, 0);
    EXPECT_FALSE(IconShown());

    ::SendMessageA(form->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(InTray());
    const ui::NotifyIconRecord before = TrayIconData;
    ui::NotifyIconRecord gone = TrayIconData;
    ui::NotifyIcon(NIM_DELETE, gone);  // what the shell's restart did
    ASSERT_FALSE(IconShown());
    ::SendMessageA(form->Handle(), taskbarCreated, 0, 0);
    EXPECT_TRUE(InTray());
    EXPECT_EQ(std::memcmp(&before, &TrayIconData, sizeof before), 0);

    TrayEvent(WM_LBUTTONDBLCLK);
    EXPECT_FALSE(IconShown());
    ::SendMessageA(form->Handle(), taskbarCreated, 0, 0);
    EXPECT_FALSE(IconShown());
}

// At log-on the shell may still be starting and refuse the icon; without it
// the program in the tray could never come back. It asks again, a few
// seconds apart, until the shell takes the icon.
TEST_F(TrayTest, ARefusedIconIsAskedForAgainUntilTheShellTakesIt) {
    bool refusing = true;
    ui::ScopedNotifyIconHook shell([&](DWORD message, ui::NotifyIconRecord& record) {
        return !refusing && ::Shell_NotifyIconA(message, reinterpret_cast<NOTIFYICONDATAA*>(&record)) != FALSE;
    });
    const auto retry = [&] { ::SendMessageA(form->Handle(), WM_TIMER, TMainForm::kTrayRetryTimerId, 0); };
    app.ShowMainForm(SW_SHOWNORMAL);
    ::SendMessageA(form->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(app.Minimized());
    EXPECT_FALSE(IconShown());
    EXPECT_TRUE(form->TrayRetryTimer.Enabled());
    retry();
    EXPECT_FALSE(IconShown());
    EXPECT_TRUE(form->TrayRetryTimer.Enabled());

    refusing = false;
    retry();
    EXPECT_TRUE(InTray());
    EXPECT_FALSE(form->TrayRetryTimer.Enabled());
    // An icon already there is no refusal: nothing to ask again for.
    form->MinimizeToTray();
    EXPECT_FALSE(form->TrayRetryTimer.Enabled());

    // Back on the screen before the shell took the icon: no more asking.
    TrayEvent(WM_LBUTTONDBLCLK);
    refusing = true;
    ::SendMessageA(form->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    app.Restore();
    retry();
    EXPECT_FALSE(form->TrayRetryTimer.Enabled());
    EXPECT_FALSE(IconShown());
}

TEST_F(TrayTest, DestructionRemovesTheIcon) {
    TrayIconData = ui::NotifyIconRecord{};
    form->FormDestroy();  // never filled: nothing to remove, and no harm
    app.ShowMainForm(SW_SHOWNORMAL);
    app.Minimize();
    ASSERT_TRUE(IconShown());
    form->FormDestroy();
    EXPECT_FALSE(IconShown());
}

TEST_F(TrayTest, RightButtonOpensThePopupMenuAtTheCursorAndNothingElse) {
    app.ShowMainForm(SW_SHOWNORMAL);
    app.Minimize();
    ::SetCursorPos(300, 200);
    POINT cursor{};
    ::GetCursorPos(&cursor);
    RECT menuRect{};
    bool menuOpen = false;
    bool inTrayMeanwhile = false;
    {
        LoopGuard guard(5000);
        TimedSteps steps(100, {[&] {
            const HWND menu = FindThreadWindow("#32768");
            menuOpen = menu != nullptr;
            if (menu) ::GetWindowRect(menu, &menuRect);
            inTrayMeanwhile = InTray();
            ::PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
        }});
        TrayEvent(WM_RBUTTONUP);
        EXPECT_TRUE(steps.Finished());
    }
    ASSERT_TRUE(menuOpen);
    EXPECT_EQ(menuRect.left, cursor.x);
    EXPECT_EQ(menuRect.top, cursor.y);
    EXPECT_TRUE(inTrayMeanwhile);
    app.ProcessMessages();
    EXPECT_TRUE(InTray());
    // Not brought to the foreground for the menu.
    EXPECT_NE(::GetForegroundWindow(), form->Handle());
    EXPECT_NE(::GetForegroundWindow(), app.Handle());
    EXPECT_TRUE(reporter.errors.empty());
}

TEST_F(TrayTest, AboutFromTheTrayShowsOverTheHiddenProgramAndRefusesASecondShowing) {
    TAboutBox about;
    app.ShowMainForm(SW_SHOWNORMAL);
    app.Minimize();
    bool aboutShown = false, inTrayMeanwhile = false;
    std::vector<std::string> errorsMeanwhile;
    LoopGuard guard(8000);
    TimedSteps steps(150, {
        // In the pop-up menu: its accelerator Y chooses 关于.
        [&] { ::PostMessageA(FindThreadWindow("#32768"), WM_CHAR, 'y', 0); },
        // In the About box's loop, while the program stays in the tray.
        [&] {
            aboutShown = about.Visible() && about.Modal();
            inTrayMeanwhile = InTray();
            ::SendMessageA(form->Handle(), WM_COMMAND, TMainForm::kNAboutId, 0);
            errorsMeanwhile = reporter.errors;
        },
        [&] { about.BitBtn1.Click(); },
    });
    TrayEvent(WM_RBUTTONUP);
    // The menu posted its command; the About box runs inside this loop.
    app.RunLoopUntil([&] { return (steps.Finished() && !about.Visible()) || guard.expired; });
    EXPECT_TRUE(aboutShown);
    EXPECT_TRUE(inTrayMeanwhile);
    EXPECT_EQ(errorsMeanwhile, (std::vector<std::string>{"Cannot make a visible window modal"}));
    EXPECT_EQ(about.ModalResult(), ui::kModalOk);
    EXPECT_TRUE(InTray());
}

}  // namespace
}  // namespace zelvo
