#include "Backup.h"

#include "Main.h"
#include "platform/Reporter.h"

namespace zelvo {

TBackupForm* BackupForm = nullptr;

namespace {

constexpr int kPanelInset = 3;  // outer bevel, border, inner bevel

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        if (!text.empty()) text += "\n";
        text += line;
    }
    return text;
}

}  // namespace

TBackupForm::TBackupForm() : Timer1(*this, kTimer1Id, kTimer1Interval) {
    CreateForm(kClassName, kCaption, ui::DialogLayout(SIZE{kClientWidth, kClientHeight}));
    Panel1.Create(*this, kPanel1Id, ui::Bounds{0, 0, kClientWidth, kClientHeight}, ui::Bevel::Raised,
                  ui::Bevel::Lowered, 1);
    ProgressBar1.Create(Panel1, kProgressBar1Id,
                        ui::Bounds{kPanelInset, kPanelInset, kClientWidth - 2 * kPanelInset,
                                   kClientHeight - 2 * kPanelInset});
    ProgressBar1.SetRange(0, kProgressMax);
    ProgressBar1.SetPosition(0);
    BackupForm = this;
}

TBackupForm::~TBackupForm() {
    DestroyHandle();
    if (BackupForm == this) BackupForm = nullptr;
}

void TBackupForm::FormShow() { Timer1.SetEnabled(true); }

void TBackupForm::OnTimer(UINT_PTR id) {
    if (id == kTimer1Id) Timer1Timer();
}

void TBackupForm::Timer1Timer() {
    // Off before anything else: a failure box below runs a message loop,
    // in which this timer must not start the run again.
    Timer1.SetEnabled(false);
    CopyRunResult result;
    try {
        result = RunCopy(SourcePath, DestPath,
                         [] { return MainForm && MainForm->OverWriteCheckBox.Checked(); }, *this);
    } catch (...) {
        Close();
        throw;
    }
    ProgressBar1.SetPosition(kProgressMax);
    // The scheduler refuses such a destination before showing the dialog;
    // a caller that did not gets the same box.
    if (result.refused) ui::CurrentReporter().ShowInformation(MissingDirectoryText(DestPath));
    if (!result.failures.empty()) ui::CurrentReporter().ShowError(JoinLines(result.failures));
    Close();
}

void TBackupForm::SetCaption(const std::string& caption) {
    SetText(caption);
    ::UpdateWindow(hwnd_);
}

void TBackupForm::SetStep(int step) { ProgressBar1.SetStep(step); }

void TBackupForm::StepIt() {
    ProgressBar1.StepIt();
    ::UpdateWindow(ProgressBar1.Handle());
}

void TBackupForm::SetPosition(int position) {
    ProgressBar1.SetPosition(position);
    ::UpdateWindow(ProgressBar1.Handle());
}

void TBackupForm::KeepAlive() {
    // Looking at the queue without taking anything tells the system the
    // thread is alive (no "not responding" ghost), while the run still
    // answers no input.
    MSG msg;
    ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
}

}  // namespace zelvo
