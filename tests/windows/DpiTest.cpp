// Every window of the program at the DPI this process runs at: each control
// inside its parent, none over another, every caption whole; a picture of the
// main window for a person to look at. Wine reads the DPI (LogPixels) once,
// when a process starts, so 120, 144 and 192 DPI each get a process of their
// own: this exe again, running the layout tests only.
#include "About.h"
#include "Backup.h"
#include "Main.h"
#include "SelDir.h"
#include "WindowTestSupport.h"
#include "platform/InformationBox.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <ole2.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace zelvo::test {

namespace {

std::string ClassOf(HWND hwnd) {
    char name[64] = {};
    ::GetClassNameA(hwnd, name, sizeof name);
    return name;
}

std::string Describe(HWND hwnd) {
    return ClassOf(hwnd) + " " + std::to_string(::GetDlgCtrlID(hwnd)) + " \"" + WindowText(hwnd) + "\"";
}

RECT InParent(HWND hwnd) {
    RECT r{};
    ::GetWindowRect(hwnd, &r);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

HFONT FontOf(HWND hwnd) {
    if (const ui::Window* own = ui::Window::FromHandle(hwnd)) return own->Font();
    return reinterpret_cast<HFONT>(::SendMessageA(hwnd, WM_GETFONT, 0, 0));
}

// Size of a text in a window's font, and the font's character height (its
// line without the internal leading).
struct TextExtent {
    SIZE size;
    int characterHeight;
};

TextExtent Measure(HWND hwnd, const std::string& text, UINT format, int wrapWidth = 0) {
    const ui::WindowDC dc(hwnd);
    const ui::SelectScope select(dc.Get(), FontOf(hwnd));
    RECT r{0, 0, wrapWidth, 0};
    ::DrawTextA(dc.Get(), text.c_str(), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_NOPREFIX | format);
    TEXTMETRICA metrics{};
    ::GetTextMetricsA(dc.Get(), &metrics);
    return TextExtent{SIZE{r.right - r.left, r.bottom - r.top},
                      static_cast<int>(metrics.tmHeight - metrics.tmInternalLeading)};
}

void ExpectCaptionFits(HWND control) {
    const std::string cls = ClassOf(control);
    const std::string text = WindowText(control);
    const LONG_PTR style = ::GetWindowLongPtrA(control, GWL_STYLE);
    RECT client{};
    ::GetClientRect(control, &client);
    SCOPED_TRACE(Describe(control));
    if (cls == "Static" && (style & SS_TYPEMASK) <= SS_RIGHT && !text.empty()) {
        const TextExtent extent = Measure(control, text, DT_WORDBREAK, client.right);
        const int lineHeight = Measure(control, "0", DT_SINGLELINE).size.cy;
        EXPECT_LE(extent.size.cx, client.right);
        EXPECT_LE(extent.size.cy - lineHeight + extent.characterHeight, client.bottom);
    } else if (cls == "Button" && (style & BS_TYPEMASK) <= BS_DEFPUSHBUTTON) {
        const TextExtent extent = Measure(control, text, DT_SINGLELINE);
        EXPECT_LE(extent.size.cx + 2 * ::GetSystemMetrics(SM_CXEDGE), client.right);
        EXPECT_LE(extent.characterHeight, client.bottom);
    } else if (cls == "Button" && (style & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
        // The box and the caption, as the control itself measures them in its
        // font (common controls 6); the caption alone at the least.
        SIZE ideal{0, 0};
        ::SendMessageA(control, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal));
        const TextExtent extent = Measure(control, text, DT_SINGLELINE);
        EXPECT_LE(std::max(ideal.cx, extent.size.cx), client.right);
        EXPECT_LE(extent.characterHeight, client.bottom);
    } else if (cls == "TLinkLabel") {
        const TextExtent extent = Measure(control, text, DT_SINGLELINE);
        EXPECT_LE(extent.size.cx, client.right);
        EXPECT_LE(extent.characterHeight, client.bottom);
    } else if (cls == "Edit" && (style & ES_MULTILINE) && (style & ES_READONLY)) {
        // Every line shows, however the text wraps.
        const LRESULT lines = ::SendMessageA(control, EM_GETLINECOUNT, 0, 0);
        EXPECT_LE(lines * Measure(control, "0", DT_SINGLELINE).size.cy, client.bottom);
    }
}

// The visible children of a window, in z-order.
std::vector<HWND> VisibleChildren(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(parent, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (::GetWindowLongPtrA(child, GWL_STYLE) & WS_VISIBLE) children.push_back(child);
    }
    return children;
}

}  // namespace

void ExpectLaidOut(HWND top) {
    RECT client{};
    ::GetClientRect(top, &client);
    const std::vector<HWND> children = VisibleChildren(top);
    for (std::size_t i = 0; i < children.size(); ++i) {
        const RECT r = InParent(children[i]);
        EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom)
            << Describe(children[i]) << " leaves " << Describe(top);
        for (std::size_t j = i + 1; j < children.size(); ++j) {
            RECT both{};
            const RECT other = InParent(children[j]);
            EXPECT_FALSE(::IntersectRect(&both, &r, &other))
                << Describe(children[i]) << " overlaps " << Describe(children[j]);
        }
        ExpectCaptionFits(children[i]);
        // A time picker's spin buttons are its own business.
        if (ClassOf(children[i]) != DATETIMEPICK_CLASSA) ExpectLaidOut(children[i]);
    }
}

namespace {

constexpr UINT kOtherDpis[] = {120, 144, 192};
// Set in a process started for another DPI: that DPI, and the event it sets
// once it runs at it.
constexpr char kExpectedDpiVariable[] = "ZELVO_EXPECTED_DPI";
constexpr char kReadyEventVariable[] = "ZELVO_DPI_READY";
// What such a process runs: the layout of every window. Not the move to
// another DPI, which only a process at 96 DPI can act out: the system's own
// metrics (check boxes, frames) stay those of the process's DPI.
constexpr char kLayoutTests[] =
    "MainFormTest.*:AboutBoxTest.DialogFrameCentredWithItsClientSize:AboutBoxTest.ControlsSitWhereTheyBelong:"
    "AboutBoxTest.DescriptionIsAReadOnlyWrappingTextOnSilver:"
    "WindowLayerTest.BackupDialogLayout:WindowLayerTest.InformationBoxClosesWithEnter:"
    "TrayTest.TaskBarButtonAndCaptionShowTheProgramIcon:DpiTest.EveryWindowFitsItsControls"
    "-MainFormTest.FollowsItsMonitorToAnotherDpi";
// A 32-bit process start costs seconds where 32-bit code is emulated.
constexpr DWORD kStartTimeoutMs = 300000;
constexpr DWORD kRunTimeoutMs = 600000;

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string TestExeFolder() {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string exe(path, length);
    return exe.substr(0, exe.rfind('\\') + 1);
}

// A window as it shows on the screen: 24-bit rows, bottom-up, as a BMP file keeps them.
struct ScreenPicture {
    int width = 0, height = 0;
    std::vector<char> rows;
    std::size_t RowBytes() const { return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3}; }
    COLORREF At(int x, int y) const {
        const char* pixel = rows.data() + (height - 1 - y) * RowBytes() + x * 3;
        return RGB(static_cast<BYTE>(pixel[2]), static_cast<BYTE>(pixel[1]), static_cast<BYTE>(pixel[0]));
    }
};

ScreenPicture Capture(HWND hwnd) {
    RECT r{};
    ::GetWindowRect(hwnd, &r);
    ScreenPicture picture;
    picture.width = r.right - r.left;
    picture.height = r.bottom - r.top;
    const ui::WindowDC screen(nullptr);
    const ui::ScopedDC memory(::CreateCompatibleDC(screen.Get()));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = picture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const ui::ScopedBitmap bitmap(::CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap) return ScreenPicture{};
    {
        const ui::SelectScope select(memory.Get(), bitmap.Get());
        ::BitBlt(memory.Get(), 0, 0, picture.width, picture.height, screen.Get(), r.left, r.top, SRCCOPY);
        ::GdiFlush();
    }
    const char* first = static_cast<const char*>(bits);
    picture.rows.assign(first, first + picture.RowBytes() * static_cast<std::size_t>(picture.height));
    return picture;
}

bool SaveBmp(const ScreenPicture& picture, const std::string& path) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = picture.width;
    header.biHeight = picture.height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(picture.rows.size());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    out.write(picture.rows.data(), static_cast<std::streamsize>(picture.rows.size()));
    return !picture.rows.empty() && out.good();
}

// Whether some pixel of a child window, in a picture of its top-level
// window, has another colour than `background`.
bool ShowsOtherThan(const ScreenPicture& picture, HWND top, HWND child, COLORREF background) {
    RECT frame{}, r{};
    ::GetWindowRect(top, &frame);
    ::GetWindowRect(child, &r);
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            if (picture.At(x - frame.left, y - frame.top) != background) return true;
        }
    }
    return false;
}

// In a process started for another DPI: tells the starter, once the DPI is
// read, that it may put the setting back.
class ReadySignal : public ::testing::Environment {
public:
    void SetUp() override {
        const std::string name = Variable(kReadyEventVariable);
        if (name.empty()) return;
        ScreenDpi();
        const KernelHandle ready(::OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str()));
        if (ready) ::SetEvent(ready.Get());
    }
};
::testing::Environment* const readySignal = ::testing::AddGlobalTestEnvironment(new ReadySignal);

// LogPixels in HKEY_CURRENT_USER\Control Panel\Desktop, which Wine 8 reads
// for the DPI of each process it starts (before the machine-wide LogPixels
// under HKEY_LOCAL_MACHINE\System\CurrentControlSet\Hardware Profiles).
// Put back as it was when this object goes, whatever failed. What it was is
// kept beside it until then, so that a run cut short in between (killed at a
// time-out) is put right by the next one (Repair).
class LogPixelsSetting {
public:
    explicit LogPixelsSetting(DWORD dpi) : key_(CreateRegKey(HKEY_CURRENT_USER, "Control Panel\\Desktop")) {
        const std::string before = Current();
        set_ = ::RegSetValueExA(key_.Get(), kSaved, 0, REG_SZ, reinterpret_cast<const BYTE*>(before.c_str()),
                                static_cast<DWORD>(before.size() + 1)) == ERROR_SUCCESS &&
               ::RegSetValueExA(key_.Get(), kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi) ==
                   ERROR_SUCCESS;
    }
    ~LogPixelsSetting() {
        if (set_) Repair();
    }
    LogPixelsSetting(const LogPixelsSetting&) = delete;
    LogPixelsSetting& operator=(const LogPixelsSetting&) = delete;
    bool Set() const { return set_; }
    // As a run that is killed before it can put the value back.
    void Abandon() { set_ = false; }

    // The value as it stands: its number, or "none".
    static std::string Current() { return Read(kValue); }

    // Puts back the value that a setting kept, if one did.
    static void Repair() {
        const RegKey key = CreateRegKey(HKEY_CURRENT_USER, "Control Panel\\Desktop");
        const std::string before = Read(kSaved);
        if (before.empty()) return;
        if (before == "none") {
            ::RegDeleteValueA(key.Get(), kValue);
        } else {
            const DWORD value = static_cast<DWORD>(std::stoul(before));
            ::RegSetValueExA(key.Get(), kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        }
        ::RegDeleteValueA(key.Get(), kSaved);
    }

private:
    static constexpr char kValue[] = "LogPixels";
    static constexpr char kSaved[] = "ZelvoTestsLogPixelsBefore";

    // A DWORD as its number, a string as it is; "none" for a missing LogPixels, "" for a missing kSaved.
    static std::string Read(const char* name) {
        const RegKey key = OpenRegKey(HKEY_CURRENT_USER, "Control Panel\\Desktop", KEY_QUERY_VALUE);
        char data[32] = {};
        DWORD type = 0, size = sizeof data - 1;
        if (!key || ::RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
                        ERROR_SUCCESS) {
            return name == kValue ? "none" : "";
        }
        if (type == REG_DWORD) return std::to_string(*reinterpret_cast<const DWORD*>(data));
        return data;
    }

    RegKey key_;
    bool set_ = false;
};

// The layout processes start with the setting in place; the one that starts
// them puts right what a run cut short left.
class RepairLogPixels : public ::testing::Environment {
    void SetUp() override {
        if (Variable(kExpectedDpiVariable).empty()) LogPixelsSetting::Repair();
    }
};
::testing::Environment* const repairLogPixels = ::testing::AddGlobalTestEnvironment(new RepairLogPixels);

// Runs the layout tests in a process of their own started at this DPI;
// returns its exit code. The DPI setting lasts only until the process has
// read it.
DWORD RunLayoutTestsAt(UINT dpi) {
    const std::string eventName =
        "ZelvoDpiReady-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(dpi);
    const KernelHandle ready(::CreateEventA(nullptr, TRUE, FALSE, eventName.c_str()));
    char exe[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string command = std::string("\"") + exe + "\" --gtest_color=no --gtest_filter=" + kLayoutTests;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    {
        const LogPixelsSetting setting(dpi);
        if (!setting.Set()) return ~0u;
        ::SetEnvironmentVariableA(kExpectedDpiVariable, std::to_string(dpi).c_str());
        ::SetEnvironmentVariableA(kReadyEventVariable, eventName.c_str());
        const BOOL created = ::CreateProcessA(exe, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                              &startup, &started);
        ::SetEnvironmentVariableA(kExpectedDpiVariable, nullptr);
        ::SetEnvironmentVariableA(kReadyEventVariable, nullptr);
        if (!created) return ~0u;
        const HANDLE either[] = {ready.Get(), started.hProcess};
        ::WaitForMultipleObjects(2, either, FALSE, kStartTimeoutMs);
    }
    const KernelHandle process(started.hProcess);
    const KernelHandle thread(started.hThread);
    if (::WaitForSingleObject(process.Get(), kRunTimeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.Get(), 1);
        ADD_FAILURE() << "the tests at " << dpi << " DPI did not end";
    }
    DWORD exitCode = ~0u;
    ::GetExitCodeProcess(process.Get(), &exitCode);
    return exitCode;
}

class DpiTest : public ::testing::Test {
protected:
    RecordingReporter reporter;
    ui::ScopedReporter scoped{reporter};
    ui::Application& app = ui::Application::Instance();
};

TEST_F(DpiTest, EveryWindowFitsItsControls) {
    const UINT dpi = ScreenDpi();
    if (!Variable(kExpectedDpiVariable).empty()) {
        EXPECT_EQ(dpi, static_cast<UINT>(std::atoi(Variable(kExpectedDpiVariable).c_str())));
    }
    app.SetTitle(kApplicationTitle);
    {
        SCOPED_TRACE("main window");
        TMainForm form;
        form.Timer1.SetEnabled(false);
        EXPECT_EQ(form.Dpi(), dpi);
        form.Show();
        app.ProcessMessages();
        ExpectLaidOut(form.Handle());
        // Kept with the build for a person to look at.
        const std::string folder = TestExeFolder() + "screenshots";
        ::CreateDirectoryA(folder.c_str(), nullptr);
        const ScreenPicture picture = Capture(form.Handle());
        EXPECT_TRUE(SaveBmp(picture, folder + "\\main-window-" + std::to_string(dpi) + "dpi.bmp"));
        // The ellipsis buttons show over their edits: Wine's themed edit can
        // keep them from drawing their faces, which leaves its own background.
        for (const ui::EditWithButton* edit : {&form.SourceEdit, &form.DesEdit}) {
            EXPECT_TRUE(ShowsOtherThan(picture, form.Handle(), edit->ButtonHandle(), ::GetSysColor(COLOR_WINDOW)));
        }
        form.Hide();
    }
    {
        SCOPED_TRACE("backup dialog");
        TBackupForm dialog;
        ExpectLaidOut(dialog.Handle());
    }
    {
        SCOPED_TRACE("About box");
        TAboutBox box;
        ExpectLaidOut(box.Handle());
    }
    {
        SCOPED_TRACE("folder dialog");
        const bool ole = SUCCEEDED(::OleInitialize(nullptr));
        {
            TSelDirForm dialog;
            // A screen position and an outer size, each scaled.
            EXPECT_EQ(PlaceOf(dialog), (Place{Scaled(502), Scaled(267), Scaled(449), Scaled(310)}));
            ExpectLaidOut(dialog.Handle());
            EXPECT_EQ(TreeView_GetIndent(dialog.ShellTreeView1.Handle()), static_cast<UINT>(Scaled(19)));
        }
        if (ole) ::OleUninitialize();
    }
    {
        SCOPED_TRACE("information box");
        bool seen = false;
        SoonAction look(50, [&] {
            const HWND box = FindThreadWindow(ui::InformationBox::kClassName);
            ASSERT_NE(box, nullptr);
            seen = true;
            ExpectLaidOut(box);
            const auto icon = reinterpret_cast<HICON>(
                ::SendMessageA(::GetDlgItem(box, ui::InformationBox::kIconId), STM_GETICON, 0, 0));
            EXPECT_EQ(IconPixels(icon).cx, ::GetSystemMetrics(SM_CXICON));
            ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        });
        ui::InformationBox::Show(MissingDirectoryText("c:\\没有这个目录"));
        EXPECT_TRUE(seen);
    }
}

TEST_F(DpiTest, ASettingThatARunCutShortLeftIsPutBack) {
    const std::string before = LogPixelsSetting::Current();
    LogPixelsSetting(144).Abandon();
    ASSERT_EQ(LogPixelsSetting::Current(), "144");
    LogPixelsSetting::Repair();
    EXPECT_EQ(LogPixelsSetting::Current(), before);
}

TEST_F(DpiTest, EachOtherDpiInAProcessOfItsOwn) {
    const std::string before = LogPixelsSetting::Current();
    for (const UINT dpi : kOtherDpis) {
        EXPECT_EQ(RunLayoutTestsAt(dpi), 0u) << "the layout tests at " << dpi << " DPI failed (their output is above)";
        // Back as it was: the processes of the other tests start at the DPI of before.
        EXPECT_EQ(LogPixelsSetting::Current(), before);
    }
}

}  // namespace
}  // namespace zelvo::test
