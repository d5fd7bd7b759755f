// The folder dialog as built, and the main window's two ellipsis buttons
// that use it.
#include "Main.h"
#include "SelDir.h"
#include "TreeHost.h"
#include "core/Paths.h"
#include "platform/ReportQueue.h"
#include "windows/WindowTestSupport.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zelvo::test {
namespace {

constexpr char kComputer[] = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";
constexpr UINT kSoonMs = 50;

std::string DesktopDirectory() {
    char path[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, path))
               ? path
               : "";
}

int ThreadWindowsOfClass(const char* className) {
    int count = 0;
    for (HWND hwnd : ui::ThreadWindows()) {
        char name[64] = {};
        ::GetClassNameA(hwnd, name, sizeof name);
        if (std::string(name) == className) ++count;
    }
    return count;
}

constexpr UINT kHangMs = 20000;

class SelDirTest : public ::testing::Test {
protected:
    RecordingReporter reporter;
    ui::ScopedReporter scoped{reporter};
    LoopGuard guard{kHangMs};
};

TEST_F(SelDirTest, LayoutAtCreation) {
    TSelDirForm form;
    EXPECT_EQ(SelDirForm, &form);
    EXPECT_EQ(form.Text(), "浏览文件夹");
    EXPECT_EQ(PlaceOf(form), (Place{502, 267, 449, 310}));
    EXPECT_TRUE(::GetWindowLongPtrA(form.Handle(), GWL_STYLE) & WS_THICKFRAME);
    EXPECT_FALSE(form.Visible());
    EXPECT_EQ(form.DialogResult, "");

    const SIZE client = form.ClientSize();
    EXPECT_EQ(client.cx, 441);
    EXPECT_EQ(PlaceOf(form.ShellTreeView1), (Place{0, 0, client.cx, client.cy - 45}));
    EXPECT_EQ(PlaceOf(form.Panel1), (Place{0, client.cy - 45, client.cx, 45}));
    EXPECT_EQ(PlaceOf(form.OKBitBtn), (Place{256, 10, 65, 25}));
    EXPECT_EQ(PlaceOf(form.CloseBitBtn), (Place{336, 10, 65, 25}));
    EXPECT_EQ(form.OKBitBtn.Text(), "确 定");
    EXPECT_EQ(form.CloseBitBtn.Text(), "取 消");
    for (const ui::Button* button : {&form.OKBitBtn, &form.CloseBitBtn}) {
        EXPECT_EQ(::GetWindowLongPtrA(button->Handle(), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
    }

    // Tab order: the tree, then CloseBitBtn before OKBitBtn.
    const HWND tree = form.ShellTreeView1.Handle();
    EXPECT_EQ(::GetNextDlgTabItem(form.Handle(), tree, FALSE), form.CloseBitBtn.Handle());
    EXPECT_EQ(::GetNextDlgTabItem(form.Handle(), form.CloseBitBtn.Handle(), FALSE), form.OKBitBtn.Handle());

    // The desktop, expanded and selected.
    const HTREEITEM root = TreeView_GetRoot(tree);
    EXPECT_EQ(TreeView_GetSelection(tree), root);
    EXPECT_TRUE(TreeView_GetItemState(tree, root, TVIS_EXPANDED) & TVIS_EXPANDED);
    EXPECT_EQ(form.ShellTreeView1.SelectedPath(), DesktopDirectory());
}

TEST_F(SelDirTest, ResizingGivesTheChangeToTheTree) {
    TSelDirForm form;
    form.SetBounds(502, 267, 449 + 120, 310 + 90);
    const SIZE client = form.ClientSize();
    EXPECT_EQ(PlaceOf(form.ShellTreeView1), (Place{0, 0, client.cx, client.cy - 45}));
    EXPECT_EQ(PlaceOf(form.Panel1), (Place{0, client.cy - 45, client.cx, 45}));
    EXPECT_EQ(PlaceOf(form.OKBitBtn), (Place{256, 10, 65, 25}));
    EXPECT_EQ(PlaceOf(form.CloseBitBtn), (Place{336, 10, 65, 25}));
}

TEST_F(SelDirTest, OnlyOkGivesTheResultAndEnterOrEscapeCloseNothing) {
    TSelDirForm form;
    {
        SoonAction ok(kSoonMs, [&] { form.OKBitBtn.Click(); });
        form.ShowModal();
    }
    EXPECT_EQ(form.DialogResult, "mrOK");
    EXPECT_FALSE(form.Visible());
    {
        SoonAction closeBox(kSoonMs, [&] { ::SendMessageA(form.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); });
        form.ShowModal();
    }
    EXPECT_EQ(form.DialogResult, "");

    form.DialogResult = TSelDirForm::kResultOk;
    bool stillOpen = false;
    {
        SoonAction keys(kSoonMs, [&] {
            const HWND tree = form.ShellTreeView1.Handle();
            ::SetFocus(tree);
            for (const WPARAM key : {VK_ESCAPE, VK_RETURN}) {
                ::PostMessageA(tree, WM_KEYDOWN, key, 0);
                ::PostMessageA(tree, WM_KEYUP, key, 0);
            }
            ui::Application::Instance().ProcessMessages();
            stillOpen = form.Visible() && form.ModalResult() == ui::kModalNone;
            form.CloseBitBtn.Click();
        });
        form.ShowModal();
    }
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(form.DialogResult, "");
}

TEST_F(SelDirTest, RefusedRenameShowsTheUniformErrorBox) {
    TempTree temp{"mine", "theirs"};
    TSelDirForm form;
    const HWND tree = form.ShellTreeView1.Handle();
    const HTREEITEM item = form.ShellTreeView1.Shell().Select(temp / "mine");
    ASSERT_NE(item, nullptr);
    ::SetFocus(tree);
    const auto edit = reinterpret_cast<HWND>(
        ::SendMessageA(tree, TVM_EDITLABELA, 0, reinterpret_cast<LPARAM>(item)));
    ASSERT_NE(edit, nullptr);
    ::SetWindowTextA(edit, "theirs");
    ::SendMessageA(tree, TVM_ENDEDITLABELNOW, FALSE, 0);
    ui::Application::Instance().ProcessMessages();
    EXPECT_EQ(reporter.errors, (std::vector<std::string>{"Rename to theirs failed"}));
    EXPECT_TRUE(IsDirectory(temp / "mine"));
    EXPECT_EQ(form.ShellTreeView1.SelectedPath(), temp / "mine");
}

// A window that the program opens by itself (a run's dialog, a report box)
// takes the focus, and a tree commits an edit that loses it: the folder name
// being typed is dropped instead, and the folder keeps its name.
TEST_F(SelDirTest, ARunsDialogOrAReportBoxCancelsALabelEdit) {
    TempTree temp{"mine", "src"};
    ui::Application::Instance().SetTitle(kApplicationTitle);
    ScriptedClock clock;
    clock.Set({At(12, 0, 0)});
    MainFormSite site;
    site.exePath = [&] { return temp / "ZelvoBackup.exe"; };
    TMainForm main(clock.AsClock(), site);
    main.Timer1.SetEnabled(false);
    main.SourceEdit.SetText(temp / "src");
    main.DesEdit.SetText(temp / "dst");
    main.CheckBox1.SetChecked(true);
    main.DateTimePicker1.SetTime(EncodeTime(12, 0, 0));
    const std::vector<std::pair<const char*, std::function<void()>>> opening = {
        {"a run's dialog", [&] { ::SendMessageA(main.Handle(), WM_TIMER, TMainForm::kTimer1Id, 0); }},
        {"a report box", [] { ui::ShowReport(ui::Report{ui::ReportKind::Information, "", {"报告"}, ""}); }},
    };
    for (const auto& [what, open] : opening) {
        SCOPED_TRACE(what);
        TSelDirForm form;
        const HWND tree = form.ShellTreeView1.Handle();
        const HTREEITEM item = form.ShellTreeView1.Shell().Select(temp / "mine");
        ASSERT_NE(item, nullptr);
        bool editing = false, editorLeft = false;
        {
            SoonAction soon(kSoonMs, [&] {
                ::SetFocus(tree);
                const auto edit = reinterpret_cast<HWND>(
                    ::SendMessageA(tree, TVM_EDITLABELA, 0, reinterpret_cast<LPARAM>(item)));
                editing = edit != nullptr;
                ::SetWindowTextA(edit, "half");
                open();
                editorLeft = TreeView_GetEditControl(tree) == nullptr;
                form.CloseBitBtn.Click();
            });
            form.ShowModal();
        }
        EXPECT_TRUE(editing);
        EXPECT_TRUE(editorLeft);
        EXPECT_TRUE(IsDirectory(temp / "mine"));
        EXPECT_FALSE(IsDirectory(temp / "half"));
        EXPECT_EQ(ItemLabel(tree, item), "mine");
    }
    EXPECT_TRUE(IsDirectory(temp / "dst"));  // the run did happen
    EXPECT_EQ(reporter.informations, (std::vector<std::string>{"报告"}));
    EXPECT_TRUE(reporter.errors.empty());
}

class PickFolderTest : public SelDirTest {
protected:
    void SetUp() override {
        ui::Application::Instance().SetTitle(kApplicationTitle);
        main = std::make_unique<TMainForm>();
    }
    void TearDown() override {
        main.reset();
        EXPECT_EQ(SelDirForm, nullptr);
        EXPECT_EQ(ThreadWindowsOfClass(TSelDirForm::kClassName), 0) << "a folder dialog outlived its use";
    }

    // Clicks the ellipsis button of the edit; `inDialog` runs while the
    // dialog is up and must close it.
    void PickWith(ui::EditWithButton& edit, const std::function<void(TSelDirForm&)>& inDialog) {
        SoonAction soon(kSoonMs, [&] {
            ASSERT_NE(SelDirForm, nullptr);
            caption = SelDirForm->Text();
            openedAt = SelDirForm->ShellTreeView1.SelectedPath();
            inDialog(*SelDirForm);
            // A failed check above must not leave the dialog waiting.
            if (SelDirForm && SelDirForm->ModalResult() == ui::kModalNone) SelDirForm->CloseBitBtn.Click();
        });
        ::SendMessageA(edit.ButtonHandle(), BM_CLICK, 0, 0);
        EXPECT_TRUE(soon.Fired());
    }

    std::unique_ptr<TMainForm> main;
    std::string caption;
    std::string openedAt;
};

TEST_F(PickFolderTest, OkPutsTheSelectedFolderIntoTheField) {
    TempTree temp{"picked"};
    main->SourceEdit.SetText(temp.Path());
    PickWith(main->SourceEdit, [&](TSelDirForm& dialog) {
        dialog.ShellTreeView1.Shell().Select(temp / "picked");
        dialog.OKBitBtn.Click();
    });
    EXPECT_EQ(caption, "选择源目录");
    // The field's own path plays no part in where the tree opens.
    EXPECT_EQ(openedAt, DesktopDirectory());
    EXPECT_EQ(main->SourceEdit.Text(), temp / "picked");

    PickWith(main->DesEdit, [&](TSelDirForm& dialog) { dialog.OKBitBtn.Click(); });
    EXPECT_EQ(caption, "选择目的目录");
    EXPECT_EQ(main->DesEdit.Text(), DesktopDirectory());
}

TEST_F(PickFolderTest, VirtualFolderGivesItsDisplayName) {
    std::string label;
    PickWith(main->DesEdit, [&](TSelDirForm& dialog) {
        const HTREEITEM computer = dialog.ShellTreeView1.Shell().Select(kComputer);
        ASSERT_NE(computer, nullptr);
        label = ItemLabel(dialog.ShellTreeView1.Handle(), computer);
        dialog.OKBitBtn.Click();
    });
    EXPECT_FALSE(label.empty());
    EXPECT_EQ(main->DesEdit.Text(), label);
}

// So does OK on a folder whose name the code page cannot hold, which a box
// refuses at once, naming it as the program shows such names: "?" or a
// best-fit look-alike in its place would name no folder, or another one.
TEST_F(PickFolderTest, CancelCloseBoxOrAnUnheldNameKeepsTheField) {
    TempTree temp{"other"};
    main->SourceEdit.SetText("D:\\kept");
    PickWith(main->SourceEdit, [&](TSelDirForm& dialog) {
        dialog.ShellTreeView1.Shell().Select(temp / "other");
        dialog.CloseBitBtn.Click();
    });
    EXPECT_EQ(main->SourceEdit.Text(), "D:\\kept");
    PickWith(main->SourceEdit, [&](TSelDirForm& dialog) {
        dialog.ShellTreeView1.Shell().Select(temp / "other");
        ::SendMessageA(dialog.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(main->SourceEdit.Text(), "D:\\kept");
    EXPECT_TRUE(reporter.errors.empty());

    TempTree lone;
    ASSERT_TRUE(::CreateDirectoryW((WidenAnsi(lone.Path()) + L"\\Bj\u00e2").c_str(), nullptr));
    PickWith(main->SourceEdit, [&](TSelDirForm& dialog) {
        const HWND tree = dialog.ShellTreeView1.Handle();
        const HTREEITEM parent = dialog.ShellTreeView1.Shell().Select(lone.Path());
        ASSERT_NE(parent, nullptr);
        TreeView_Expand(tree, parent, TVE_EXPAND);
        const HTREEITEM picked = TreeView_GetChild(tree, parent);
        ASSERT_NE(picked, nullptr);
        TreeView_SelectItem(tree, picked);
        dialog.OKBitBtn.Click();
    });
    EXPECT_EQ(main->SourceEdit.Text(), "D:\\kept");
    EXPECT_EQ(reporter.errors, (std::vector<std::string>{
                                   "目录[" + lone.Path() + "\\Bj<U+00E2>]的名称含有系统代码页不能表示的字符, 请另选目录!"}));
}

}  // namespace
}  // namespace zelvo::test
