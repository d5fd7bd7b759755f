// The real program in the tray, driven from outside: minimizing into the
// tray, the icon's double-click and pop-up menu, the About box over the
// hidden program, the end from the tray; and the executable's resources.
#include "About.h"
#include "Main.h"
#include "e2e/ProgramDriver.h"
#include "resource.h"
#include "windows/TrayProbe.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelvo {
namespace {

using e2e::WaitFor;
using test::WriteFileBytes;

class TrayProgramTest : public e2e::ProgramTest {
protected:
    HWND App() const { return FindOwn("TApplication", kApplicationTitle); }
    bool IconShown() const { return test::TrayIconExists(main, kTrayIconId); }
    void TrayEvent(UINT mouseEvent) const {
        ::PostMessageA(main, kTrayCallbackMessage, kTrayIconId, mouseEvent);
    }
    bool InTray() const {
        return IconShown() && !::IsWindowVisible(main) && !::IsWindowVisible(App());
    }
    bool Shown() const {
        return ::IsWindowVisible(main) && ::IsWindowVisible(App()) && !::IsIconic(main) && !IconShown();
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

    // 退出 while the About box is open ends the program.
    ::PostMessageA(main, WM_COMMAND, TMainForm::kN1Id, 0);
    EXPECT_TRUE(EndsWithin(10000));
    EXPECT_FALSE(IconShown());
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

    // The icon in its three sizes and the About picture; no manifest.
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
    EXPECT_EQ(::FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)), nullptr);  // RT_MANIFEST
    ::FreeLibrary(module);
}

}  // namespace
}  // namespace zelvo
