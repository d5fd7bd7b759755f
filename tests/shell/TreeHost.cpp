#include "TreeHost.h"

#include "core/Failure.h"
#include "platform/CommonControls.h"

#include <gtest/gtest.h>
#include <ole2.h>

namespace zelvo::test {
namespace {

constexpr char kHostClass[] = "ZelvoShellTreeHost";

// The program's entry initialises OLE; here the test environment does.
class OleEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES};
        ASSERT_TRUE(ui::comctl32::InitCommonControlsEx(&controls));
        WNDCLASSA host{};
        host.lpfnWndProc = DefWindowProcA;
        host.hInstance = GetModuleHandleA(nullptr);
        host.hCursor = LoadCursor(nullptr, IDC_ARROW);
        host.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        host.lpszClassName = kHostClass;
        ASSERT_NE(RegisterClassA(&host), 0);
    }
    void TearDown() override { OleUninitialize(); }
};

[[maybe_unused]] ::testing::Environment* const kOle =
    ::testing::AddGlobalTestEnvironment(new OleEnvironment);

}  // namespace

void Pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

TreeHost::TreeHost() {
    window_ = CreateWindowExA(0, kHostClass, "shell tree", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 80,
                              449, 310, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    EXPECT_NE(window_, nullptr);
    tree_ = CreateWindowExA(WS_EX_CLIENTEDGE, WC_TREEVIEWA, "",
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | ShellTree::kStyle, 0, 0, 441, 231,
                            window_, reinterpret_cast<HMENU>(kTreeId), GetModuleHandleA(nullptr),
                            nullptr);
    EXPECT_NE(tree_, nullptr);
    shell_ = std::make_unique<ShellTree>(tree_);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc));
    Pump();
}

TreeHost::~TreeHost() {
    shell_.reset();
    DestroyWindowNow();
}

void TreeHost::DestroyWindowNow() {
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
    window_ = nullptr;
    Pump();
}

LRESULT CALLBACK TreeHost::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TreeHost*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && message == WM_NOTIFY && self->shell_) {
        try {
            LRESULT result = 0;
            if (self->shell_->OnNotify(*reinterpret_cast<const NMHDR*>(lParam), result)) return result;
        } catch (const Failure& failure) {
            self->errors_.push_back(failure.what());
            return 0;
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

std::string ItemLabel(HWND tree, HTREEITEM item) {
    char text[MAX_PATH] = {};
    TVITEMA query{};
    query.mask = TVIF_TEXT;
    query.hItem = item;
    query.pszText = text;
    query.cchTextMax = MAX_PATH;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query));
    return text;
}

std::string TreeHost::Label(HTREEITEM item) const { return ItemLabel(tree_, item); }

std::vector<std::string> TreeHost::ChildLabels(HTREEITEM item) const {
    std::vector<std::string> labels;
    for (HTREEITEM child = TreeView_GetChild(tree_, item); child;
         child = TreeView_GetNextSibling(tree_, child)) {
        labels.push_back(Label(child));
    }
    return labels;
}

HTREEITEM TreeHost::Child(HTREEITEM parent, const std::string& label) const {
    for (HTREEITEM child = TreeView_GetChild(tree_, parent); child;
         child = TreeView_GetNextSibling(tree_, child)) {
        if (Label(child) == label) return child;
    }
    return nullptr;
}

int TreeHost::ChildrenFlag(HTREEITEM item) const {
    TVITEMA query{};
    query.mask = TVIF_CHILDREN;
    query.hItem = item;
    SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query));
    return query.cChildren;
}

bool TreeHost::Expanded(HTREEITEM item) const {
    return (TreeView_GetItemState(tree_, item, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
}

int TreeHost::Count() const { return static_cast<int>(TreeView_GetCount(tree_)); }

bool TreeHost::NodesMatchItems() const { return shell_->NodeCount() == static_cast<size_t>(Count()); }

HTREEITEM TreeHost::Open(const std::string& path) {
    const HTREEITEM item = shell_->Find(path);
    if (item) TreeView_Expand(tree_, item, TVE_EXPAND);
    return item;
}

bool TreeHost::EditLabel(HTREEITEM item, const std::string& text) {
    SetFocus(tree_);
    const auto edit = reinterpret_cast<HWND>(
        SendMessageA(tree_, TVM_EDITLABELA, 0, reinterpret_cast<LPARAM>(item)));
    if (!edit) return false;
    SetWindowTextA(edit, text.c_str());
    SendMessageA(tree_, TVM_ENDEDITLABELNOW, FALSE, 0);
    Pump();
    return true;
}

TempTree::TempTree(std::initializer_list<const char*> folders) {
    // A short 8.3 temporary path would not match the shell's parsing names.
    char path[MAX_PATH] = {};
    const DWORD length = GetLongPathNameA(scratch_.Path().c_str(), path, MAX_PATH);
    path_ = length > 0 && length < MAX_PATH ? std::string(path, length) : scratch_.Path();
    for (const char* folder : folders) Folder(folder);
}

void TempTree::Folder(const std::string& relative, DWORD attributes) const {
    const std::string full = *this / relative;
    EXPECT_TRUE(CreateDirectoryA(full.c_str(), nullptr)) << full;
    if (attributes) SetFileAttributesA(full.c_str(), attributes);
}

void TempTree::File(const std::string& relative) const {
    const std::string full = *this / relative;
    const HANDLE file = CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << full;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

bool IsDirectory(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace zelvo::test
