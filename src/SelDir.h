// The folder dialog: a tree of the shell's namespace and two buttons. The
// main window creates one for each use, sets its caption, shows it modally,
// reads DialogResult and the selected path, and destroys it.
#pragma once

#include "platform/Controls.h"
#include "platform/Form.h"
#include "platform/ShellTree.h"

#include <string>

namespace zelvo {

class TSelDirForm : public ui::Form {
public:
    static constexpr const char* kClassName = "TSelDirForm";
    static constexpr const char* kCaption = "浏览文件夹";
    static constexpr int kLeft = 502;
    static constexpr int kTop = 267;
    static constexpr int kWidth = 449;
    static constexpr int kHeight = 310;
    static constexpr int kPanelHeight = 45;
    enum ControlId : int { kShellTreeView1Id = 100, kPanel1Id, kCloseBitBtnId, kOKBitBtnId };
    // DialogResult after OK.
    static constexpr const char* kResultOk = "mrOK";
    // Refuses a picked folder whose path the ANSI code page cannot hold (the
    // fields and SetFile.ini keep it in the code page); %s: the path, with
    // <U+XXXX> for each character the code page lacks.
    static constexpr const char* kUnheldFolderText = "目录[%s]的名称含有系统代码页不能表示的字符, 请另选目录!";

    TSelDirForm();
    ~TSelDirForm() override;

    ui::ShellTreeView ShellTreeView1;
    ui::Panel Panel1;
    ui::Button CloseBitBtn;
    ui::Button OKBitBtn;

    // The dialog's only result: kResultOk after OK, empty otherwise.
    std::string DialogResult;

    void OKBitBtnClick();
    void CloseBitBtnClick();

protected:
    void OnCommand(WORD id, WORD code, HWND control) override;
    LRESULT OnNotify(const NMHDR& header) override;
    void OnResize() override;
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
};

// The current instance, set from the creation of a dialog to its destruction.
extern TSelDirForm* SelDirForm;

}  // namespace zelvo
