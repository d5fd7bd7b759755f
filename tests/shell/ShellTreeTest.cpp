#include "TreeHost.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace zelvo::test {

using ::testing::ElementsAre;

namespace {

constexpr char kComputer[] = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";

std::string KnownFolder(int csidl) {
    char path[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) ? path : "";
}

std::string ShellDisplayName(int csidl) {
    ITEMIDLIST* list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &list))) return {};
    SHFILEINFOA info{};
    SHGetFileInfoA(reinterpret_cast<LPCSTR>(list), 0, &info, sizeof info, SHGFI_PIDL | SHGFI_DISPLAYNAME);
    CoTaskMemFree(list);
    return info.szDisplayName;
}

HWND EditControl(HWND tree) { return TreeView_GetEditControl(tree); }

}  // namespace

TEST(ShellTree, StartsWithTheDesktopExpandedAndSelected) {
    TreeHost host;
    ShellTree& shell = host.Shell();
    const HWND tree = host.Tree();

    const HTREEITEM root = shell.Root();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(TreeView_GetParent(tree, root), nullptr);
    EXPECT_EQ(TreeView_GetNextSibling(tree, root), nullptr);
    EXPECT_EQ(TreeView_GetSelection(tree), root);
    EXPECT_TRUE(host.Expanded(root));
    EXPECT_EQ(host.Label(root), ShellDisplayName(CSIDL_DESKTOP));
    // The computer node is one of the desktop's folders on Windows and Wine
    // alike; what else sits there differs (see VirtualFolders below).
    const HTREEITEM computer = shell.Find(kComputer);
    ASSERT_NE(computer, nullptr);
    EXPECT_EQ(TreeView_GetParent(tree, computer), root);

    const auto style = static_cast<DWORD>(GetWindowLongPtrA(tree, GWL_STYLE));
    EXPECT_EQ(style & (TVS_HASBUTTONS | TVS_HASLINES | TVS_EDITLABELS),
              static_cast<DWORD>(TVS_HASBUTTONS | TVS_HASLINES | TVS_EDITLABELS));
    EXPECT_EQ(style & TVS_LINESATROOT, 0u);
    EXPECT_EQ(TreeView_GetIndent(tree), 19u);
    EXPECT_NE(TreeView_GetImageList(tree, TVSIL_NORMAL), nullptr);

    EXPECT_TRUE(host.NodesMatchItems());
}

TEST(ShellTree, PathIsTheParsingNameOrTheDisplayNameOfVirtualFolders) {
    TempTree temp{"real"};
    TreeHost host;
    ShellTree& shell = host.Shell();

    // Untouched: the desktop, whose parsing name is the desktop directory.
    EXPECT_EQ(shell.SelectedPath(), KnownFolder(CSIDL_DESKTOPDIRECTORY));

    ASSERT_NE(shell.Select(temp / "real"), nullptr);
    EXPECT_EQ(shell.SelectedPath(), temp / "real");

    const HTREEITEM drive = shell.Select("C:\\");
    ASSERT_NE(drive, nullptr);
    EXPECT_EQ(shell.SelectedPath(), "C:\\");
    EXPECT_NE(host.Label(drive), "C:\\");

    const HTREEITEM computer = shell.Select(kComputer);
    ASSERT_NE(computer, nullptr);
    const std::string name = shell.SelectedPath();
    EXPECT_EQ(name, host.Label(computer));
    EXPECT_EQ(name, ShellDisplayName(CSIDL_DRIVES));
    EXPECT_NE(name.substr(0, 3), "::{");

    TreeView_SelectItem(host.Tree(), nullptr);
    EXPECT_EQ(shell.SelectedPath(), "");
}

TEST(ShellTree, ExpandingListsSubfoldersInTheShellsOrderWithoutFilesOrHiddenOnes) {
    TempTree temp{"Gamma", "alpha", "alpha\\inner", "Beta"};
    temp.Folder("secret", FILE_ATTRIBUTE_HIDDEN);
    temp.File("file.txt");
    TreeHost host;
    ShellTree& shell = host.Shell();

    const HTREEITEM top = shell.Find(temp.Path());
    ASSERT_NE(top, nullptr);
    EXPECT_FALSE(host.Expanded(top));
    EXPECT_EQ(TreeView_GetChild(host.Tree(), top), nullptr) << "read before the first expansion";
    EXPECT_EQ(host.ChildrenFlag(top), 1);

    TreeView_Expand(host.Tree(), top, TVE_EXPAND);
    // Case-insensitive by name, not byte order ("B" < "G" < "a").
    EXPECT_THAT(host.ChildLabels(top), ElementsAre("alpha", "Beta", "Gamma"));
    EXPECT_EQ(shell.Find(temp / "secret"), nullptr);
    EXPECT_EQ(shell.Find(temp / "file.txt"), nullptr);

    const HTREEITEM alpha = host.Child(top, "alpha");
    TreeView_Expand(host.Tree(), alpha, TVE_EXPAND);
    EXPECT_THAT(host.ChildLabels(alpha), ElementsAre("inner"));

    // An empty folder loses its expand button once it has been looked into.
    const HTREEITEM gamma = host.Child(top, "Gamma");
    TreeView_Expand(host.Tree(), gamma, TVE_EXPAND);
    EXPECT_EQ(TreeView_GetChild(host.Tree(), gamma), nullptr);
    EXPECT_EQ(host.ChildrenFlag(gamma), 0);

    EXPECT_TRUE(host.NodesMatchItems());
}

TEST(ShellTree, ChildrenAreReadOnceUntilReloaded) {
    TempTree temp{"one"};
    TreeHost host;
    ShellTree& shell = host.Shell();
    const HTREEITEM top = host.Open(temp.Path());
    ASSERT_NE(top, nullptr);
    ASSERT_THAT(host.ChildLabels(top), ElementsAre("one"));

    // No refresh on file-system changes, nor on collapsing and expanding.
    temp.Folder("two");
    TreeView_Expand(host.Tree(), top, TVE_COLLAPSE);
    TreeView_Expand(host.Tree(), top, TVE_EXPAND);
    Pump();
    EXPECT_THAT(host.ChildLabels(top), ElementsAre("one"));

    shell.Reload(top);
    EXPECT_THAT(host.ChildLabels(top), ElementsAre("one", "two"));
    EXPECT_TRUE(host.Expanded(top));
    EXPECT_TRUE(host.NodesMatchItems());
}

TEST(ShellTree, LabelEditingRenamesTheFolderOnDisk) {
    TempTree temp{"before", "before\\inner"};
    TreeHost host;
    ShellTree& shell = host.Shell();
    const HTREEITEM item = host.Open(temp / "before");
    ASSERT_NE(item, nullptr);
    const HTREEITEM inner = host.Child(item, "inner");
    ASSERT_NE(inner, nullptr);

    ASSERT_TRUE(host.EditLabel(item, "after"));
    EXPECT_TRUE(host.Errors().empty());
    EXPECT_TRUE(IsDirectory(temp / "after"));
    EXPECT_FALSE(IsDirectory(temp / "before"));
    EXPECT_EQ(host.Label(item), "after");
    EXPECT_EQ(shell.PathOf(item), temp / "after");
    // Nodes below keep working after their parent's name has changed.
    EXPECT_EQ(shell.PathOf(inner), temp / "after\\inner");

    // A name in the ANSI code page (GBK) reaches the disk intact.
    ASSERT_TRUE(host.EditLabel(item, "备份目录"));
    EXPECT_TRUE(host.Errors().empty());
    EXPECT_TRUE(IsDirectory(temp / "备份目录"));
    EXPECT_EQ(host.Label(item), "备份目录");

    // Leaving the editor with Escape renames nothing.
    SetFocus(host.Tree());
    ASSERT_NE(reinterpret_cast<HWND>(SendMessageA(host.Tree(), TVM_EDITLABELA, 0,
                                                  reinterpret_cast<LPARAM>(item))),
              nullptr);
    SetWindowTextA(EditControl(host.Tree()), "ignored");
    SendMessageA(host.Tree(), TVM_ENDEDITLABELNOW, TRUE, 0);
    EXPECT_TRUE(IsDirectory(temp / "备份目录"));
    EXPECT_FALSE(IsDirectory(temp / "ignored"));
}

TEST(ShellTree, RefusedRenameFailsWithTheNewNameAndKeepsTheTree) {
    TempTree temp{"keep", "taken"};
    TreeHost host;
    ShellTree& shell = host.Shell();
    const HTREEITEM item = shell.Find(temp / "keep");
    ASSERT_NE(item, nullptr);

    ASSERT_TRUE(host.EditLabel(item, "taken"));
    ASSERT_TRUE(host.EditLabel(item, "a:b"));
    EXPECT_THAT(host.Errors(), ElementsAre("Rename to taken failed", "Rename to a:b failed"));
    EXPECT_TRUE(IsDirectory(temp / "keep"));
    EXPECT_EQ(host.Label(item), "keep");
    EXPECT_EQ(shell.PathOf(item), temp / "keep");

    // Still usable afterwards.
    ASSERT_TRUE(host.EditLabel(item, "free"));
    EXPECT_EQ(host.Errors().size(), 2u);
    EXPECT_TRUE(IsDirectory(temp / "free"));

    // The desktop itself is not renamed; the editor does not even open.
    EXPECT_FALSE(host.EditLabel(shell.Root(), "x"));
    EXPECT_EQ(host.Label(shell.Root()), ShellDisplayName(CSIDL_DESKTOP));
}

}  // namespace zelvo::test
