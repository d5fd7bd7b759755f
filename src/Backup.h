// The modal progress dialog of one backup run. The scheduler creates it,
// fills SourcePath and DestPath, shows it modally and destroys it; the run
// happens inside its first timer tick.
#pragma once

#include "core/CopyRun.h"
#include "platform/Controls.h"
#include "platform/Form.h"

#include <string>

namespace zelvo {

class TBackupForm : public ui::Form, private CopyProgress {
public:
    static constexpr const char* kClassName = "TBackupForm";
    static constexpr const char* kCaption = "正在备份,请稍候 ...";
    static constexpr int kClientWidth = 424;
    static constexpr int kClientHeight = 43;
    enum ControlId : int { kPanel1Id = 100, kProgressBar1Id };
    static constexpr UINT_PTR kTimer1Id = 1;
    static constexpr UINT kTimer1Interval = 1;

    TBackupForm();
    ~TBackupForm() override;

    ui::Panel Panel1;
    ui::ProgressBar ProgressBar1;
    ui::Timer Timer1;

    std::string SourcePath;
    std::string DestPath;

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
};

// The current instance, set from the creation of a dialog to its destruction.
extern TBackupForm* BackupForm;

}  // namespace zelvo
