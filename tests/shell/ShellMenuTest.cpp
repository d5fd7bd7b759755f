// The shell's context menu on tree nodes, and the lifetime of node records.
#include "TreeHost.h"
#include "windows/WindowTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

namespace zelvo::test {

using ::testing::ElementsAre;

namespace {

constexpr UINT kPollMs = 100;
// A menu or box left open ends after this, failing the test instead of hanging it.
constexpr UINT kHangMs = 20000;

// A thread timer runs inside the modal loops of menus and message boxes, so
// it can answer them from the test's own thread.
class ModalAnswerer {
public:
    using Answer = void (*)(HWND window);

    explicit ModalAnswerer(Answer answer) {
        current_ = this;
        answer_ = answer;
        timer_ = SetTimer(nullptr, 0, kPollMs, Tick);
    }
    ~ModalAnswerer() {
        KillTimer(nullptr, timer_);
        current_ = nullptr;
    }
    ModalAnswerer(const ModalAnswerer&) = delete;
    ModalAnswerer& operator=(const ModalAnswerer&) = delete;

    int Answered() const { return answered_; }

    static void Yes(HWND dialog) { PostMessageA(dialog, WM_COMMAND, IDYES, 0); }

private:
    static BOOL CALLBACK Visit(HWND window, LPARAM) {
        if (current_->answered_) return FALSE;
        char name[32] = {};
        GetClassNameA(window, name, sizeof name);
        const std::string kind = name;
        if (IsWindowVisible(window) && (kind == "#32770" || kind == "#32768")) {
            ++current_->answered_;
            current_->answer_(window);
            return FALSE;
        }
        return TRUE;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (current_) EnumThreadWindows(GetCurrentThreadId(), Visit, 0);
        // Menu windows are owned by no thread window list on some systems.
        if (current_ && !current_->answered_) {
            if (HWND menu = FindWindowA("#32768", nullptr); menu && IsWindowVisible(menu)) {
                ++current_->answered_;
                current_->answer_(menu);
            }
        }
    }

    static inline ModalAnswerer* current_ = nullptr;
    Answer answer_ = nullptr;
    UINT_PTR timer_ = 0;
    int answered_ = 0;
};

// The command identifier the tree's menu gives a verb, found through a menu
// of our own built the same way.
UINT CommandOf(const std::string& path, const char* verb) {
    ITEMIDLIST* absolute = nullptr;
    wchar_t wide[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    if (FAILED(SHParseDisplayName(wide, nullptr, &absolute, 0, nullptr))) return 0;
    IShellFolder* parent = nullptr;
    const ITEMIDLIST* child = nullptr;
    UINT found = 0;
    if (SUCCEEDED(SHBindToParent(absolute, IID_IShellFolder, reinterpret_cast<void**>(&parent), &child))) {
        IContextMenu* menu = nullptr;
        if (SUCCEEDED(parent->GetUIObjectOf(nullptr, 1, &child, IID_IContextMenu, nullptr,
                                            reinterpret_cast<void**>(&menu)))) {
            const HMENU popup = CreatePopupMenu();
            menu->QueryContextMenu(popup, 0, ShellTree::kFirstCommand, ShellTree::kLastCommand,
                                   CMF_NORMAL | CMF_CANRENAME);
            for (int at = 0; at < GetMenuItemCount(popup) && !found; ++at) {
                const UINT id = GetMenuItemID(popup, at);
                char name[64] = {};
                if (id >= ShellTree::kFirstCommand && id != UINT(-1) &&
                    SUCCEEDED(menu->GetCommandString(id - ShellTree::kFirstCommand, GCS_VERBA, nullptr,
                                                     name, sizeof name)) &&
                    lstrcmpiA(name, verb) == 0) {
                    found = id;
                }
            }
            DestroyMenu(popup);
            menu->Release();
        }
        parent->Release();
    }
    CoTaskMemFree(absolute);
    return found;
}

// What the menu showed and which command the keyboard picked in it.
UINT g_wanted = 0;
int g_menuItems = -1;
bool g_picked = false;

// The next menu picks this command, or is dismissed when it is 0.
void WantCommand(UINT command) {
    g_wanted = command;
    g_menuItems = -1;
    g_picked = false;
}

void PickWanted(HWND menuWindow) {
    const auto menu = reinterpret_cast<HMENU>(SendMessageA(menuWindow, MN_GETHMENU, 0, 0));
    g_menuItems = menu ? GetMenuItemCount(menu) : -1;
    // Arrow keys move over every item but separators; Enter chooses.
    int presses = 0;
    for (int at = 0; menu && at < g_menuItems; ++at) {
        if (!(GetMenuState(menu, static_cast<UINT>(at), MF_BYPOSITION) & MF_SEPARATOR)) ++presses;
        if (g_wanted && GetMenuItemID(menu, at) == g_wanted) {
            g_picked = true;
            break;
        }
    }
    if (!g_picked) {
        EndMenu();
        return;
    }
    for (int press = 0; press < presses; ++press) PostMessageA(menuWindow, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menuWindow, WM_KEYDOWN, VK_RETURN, 0);
}

RECT ItemRect(HWND tree, HTREEITEM item) {
    // TVM_GETITEMRECT takes the item in the rectangle's place.
    RECT rect{};
    std::memcpy(&rect, &item, sizeof item);
    SendMessageA(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rect));
    return rect;
}

// The right click as the tree reports it: the cursor over the middle of the
// item's label, then NM_RCLICK to the parent. (Synthesised mouse input is
// not used: under Wine the button-up can reach the menu and choose an item.)
// False when the cursor could not be put there.
bool RightClick(HWND tree, HTREEITEM item) {
    const RECT rect = ItemRect(tree, item);
    POINT at{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    ClientToScreen(tree, &at);
    // Under Wine the pointer warp is now and then refused or late: try again
    // until the cursor reads back where it was put.
    POINT cursor{};
    for (int attempt = 0; attempt < 50; ++attempt) {
        SetForegroundWindow(GetAncestor(tree, GA_ROOT));
        SetCursorPos(at.x, at.y);
        Pump();
        if (GetCursorPos(&cursor) && cursor.x == at.x && cursor.y == at.y) break;
        Sleep(20);
    }
    if (cursor.x != at.x || cursor.y != at.y) return false;
    NMHDR click{tree, static_cast<UINT_PTR>(GetDlgCtrlID(tree)), static_cast<UINT>(NM_RCLICK)};
    SendMessageA(GetParent(tree), WM_NOTIFY, click.idFrom, reinterpret_cast<LPARAM>(&click));
    Pump();
    return true;
}

}  // namespace

TEST(ShellTreeMenu, RightClickSelectsTheNodeAndRenameFromTheMenuEditsItsLabel) {
    const LoopGuard guard(kHangMs);
    TempTree temp{"clicked", "other"};
    TreeHost host;
    ShellTree& shell = host.Shell();
    const HTREEITEM top = host.Open(temp.Path());
    ASSERT_NE(top, nullptr);
    const HTREEITEM item = host.Child(top, "clicked");
    ASSERT_NE(item, nullptr);
    TreeView_EnsureVisible(host.Tree(), item);

    const UINT rename = CommandOf(temp / "clicked", "rename");
    ASSERT_NE(rename, 0u) << "the shell offers no rename command";
    WantCommand(rename);
    {
        const ModalAnswerer answerer(PickWanted);
        ASSERT_TRUE(RightClick(host.Tree(), item)) << "the cursor cannot be placed over the item";
        ASSERT_EQ(answerer.Answered(), 1) << "no context menu came up";
    }
    EXPECT_GT(g_menuItems, 0);
    EXPECT_TRUE(g_picked);
    EXPECT_EQ(TreeView_GetSelection(host.Tree()), item);
    EXPECT_EQ(shell.SelectedPath(), temp / "clicked");

    // The shell did not rename anything; the tree opened its own editor.
    const HWND edit = TreeView_GetEditControl(host.Tree());
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(IsDirectory(temp / "clicked"));
    SetWindowTextA(edit, "renamed");
    SendMessageA(host.Tree(), TVM_ENDEDITLABELNOW, FALSE, 0);
    Pump();
    EXPECT_TRUE(IsDirectory(temp / "renamed"));
    EXPECT_EQ(host.Label(item), "renamed");
    EXPECT_TRUE(host.Errors().empty());
}

TEST(ShellTreeMenu, DismissedMenuChangesNothing) {
    const LoopGuard guard(kHangMs);
    TempTree temp{"quiet"};
    TreeHost host;
    ShellTree& shell = host.Shell();
    const HTREEITEM item = shell.Select(temp / "quiet");
    ASSERT_NE(item, nullptr);
    const int count = host.Count();

    WantCommand(0);
    {
        const ModalAnswerer answerer(PickWanted);
        ASSERT_TRUE(RightClick(host.Tree(), item)) << "the cursor cannot be placed over the item";
        ASSERT_EQ(answerer.Answered(), 1);
    }
    EXPECT_GT(g_menuItems, 0);
    EXPECT_FALSE(g_picked);
    EXPECT_EQ(TreeView_GetSelection(host.Tree()), item);
    EXPECT_EQ(TreeView_GetEditControl(host.Tree()), nullptr);
    EXPECT_EQ(host.Count(), count);
    EXPECT_EQ(host.Label(item), "quiet");
    EXPECT_TRUE(IsDirectory(temp / "quiet"));
}

TEST(ShellTreeMenu, DeleteRemovesTheNodeOnceTheFolderIsGone) {
    // Wine's shell deletes into the XDG trash; ctest points XDG_DATA_HOME
    // into the build tree, and without it the folder would land in the
    // user's own trash.
    if (GetEnvironmentVariableA("XDG_DATA_HOME", nullptr, 0) == 0) {
        GTEST_SKIP() << "XDG_DATA_HOME is not set (run through ctest)";
    }
    const LoopGuard guard(kHangMs);
    TempTree temp{"doomed", "doomed\\below", "stays"};
    TreeHost host;
    ShellTree& shell = host.Shell();
    const HTREEITEM top = host.Open(temp.Path());
    ASSERT_NE(top, nullptr);
    const HTREEITEM doomed = host.Child(top, "doomed");
    ASSERT_NE(doomed, nullptr);
    TreeView_Expand(host.Tree(), doomed, TVE_EXPAND);
    const int count = host.Count();

    {
        // The shell asks before deleting; say yes.
        const ModalAnswerer answerer(ModalAnswerer::Yes);
        ASSERT_TRUE(shell.InvokeVerb(doomed, "delete"));
    }
    EXPECT_FALSE(IsDirectory(temp / "doomed"));
    EXPECT_THAT(host.ChildLabels(top), ElementsAre("stays"));
    EXPECT_EQ(host.Count(), count - 2);
    EXPECT_TRUE(host.NodesMatchItems());
}

TEST(ShellTreeMenu, OtherVerbsLeaveTheTreeAsTheShellLeftTheDisk) {
    TempTree temp{"source", "target"};
    TreeHost host;
    ShellTree& shell = host.Shell();
    const HTREEITEM top = host.Open(temp.Path());
    ASSERT_NE(top, nullptr);
    const HTREEITEM source = host.Child(top, "source");
    const HTREEITEM target = host.Child(top, "target");
    ASSERT_TRUE(source && target);
    TreeView_Expand(host.Tree(), target, TVE_EXPAND);
    const int count = host.Count();

    ASSERT_TRUE(shell.InvokeVerb(source, "copy"));
    EXPECT_EQ(host.Count(), count);
    EXPECT_THAT(host.ChildLabels(top), ElementsAre("source", "target"));

    // Windows pastes into a folder from its own menu and the node is read
    // again; Wine's folder menu has no paste, and nothing changes.
    shell.InvokeVerb(target, "paste");
    const std::vector<std::string> expected =
        IsDirectory(temp / "target\\source") ? std::vector<std::string>{"source"}
                                              : std::vector<std::string>{};
    EXPECT_EQ(host.ChildLabels(target), expected);
    EXPECT_TRUE(host.NodesMatchItems());
}

TEST(ShellTreeLifetime, NodesGoWithTheWindowOrWithTheTree) {
    {
        TreeHost host;
        ASSERT_GT(host.Shell().NodeCount(), 1u);
        host.DestroyWindowNow();
        // The window forwarded every TVN_DELETEITEM while it went.
        EXPECT_EQ(host.Shell().NodeCount(), 0u);
        host.DropShell();
    }
    {
        TreeHost host;
        host.DropShell();
        EXPECT_TRUE(IsWindow(host.Tree()));
        EXPECT_EQ(host.Count(), 0);
    }
}

}  // namespace zelvo::test
