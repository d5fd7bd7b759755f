// The window layer: the dispatcher's catch, modal showing, the real error and
// information boxes, the application's minimize and restore, common controls
// 6, the progress bar's wrap, and the backup dialog.
#include "Backup.h"
#include "Main.h"
#include "WindowTestSupport.h"
#include "core/Failure.h"
#include "platform/CommonControls.h"
#include "platform/InformationBox.h"
#include "platform/SystemLibrary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace zelvo {
namespace {

using test::FindThreadWindow;
using test::ReadFileBytes;
using test::ScratchDir;
using test::SoonAction;
using test::WindowText;
using test::WriteFileBytes;

constexpr WORD kThrowFailure = 1, kThrowSilent = 2, kThrowOther = 3, kShowOtherModal = 4;

class TestForm : public ui::Form {
public:
    explicit TestForm(const char* caption = "test") : Timer1(*this, 1, 10) {
        ui::FormLayout layout;
        layout.size = SIZE{200, 100};
        CreateForm("TTestForm", caption, layout);
    }
    ~TestForm() override { DestroyHandle(); }

    ui::Timer Timer1;
    int ticks = 0;
    std::function<void()> onTick;
    TestForm* other = nullptr;
    std::vector<WORD> commands;
    bool failsLayout = false;  // as a form out of memory for its new font

protected:
    void OnDpiChanged() override {
        if (failsLayout) throw std::bad_alloc();
    }
    void OnCommand(WORD id, WORD, HWND) override {
        commands.push_back(id);
        if (id == kThrowFailure) throw Failure("Stream read error");
        if (id == kThrowSilent) throw ui::SilentAbort();
        if (id == kThrowOther) throw 42;
        if (id == kShowOtherModal) other->ShowModal();
    }
    void OnTimer(UINT_PTR) override {
        ++ticks;
        if (onTick) onTick();
    }
};

class WindowLayerTest : public ::testing::Test {
protected:
    void SetUp() override { ui::Application::Instance().SetTitle(kApplicationTitle); }
    test::RecordingReporter reporter;
};

TEST_F(WindowLayerTest, DispatcherReportsFailuresAndCarriesOn) {
    ui::ScopedReporter scoped(reporter);
    TestForm form;
    ::SendMessageA(form.Handle(), WM_COMMAND, kThrowFailure, 0);
    ::SendMessageA(form.Handle(), WM_COMMAND, kThrowSilent, 0);
    ::SendMessageA(form.Handle(), WM_COMMAND, kThrowOther, 0);
    EXPECT_EQ(reporter.errors, (std::vector<std::string>{"Stream read error", "Unknown failure"}));
    // The window is still alive and answering.
    EXPECT_TRUE(::IsWindow(form.Handle()));
    EXPECT_EQ(WindowText(form.Handle()), "test");
}

TEST_F(WindowLayerTest, VisibleWindowCannotBeShownModally) {
    ui::ScopedReporter scoped(reporter);
    TestForm form;
    form.Show();
    try {
        form.ShowModal();
        ADD_FAILURE() << "no failure";
    } catch (const Failure& e) {
        EXPECT_STREQ(e.what(), "Cannot make a visible window modal");
    }
    // From an event handler, the failure goes to the uniform error box.
    TestForm caller;
    caller.other = &form;
    ::SendMessageA(caller.Handle(), WM_COMMAND, kShowOtherModal, 0);
    EXPECT_EQ(reporter.errors, (std::vector<std::string>{"Cannot make a visible window modal"}));
    EXPECT_TRUE(form.Visible());
    EXPECT_FALSE(form.Modal());
}

TEST_F(WindowLayerTest, ModalShowingRunsTimersAndDisablesTheOtherWindows) {
    TestForm owner("owner");
    owner.Show();
    TestForm dialog("dialog");
    bool ownerDisabled = false;
    dialog.onTick = [&] {
        ownerDisabled = !owner.Enabled();
        if (dialog.ticks == 3) dialog.Close();
    };
    dialog.Timer1.SetEnabled(true);
    EXPECT_EQ(dialog.ShowModal(), ui::kModalCancel);
    EXPECT_EQ(dialog.ticks, 3);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(owner.Enabled());
    EXPECT_FALSE(dialog.Visible());
    EXPECT_FALSE(dialog.Modal());

    // A modal result set by a handler ends the showing with that result.
    dialog.onTick = [&] { dialog.SetModalResult(ui::kModalOk); };
    EXPECT_EQ(dialog.ShowModal(), ui::kModalOk);
}

TEST_F(WindowLayerTest, ErrorBoxIsThePlatformBoxWithTitleAndFullStop) {
    TestForm owner;
    owner.Show();
    struct Seen {
        std::string caption, text;
        bool icon = false, ownerDisabled = false;
    } seen;
    SoonAction answer(50, [&] {
        const HWND box = FindThreadWindow("#32770");
        ASSERT_NE(box, nullptr);
        seen.caption = WindowText(box);
        seen.ownerDisabled = !owner.Enabled();
        for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
            char cls[32] = {};
            ::GetClassNameA(child, cls, sizeof cls);
            if (std::string(cls) != "Static") continue;
            if ((::GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                seen.icon = true;
            } else if (!WindowText(child).empty()) {
                seen.text = WindowText(child);
            }
        }
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    ui::SystemReporter().ShowError("目录");
    ASSERT_TRUE(answer.Fired());
    EXPECT_EQ(seen.caption, kApplicationTitle);
    EXPECT_EQ(seen.text, "目录.");
    EXPECT_TRUE(seen.icon);
    EXPECT_TRUE(seen.ownerDisabled);
    EXPECT_TRUE(owner.Enabled());
}

void ExpectInformationBoxClosesBy(WPARAM key) {
    const std::string text = "目录[c:\\没有]不存在!";
    struct Seen {
        std::string caption, label, button;
        bool isDefault = false, centred = false, fits = false, messageFont = false, icon = false;
    } seen;
    SoonAction answer(50, [&] {
        const HWND box = FindThreadWindow(ui::InformationBox::kClassName);
        ASSERT_NE(box, nullptr);
        seen.caption = WindowText(box);
        const HWND label = ::GetDlgItem(box, ui::InformationBox::kTextId);
        const HWND button = ::GetDlgItem(box, IDOK);
        const HWND icon = ::GetDlgItem(box, ui::InformationBox::kIconId);
        seen.label = WindowText(label);
        seen.button = WindowText(button);
        seen.isDefault = (::GetWindowLongPtrA(button, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON;
        seen.icon = icon && ::SendMessageA(icon, STM_GETICON, 0, 0) != 0;
        RECT r{};
        ::GetWindowRect(box, &r);
        seen.centred = std::abs((r.left + r.right) / 2 - ::GetSystemMetrics(SM_CXSCREEN) / 2) <= 1 &&
                       std::abs((r.top + r.bottom) / 2 - ::GetSystemMetrics(SM_CYSCREEN) / 2) <= 1;
        RECT client{}, labelRect{}, buttonRect{};
        ::GetClientRect(box, &client);
        ::GetWindowRect(label, &labelRect);
        ::GetWindowRect(button, &buttonRect);
        ::MapWindowPoints(HWND_DESKTOP, box, reinterpret_cast<POINT*>(&labelRect), 2);
        ::MapWindowPoints(HWND_DESKTOP, box, reinterpret_cast<POINT*>(&buttonRect), 2);
        // Sized to the text: the whole text fits on one line, with margins but no waste.
        const HFONT font = reinterpret_cast<HFONT>(::SendMessageA(label, WM_GETFONT, 0, 0));
        const SIZE needed = ui::MeasureText(label, font, text);
        seen.fits = labelRect.right - labelRect.left >= needed.cx && labelRect.right < client.right &&
                    client.right - labelRect.right < test::Scaled(40) && buttonRect.top >= labelRect.bottom &&
                    buttonRect.bottom < client.bottom;
        LOGFONTA used{};
        ::GetObjectA(font, sizeof used, &used);
        NONCLIENTMETRICSA metrics{};
        metrics.cbSize = offsetof(NONCLIENTMETRICSA, iPaddedBorderWidth);
        ::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0);
        seen.messageFont = used.lfHeight == metrics.lfMessageFont.lfHeight &&
                           std::string(used.lfFaceName) == metrics.lfMessageFont.lfFaceName;
        ::PostMessageA(button, WM_KEYDOWN, key, 0);
    });
    ui::SystemReporter().ShowInformation(text);
    ASSERT_TRUE(answer.Fired());
    EXPECT_EQ(seen.caption, "Information");
    EXPECT_EQ(seen.label, text);
    EXPECT_EQ(seen.button, "确定");
    EXPECT_TRUE(seen.isDefault);
    EXPECT_TRUE(seen.icon);
    EXPECT_TRUE(seen.centred);
    EXPECT_TRUE(seen.fits);
    EXPECT_TRUE(seen.messageFont);
    EXPECT_EQ(FindThreadWindow(ui::InformationBox::kClassName), nullptr);
}

TEST_F(WindowLayerTest, InformationBoxClosesWithEnter) { ExpectInformationBoxClosesBy(VK_RETURN); }

TEST_F(WindowLayerTest, InformationBoxClosesWithEscape) { ExpectInformationBoxClosesBy(VK_ESCAPE); }

class ApplicationTest : public WindowLayerTest {
protected:
    void SetUp() override {
        WindowLayerTest::SetUp();
        form = std::make_unique<TMainForm>();
        form->Timer1.SetEnabled(false);
        app.SetMainForm(form.get());
        app.OnMinimize = [this] { ++minimizings; };
    }
    void TearDown() override {
        app.Restore();
        app.OnMinimize = nullptr;
        form.reset();
    }
    ui::Application& app = ui::Application::Instance();
    std::unique_ptr<TMainForm> form;
    int minimizings = 0;
};

TEST_F(ApplicationTest, MinimizeTakesTheWindowsAwayAndRestoreBringsThemBack) {
    app.ShowMainForm(SW_SHOWNORMAL);
    ASSERT_TRUE(form->Visible());
    ::SendMessageA(form->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(app.Minimized());
    EXPECT_FALSE(form->Visible());
    EXPECT_TRUE(::IsIconic(app.Handle()));
    EXPECT_TRUE(::IsWindowVisible(app.Handle()));  // the task-bar button stays
    EXPECT_EQ(minimizings, 1);
    app.Minimize();  // already minimized: the handler does not run again
    EXPECT_EQ(minimizings, 1);

    ::SendMessageA(app.Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_FALSE(app.Minimized());
    EXPECT_TRUE(form->Visible());
    EXPECT_FALSE(::IsIconic(app.Handle()));
    EXPECT_EQ(form->State(), ui::WindowState::Normal);

    // The task-bar button's window menu minimizes as well.
    ::SendMessageA(app.Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_EQ(minimizings, 2);
    EXPECT_FALSE(form->Visible());
}

// Plays what a run's look at its queue delivers: `delivered` runs inside
// the look, before the platform's own PeekMessage.
class LookDelivers {
public:
    explicit LookDelivers(std::function<void()> delivered) : previous_(std::exchange(ui::PeekMessageCall, &Peek)) {
        delivered_ = std::move(delivered);
    }
    ~LookDelivers() {
        ui::PeekMessageCall = previous_;
        delivered_ = nullptr;
    }
    LookDelivers(const LookDelivers&) = delete;
    LookDelivers& operator=(const LookDelivers&) = delete;

private:
    static BOOL WINAPI Peek(LPMSG msg, HWND hwnd, UINT first, UINT last, UINT remove) {
        if (delivered_) delivered_();
        return ::PeekMessageA(msg, hwnd, first, last, remove);
    }
    static inline std::function<void()> delivered_;
    decltype(ui::PeekMessageCall) previous_;
};

// Moves windows to a monitor of another DPI, as GetDpiForWindow sees it.
class DpiOfWindow {
public:
    DpiOfWindow(std::vector<HWND> hwnds, UINT dpi) : previous_(std::exchange(ui::GetDpiForWindowCall, &Dpi)) {
        hwnds_ = std::move(hwnds);
        dpi_ = dpi;
        real_ = previous_;
    }
    ~DpiOfWindow() { ui::GetDpiForWindowCall = previous_; }
    DpiOfWindow(const DpiOfWindow&) = delete;
    DpiOfWindow& operator=(const DpiOfWindow&) = delete;

private:
    static UINT WINAPI Dpi(HWND hwnd) {
        if (std::find(hwnds_.begin(), hwnds_.end(), hwnd) != hwnds_.end()) return dpi_;
        return real_ ? real_(hwnd) : 0;
    }
    static inline std::vector<HWND> hwnds_;
    static inline UINT dpi_ = 0;
    static inline UINT(WINAPI* real_)(HWND) = nullptr;
    decltype(ui::GetDpiForWindowCall) previous_;
};

// Looks at the queue, as a run does, until another thread has sent these
// messages to `to` and they have been answered.
void SendDuringLooks(HWND to, const std::vector<std::pair<UINT, WPARAM>>& messages, LPARAM lParam = 0) {
    std::atomic<bool> sent{false};
    std::thread sender([&] {
        for (const auto& [msg, wParam] : messages) ::SendMessageA(to, msg, wParam, lParam);
        sent = true;
    });
    while (!sent) {
        ui::RunGate::LookAtQueue();
        ::Sleep(1);
    }
    sender.join();
}

// What a run's look at its queue delivers reaches the run's gate, whoever
// sent it; the program's own messages outside a look go their usual way,
// also in a run that began inside a message another thread sent. When the
// gate goes, each window gets the latest show state asked for, once, and a
// form whose monitor changed its DPI during the run is laid out for it.
TEST_F(ApplicationTest, ARunsGateTakesWhatItsLooksDeliverAndAtItsEndTheLatestShowState) {
    app.ShowMainForm(SW_SHOWNORMAL);
    TestForm other;
    {
        // A queue event comes with no sender, from the look's PeekMessage.
        const LookDelivers event([&] { ::SendMessageA(other.Handle(), WM_COMMAND, 77, 0); });
        const ui::RunGate gate(app.Handle(), "run", nullptr);
        ui::RunGate::LookAtQueue();
        EXPECT_TRUE(other.commands.empty()) << "a command was handled inside the run";
    }
    app.ProcessMessages();
    EXPECT_EQ(other.commands, std::vector<WORD>{77});

    // A run that begins inside a message another thread sent (a tick in a
    // box's loop inside the shell's call): its own command is handled.
    other.commands.clear();
    other.onTick = [&] {
        const ui::RunGate gate(app.Handle(), "run", nullptr);
        ::SendMessageA(other.Handle(), WM_COMMAND, 78, 0);
        EXPECT_EQ(other.commands, std::vector<WORD>{78}) << "the run's own message was held";
    };
    other.Timer1.SetEnabled(false);
    std::atomic<bool> ticked{false};
    std::thread ticker([&] {
        ::SendMessageA(other.Handle(), WM_TIMER, 1, 0);
        ticked = true;
    });
    while (!ticked) app.ProcessMessages();
    ticker.join();
    other.onTick = nullptr;
    EXPECT_EQ(other.ticks, 1);

    // A task bar that minimizes and then restores the application during a
    // run leaves it on the screen; the form moved to a monitor of 144 DPI
    // follows once the run is over, also beside one whose layout fails.
    const RECT before = other.ParentRect();
    TestForm failing;
    failing.failsLayout = true;
    {
        const DpiOfWindow moved({failing.Handle(), other.Handle()}, 144);
        const ui::RunGate gate(app.Handle(), "run", nullptr);
        SendDuringLooks(app.Handle(), {{WM_SIZE, SIZE_MINIMIZED}, {WM_SIZE, SIZE_RESTORED}});
        const RECT suggested{before.left, before.top, before.left + 300, before.top + 150};
        SendDuringLooks(other.Handle(), {{WM_DPICHANGED, MAKEWPARAM(144, 144)}}, reinterpret_cast<LPARAM>(&suggested));
        EXPECT_FALSE(app.Minimized());
        EXPECT_EQ(other.Dpi(), 96u);
        app.ProcessMessages();
        EXPECT_FALSE(app.Minimized()) << "handled inside the run";
    }
    EXPECT_EQ(other.Dpi(), 144u);
    const RECT after = other.ParentRect();
    EXPECT_EQ(after.right - after.left, ::MulDiv(before.right - before.left, 144, 96));
    app.ProcessMessages();
    EXPECT_FALSE(app.Minimized());
    EXPECT_EQ(minimizings, 0);
    EXPECT_TRUE(form->Visible());
}

TEST_F(ApplicationTest, MaximizedMainWindowComesBackMaximized) {
    app.ShowMainForm(SW_SHOWMAXIMIZED);
    EXPECT_EQ(form->State(), ui::WindowState::Maximized);
    app.Minimize();
    app.Restore();
    EXPECT_TRUE(form->Visible());
    EXPECT_EQ(form->State(), ui::WindowState::Maximized);
}

TEST_F(ApplicationTest, StartRequestedMinimizedWithoutActivationGoesStraightToMinimized) {
    app.ShowMainForm(SW_SHOWMINNOACTIVE);
    EXPECT_TRUE(app.Minimized());
    EXPECT_FALSE(form->Visible());
    EXPECT_EQ(minimizings, 1);
    app.Restore();
    EXPECT_TRUE(form->Visible());
    EXPECT_EQ(form->State(), ui::WindowState::Normal);
}

TEST_F(ApplicationTest, StartRequestedMaximizedWinsOverAMinimizedState) {
    form->SetState(ui::WindowState::Minimized);  // as loading AutoRun = "1" does
    app.ShowMainForm(SW_SHOWMAXIMIZED);
    EXPECT_FALSE(app.Minimized());
    EXPECT_EQ(minimizings, 0);
    EXPECT_EQ(form->State(), ui::WindowState::Maximized);
}

TEST_F(ApplicationTest, OtherShowCommandsKeepTheStateTheSettingsGave) {
    form->SetState(ui::WindowState::Minimized);
    app.ShowMainForm(SW_SHOWNORMAL);
    EXPECT_TRUE(app.Minimized());
    EXPECT_FALSE(form->Visible());
}

// The manifest's common controls 6: taken from the system's side-by-side
// store, never from a search for comctl32.dll, and drawn in the visual style
// where the system has one (Wine's own "Light" one included).
TEST_F(WindowLayerTest, CommonControlsSixComeFromTheSideBySideStore) {
    ASSERT_TRUE(ui::comctl32::Load());
    char path[MAX_PATH] = {}, windows[MAX_PATH] = {};
    ::GetModuleFileNameA(::GetModuleHandleA(ui::comctl32::kFileName), path, MAX_PATH);
    ::GetSystemWindowsDirectoryA(windows, MAX_PATH);
    ::CharLowerA(path);
    ::CharLowerA(windows);
    EXPECT_EQ(std::string(path).rfind(std::string(windows) + "\\winsxs\\", 0), 0u) << path;
    // A DLL that the manifest does not redirect is not loaded by name.
    EXPECT_FALSE(ui::LoadSideBySideLibrary("version.dll"));

    TestForm form;
    ui::CheckBox box;
    box.Create(form, 10, "box", ui::Bounds{0, 0, 80, 17});
    const ui::ScopedModule uxtheme = ui::LoadSystemLibrary("uxtheme.dll");
    ASSERT_TRUE(uxtheme);
    const auto themeActive = ui::ExportedFunction<BOOL(WINAPI*)()>(uxtheme, "IsThemeActive");
    const auto windowTheme = ui::ExportedFunction<HANDLE(WINAPI*)(HWND)>(uxtheme, "GetWindowTheme");
    ASSERT_TRUE(themeActive && windowTheme);
    if (!themeActive()) GTEST_SKIP() << "the system has no visual style active: nothing to take";
    EXPECT_NE(windowTheme(box.Handle()), nullptr);
}

TEST_F(WindowLayerTest, ProgressBarStepsStartOverPastTheMaximum) {
    TestForm form;
    ui::ProgressBar bar;
    bar.Create(form, 10, ui::Bounds{0, 0, 100, 20});
    bar.SetRange(0, kProgressMax);
    bar.SetStep(6000);
    bar.StepIt();
    EXPECT_EQ(bar.Position(), 6000);
    bar.StepIt();
    EXPECT_EQ(bar.Position(), 2000);

    // Many steps at once end where as many single steps end, past the maximum too.
    ui::ProgressBar single;
    single.Create(form, 11, ui::Bounds{0, 30, 100, 20});
    single.SetRange(0, kProgressMax);
    const struct {
        int step, start, count;
    } rows[] = {{3333, 0, 3}, {3333, 0, 4}, {6000, 2000, 5}, {2500, 10000, 1}, {1, 9990, 25}, {0, 500, 7}, {-300, 1000, 4}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.step << " " << row.start << " " << row.count);
        for (ui::ProgressBar* b : {&bar, &single}) {
            b->SetStep(row.step);
            b->SetPosition(row.start);
        }
        bar.StepBy(row.count);
        for (int i = 0; i < row.count; ++i) single.StepIt();
        EXPECT_EQ(bar.Position(), single.Position());
    }
}

TEST_F(WindowLayerTest, BackupDialogLayout) {
    TBackupForm dialog;
    EXPECT_EQ(BackupForm, &dialog);
    EXPECT_EQ(dialog.Text(), "正在备份,请稍候 ...");
    const SIZE client = dialog.ClientSize();
    EXPECT_EQ(client.cx, test::Scaled(424));
    EXPECT_EQ(client.cy, test::Scaled(43));
    const LONG_PTR style = ::GetWindowLongPtrA(dialog.Handle(), GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    const RECT r = dialog.ParentRect();
    EXPECT_NEAR((r.left + r.right) / 2, ::GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((r.top + r.bottom) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2, 1);

    EXPECT_EQ(test::PlaceOf(dialog.Panel1), test::Scaled(test::Place{0, 0, 424, 43}));
    EXPECT_EQ(test::PlaceOf(dialog.ProgressBar1), test::Scaled(test::Place{3, 3, 418, 37}));
    EXPECT_TRUE(::GetWindowLongPtrA(dialog.ProgressBar1.Handle(), GWL_STYLE) & PBS_SMOOTH);
    EXPECT_EQ(dialog.ProgressBar1.Maximum(), 10000);
    EXPECT_EQ(dialog.ProgressBar1.Position(), 0);
    EXPECT_FALSE(dialog.Timer1.Enabled());
    EXPECT_EQ(dialog.Timer1.Interval(), 1u);
}

// The dialog shows no box of its own: it collects the run's failures for
// whoever showed it, who reports them once the dialog is gone.
TEST_F(WindowLayerTest, RunCollectsItsFailuresAndEndsShowingTheEnd) {
    ui::ScopedReporter scoped(reporter);
    TMainForm main;
    main.Timer1.SetEnabled(false);
    ScratchDir scratch;
    const std::string source = scratch / "src";
    const std::string dest = scratch / "dst";
    ::CreateDirectoryA(source.c_str(), nullptr);
    ::CreateDirectoryA(dest.c_str(), nullptr);
    ::CreateDirectoryA((source + "\\sub").c_str(), nullptr);
    WriteFileBytes(source + "\\locked.txt", "locked");
    WriteFileBytes(source + "\\held.txt", "held");
    WriteFileBytes(source + "\\free.txt", "free");
    test::ExclusiveLock lock(source + "\\locked.txt");
    test::ExclusiveLock hold(source + "\\held.txt");
    ASSERT_TRUE(lock.Held() && hold.Held());

    test::ScriptedClock clock;
    clock.Set({test::At(8, 30, 0), test::At(8, 30, 2)});
    TBackupForm dialog(clock.AsClock());
    dialog.SourcePath = source;
    dialog.DestPath = dest;
    dialog.ShowModal();
    lock.Release();
    hold.Release();

    EXPECT_TRUE(reporter.errors.empty());
    EXPECT_TRUE(reporter.informations.empty());
    const BackupOutcome& outcome = dialog.Outcome;
    EXPECT_TRUE(outcome.ran);
    EXPECT_EQ(WholeMilliseconds(outcome.start), WholeMilliseconds(test::At(8, 30, 0)));
    EXPECT_EQ(WholeMilliseconds(outcome.end), WholeMilliseconds(test::At(8, 30, 2)));
    // A subdirectory is met and stepped over, not a failure.
    std::vector<std::string> failures = outcome.result.failures;
    std::sort(failures.begin(), failures.end());
    const std::string reason = " (" + SystemErrorText(ERROR_SHARING_VIOLATION) + ")";
    EXPECT_EQ(failures, (std::vector<std::string>{"Cannot open file " + source + "\\held.txt" + reason,
                                                  "Cannot open file " + source + "\\locked.txt" + reason}));
    EXPECT_EQ(outcome.result.copied, 1);
    EXPECT_EQ(outcome.result.directories, 1);
    EXPECT_EQ(ReadFileBytes(dest + "\\free.txt"), "free");
    EXPECT_EQ(dialog.ProgressBar1.Position(), kProgressMax);
    EXPECT_EQ(dialog.Text().rfind(" 备份 " + source + "\\", 0), 0u) << dialog.Text();
    EXPECT_FALSE(dialog.Visible());
    EXPECT_FALSE(dialog.Timer1.Enabled());
}

}  // namespace
}  // namespace zelvo
