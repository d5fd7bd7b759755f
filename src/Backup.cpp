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
    {
        const ui::RunGate gate(hwnd_, kShutdownReason, [this] { SessionEnding(); });
        try {
            Outcome.result = RunCopy(SourcePath, DestPath,
                                     [] { return MainForm && MainForm->OverWriteCheckBox.Checked(); }, *this,
                                     nullptr, RunTuning);
        } catch (const std::exception& e) {
            // The run itself collects the failures of its files; anything else
            // (out of memory) ends it and is reported with them, after the dialog.
            Outcome.result.failures.emplace_back(e.what());
        }
    }
    run_ = nullptr;
    Outcome.end = clock_();
    ProgressBar1.SetPosition(kProgressMax);
    Paint();
    Close();
}

void TBackupForm::SetCaption(const std::string& caption) {
    caption_ = caption;
    captionChanged_ = true;
    PaintIfDue();
}

void TBackupForm::SetStep(int step) {
    ProgressBar1.StepBy(pendingSteps_);
    pendingSteps_ = 0;
    ProgressBar1.SetStep(step);
}

void TBackupForm::StepIt() {
    // Counted, and handed to the bar when it is painted: a step sent to the
    // bar at once costs more than copying a small file (Wine repaints the bar
    // inside the step).
    ++pendingSteps_;
    KeepAlive();
}

void TBackupForm::SetPosition(int position) {
    // Steps taken before a position is set end where it puts the bar.
    pendingSteps_ = 0;
    ProgressBar1.SetPosition(position);
    PaintIfDue();
}

void TBackupForm::PaintIfDue() {
    if (painted_ && ::GetTickCount() - lastPaint_ < kPaintIntervalMs) return;
    Paint();
}

void TBackupForm::Paint() {
    if (captionChanged_) {
        SetText(caption_);
        captionChanged_ = false;
    }
    ProgressBar1.StepBy(pendingSteps_);
    pendingSteps_ = 0;
    ::UpdateWindow(hwnd_);
    ::UpdateWindow(ProgressBar1.Handle());
    painted_ = true;
    lastPaint_ = ::GetTickCount();
}

void TBackupForm::Track(RunInHand& run) { run_ = &run; }

void TBackupForm::KeepAlive() {
    // A big file shows its name once it is due, not only at the next file.
    PaintIfDue();
    // Entries that need no buffer (skipped, empty, subdirectories) can fill a
    // whole run, and a flush on a slow disk can take tens of seconds.
    LookAtQueue();
    // A session that ended inside the look ends the run before anything
    // more is started or put in place, so the block in the log stays true.
    if (sessionEnded_) throw RunCutOff();
}

void TBackupForm::LookAtQueue() {
    // Looking at the queue without taking anything tells the system the
    // thread is alive (no "not responding" ghost), while the run still
    // answers no input. A look every few tens of milliseconds is plenty (the
    // system waits seconds before it calls a window hung), and each costs a
    // trip to the window server. Messages that others send are delivered
    // here; the run's gate keeps them from re-entering it.
    const DWORD now = ::GetTickCount();
    if (looked_ && now - lastLook_ < kLookIntervalMs) return;
    looked_ = true;
    lastLook_ = now;
    ui::RunGate::LookAtQueue();
}

void TBackupForm::SessionEnding() {
    // Nothing is put in place after the block the log gets here, and the
    // copies in flight go with their handles, however the process ends.
    if (run_) run_->CutOff();
    sessionEnded_ = true;
    if (!OnSessionEnd) return;
    BackupOutcome soFar;
    soFar.ran = true;
    soFar.start = Outcome.start;
    soFar.end = clock_();
    if (run_) soFar.result = run_->SoFar();
    soFar.result.cutOff = true;
    OnSessionEnd(soFar);
}

}  // namespace zelvo
