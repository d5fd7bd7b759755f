// The user guide (docs/使用说明.txt) marks the program's captions with 「」.
// Each one it names must be a caption that a window or menu of the program
// really shows, and it must name every caption of the main window.
#include "About.h"
#include "Backup.h"
#include "Main.h"
#include "SelDir.h"
#include "e2e/ProgramDriver.h"
#include "windows/WindowTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

namespace zelvo::test {
namespace {

std::wstring Wide(const std::string& text, UINT codePage) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                      static_cast<int>(wide.size())));
    return wide;
}

std::string Gbk(const std::wstring& text) {
    std::string bytes(text.size() * 2, '\0');
    bytes.resize(::WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                                       static_cast<int>(bytes.size()), nullptr, nullptr));
    return bytes;
}

// The terms in 「」 of the guide, as GBK text.
std::set<std::string> GuideTerms() {
    const char* path = std::getenv("ZELVO_GUIDE");
    EXPECT_NE(path, nullptr) << "ZELVO_GUIDE is not set";
    const std::wstring guide = Wide(ReadFileBytes(e2e::WindowsPath(path ? path : "")), CP_UTF8);
    std::set<std::string> terms;
    for (std::size_t open = guide.find(L'\x300C'); open != std::wstring::npos;
         open = guide.find(L'\x300C', open + 1)) {
        const std::size_t close = guide.find(L'\x300D', open);
        EXPECT_NE(close, std::wstring::npos) << "「 without 」";
        if (close == std::wstring::npos) break;
        terms.insert(Gbk(guide.substr(open + 1, close - open - 1)));
    }
    return terms;
}

std::string ClassOf(HWND hwnd) {
    char name[64] = {};
    ::GetClassNameA(hwnd, name, sizeof name);
    return name;
}

// A menu item's caption as the user reads it: without "&" and the "(&Y)"
// that a double-byte system appends to pop-up items.
std::string MenuCaption(std::string caption) {
    const std::size_t accelerator = caption.rfind("(&");
    if (accelerator != std::string::npos && caption.size() - accelerator == 4) caption.erase(accelerator);
    std::string plain;
    for (char c : caption) {
        if (c != '&') plain += c;
    }
    return plain;
}

class Captions {
public:
    // The window's own caption and those of its buttons, check boxes and labels.
    void AddWindow(HWND window) {
        Add(WindowText(window));
        ::EnumChildWindows(window, &AddChild, reinterpret_cast<LPARAM>(this));
    }
    void AddMenu(HMENU menu) {
        for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
            char text[128] = {};
            ::GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
            Add(MenuCaption(text));
            if (const HMENU sub = ::GetSubMenu(menu, i)) AddMenu(sub);
        }
    }
    void Add(const std::string& caption) {
        if (!caption.empty()) all_.insert(caption);
    }
    const std::set<std::string>& All() const { return all_; }

private:
    static BOOL CALLBACK AddChild(HWND child, LPARAM self) {
        const std::string cls = ClassOf(child);
        if (cls == "Button" || cls == "Static" || cls == "TLinkLabel") {
            reinterpret_cast<Captions*>(self)->Add(WindowText(child));
        }
        return TRUE;
    }

    std::set<std::string> all_;
};

class GuideCaptionsTest : public ::testing::Test {
protected:
    void SetUp() override { ui::Application::Instance().SetTitle(kApplicationTitle); }

    // What the main window shows: its controls, its page tabs, its menus.
    Captions MainWindowCaptions() {
        Captions captions;
        captions.AddWindow(main.Handle());
        for (int i = 0; i < main.PageControl1.TabCount(); ++i) captions.Add(main.PageControl1.TabCaption(i));
        captions.AddMenu(::GetMenu(main.Handle()));
        captions.AddMenu(main.PopupMenu1.Handle());
        return captions;
    }

    RecordingReporter reporter;
    ui::ScopedReporter scoped{reporter};
    TMainForm main;
};

TEST_F(GuideCaptionsTest, EveryMarkedTermIsACaptionOfTheProgram) {
    Captions shown = MainWindowCaptions();
    TAboutBox about;
    shown.AddWindow(about.Handle());
    TSelDirForm folders;
    shown.AddWindow(folders.Handle());
    TBackupForm backup;
    shown.AddWindow(backup.Handle());

    const std::set<std::string> terms = GuideTerms();
    ASSERT_FALSE(terms.empty());
    for (const std::string& term : terms) {
        EXPECT_EQ(shown.All().count(term), 1u) << "「" << term << "」 is no caption of the program";
    }
}

TEST_F(GuideCaptionsTest, EveryCaptionOfTheMainWindowIsExplained) {
    const std::set<std::string> terms = GuideTerms();
    const Captions shown = MainWindowCaptions();
    for (const std::string& caption : shown.All()) {
        if (caption == kApplicationTitle) continue;  // the guide's title
        EXPECT_EQ(terms.count(caption), 1u) << "the guide does not name 「" << caption << "」";
    }
}

}  // namespace
}  // namespace zelvo::test
