// The folder picker as the user reaches it: the ellipsis buttons of the real
// program open the dialog titled for their field, and only OK fills the field.
#include "Main.h"
#include "SelDir.h"
#include "e2e/ProgramDriver.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

namespace zelvo {
namespace {

using e2e::ProgramTest;
using e2e::Text;
using e2e::WaitFor;

class FolderPickerProgramTest : public ProgramTest {
protected:
    // The ellipsis button inside a path edit; posted, since the click opens a modal dialog.
    void ClickEllipsis(int editId) {
        const HWND button = ::FindWindowExA(Control(editId), nullptr, "Button", nullptr);
        ASSERT_NE(button, nullptr);
        ::PostMessageA(button, BM_CLICK, 0, 0);
    }

    HWND WaitForPicker(const char* caption) {
        HWND picker = nullptr;
        WaitFor([&] {
            picker = FindOwn(TSelDirForm::kClassName);
            return picker && ::IsWindowVisible(picker) && Text(picker) == caption;
        }, 15000);
        return picker;
    }

    static HWND PickerControl(HWND picker, int id) {
        Search search{id, nullptr};
        ::EnumChildWindows(picker, &MatchId, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    bool PickerGone() {
        return WaitFor([&] { return FindOwn(TSelDirForm::kClassName) == nullptr; }, 10000);
    }
};

TEST_F(FolderPickerProgramTest, SourceButtonOpensItsDialogAndOkPutsTheSelectionIntoTheEdit) {
    Start();
    ASSERT_NE(main, nullptr);
    const std::string before = Text(Control(TMainForm::kSourceEditId));

    ClickEllipsis(TMainForm::kSourceEditId);
    const HWND picker = WaitForPicker("选择源目录");
    ASSERT_NE(picker, nullptr) << "no dialog titled 选择源目录";
    // Modal: the main window waits.
    EXPECT_FALSE(::IsWindowEnabled(main));
    EXPECT_EQ(Text(PickerControl(picker, TSelDirForm::kOKBitBtnId)), "确 定");
    EXPECT_EQ(Text(PickerControl(picker, TSelDirForm::kCloseBitBtnId)), "取 消");

    // Untouched, the tree has the desktop selected: OK gives the desktop's folder.
    ::PostMessageA(PickerControl(picker, TSelDirForm::kOKBitBtnId), BM_CLICK, 0, 0);
    ASSERT_TRUE(PickerGone()) << "the dialog did not close";
    char desktop[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop)));
    const std::string picked = Text(Control(TMainForm::kSourceEditId));
    EXPECT_NE(picked, before);
    // Wine's desktop parsing name may carry a final separator.
    EXPECT_TRUE(picked == desktop || picked == std::string(desktop) + "\\") << picked << " vs " << desktop;
    EXPECT_TRUE(::IsWindowEnabled(main));
}

TEST_F(FolderPickerProgramTest, DestinationButtonOpensItsDialogAndCancelKeepsTheEdit) {
    Start();
    ASSERT_NE(main, nullptr);
    const std::string before = Text(Control(TMainForm::kDesEditId));

    ClickEllipsis(TMainForm::kDesEditId);
    const HWND picker = WaitForPicker("选择目的目录");
    ASSERT_NE(picker, nullptr) << "no dialog titled 选择目的目录";
    ::PostMessageA(PickerControl(picker, TSelDirForm::kCloseBitBtnId), BM_CLICK, 0, 0);
    ASSERT_TRUE(PickerGone()) << "the dialog did not close";
    EXPECT_EQ(Text(Control(TMainForm::kDesEditId)), before);

    // The close box counts as cancel too.
    ClickEllipsis(TMainForm::kDesEditId);
    const HWND again = WaitForPicker("选择目的目录");
    ASSERT_NE(again, nullptr);
    ::PostMessageA(again, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(PickerGone());
    EXPECT_EQ(Text(Control(TMainForm::kDesEditId)), before);
}

}  // namespace
}  // namespace zelvo
