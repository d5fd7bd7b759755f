// The shell's namespace, folders only, shown in a tree-view control that the
// owning dialog creates. The dialog forwards the tree's WM_NOTIFY messages to
// OnNotify; failures (a refused rename) leave OnNotify as zelvo::Failure for
// the dialog's dispatcher to show.
#pragma once

#include "platform/ComPtr.h"
#include "platform/Controls.h"
#include "platform/Pidl.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <unordered_map>

namespace zelvo::ui {

class ShellTree {
public:
    // Styles the control is created with. No TVS_LINESATROOT: the desktop
    // alone sits at the root and gets neither line nor button.
    static constexpr DWORD kStyle =
        TVS_HASBUTTONS | TVS_HASLINES | TVS_EDITLABELS | TVS_SHOWSELALWAYS;
    static constexpr int kIndent = 19;
    // Command range handed to the shell's context menus.
    static constexpr UINT kFirstCommand = 1;
    static constexpr UINT kLastCommand = 0x7FFF;

    // Takes over an existing WC_TREEVIEWA control: adds the desktop, reads
    // its folders, expands and selects it.
    explicit ShellTree(HWND tree);
    ~ShellTree();

    ShellTree(const ShellTree&) = delete;
    ShellTree& operator=(const ShellTree&) = delete;

    HWND Handle() const noexcept { return tree_; }
    HTREEITEM Root() const noexcept { return root_; }

    // Handles TVN_ITEMEXPANDING, TVN_DELETEITEM, NM_RCLICK,
    // TVN_BEGINLABELEDIT and TVN_ENDLABELEDIT of this tree; returns false for
    // anything else. result is what the window procedure returns.
    bool OnNotify(const NMHDR& header, LRESULT& result);

    // The parsing name of the selected node, or its display name when the
    // parsing name is a class identifier ("::{...}"); empty with no selection.
    // A character that the ANSI code page lacks is "?" in it, never a
    // look-alike; `unheld`, when given, then receives the whole path in
    // UTF-16 (and is emptied otherwise).
    std::string SelectedPath(std::wstring* unheld = nullptr) const;
    std::string PathOf(HTREEITEM item, std::wstring* unheld = nullptr) const;

    // The node for a parsing name (a path, or "::{CLSID}"), expanding the
    // nodes above it; null when the tree does not show it.
    HTREEITEM Find(const std::string& path);
    // Finds, selects and shows the node.
    HTREEITEM Select(const std::string& path);

    // Selects the node and runs the shell's context menu for it at the given
    // screen position.
    void ShowContextMenu(HTREEITEM item, POINT screen);
    // Runs one verb of the node's context menu with the same follow-up as a
    // choice in the menu; false when the shell offers no menu.
    bool InvokeVerb(HTREEITEM item, const std::string& verb);

    // Renames through the shell; throws Failure when the shell refuses.
    void Rename(HTREEITEM item, const std::string& name);

    // Reads the node's children from the shell again.
    void Reload(HTREEITEM item);

    // Node records alive; each tree item owns one.
    size_t NodeCount() const noexcept { return nodes_.size(); }

private:
    struct Node {
        Pidl child;  // ID relative to the parent node's folder
        bool childrenRead = false;
    };

    Node* NodeOf(HTREEITEM item) const;
    HTREEITEM ParentOf(HTREEITEM item) const;
    Pidl AbsoluteOf(HTREEITEM item) const;
    ComPtr<IShellFolder> FolderOf(HTREEITEM item) const;
    ComPtr<IShellFolder> ParentFolderOf(HTREEITEM item) const;
    std::string LabelOf(IShellFolder* parent, const ITEMIDLIST* child, bool root) const;

    HTREEITEM Insert(HTREEITEM parent, Pidl child, const ITEMIDLIST* absolute,
                     const std::string& label, bool hasSubfolders);
    void ReadChildren(HTREEITEM item);
    void RemoveChildren(HTREEITEM item);
    void Remove(HTREEITEM item);
    HTREEITEM FindChild(HTREEITEM parent, const ITEMIDLIST* id);

    ComPtr<IContextMenu> ContextMenuOf(HTREEITEM item) const;
    void CarryOut(HTREEITEM item, IContextMenu& menu, LPCSTR command, const std::string& verb);
    bool CanRename(HTREEITEM item) const;

    HWND tree_;
    ComPtr<IShellFolder> desktop_;
    HTREEITEM root_ = nullptr;
    HTREEITEM editing_ = nullptr;  // item whose label editor is open
    std::unordered_map<const Node*, std::unique_ptr<Node>> nodes_;
};

// The shell tree as a control of a form: the tree-view control and the
// ShellTree over it. The form hands its WM_NOTIFY messages to OnNotify.
class ShellTreeView : public Control {
public:
    ~ShellTreeView() override { Destroy(); }

    void Create(Window& parent, int id, const Bounds& bounds);
    // Lets go of the shell objects, then of the control. A form calls it
    // before destroying its own window, while the tree can still be emptied.
    void Destroy() noexcept;

    bool OnNotify(const NMHDR& header, LRESULT& result) {
        return shell_ && shell_->OnNotify(header, result);
    }
    std::string SelectedPath(std::wstring* unheld = nullptr) const {
        if (unheld) unheld->clear();
        return shell_ ? shell_->SelectedPath(unheld) : std::string();
    }
    ShellTree& Shell() { return *shell_; }

protected:
    // The indent is kIndent at 96 DPI.
    void DpiChanged() override;

private:
    std::unique_ptr<ShellTree> shell_;
};

}  // namespace zelvo::ui
