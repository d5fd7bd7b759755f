#include "platform/ShellTree.h"

#include "core/Failure.h"
#include "core/FileSystem.h"
#include "core/Paths.h"
#include "platform/CommonControls.h"
#include "platform/Gdi.h"

#include <algorithm>
#include <vector>

namespace zelvo::ui {
namespace {

constexpr char kRenameFailed[] = "Rename to %s failed";
constexpr UINT_PTR kMenuRelayId = 1;
constexpr UINT kContextMenuFlags = CMF_NORMAL | CMF_CANRENAME;
constexpr int kVerbSize = 256;
// The action part of NMTREEVIEW::action (TVE_ACTIONMASK, missing from MinGW).
constexpr UINT kExpandActionMask = TVE_COLLAPSE | TVE_EXPAND;

struct TaskMemFree {
    void operator()(void* memory) const noexcept { CoTaskMemFree(memory); }
};

// The ANSI form of a shell name, never with a best-fit look-alike (Windows
// gives "a" for "â", and a path so narrowed names another folder): a
// character the code page lacks becomes "?", and `held` says whether it
// lacked none. UTF-8 as the ANSI code page holds every name, and takes
// neither the flag nor the default-character report.
std::string Narrow(const wchar_t* text, bool* held = nullptr) {
    if (held) *held = true;
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* report = utf8 ? nullptr : &usedDefault;
    const int size = WideCharToMultiByte(CP_ACP, flags, text, -1, nullptr, 0, nullptr, report);
    if (size <= 1) return {};
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, flags, text, -1, &narrow[0], size, nullptr, report);
    narrow.resize(static_cast<size_t>(size - 1));
    if (held) *held = !usedDefault && WidenAnsi(narrow) == text;
    return narrow;
}

bool SameText(const std::string& a, const char* b) { return lstrcmpiA(a.c_str(), b) == 0; }

std::wstring WideDisplayName(IShellFolder* folder, const ITEMIDLIST* child, SHGDNF flags) {
    STRRET name{};
    if (!folder || FAILED(folder->GetDisplayNameOf(child, flags, &name))) return {};
    switch (name.uType) {
    case STRRET_WSTR: {
        const std::unique_ptr<wchar_t, TaskMemFree> owned(name.pOleStr);
        return owned ? std::wstring(owned.get()) : std::wstring();
    }
    case STRRET_OFFSET:
        return WidenAnsi(reinterpret_cast<const char*>(child) + name.uOffset);
    case STRRET_CSTR:
        return WidenAnsi(name.cStr);
    default:
        return {};
    }
}

std::string DisplayName(IShellFolder* folder, const ITEMIDLIST* child, SHGDNF flags) {
    return Narrow(WideDisplayName(folder, child, flags).c_str());
}

SFGAOF AttributesOf(IShellFolder* folder, const ITEMIDLIST* child, SFGAOF wanted) {
    const ITEMIDLIST* items[] = {child};
    SFGAOF attributes = wanted;
    if (!folder || FAILED(folder->GetAttributesOf(1, items, &attributes))) return 0;
    return attributes & wanted;
}

std::string VerbOf(IContextMenu& menu, UINT offset) {
    char verb[kVerbSize] = {};
    if (SUCCEEDED(menu.GetCommandString(offset, GCS_VERBA, nullptr, verb, kVerbSize)) && verb[0]) {
        return verb;
    }
    // Some handlers answer only the Unicode form.
    wchar_t wide[kVerbSize] = {};
    if (SUCCEEDED(menu.GetCommandString(offset, GCS_VERBW, nullptr, reinterpret_cast<LPSTR>(wide),
                                        kVerbSize))) {
        return Narrow(wide);
    }
    return {};
}

class CurrentDirectoryScope {
public:
    explicit CurrentDirectoryScope(const std::string& directory) {
        char saved[MAX_PATH];
        const DWORD length = GetCurrentDirectoryA(MAX_PATH, saved);
        if (length > 0 && length < MAX_PATH) saved_.assign(saved, length);
        if (!directory.empty()) SetCurrentDirectoryA(directory.c_str());
    }
    ~CurrentDirectoryScope() {
        if (!saved_.empty()) SetCurrentDirectoryA(saved_.c_str());
    }
    CurrentDirectoryScope(const CurrentDirectoryScope&) = delete;
    CurrentDirectoryScope& operator=(const CurrentDirectoryScope&) = delete;

private:
    std::string saved_;
};

// Submenus such as "Send To" are filled and drawn by the shell only when the
// menu's owner window passes these messages on to IContextMenu2/3.
class MenuMessageRelay {
public:
    MenuMessageRelay(HWND owner, const ComPtr<IContextMenu>& menu)
        : owner_(owner), menu2_(menu.As<IContextMenu2>()), menu3_(menu.As<IContextMenu3>()) {
        installed_ = (menu2_ || menu3_) &&
                     comctl32::SetWindowSubclass(owner_, Relay, kMenuRelayId, reinterpret_cast<DWORD_PTR>(this));
    }
    ~MenuMessageRelay() {
        if (installed_) comctl32::RemoveWindowSubclass(owner_, Relay, kMenuRelayId);
    }
    MenuMessageRelay(const MenuMessageRelay&) = delete;
    MenuMessageRelay& operator=(const MenuMessageRelay&) = delete;

private:
    static LRESULT CALLBACK Relay(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                  DWORD_PTR data) {
        auto* self = reinterpret_cast<MenuMessageRelay*>(data);
        switch (message) {
        case WM_INITMENUPOPUP:
        case WM_DRAWITEM:
        case WM_MEASUREITEM:
        case WM_MENUCHAR: {
            LRESULT result = 0;
            if (self->menu3_ &&
                SUCCEEDED(self->menu3_->HandleMenuMsg2(message, wParam, lParam, &result))) {
                return result;
            }
            if (self->menu2_ && message != WM_MENUCHAR &&
                SUCCEEDED(self->menu2_->HandleMenuMsg(message, wParam, lParam))) {
                return message == WM_INITMENUPOPUP ? 0 : TRUE;
            }
            break;
        }
        default:
            break;
        }
        return comctl32::DefSubclassProc(window, message, wParam, lParam);
    }

    HWND owner_;
    ComPtr<IContextMenu2> menu2_;
    ComPtr<IContextMenu3> menu3_;
    bool installed_ = false;
};

}  // namespace

ShellTree::ShellTree(HWND tree) : tree_(tree) {
    // Notifications come as the ...A codes, whatever the parent answers to
    // WM_NOTIFYFORMAT.
    SendMessageA(tree_, TVM_SETUNICODEFORMAT, FALSE, 0);
    const LONG_PTR style = GetWindowLongPtrA(tree_, GWL_STYLE);
    SetWindowLongPtrA(tree_, GWL_STYLE, (style & ~static_cast<LONG_PTR>(TVS_LINESATROOT)) | kStyle);
    TreeView_SetIndent(tree_, kIndent);

    const Pidl desktop = Pidl::Empty();
    SHFILEINFOA info{};
    // The system image list is shared by the whole process: never destroyed.
    const auto images = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoA(reinterpret_cast<LPCSTR>(desktop.Get()), 0, &info, sizeof info,
                       SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    if (images) TreeView_SetImageList(tree_, images, TVSIL_NORMAL);

    if (FAILED(SHGetDesktopFolder(desktop_.Put()))) return;
    root_ = Insert(nullptr, Pidl::Empty(), desktop.Get(),
                   LabelOf(desktop_.Get(), desktop.Get(), true), true);
    if (!root_) return;
    // Read here rather than from the expanding notification: the dialog
    // cannot forward notifications to an object still being constructed.
    ReadChildren(root_);
    TreeView_Expand(tree_, root_, TVE_EXPAND);
    TreeView_SelectItem(tree_, root_);
}

ShellTree::~ShellTree() {
    if (IsWindow(tree_)) TreeView_DeleteAllItems(tree_);
    // nodes_ frees the records whose deletion notice never reached us.
}

bool ShellTree::OnNotify(const NMHDR& header, LRESULT& result) {
    if (header.hwndFrom != tree_) return false;
    switch (header.code) {
    case TVN_ITEMEXPANDINGA:
    case TVN_ITEMEXPANDINGW: {
        // The A and W forms differ only in the text pointer, not read here.
        const auto& change = reinterpret_cast<const NMTREEVIEWA&>(header);
        if ((change.action & kExpandActionMask) == TVE_EXPAND) {
            const Node* node = NodeOf(change.itemNew.hItem);
            if (node && !node->childrenRead) ReadChildren(change.itemNew.hItem);
        }
        result = FALSE;
        return true;
    }
    case TVN_DELETEITEMA:
    case TVN_DELETEITEMW: {
        const auto& change = reinterpret_cast<const NMTREEVIEWA&>(header);
        nodes_.erase(reinterpret_cast<const Node*>(change.itemOld.lParam));
        result = 0;
        return true;
    }
    case NM_RCLICK: {
        POINT cursor{};
        GetCursorPos(&cursor);
        TVHITTESTINFO hit{};
        hit.pt = cursor;
        ScreenToClient(tree_, &hit.pt);
        const HTREEITEM item = TreeView_HitTest(tree_, &hit);
        if (item && (hit.flags & TVHT_ONITEM)) ShowContextMenu(item, cursor);
        // Handled: no WM_CONTEXTMENU after it.
        result = TRUE;
        return true;
    }
    case TVN_BEGINLABELEDITA: {
        const auto& info = reinterpret_cast<const NMTVDISPINFOA&>(header);
        const bool allowed = CanRename(info.item.hItem);
        editing_ = allowed ? info.item.hItem : nullptr;
        result = allowed ? FALSE : TRUE;
        return true;
    }
    case TVN_ENDLABELEDITA: {
        const auto& info = reinterpret_cast<const NMTVDISPINFOA&>(header);
        // Rename sets the label from the shell; the tree must not put the
        // typed text over it.
        result = FALSE;
        // Wine's tree view ends an edit a second time, with the typed text,
        // when the destroyed editor hands the focus back: only the first
        // end of each edit counts.
        const bool current = editing_ != nullptr && editing_ == info.item.hItem;
        editing_ = nullptr;
        if (current && info.item.pszText) Rename(info.item.hItem, info.item.pszText);
        return true;
    }
    default:
        return false;
    }
}

std::string ShellTree::SelectedPath(std::wstring* unheld) const {
    return PathOf(TreeView_GetSelection(tree_), unheld);
}

std::string ShellTree::PathOf(HTREEITEM item, std::wstring* unheld) const {
    if (unheld) unheld->clear();
    const Node* node = NodeOf(item);
    if (!node) return {};
    const ComPtr<IShellFolder> parent = ParentFolderOf(item);
    const std::wstring path = WideDisplayName(parent.Get(), node->child.Get(), SHGDN_NORMAL | SHGDN_FORPARSING);
    if (path.compare(0, 3, L"::{") == 0) return LabelOf(parent.Get(), node->child.Get(), item == root_);
    bool held = true;
    std::string narrow = Narrow(path.c_str(), &held);
    if (!held && unheld) *unheld = path;
    return narrow;
}

HTREEITEM ShellTree::Find(const std::string& path) {
    if (!desktop_ || !root_) return nullptr;
    std::wstring name = WidenAnsi(path);
    if (name.empty()) return nullptr;
    Pidl target;
    ULONG eaten = 0;
    if (FAILED(desktop_->ParseDisplayName(tree_, nullptr, &name[0], &eaten, target.Put(), nullptr)) ||
        !target) {
        return nullptr;
    }
    HTREEITEM at = root_;
    for (const ITEMIDLIST* rest = target.Get(); at && rest && rest->mkid.cb; rest = PidlNext(rest)) {
        at = FindChild(at, Pidl::Head(rest).Get());
    }
    return at;
}

HTREEITEM ShellTree::Select(const std::string& path) {
    const HTREEITEM item = Find(path);
    if (item) {
        TreeView_SelectItem(tree_, item);
        TreeView_EnsureVisible(tree_, item);
    }
    return item;
}

HTREEITEM ShellTree::FindChild(HTREEITEM parent, const ITEMIDLIST* id) {
    const Node* node = NodeOf(parent);
    if (!node) return nullptr;
    if (!node->childrenRead) ReadChildren(parent);
    TreeView_Expand(tree_, parent, TVE_EXPAND);
    const ComPtr<IShellFolder> folder = FolderOf(parent);
    if (!folder) return nullptr;
    for (HTREEITEM child = TreeView_GetChild(tree_, parent); child;
         child = TreeView_GetNextSibling(tree_, child)) {
        const Node* candidate = NodeOf(child);
        if (candidate && folder->CompareIDs(0, candidate->child.Get(), id) == S_OK) return child;
    }
    return nullptr;
}

void ShellTree::ShowContextMenu(HTREEITEM item, POINT screen) {
    TreeView_SelectItem(tree_, item);
    const ComPtr<IContextMenu> menu = ContextMenuOf(item);
    if (!menu) return;
    const ScopedMenu popup(CreatePopupMenu());
    if (!popup.Get() ||
        FAILED(menu->QueryContextMenu(popup.Get(), 0, kFirstCommand, kLastCommand, kContextMenuFlags))) {
        return;
    }
    UINT chosen = 0;
    {
        const MenuMessageRelay relay(tree_, menu);
        chosen = static_cast<UINT>(TrackPopupMenu(popup.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON,
                                                  screen.x, screen.y, 0, tree_, nullptr));
    }
    if (chosen < kFirstCommand) return;
    const UINT offset = chosen - kFirstCommand;
    CarryOut(item, *menu.Get(), MAKEINTRESOURCEA(offset), VerbOf(*menu.Get(), offset));
}

bool ShellTree::InvokeVerb(HTREEITEM item, const std::string& verb) {
    const ComPtr<IContextMenu> menu = ContextMenuOf(item);
    if (!menu) return false;
    // Menus learn their commands in QueryContextMenu, also those run by verb.
    const ScopedMenu popup(CreatePopupMenu());
    menu->QueryContextMenu(popup.Get(), 0, kFirstCommand, kLastCommand, kContextMenuFlags);
    CarryOut(item, *menu.Get(), verb.c_str(), verb);
    return true;
}

void ShellTree::CarryOut(HTREEITEM item, IContextMenu& menu, LPCSTR command,
                         const std::string& verb) {
    if (SameText(verb, "rename")) {
        SetFocus(tree_);
        SendMessageA(tree_, TVM_EDITLABELA, 0, reinterpret_cast<LPARAM>(item));
        return;
    }
    // Taken before the command runs: a deleted folder has no name left.
    const std::string path = PathOf(item);
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    info.hwnd = tree_;
    info.lpVerb = command;
    info.nShow = SW_SHOWNORMAL;
    HRESULT hr;
    if (SameText(verb, "open")) {
        const CurrentDirectoryScope directory(DirectoryPart(path));
        hr = menu.InvokeCommand(&info);
    } else {
        hr = menu.InvokeCommand(&info);
    }
    if (FAILED(hr)) return;
    if (SameText(verb, "delete")) {
        if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) Remove(item);
    } else if (SameText(verb, "paste")) {
        Reload(item);
    }
}

void ShellTree::Rename(HTREEITEM item, const std::string& name) {
    Node* node = NodeOf(item);
    const ComPtr<IShellFolder> parent = ParentFolderOf(item);
    const std::wstring wide = WidenAnsi(name);
    Pidl renamed;
    // No owner window: the shell's own refusal box would come on top of ours.
    const bool done = node && parent && item != root_ && CanRename(item) &&
                      SUCCEEDED(parent->SetNameOf(nullptr, node->child.Get(), wide.c_str(),
                                                  SHGDN_INFOLDER, renamed.Put()));
    if (!done) throw Failure(FormatMessageText(kRenameFailed, name));
    if (!renamed) {
        Reload(ParentOf(item));
        return;
    }
    node->child = std::move(renamed);
    std::string label = LabelOf(parent.Get(), node->child.Get(), false);
    TVITEMA update{};
    update.mask = TVIF_TEXT;
    update.hItem = item;
    update.pszText = &label[0];
    SendMessageA(tree_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&update));
}

void ShellTree::Reload(HTREEITEM item) {
    Node* node = NodeOf(item);
    if (!node) return;
    const bool expanded = (TreeView_GetItemState(tree_, item, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
    RemoveChildren(item);
    node->childrenRead = false;
    ReadChildren(item);
    if (expanded) TreeView_Expand(tree_, item, TVE_EXPAND);
}

ShellTree::Node* ShellTree::NodeOf(HTREEITEM item) const {
    if (!item) return nullptr;
    TVITEMA query{};
    query.mask = TVIF_PARAM;
    query.hItem = item;
    if (!SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query))) return nullptr;
    return reinterpret_cast<Node*>(query.lParam);
}

HTREEITEM ShellTree::ParentOf(HTREEITEM item) const { return TreeView_GetParent(tree_, item); }

Pidl ShellTree::AbsoluteOf(HTREEITEM item) const {
    std::vector<const Node*> chain;
    for (HTREEITEM at = item; at; at = ParentOf(at)) {
        if (const Node* node = NodeOf(at)) chain.push_back(node);
    }
    Pidl absolute = Pidl::Empty();
    for (auto node = chain.rbegin(); node != chain.rend(); ++node) {
        absolute = Pidl::Concat(absolute.Get(), (*node)->child.Get());
    }
    return absolute;
}

ComPtr<IShellFolder> ShellTree::FolderOf(HTREEITEM item) const {
    if (!desktop_ || !item) return {};
    if (item == root_) return desktop_;
    ComPtr<IShellFolder> folder;
    const Pidl absolute = AbsoluteOf(item);
    if (FAILED(desktop_->BindToObject(absolute.Get(), nullptr, IID_IShellFolder, folder.PutVoid()))) {
        return {};
    }
    return folder;
}

// The desktop is its own parent, holding itself as the empty ID list.
ComPtr<IShellFolder> ShellTree::ParentFolderOf(HTREEITEM item) const {
    return item == root_ ? desktop_ : FolderOf(ParentOf(item));
}

std::string ShellTree::LabelOf(IShellFolder* parent, const ITEMIDLIST* child, bool root) const {
    return DisplayName(parent, child, root ? SHGDN_NORMAL : SHGDN_INFOLDER);
}

ComPtr<IContextMenu> ShellTree::ContextMenuOf(HTREEITEM item) const {
    const Node* node = NodeOf(item);
    const ComPtr<IShellFolder> parent = ParentFolderOf(item);
    if (!node || !parent) return {};
    const ITEMIDLIST* items[] = {node->child.Get()};
    ComPtr<IContextMenu> menu;
    if (FAILED(parent->GetUIObjectOf(tree_, 1, items, IID_IContextMenu, nullptr, menu.PutVoid()))) {
        return {};
    }
    return menu;
}

bool ShellTree::CanRename(HTREEITEM item) const {
    const Node* node = NodeOf(item);
    if (!node || item == root_) return false;
    const ComPtr<IShellFolder> parent = ParentFolderOf(item);
    return AttributesOf(parent.Get(), node->child.Get(), SFGAO_CANRENAME) != 0;
}

HTREEITEM ShellTree::Insert(HTREEITEM parent, Pidl child, const ITEMIDLIST* absolute,
                            const std::string& label, bool hasSubfolders) {
    SHFILEINFOA closed{};
    SHFILEINFOA open{};
    const auto id = reinterpret_cast<LPCSTR>(absolute);
    SHGetFileInfoA(id, 0, &closed, sizeof closed, SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    SHGetFileInfoA(id, 0, &open, sizeof open,
                   SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_OPENICON);

    auto node = std::make_unique<Node>();
    node->child = std::move(child);
    Node* record = node.get();
    nodes_.emplace(record, std::move(node));

    std::string text = label;
    TVINSERTSTRUCTA insert{};
    insert.hParent = parent ? parent : TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN | TVIF_PARAM;
    insert.item.pszText = &text[0];
    insert.item.iImage = closed.iIcon;
    insert.item.iSelectedImage = open.iIcon;
    insert.item.cChildren = hasSubfolders ? 1 : 0;
    insert.item.lParam = reinterpret_cast<LPARAM>(record);
    const auto item = reinterpret_cast<HTREEITEM>(
        SendMessageA(tree_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
    if (!item) nodes_.erase(record);
    return item;
}

void ShellTree::ReadChildren(HTREEITEM item) {
    Node* node = NodeOf(item);
    if (!node) return;
    node->childrenRead = true;

    struct Entry {
        Pidl child;
        SFGAOF attributes;
    };
    std::vector<Entry> entries;
    const ComPtr<IShellFolder> folder = FolderOf(item);
    ComPtr<IEnumIDList> list;
    // S_FALSE comes with no enumerator (nothing to list, or a cancelled
    // prompt for a drive without a medium).
    if (folder && folder->EnumObjects(tree_, SHCONTF_FOLDERS, list.Put()) == S_OK && list) {
        Pidl child;
        while (list->Next(1, child.Put(), nullptr) == S_OK) {
            const SFGAOF attributes = AttributesOf(
                folder.Get(), child.Get(), SFGAO_FOLDER | SFGAO_STREAM | SFGAO_HIDDEN | SFGAO_HASSUBFOLDER);
            // Folders that are really files (zip and cab archives carry
            // SFGAO_STREAM) are no place to back up to; hidden ones are left
            // out even if an enumerator ignores SHCONTF_INCLUDEHIDDEN.
            if (!(attributes & SFGAO_FOLDER) || (attributes & (SFGAO_STREAM | SFGAO_HIDDEN))) continue;
            entries.push_back({std::move(child), attributes});
        }
    }
    IShellFolder* order = folder.Get();
    std::stable_sort(entries.begin(), entries.end(), [order](const Entry& a, const Entry& b) {
        const HRESULT hr = order->CompareIDs(0, a.child.Get(), b.child.Get());
        return SUCCEEDED(hr) && static_cast<short>(HRESULT_CODE(hr)) < 0;
    });

    const Pidl base = AbsoluteOf(item);
    for (Entry& entry : entries) {
        const Pidl absolute = Pidl::Concat(base.Get(), entry.child.Get());
        const std::string label = LabelOf(order, entry.child.Get(), false);
        Insert(item, std::move(entry.child), absolute.Get(), label,
               (entry.attributes & SFGAO_HASSUBFOLDER) != 0);
    }

    TVITEMA update{};
    update.mask = TVIF_CHILDREN;
    update.hItem = item;
    update.cChildren = entries.empty() ? 0 : 1;
    SendMessageA(tree_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&update));
}

void ShellTree::RemoveChildren(HTREEITEM item) {
    HTREEITEM child = TreeView_GetChild(tree_, item);
    while (child) {
        const HTREEITEM next = TreeView_GetNextSibling(tree_, child);
        Remove(child);
        child = next;
    }
}

void ShellTree::Remove(HTREEITEM item) {
    std::vector<const Node*> doomed;
    std::vector<HTREEITEM> pending{item};
    while (!pending.empty()) {
        const HTREEITEM at = pending.back();
        pending.pop_back();
        if (const Node* node = NodeOf(at)) doomed.push_back(node);
        for (HTREEITEM child = TreeView_GetChild(tree_, at); child;
             child = TreeView_GetNextSibling(tree_, child)) {
            pending.push_back(child);
        }
    }
    TreeView_DeleteItem(tree_, item);
    if (item == root_) root_ = nullptr;
    // Frees the records here too, in case the parent does not forward
    // TVN_DELETEITEM.
    for (const Node* node : doomed) nodes_.erase(node);
}

void ShellTreeView::Create(Window& parent, int id, const Bounds& bounds) {
    CreateControl(parent, WC_TREEVIEWA, id, std::string(), bounds, WS_TABSTOP | ShellTree::kStyle,
                  WS_EX_CLIENTEDGE);
    shell_ = std::make_unique<ShellTree>(hwnd_);
    DpiChanged();
}

void ShellTreeView::DpiChanged() { TreeView_SetIndent(hwnd_, Scale()(ShellTree::kIndent)); }

void ShellTreeView::Destroy() noexcept {
    shell_.reset();
    DestroyHandle();
}

}  // namespace zelvo::ui
