#include "SelDir.h"

#include <algorithm>

namespace zelvo {

TSelDirForm* SelDirForm = nullptr;

namespace {

using ui::Bounds;

constexpr int kButtonTop = 10;
constexpr int kButtonWidth = 65;
constexpr int kButtonHeight = 25;
constexpr int kOKBitBtnLeft = 256;
constexpr int kCloseBitBtnLeft = 336;

}  // namespace

TSelDirForm::TSelDirForm() {
    ui::FormLayout layout;
    layout.style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    layout.size = SIZE{kWidth, kHeight};
    CreateForm(kClassName, kCaption, layout);
    const POINT at = Scale()(POINT{kLeft, kTop});
    ::SetWindowPos(hwnd_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    // Created in tab order: the tree, then the panel with CloseBitBtn before
    // OKBitBtn. The tree and the panel share the client area (OnResize).
    ShellTreeView1.Create(*this, kShellTreeView1Id, Bounds{});
    Panel1.Create(*this, kPanel1Id, Bounds{}, ui::Bevel::Raised, ui::Bevel::Lowered, 2);
    CloseBitBtn.Create(Panel1, kCloseBitBtnId, "取 消",
                       Bounds{kCloseBitBtnLeft, kButtonTop, kButtonWidth, kButtonHeight});
    OKBitBtn.Create(Panel1, kOKBitBtnId, "确 定",
                    Bounds{kOKBitBtnLeft, kButtonTop, kButtonWidth, kButtonHeight});
    OnResize();
    SelDirForm = this;
}

TSelDirForm::~TSelDirForm() {
    // The tree lets go of its shell objects while the form still forwards
    // the tree's deletion notices.
    ShellTreeView1.Destroy();
    DestroyHandle();
    if (SelDirForm == this) SelDirForm = nullptr;
}

void TSelDirForm::OKBitBtnClick() {
    DialogResult = kResultOk;
    Close();
}

void TSelDirForm::CloseBitBtnClick() {
    DialogResult.clear();
    Close();
}

void TSelDirForm::OnCommand(WORD id, WORD code, HWND) {
    if (code != BN_CLICKED) return;
    if (id == kOKBitBtnId) OKBitBtnClick();
    if (id == kCloseBitBtnId) CloseBitBtnClick();
}

LRESULT TSelDirForm::OnNotify(const NMHDR& header) {
    LRESULT result = 0;
    if (ShellTreeView1.OnNotify(header, result)) return result;
    return Form::OnNotify(header);
}

void TSelDirForm::OnResize() {
    if (!Panel1.Handle()) return;
    const SIZE client = ClientSize();
    const int panelHeight = Scale()(kPanelHeight);
    const int treeHeight = std::max(0, static_cast<int>(client.cy) - panelHeight);
    ShellTreeView1.SetBounds(0, 0, client.cx, treeHeight);
    Panel1.SetBounds(0, treeHeight, client.cx, panelHeight);
}

LRESULT TSelDirForm::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    // The close box counts as cancel.
    if (msg == WM_CLOSE) DialogResult.clear();
    return Form::HandleMessage(msg, wParam, lParam);
}

}  // namespace zelvo
