// The real program in the tray, driven from outside: minimizing into the
// tray, the icon's double-click and pop-up menu, the About box over the
// hidden program, the end from the tray, the icon's clicks during a run and a
// restore while a modal window is open; and the executable's resources.
#include "About.h"
#include "Backup.h"
#include "Main.h"
#include "e2e/ProgramDriver.h"
#include "platform/InformationBox.h"
#include "resource.h"
#include "windows/TrayProbe.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace zelvo {
namespace {

using e2e::WaitFor;
using test::WriteFileBytes;

class TrayProgramTest : public e2e::ProgramTest {
protected:
    HWND App() const { return FindOwn("TApplication", kApplicationTitle); }
    bool IconShown() const { return test::TrayIconExists(main, kTrayIconId); }
    // As the shell sends it: from another process, without waiting for the answer.
    void TrayEvent(UINT mouseEvent) const {
        ::SendNotifyMessageA(main, kTrayCallbackMessage, kTrayIconId, mouseEvent);
    }
    bool InTray() const {
        return IconShown() && !::IsWindowVisible(main) && !::IsWindowVisible(App());
    }
    bool Shown() const {
        return ::IsWindowVisible(main) && ::IsWindowVisible(App()) && !::IsIconic(main) && !IconShown();
    }
    bool MenuOpen() const {
        const HWND menu = FindOwn("#32768");
        return menu && ::IsWindowVisible(menu);
    }
    // What Windows asks every window before it ends the session: 0 refuses.
    LRESULT QueryEndSession() const {
        DWORD_PTR answer = 0xBAD;
        ::SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer);
        return static_cast<LRESULT>(answer);
    }
    // Brought back from the tray with a modal window open: the main window
    // disabled beneath it, the modal window above it and active.
    void ExpectBackBehind(HWND modal) const {
        EXPECT_TRUE(WaitFor([&] { return Shown() && ::GetForegroundWindow() == modal; }, 5000));
        EXPECT_TRUE(::IsWindowVisible(modal));
        EXPECT_FALSE(::IsWindowEnabled(main));
        EXPECT_FALSE(::IsWindowEnabled(App()));
        // The stacking may settle a moment after the activation the wait
        // above sees (seen once in a busy full run); what counts is where it
        // settles.
        const auto modalFirst = [&] {
            for (HWND at = ::GetTopWindow(nullptr); at && at != main; at = ::GetWindow(at, GW_HWNDNEXT)) {
                if (at == modal) return true;
            }
            return false;
        };
        EXPECT_TRUE(WaitFor(modalFirst, 2000)) << "the modal window is not above the main window";
    }

    // From the tray with a modal window open, back into the tray with it, and
    // back once more: each time behind it (ExpectBackBehind).
    void RoundTripBehind(HWND modal) {
        TrayEvent(WM_LBUTTONDBLCLK);
        ExpectBackBehind(modal);
        ::PostMessageA(App(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
        EXPECT_TRUE(WaitFor([&] { return InTray() && !::IsWindowVisible(modal); }, 5000));
        TrayEvent(WM_LBUTTONDBLCLK);
        ExpectBackBehind(modal);
    }
};

TEST_F(TrayProgramTest, MinimizingGoesIntoTheTrayAndDoubleClickBringsTheWindowBack) {
    ASSERT_NE((Start(), main), nullptr);
    const HWND app = App();
    ASSERT_NE(app, nullptr);
    EXPECT_FALSE(IconShown());

    ::PostMessageA(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(WaitFor([&] { return InTray(); }, 5000));
    TrayEvent(WM_LBUTTONDBLCLK);
    EXPECT_TRUE(WaitFor([&] { return Shown(); }, 5000));
    EXPECT_TRUE(WaitFor([&] { return ::GetForegroundWindow() == main; }, 3000));

    // The task-bar button's window menu minimizes into the tray as well.
    ::PostMessageA(app, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(WaitFor([&] { return InTray(); }, 5000));

    // 退出 of the pop-up menu ends the program from the tray, leaving no icon.
    ::PostMessageA(main, WM_COMMAND, TMainForm::kN1Id, 0);
    EXPECT_TRUE(EndsWithin(10000));
    EXPECT_FALSE(IconShown());
}

TEST_F(TrayProgramTest, StartRequestedMinimizedGoesStraightIntoTheTray) {
    Start(SW_SHOWMINNOACTIVE, false);
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(WaitFor([&] { return InTray(); }, 5000));
    TrayEvent(WM_LBUTTONDBLCLK);
    EXPECT_TRUE(WaitFor([&] { return Shown(); }, 5000));
    ::PostMessageA(main, WM_COMMAND, TMainForm::kNCloseId, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

TEST_F(TrayProgramTest, AutoRunStartsInTheTray) {
    test::WriteFileBytes(SettingsFile(), "[AppPara]\r\nAutoRun=1\r\n");
    Start(SW_SHOWNORMAL, false);
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(WaitFor([&] { return InTray(); }, 5000));
    TrayEvent(WM_LBUTTONDBLCLK);
    EXPECT_TRUE(WaitFor([&] { return Shown(); }, 5000));
    EXPECT_FALSE(::IsZoomed(main));
    ::PostMessageA(main, WM_COMMAND, TMainForm::kN1Id, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

TEST_F(TrayProgramTest, AutoRunWithAMaximizedStartShowsTheWindowMaximized) {
    test::WriteFileBytes(SettingsFile(), "[AppPara]\r\nAutoRun=1\r\n");
    Start(SW_SHOWMAXIMIZED);
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(WaitFor([&] { return Shown() && ::IsZoomed(main); }, 5000));
    ::PostMessageA(main, WM_COMMAND, TMainForm::kNCloseId, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

TEST_F(TrayProgramTest, PopupMenuAtTheCursorAndTheAboutBoxOverTheHiddenProgram) {
    ASSERT_NE((Start(), main), nullptr);
    ::PostMessageA(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitFor([&] { return InTray(); }, 5000));

    ::SetCursorPos(400, 300);
    POINT cursor{};
    ::GetCursorPos(&cursor);
    TrayEvent(WM_RBUTTONUP);
    HWND menu = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (menu = FindOwn("#32768")) && ::IsWindowVisible(menu); }, 5000));
    RECT r{};
    ::GetWindowRect(menu, &r);
    EXPECT_EQ(r.left, cursor.x);
    EXPECT_EQ(r.top, cursor.y);
    ::PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(WaitFor([&] { return !::IsWindowVisible(menu); }, 5000));
    EXPECT_TRUE(InTray());

    // 关于 shows the About box while the program stays in the tray.
    ::PostMessageA(main, WM_COMMAND, TMainForm::kNAboutId, 0);
    HWND about = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (about = FindOwn(TAboutBox::kClassName)) && ::IsWindowVisible(about); }, 5000));
    EXPECT_TRUE(InTray());
    // Chosen again while it is open: refused in the uniform error box.
    ::PostMessageA(main, WM_COMMAND, TMainForm::kNAboutId, 0);
    const HWND box = WaitForErrorBox(5000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(e2e::BoxMessage(box), "Cannot make a visible window modal.");
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return !::IsWindow(box); }, 5000));
    EXPECT_TRUE(::IsWindowVisible(about));

    // A double-click brings the program back behind the About box, which
    // goes back into the tray with it and returns with it.
    RoundTripBehind(about);

    // 退出 while the About box is open ends the program.
    ::PostMessageA(main, WM_COMMAND, TMainForm::kN1Id, 0);
    EXPECT_TRUE(EndsWithin(10000));
    EXPECT_FALSE(IconShown());
}

// A box that opened while the program sat in the tray stays modal when the
// program comes back: the main window returns disabled beneath it, goes back
// into the tray with it, and is usable again once the box is dismissed.
TEST_F(TrayProgramTest, RestoreWhileABoxIsOpenBringsTheWindowBackDisabledBeneathIt) {
    ASSERT_NE((Start(), main), nullptr);
    source = folder + "\\不在了";
    SetPaths();
    ::PostMessageA(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitFor([&] { return InTray(); }, 5000));
    ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 2);
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = FindOwn(ui::InformationBox::kClassName)) && ::IsWindowVisible(box); },
                        10000));
    EXPECT_TRUE(InTray());

    RoundTripBehind(box);

    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return !::IsWindow(box) && ::IsWindowEnabled(main); }, 5000));
    EXPECT_TRUE(WaitFor([&] { return ::GetForegroundWindow() == main; }, 3000));
    ::PostMessageA(main, WM_COMMAND, TMainForm::kNCloseId, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

// The shell's clicks on the icon reach the program while a run copies (the
// run looks at its queue between buffers, which delivers what others send):
// nothing happens until the run ends, and the copy goes on meanwhile. Then
// the double-click brings the window back; the right-click is dropped, since
// a menu opening late at a stale place would only surprise. Log-off is
// refused during the run and accepted after it.
TEST_F(TrayProgramTest, ClicksAndLogOffDuringARunWaitForItsEnd) {
    constexpr std::uint64_t kFileSize = 256u << 20;
    constexpr int kFiles = 4;
    WriteBigFiles(kFiles, kFileSize);
    ASSERT_NE((Start(), main), nullptr);
    SetPaths();
    EXPECT_NE(QueryEndSession(), 0);
    ::PostMessageA(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitFor([&] { return InTray(); }, 5000));
    ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 2);
    const HWND dialog = WaitForRun(10000);
    ASSERT_NE(dialog, nullptr) << "no run";
    const auto began = e2e::SteadyClock::now();

    TrayEvent(WM_RBUTTONUP);
    TrayEvent(WM_LBUTTONDBLCLK);
    EXPECT_EQ(QueryEndSession(), 0) << "log-off was not refused during the run";
    const std::uint64_t before = DestBytes(kFileSize);
    bool menuMeanwhile = false, shownMeanwhile = false;
    for (int look = 0; look < 5; ++look) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        menuMeanwhile = menuMeanwhile || MenuOpen();
        shownMeanwhile = shownMeanwhile || ::IsWindowVisible(main);
    }
    const std::uint64_t after = DestBytes(kFileSize);
    ASSERT_TRUE(::IsWindowVisible(dialog)) << "the run ended before it could be watched: make the files bigger";
    EXPECT_GT(after, before) << "the copy did not go on";
    EXPECT_FALSE(menuMeanwhile);
    EXPECT_FALSE(shownMeanwhile);
    EXPECT_TRUE(InTray());

    EXPECT_TRUE(WaitFor([&] { return !::IsWindow(dialog); }, 60000));
    std::printf("the run lasted %.1f s after the clicks\n",
                std::chrono::duration<double>(e2e::SteadyClock::now() - began).count());
    EXPECT_TRUE(WaitFor([&] { return Shown() && ::GetForegroundWindow() == main; }, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(MenuOpen());
    EXPECT_NE(QueryEndSession(), 0);
    for (int i = 0; i < kFiles; ++i) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(::GetFileAttributesExA((dest + "\\big" + std::to_string(i) + ".dat").c_str(),
                                           GetFileExInfoStandard, &data));
        EXPECT_EQ(data.nFileSizeLow, kFileSize);
    }
    ::PostMessageA(main, WM_COMMAND, TMainForm::kNCloseId, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

// A value of the version block, as a string.
std::string VersionString(const std::vector<char>& block, const std::string& path) {
    void* value = nullptr;
    UINT size = 0;
    if (!::VerQueryValueA(block.data(), path.c_str(), &value, &size) || !value) return "<none>";
    return std::string(static_cast<const char*>(value));
}

TEST(ProgramResourcesTest, VersionBlockIconAndPicture) {
    const char* exe = std::getenv("ZELVO_EXE");
    ASSERT_NE(exe, nullptr);
    const std::string path = e2e::WindowsPath(exe);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(::GetFileVersionInfoA(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);

    WORD* translation = nullptr;
    ASSERT_TRUE(::VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                                 reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0804);  // Chinese (PRC)
    EXPECT_EQ(translation[1], 0x03A8);  // code page 936
    const std::string strings = "\\StringFileInfo\\080403A8\\";
    EXPECT_EQ(VersionString(block, strings + "ProductName"), kApplicationTitle);
    EXPECT_EQ(VersionString(block, strings + "FileVersion"), "1.0.0.0");
    EXPECT_EQ(VersionString(block, strings + "ProductVersion"), "1.0.0.0");
    EXPECT_EQ(VersionString(block, strings + "CompanyName"), ZELVO_COMPANY);
    EXPECT_EQ(VersionString(block, strings + "LegalCopyright"), ZELVO_COPYRIGHT);

    // The icon in its three sizes and the About picture.
    const HMODULE module = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    for (int px : {16, 32, 48}) {
        const HICON icon = static_cast<HICON>(
            ::LoadImageA(module, MAKEINTRESOURCEA(IDI_APPICON), IMAGE_ICON, px, px, 0));
        ASSERT_NE(icon, nullptr) << px;
        ICONINFO info{};
        ASSERT_TRUE(::GetIconInfo(icon, &info));
        BITMAP bits{};
        ::GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bits, &bits);
        EXPECT_EQ(bits.bmWidth, px);
        if (info.hbmColor) ::DeleteObject(info.hbmColor);
        ::DeleteObject(info.hbmMask);
        ::DestroyIcon(icon);
    }
    const HBITMAP picture = static_cast<HBITMAP>(
        ::LoadImageA(module, MAKEINTRESOURCEA(IDB_ABOUTPICTURE), IMAGE_BITMAP, 0, 0, 0));
    ASSERT_NE(picture, nullptr);
    BITMAP bits{};
    ::GetObjectA(picture, sizeof bits, &bits);
    EXPECT_EQ(bits.bmWidth, 91);
    EXPECT_EQ(bits.bmHeight, 76);
    ::DeleteObject(picture);

    // The manifest Windows reads when it starts the program (RT_MANIFEST 1):
    // no virtualization, visual styles, per-monitor DPI (system DPI before
    // Windows 8.1), Windows 7 to 11, and the system's own ANSI code page.
    const HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(found, nullptr);
    const std::string manifest(static_cast<const char*>(::LockResource(::LoadResource(module, found))),
                               ::SizeofResource(module, found));
    ::FreeLibrary(module);
    const auto holds = [&](const char* pattern) {
        return std::regex_search(manifest, std::regex(pattern, std::regex::icase));
    };
    EXPECT_TRUE(holds(R"(<requestedExecutionLevel\s+level="asInvoker")"));
    EXPECT_TRUE(holds(R"(<assemblyIdentity\s+type="win32"\s+name="Microsoft\.Windows\.Common-Controls")"
                      R"(\s+version="6\.0\.0\.0")"));
    EXPECT_TRUE(holds(R"(<dpiAware[^>]*>\s*true/pm\s*</dpiAware>)"));
    EXPECT_TRUE(holds(R"(<dpiAwareness[^>]*>\s*PerMonitorV2,\s*PerMonitor\s*</dpiAwareness>)"));
    for (const char* windows : {"35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                                "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {
        EXPECT_TRUE(holds((std::string(R"(<supportedOS\s+Id="\{)") + windows + R"(\}")").c_str())) << windows;
    }
    EXPECT_FALSE(holds("activeCodePage"));
}

}  // namespace
}  // namespace zelvo
