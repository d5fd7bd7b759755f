// A top-level window holding a tree view driven by ShellTree, with a window
// procedure that forwards the tree's notifications and catches failures the
// way the folder dialog's dispatcher does.
#pragma once

#include "platform/ShellTree.h"
#include "windows/ScratchDir.h"

#include <windows.h>
#include <commctrl.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace zelvo::test {

using ui::ShellTree;

class TreeHost {
public:
    static constexpr int kTreeId = 100;

    TreeHost();
    ~TreeHost();
    TreeHost(const TreeHost&) = delete;
    TreeHost& operator=(const TreeHost&) = delete;

    HWND Window() const { return window_; }
    HWND Tree() const { return tree_; }
    ShellTree& Shell() { return *shell_; }
    void DropShell() { shell_.reset(); }
    void DestroyWindowNow();

    // Failures caught by the window procedure, as their texts.
    const std::vector<std::string>& Errors() const { return errors_; }

    std::string Label(HTREEITEM item) const;
    std::vector<std::string> ChildLabels(HTREEITEM item) const;
    HTREEITEM Child(HTREEITEM parent, const std::string& label) const;
    int ChildrenFlag(HTREEITEM item) const;
    bool Expanded(HTREEITEM item) const;
    int Count() const;
    // Every tree item owns exactly one node record.
    bool NodesMatchItems() const;

    // The node of a path, expanded (first reading of its children); null
    // when the tree does not show it.
    HTREEITEM Open(const std::string& path);

    // Label editing as a user does it: open the editor, type, leave it.
    bool EditLabel(HTREEITEM item, const std::string& text);

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    HWND tree_ = nullptr;
    std::unique_ptr<ShellTree> shell_;
    std::vector<std::string> errors_;
};

// Processes pending messages of this thread.
void Pump();

// The text a tree-view item shows.
std::string ItemLabel(HWND tree, HTREEITEM item);

// A scratch directory named as the shell names it (long names), with
// helpers to fill it; made with the given folders, in their order.
class TempTree {
public:
    explicit TempTree(std::initializer_list<const char*> folders = {});

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }
    void Folder(const std::string& relative, DWORD attributes = 0) const;
    void File(const std::string& relative) const;

private:
    ScratchDir scratch_;
    std::string path_;
};

bool IsDirectory(const std::string& path);

}  // namespace zelvo::test
