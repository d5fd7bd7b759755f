// The modal progress dialog of one backup run. The scheduler creates it,
// fills SourcePath and DestPath, shows it modally and destroys it; the run
// happens inside its first timer tick.
#pragma once

#include "core/CopyRun.h"
#include "core/DateTime.h"
#include "platform/Controls.h"
#include "platform/Form.h"

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

    void Timer1Timer();

protected:
    void FormShow() override;
    void OnTimer(UINT_PTR id) override;

private:
    // What the run shows, painted at once: the run dispatches no messages.
    void SetCaption(const std::string& caption) override;
    void SetStep(int step) override;
    void StepIt() override;
    void SetPosition(int position) override;
    void KeepAlive() override;

    Clock clock_;
};

// The current instance, set from the creation of a dialog to its destruction.
extern TBackupForm* BackupForm;

}  // namespace zelvo
