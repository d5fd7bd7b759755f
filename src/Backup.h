// The modal progress dialog of one backup run. The scheduler creates it,
// fills SourcePath and DestPath, shows it modally and destroys it; the run
// happens inside its first timer tick.
#pragma once

#include "core/CopyRun.h"
#include "core/DateTime.h"
#include "platform/Controls.h"
#include "platform/Form.h"

#include <functional>
#include <string>

namespace zelvo {

// What one showing of the dialog did: whether its run happened (closing the
// dialog before its first tick ends it without one), when, and the result.
struct BackupOutcome {
    bool ran = false;
    DateTime start = 0;
    DateTime end = 0;
    CopyRunResult result;
};

class TBackupForm : public ui::Form, private CopyProgress {
public:
    static constexpr const char* kClassName = "TBackupForm";
    static constexpr const char* kCaption = "正在备份,请稍候 ...";
    static constexpr int kClientWidth = 424;
    static constexpr int kClientHeight = 43;
    enum ControlId : int { kPanel1Id = 100, kProgressBar1Id };
    static constexpr UINT_PTR kTimer1Id = 1;
    static constexpr UINT kTimer1Interval = 1;
    // The caption and the bar are painted at most this often during a run
    // (and always at its end): under Wine painting them for each file costs
    // more than copying a small file; twenty paints a second still read as a
    // moving bar and a running file name.
    static constexpr DWORD kPaintIntervalMs = 50;
    // How often the run looks at its queue, at most: at each entry, between
    // buffers and while it waits for a flush.
    static constexpr DWORD kLookIntervalMs = 50;
    // Shown by Windows beside the program when log-off waits for a run.
    static constexpr const char* kShutdownReason = "正在备份文件，请等待备份完成";
    // How every run paces its retries; tests shorten the waits.
    static inline CopyTuning RunTuning{};

    // The clock times the run for its log; tests pass a scripted one.
    explicit TBackupForm(Clock clock = NowLocal);
    ~TBackupForm() override;

    ui::Panel Panel1;
    ui::ProgressBar ProgressBar1;
    ui::Timer Timer1;

    std::string SourcePath;
    std::string DestPath;
    // Filled by the run. Its failures are reported by whoever showed the
    // dialog, once the dialog is gone, so no box holds up the schedule.
    BackupOutcome Outcome;
    // Called, inside the message, when the session ends while the run copies,
    // with what the run has done so far: Windows may end the process as soon
    // as that message is answered, so this is the moment to write it down.
    // The run then ends at once, its Outcome marked cut off.
    std::function<void(const BackupOutcome&)> OnSessionEnd;

    void Timer1Timer();

protected:
    void FormShow() override;
    void OnTimer(UINT_PTR id) override;

private:
    // What the run shows; painted when due (PaintIfDue), as the run
    // dispatches no messages. StepIt and KeepAlive look at the queue, and
    // end the run (RunCutOff) once the session has ended.
    void SetCaption(const std::string& caption) override;
    void SetStep(int step) override;
    void StepIt() override;
    void SetPosition(int position) override;
    void KeepAlive() override;
    void Track(RunInHand& run) override;

    void PaintIfDue();
    void Paint();
    void LookAtQueue();
    void SessionEnding();

    Clock clock_;
    std::string caption_;
    bool captionChanged_ = false;
    bool painted_ = false;
    DWORD lastPaint_ = 0;
    int pendingSteps_ = 0;  // taken, not yet handed to the bar
    bool looked_ = false;
    DWORD lastLook_ = 0;
    RunInHand* run_ = nullptr;  // valid while the run copies
    bool sessionEnded_ = false;
};

// The current instance, set from the creation of a dialog to its destruction.
extern TBackupForm* BackupForm;

}  // namespace zelvo
