#include "Backup.h"

#include "Main.h"

#include <exception>
#include <utility>

namespace zelvo {

TBackupForm* BackupForm = nullptr;

namespace {
constexpr int kPanelInset = 3;  // outer bevel, border, inner bevel
}  // namespace

TBackupForm::TBackupForm(Clock clock) : Timer1(*this, kTimer1Id, kTimer1Interval), clock_(std::move(clock)) {
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
    // Off before anything else: the dialog makes one run, whatever reaches
    // its loop before it closes.
    Timer1.SetEnabled(false);
    Outcome.ran = true;
    Outcome.start = clock_();
    try {
        Outcome.result = RunCopy(SourcePath, DestPath,
                                 [] { return MainForm && MainForm->OverWriteCheckBox.Checked(); }, *this);
    } catch (const std::exception& e) {
        // The run itself collects the failures of its files; anything else
        // (out of memory) ends it and is reported with them, after the dialog.
        Outcome.result.failures.emplace_back(e.what());
    }
    Outcome.end = clock_();
    ProgressBar1.SetPosition(kProgressMax);
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
