// The main window: the schedule rows, the two paths and the switches, the
// clock in the status bar, and the once-a-second schedule check that starts
// backup runs.
#pragma once

#include "Backup.h"
#include "core/DateTime.h"
#include "core/Schedule.h"
#include "core/Settings.h"
#include "platform/Controls.h"
#include "platform/Form.h"
#include "platform/TrayIcon.h"

#include <functional>
#include <string>

namespace zelvo {

// Title of the application, caption of the main window and of error boxes.
inline constexpr char kApplicationTitle[] = "Zelvo文件备份软件";

// The window message the tray icon sends its mouse events with.
inline constexpr UINT kTrayCallbackMessage = 2000;
// The tray icon's identifier and the fields its record carries.
inline constexpr UINT kTrayIconId = 1000;
inline constexpr UINT kTrayIconFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;

// The tray icon's record, process-wide: filled by MinimizeToTray, reused for
// the removals.
extern ui::NotifyIconRecord TrayIconData;

// The information box text for a directory that is not there.
std::string MissingDirectoryText(const std::string& path);

// The full path of the running executable (GetModuleFileNameA).
std::string ModuleFileName();

// Where a main window keeps its settings and registers itself to start with
// Windows. The program uses its own executable and the machine's Run key;
// tests put the executable in a folder of their own and the registry behind
// a registrar of their own.
struct MainFormSite {
    // The full path of the executable: AppPath is its directory, and the Run
    // value starts it.
    std::function<std::string()> exePath = ModuleFileName;
    // Null: the Run key below HKEY_LOCAL_MACHINE.
    StartupRegistrar* registrar = nullptr;
};

class TMainForm : public ui::Form {
public:
    static constexpr const char* kClassName = "TMainForm";
    static constexpr int kWidth = 428;
    static constexpr int kHeight = 337;
    static constexpr int kPageControlHeight = 121;
    static constexpr int kStatusBarHeight = 19;

    enum ControlId : int {
        kPageControl1Id = 100,
        kDayTabSheetId,
        kTabSheet1Id,
        kTabSheet2Id,
        kCheckBox1Id,
        kDateTimePicker1Id,
        kCheckBox2Id,
        kDateTimePicker2Id,
        kCheckBox3Id,
        kDateTimePicker3Id,
        kPanel1Id,
        kLabel2Id,
        kLabel3Id,
        kSourceEditId,
        kDesEditId,
        kOverWriteCheckBoxId,
        kSaveBitBtnId,
        kCloseBitBtnId,
        kAutoRunCheckBoxId,
        kStatusBar1Id,
    };
    enum MenuId : UINT {
        kN4Id = 200,   // 系统 -> 关于
        kNCloseId,     // 系统 -> 退出
        kNAboutId,     // pop-up 关于
        kN1Id,         // pop-up 退出
    };
    static constexpr UINT_PTR kTimer1Id = 1;
    static constexpr UINT kTimer1Interval = 1000;
    // Adds the tray icon again until the shell takes it (at log-on the shell
    // may still be starting and refuse it).
    static constexpr UINT_PTR kTrayRetryTimerId = 2;
    static constexpr UINT kTrayRetryTimerInterval = 3000;

    // The clock is read anew at every use; tests pass a scripted one.
    explicit TMainForm(Clock clock = NowLocal, MainFormSite site = MainFormSite());
    ~TMainForm() override;

    ui::PageControl PageControl1;
    ui::TabSheet DayTabSheet;
    ui::TabSheet TabSheet1;  // 每周, tab hidden
    ui::TabSheet TabSheet2;  // 每月, tab hidden
    ui::CheckBox CheckBox1;
    ui::TimePicker DateTimePicker1;
    ui::CheckBox CheckBox2;
    ui::TimePicker DateTimePicker2;
    ui::CheckBox CheckBox3;
    ui::TimePicker DateTimePicker3;
    ui::Panel Panel1;
    ui::Label Label2;
    ui::Label Label3;
    ui::EditWithButton SourceEdit;
    ui::EditWithButton DesEdit;
    ui::CheckBox OverWriteCheckBox;
    ui::Button SaveBitBtn;
    ui::Button CloseBitBtn;
    ui::CheckBox AutoRunCheckBox;
    ui::StatusBar StatusBar1;
    ui::Timer Timer1;
    ui::Timer TrayRetryTimer;
    ui::PopupMenu PopupMenu1;

    // Directory of the executable with the final separator.
    std::string AppPath;

    void FormCreate();
    void FormDestroy();
    void Timer1Timer();
    // Examines one slot and runs its backup when the slot is due now.
    void CheckBackupTime(const SlotScheduler::Tick& tick, int slot, ui::CheckBox& checkBox,
                         ui::TimePicker& picker);
    void SaveBitBtnClick();
    void NCloseClick();
    void N1Click();
    void N4Click();
    void NAboutClick();
    void CheckBox1Click();
    void CheckBox2Click();
    void CheckBox3Click();
    void SourceEditEditButtons0Click();
    void DesEditEditButtons0Click();
    // The application's minimize handler: the icon goes into the tray and
    // the task-bar button away.
    void MinimizeToTray();
    void TrayIconMessage(LPARAM mouseEvent);
    // The shell's "TaskbarCreated" broadcast: the icon goes back into a new tray.
    void TaskbarCreated();
    void TrayRetryTimerTimer();

    // The controls' state as the settings file keeps it, and back.
    SettingsState ReadSettings() const;
    void ApplySettings(const SettingsState& state);

    // True while a backup run's dialog exists (from its creation to its destruction).
    bool RunOpen() const { return runOpen_; }

protected:
    void OnCommand(WORD id, WORD code, HWND control) override;
    LRESULT OnNotify(const NMHDR& header) override;
    void OnTimer(UINT_PTR id) override;
    void OnResize() override;
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    LRESULT SentDuringRun(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void CreateControls();
    void CreateMenus();
    void LoadSettings();
    void SetTrayIconHeader();
    // Adds the icon as TrayIconData holds it; while the shell refuses it, TrayRetryTimer tries again.
    void AddTrayIcon();
    // Shows a fresh folder dialog with this caption; OK puts its path into target.
    void PickFolder(const char* caption, ui::Edit& target);
    ui::CheckBox* SlotCheckBox(int slot);
    ui::TimePicker* SlotPicker(int slot);
    // Examines a slot; a set time it missed goes into the log. True when its backup is due.
    bool ExamineSlot(const SlotScheduler::Tick& tick, int slot, const ui::CheckBox& checkBox,
                     const ui::TimePicker& picker, DateTime now);
    void LogMissedTime(DateTime at, int slotSecond, SlotScheduler::Missed missed);
    // Notes the broadcasts that tell why no tick came at a set time.
    void NoteMissCause(UINT msg, WPARAM wParam);
    // Queue the reports of a tick; the tick shows them when it is over.
    void ReportMissingDirectory(DateTime at, const std::string& path);
    void ReportRun(const std::string& source, const std::string& dest, const BackupOutcome& outcome);
    // Appends the run's block to the log; false when it could not be written.
    bool LogRun(const std::string& source, const std::string& dest, const BackupOutcome& outcome);
    std::string BracketedTime(DateTime at) const;

    Clock clock_;
    MainFormSite site_;
    FormatSettings formatSettings_;
    SlotScheduler scheduler_;
    // What may have kept the ticks from a set time.
    struct MissCauses {
        bool suspended = false;     // going to sleep, and no resume heard yet
        bool slept = false;         // since the last handled tick
        bool clockChanged = false;  // since the last handled tick
        bool ranInTick = false;     // a run held this tick
        bool ranInPreviousTick = false;
    } missCauses_;
    bool runOpen_ = false;
    // The session ended during a run: the program ends with it.
    bool sessionEnded_ = false;
    UINT taskbarCreatedMessage_;
};

// The current instance, set while the main window exists.
extern TMainForm* MainForm;

}  // namespace zelvo
