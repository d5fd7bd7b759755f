#include "Main.h"

#include "About.h"
#include "Backup.h"
#include "SelDir.h"
#include "core/CopyRun.h"
#include "core/Failure.h"
#include "core/FileSystem.h"
#include "core/Paths.h"
#include "core/ProfileFile.h"
#include "core/RunLog.h"
#include "platform/Application.h"
#include "platform/Registry.h"
#include "platform/ReportQueue.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

namespace zelvo {

TMainForm* MainForm = nullptr;
ui::NotifyIconRecord TrayIconData{};

namespace {

using ui::Bevel;
using ui::Bounds;

constexpr int kStatusClockPanel = 0;
constexpr int kStatusClockWidth = 150;
constexpr int kStatusSpareWidth = 50;

// Row layout of the daily page: check box top, picker top.
constexpr int kRowTops[kSlotCount][2] = {{16, 16}, {40, 40}, {66, 64}};
constexpr int kCheckBoxLeft = 16, kCheckBoxWidth = 81, kCheckBoxHeight = 17;
constexpr int kPickerLeft = 104, kPickerWidth = 89, kPickerHeight = 20;
constexpr const char* kSlotCaptions[kSlotCount] = {"备份时间一", "备份时间二", "备份时间三"};

// Clears a flag when the scope ends, however it ends.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
};

}  // namespace

std::string MissingDirectoryText(const std::string& path) { return "目录[" + path + "]不存在!"; }

namespace {
// Follows the missing-directory text in the run log.
constexpr char kNotBackedUpText[] = "未备份";
// A set time that no tick examined, and why, where the program knows it.
constexpr char kMissedTimeText[] = "错过备份时间";
constexpr char kMissedInRunText[] = "(上一次备份仍在进行)";
constexpr char kMissedAsleepText[] = "(计算机睡眠)";
constexpr char kMissedClockText[] = "(系统时间被调整)";
}  // namespace

std::string ModuleFileName() {
    // The result is cut short (and not always terminated) when the buffer is too small.
    std::vector<char> path(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) return std::string(path.data(), length);
        path.resize(path.size() * 2);
    }
}

TMainForm::TMainForm(Clock clock, MainFormSite site)
    : Timer1(*this, kTimer1Id, kTimer1Interval),
      TrayRetryTimer(*this, kTrayRetryTimerId, kTrayRetryTimerInterval),
      clock_(std::move(clock)),
      site_(std::move(site)),
      formatSettings_(FormatSettings::FromLocale()),
      taskbarCreatedMessage_(::RegisterWindowMessageA("TaskbarCreated")) {
    ui::FormLayout layout;
    layout.style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    layout.size = SIZE{kWidth, kHeight};
    layout.menu = nullptr;
    CreateForm(kClassName, kApplicationTitle, layout);
    // An elevated copy (starting with Windows needs the rights) would never
    // hear a restarted shell: the system filters the broadcast out for it.
    if (taskbarCreatedMessage_) {
        ::ChangeWindowMessageFilterEx(hwnd_, taskbarCreatedMessage_, MSGFLT_ALLOW, nullptr);
    }
    CreateMenus();
    CreateControls();
    MainForm = this;
    Timer1.SetEnabled(true);
    FormCreate();
}

TMainForm::~TMainForm() {
    ui::Application::Instance().OnMinimize = nullptr;
    FormDestroy();
    DestroyHandle();
    if (MainForm == this) MainForm = nullptr;
}

void TMainForm::CreateMenus() {
    ui::Menu mainMenu1(false);
    ui::Menu n2(true);
    n2.AddItem(kN4Id, "关于");
    n2.AddItem(kNCloseId, "退出");
    mainMenu1.AddSubmenu(std::move(n2), "系统");
    ::SetMenu(hwnd_, mainMenu1.Release());

    PopupMenu1.AddItem(kNAboutId, "关于", 'Y');
    PopupMenu1.AddItem(kN1Id, "退出", 'Z');
}

void TMainForm::CreateControls() {
    PageControl1.Create(*this, kPageControl1Id, Bounds{0, 0, kWidth, kPageControlHeight});
    PageControl1.AddPage(DayTabSheet, kDayTabSheetId, "每天", true);
    PageControl1.AddPage(TabSheet1, kTabSheet1Id, "每周", false);
    PageControl1.AddPage(TabSheet2, kTabSheet2Id, "每月", false);

    const DateTime initialTime = InitialPickerTime();
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        const int row = slot - 1;
        SlotCheckBox(slot)->Create(DayTabSheet, kCheckBox1Id + 2 * row, kSlotCaptions[row],
                                   Bounds{kCheckBoxLeft, kRowTops[row][0], kCheckBoxWidth, kCheckBoxHeight});
        SlotPicker(slot)->Create(DayTabSheet, kDateTimePicker1Id + 2 * row,
                                 Bounds{kPickerLeft, kRowTops[row][1], kPickerWidth, kPickerHeight});
        SlotPicker(slot)->SetTime(initialTime);
    }

    Panel1.Create(*this, kPanel1Id, Bounds{0, kPageControlHeight, kWidth, 100}, Bevel::Space,
                  Bevel::Lowered, 2);
    Label2.Create(Panel1, kLabel2Id, "源 目 录", Bounds{16, 24, 48, 12});
    Label3.Create(Panel1, kLabel3Id, "目的目录", Bounds{16, 48, 48, 12});
    SourceEdit.Create(Panel1, kSourceEditId, Bounds{72, 20, 329, 20});
    DesEdit.Create(Panel1, kDesEditId, Bounds{72, 44, 329, 20});
    OverWriteCheckBox.Create(Panel1, kOverWriteCheckBoxId, "覆盖重名文件", Bounds{72, 73, 105, 17});
    SaveBitBtn.Create(Panel1, kSaveBitBtnId, "保存设置", Bounds{72, 104, 65, 25});
    CloseBitBtn.Create(Panel1, kCloseBitBtnId, "退 出", Bounds{152, 104, 65, 25});
    AutoRunCheckBox.Create(Panel1, kAutoRunCheckBoxId, "开机自动运行", Bounds{288, 104, 97, 17});

    StatusBar1.Create(*this, kStatusBar1Id);
    StatusBar1.SetPanelWidths({kStatusClockWidth, kStatusSpareWidth});
    OnResize();
}

void TMainForm::OnResize() {
    if (!StatusBar1.Handle()) return;
    const SIZE client = ClientSize();
    const ui::DpiScale scale = Scale();
    const int pagesHeight = scale(kPageControlHeight);
    const int statusHeight = scale(kStatusBarHeight);
    PageControl1.SetBounds(0, 0, client.cx, pagesHeight);
    PageControl1.Arrange();
    StatusBar1.SetBounds(0, client.cy - statusHeight, client.cx, statusHeight);
    Panel1.SetBounds(0, pagesHeight, client.cx, std::max(0, static_cast<int>(client.cy) - pagesHeight - statusHeight));
}

ui::CheckBox* TMainForm::SlotCheckBox(int slot) {
    ui::CheckBox* boxes[kSlotCount] = {&CheckBox1, &CheckBox2, &CheckBox3};
    return boxes[slot - 1];
}

ui::TimePicker* TMainForm::SlotPicker(int slot) {
    ui::TimePicker* pickers[kSlotCount] = {&DateTimePicker1, &DateTimePicker2, &DateTimePicker3};
    return pickers[slot - 1];
}

void TMainForm::FormCreate() {
    ui::Application::Instance().OnMinimize = [this] { MinimizeToTray(); };
    AppPath = DirectoryPart(site_.exePath());
    StatusBar1.SetPanelText(kStatusClockPanel, FormatDateTime(kClockFormat, clock_(), formatSettings_));
    LoadSettings();
}

void TMainForm::LoadSettings() {
    SettingsState state;
    // A bad DayTimeN ends the load at its slot; what was read before it is
    // shown first, then the failure, and the program starts all the same.
    std::exception_ptr failure;
    try {
        const ProfileFile SettingsIni(AppPath + kSettingsFileName);
        zelvo::LoadSettings(SettingsIni, state, clock_, formatSettings_);
    } catch (...) {
        failure = std::current_exception();
    }
    ApplySettings(state);
    if (failure) ui::ReportHandlerFailure(failure);
}

void TMainForm::FormDestroy() {
    // As the record stands: never filled, it names no icon and removes nothing.
    ui::NotifyIcon(NIM_DELETE, TrayIconData);
}

void TMainForm::SaveBitBtnClick() {
    SettingsState state = ReadSettings();
    RunKeyRegistrar runKey;
    StartupRegistrar& registrar = site_.registrar ? *site_.registrar : runKey;
    ProfileFile SettingsIni(AppPath + kSettingsFileName);
    // A refused registration has cleared the switch by the time a later
    // refused write stops the save; the box shows it either way.
    try {
        SaveSettings(SettingsIni, state, registrar, kApplicationTitle, site_.exePath(), formatSettings_);
    } catch (...) {
        AutoRunCheckBox.SetChecked(state.autoRun);
        throw;
    }
    AutoRunCheckBox.SetChecked(state.autoRun);
}

void TMainForm::SourceEditEditButtons0Click() { PickFolder("选择源目录", SourceEdit); }

void TMainForm::DesEditEditButtons0Click() { PickFolder("选择目的目录", DesEdit); }

void TMainForm::PickFolder(const char* caption, ui::Edit& target) {
    const auto dialog = std::make_unique<TSelDirForm>();
    dialog->SetText(caption);
    dialog->ShowModal();
    if (dialog->DialogResult == TSelDirForm::kResultOk) {
        std::wstring unheld;
        const std::string path = dialog->ShellTreeView1.SelectedPath(&unheld);
        // A "?" in the place of a character would name no folder, and a
        // look-alike another one.
        if (!unheld.empty()) throw Failure(FormatMessageText(TSelDirForm::kUnheldFolderText, ShownName(unheld)));
        target.SetText(path);
    }
}

void TMainForm::N4Click() {
    if (AboutBox) AboutBox->ShowModal();
}

void TMainForm::NAboutClick() {
    if (AboutBox) AboutBox->ShowModal();
}

void TMainForm::SetTrayIconHeader() {
    TrayIconData.cbSize = sizeof(TrayIconData);
    TrayIconData.hWnd = hwnd_;
    TrayIconData.uID = kTrayIconId;
    TrayIconData.uFlags = kTrayIconFlags;
    TrayIconData.uCallbackMessage = kTrayCallbackMessage;
}

void TMainForm::MinimizeToTray() {
    SetTrayIconHeader();
    // The tray draws small icons, the small image rather than a shrunk large
    // one, at the system's DPI whatever monitor the window is on.
    TrayIconData.hIcon = ui::ProgramIcon(ui::IconSize::Small, ui::SystemDpi());
    ui::SetTip(TrayIconData, kApplicationTitle);
    AddTrayIcon();
    ::ShowWindow(ui::Application::Instance().Handle(), SW_HIDE);
}

void TMainForm::AddTrayIcon() {
    // Refused while an icon of this window and id exists, which then stays
    // (and takes a change that changes nothing).
    if (ui::NotifyIcon(NIM_ADD, TrayIconData) || ui::NotifyIcon(NIM_MODIFY, TrayIconData)) {
        TrayRetryTimer.SetEnabled(false);
        return;
    }
    // Without its icon the program in the tray has no way back to the screen.
    TrayRetryTimer.SetEnabled(true);
}

void TMainForm::TrayRetryTimerTimer() {
    if (ui::Application::Instance().Minimized() && TrayIconData.hWnd == hwnd_) {
        AddTrayIcon();
    } else {
        TrayRetryTimer.SetEnabled(false);
    }
}

void TMainForm::TrayIconMessage(LPARAM mouseEvent) {
    switch (mouseEvent) {
    case WM_LBUTTONDBLCLK: {
        SetTrayIconHeader();
        ui::ClearTip(TrayIconData);
        ui::NotifyIcon(NIM_DELETE, TrayIconData);
        ui::Application& app = ui::Application::Instance();
        ::ShowWindow(app.Handle(), SW_SHOW);
        app.Restore();
        break;
    }
    case WM_RBUTTONUP: {
        // The program is not brought to the foreground: a right-click on the
        // icon leaves active whatever window the user works in.
        POINT at{};
        ::GetCursorPos(&at);
        PopupMenu1.Popup(hwnd_, at);
        break;
    }
    default:
        break;
    }
}

void TMainForm::TaskbarCreated() {
    // A restarted shell has forgotten every icon. Only a program that sits in
    // the tray had one; it has no other way back to the screen.
    if (ui::Application::Instance().Minimized() && TrayIconData.hWnd == hwnd_) AddTrayIcon();
}

void TMainForm::NCloseClick() { Close(); }

void TMainForm::N1Click() { Close(); }

void TMainForm::CheckBox1Click() { DateTimePicker1.SetEnabled(CheckBox1.Checked()); }

void TMainForm::CheckBox2Click() { DateTimePicker2.SetEnabled(CheckBox2.Checked()); }

void TMainForm::CheckBox3Click() { DateTimePicker3.SetEnabled(CheckBox3.Checked()); }

void TMainForm::Timer1Timer() {
    const DateTime now = clock_();
    StatusBar1.SetPanelText(kStatusClockPanel, FormatDateTime(kClockFormat, now, formatSettings_));
    // A tick inside a run's dialog (before its run) starts no further run,
    // nor does one that comes while the program ends with the session.
    if (runOpen_ || sessionEnded_) return;
    const SlotScheduler::Tick tick = scheduler_.BeginTick(WholeSeconds(now));
    int slot = 1;
    try {
        for (; slot <= kSlotCount; ++slot) CheckBackupTime(tick, slot, *SlotCheckBox(slot), *SlotPicker(slot));
    } catch (const ui::SilentAbort&) {
        // A missing directory ends the tick; the remaining slots are not examined.
    }
    // The program is ending with the session; nothing may wait for a click.
    if (sessionEnded_) return;
    // The slots after one that met a missing directory would have met it too,
    // and the log has its line: their backups are not missed ones. Only a set
    // time they missed before this tick is written down.
    while (++slot <= kSlotCount) ExamineSlot(tick, slot, *SlotCheckBox(slot), *SlotPicker(slot), clock_());
    scheduler_.Handled(WholeSeconds(clock_()));
    // A suspend is followed by ticks until the computer actually sleeps, and
    // the resume may come after the first tick on waking.
    missCauses_.slept = missCauses_.suspended;
    missCauses_.clockChanged = false;
    missCauses_.ranInPreviousTick = std::exchange(missCauses_.ranInTick, false);
    // Only now, with the tick over, may a box wait for its click: the ticks
    // that come meanwhile are handled inside its loop and run as usual.
    ui::Reports().ShowPending();
}

void TMainForm::CheckBackupTime(const SlotScheduler::Tick& tick, int slot, ui::CheckBox& checkBox,
                                ui::TimePicker& picker) {
    const DateTime now = clock_();
    if (runOpen_ || !ExamineSlot(tick, slot, checkBox, picker, now)) return;
    // A path pasted with its quotes ("Copy as path") or blanks names the same folder.
    const std::string source = CleanDirectoryText(SourceEdit.Text());
    const std::string dest = CleanDirectoryText(DesEdit.Text());
    BackupOutcome outcome;
    {
        FlagScope open(runOpen_);
        const auto dialog = std::make_unique<TBackupForm>(clock_);
        dialog->SourcePath = source;
        dialog->DestPath = dest;
        if (!DirectoryExists(source)) {
            ReportMissingDirectory(now, source);
            throw ui::SilentAbort();
        }
        // An empty or relative destination would put the copies wherever the
        // current directory happens to be; it is refused like a missing source.
        if (!IsUsableDirectoryPath(dest)) {
            ReportMissingDirectory(now, dest);
            throw ui::SilentAbort();
        }
        if (!DirectoryExists(dest)) CreateOneDirectory(dest);
        dialog->OnSessionEnd = [this, &source, &dest](const BackupOutcome& soFar) {
            sessionEnded_ = true;
            LogRun(source, dest, soFar);
        };
        // The dialog takes the focus: a folder name half typed in the folder
        // dialog would be committed as it stands.
        ui::CancelLabelEdits();
        dialog->ShowModal();
        missCauses_.ranInTick = true;
        outcome = std::move(dialog->Outcome);
    }
    if (sessionEnded_) {
        // Its block is in the log already, written when the session ended.
        Close();
        throw ui::SilentAbort();
    }
    // The dialog is gone before its run is reported.
    if (outcome.ran) ReportRun(source, dest, outcome);
}

bool TMainForm::ExamineSlot(const SlotScheduler::Tick& tick, int slot, const ui::CheckBox& checkBox,
                             const ui::TimePicker& picker, DateTime now) {
    const int slotSecond = SecondOfDay(picker.Value());
    SlotScheduler::Missed missed = SlotScheduler::Missed::No;
    const bool due = scheduler_.IsDue(tick, slot, checkBox.Checked(), slotSecond, WholeSeconds(now), &missed);
    if (missed != SlotScheduler::Missed::No) LogMissedTime(now, slotSecond, missed);
    return due;
}

void TMainForm::LogMissedTime(DateTime at, int slotSecond, SlotScheduler::Missed missed) {
    std::string text = std::string(kMissedTimeText) + " " +
                       FormatDateTime(kTimeFormat, FromWholeSeconds(slotSecond), formatSettings_);
    const char* cause = nullptr;
    if (missed == SlotScheduler::Missed::InsideATick) {
        // Without a run, the tick only passed into the next second between two slots.
        if (missCauses_.ranInTick || missCauses_.ranInPreviousTick) cause = kMissedInRunText;
    } else if (missCauses_.slept) {
        cause = kMissedAsleepText;
    } else if (missCauses_.clockChanged) {
        cause = kMissedClockText;
    }
    if (cause) text += std::string(" ") + cause;
    RunLog(AppPath, formatSettings_).AppendLine(at, text);
}

void TMainForm::NoteMissCause(UINT msg, WPARAM wParam) {
    if (msg == WM_TIMECHANGE) missCauses_.clockChanged = true;
    if (msg != WM_POWERBROADCAST) return;
    switch (wParam) {
    case PBT_APMSUSPEND:
        missCauses_.suspended = true;
        missCauses_.slept = true;
        break;
    case PBT_APMRESUMESUSPEND:
    case PBT_APMRESUMEAUTOMATIC:
    case PBT_APMRESUMECRITICAL:
        missCauses_.suspended = false;
        missCauses_.slept = true;
        break;
    default:
        break;
    }
}

void TMainForm::ReportMissingDirectory(DateTime at, const std::string& path) {
    const std::string text = MissingDirectoryText(path);
    RunLog log(AppPath, formatSettings_);
    const bool logged = log.AppendLine(at, text + " " + kNotBackedUpText);
    ui::Report report{ui::ReportKind::Information, BracketedTime(at), {text}, logged ? log.Path() : ""};
    ui::Reports().Add(std::move(report));
}

void TMainForm::ReportRun(const std::string& source, const std::string& dest, const BackupOutcome& outcome) {
    if (outcome.result.refused) {
        ReportMissingDirectory(outcome.start, dest);
        return;
    }
    // Every run leaves its block in the log, whether or not it has anything to report.
    const bool logged = LogRun(source, dest, outcome);
    if (outcome.result.failures.empty()) return;
    ui::Report report{ui::ReportKind::Error, BracketedTime(outcome.start), outcome.result.failures,
                      logged ? RunLog(AppPath, formatSettings_).Path() : ""};
    ui::Reports().Add(std::move(report));
}

bool TMainForm::LogRun(const std::string& source, const std::string& dest, const BackupOutcome& outcome) {
    const RunRecord record{outcome.start, outcome.end, source, dest, outcome.result};
    return RunLog(AppPath, formatSettings_).AppendRun(record);
}

std::string TMainForm::BracketedTime(DateTime at) const {
    return "[" + FormatDateTime(kClockFormat, at, formatSettings_) + "]";
}

SettingsState TMainForm::ReadSettings() const {
    SettingsState state;
    state.sourceDir = SourceEdit.Text();
    state.destinationDir = DesEdit.Text();
    state.overwrite = OverWriteCheckBox.Checked();
    state.autoRun = AutoRunCheckBox.Checked();
    state.startMinimized = State() == ui::WindowState::Minimized;
    const ui::CheckBox* boxes[kSlotCount] = {&CheckBox1, &CheckBox2, &CheckBox3};
    const ui::TimePicker* pickers[kSlotCount] = {&DateTimePicker1, &DateTimePicker2, &DateTimePicker3};
    for (int row = 0; row < kSlotCount; ++row) {
        state.slots[row].checked = boxes[row]->Checked();
        state.slots[row].pickerEnabled = pickers[row]->Enabled();
        state.slots[row].time = pickers[row]->Value();
    }
    return state;
}

void TMainForm::ApplySettings(const SettingsState& state) {
    SourceEdit.SetText(state.sourceDir);
    DesEdit.SetText(state.destinationDir);
    OverWriteCheckBox.SetChecked(state.overwrite);
    AutoRunCheckBox.SetChecked(state.autoRun);
    if (state.startMinimized) SetState(ui::WindowState::Minimized);
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        const SlotState& row = state.slots[slot - 1];
        SlotCheckBox(slot)->SetChecked(row.checked);
        SlotPicker(slot)->SetEnabled(row.pickerEnabled);
        SlotPicker(slot)->SetTime(row.time);
    }
}

void TMainForm::OnCommand(WORD id, WORD code, HWND) {
    const bool clicked = code == BN_CLICKED;  // also the code of menu commands
    switch (id) {
    case kCheckBox1Id:
        if (clicked) CheckBox1Click();
        break;
    case kCheckBox2Id:
        if (clicked) CheckBox2Click();
        break;
    case kCheckBox3Id:
        if (clicked) CheckBox3Click();
        break;
    case kSourceEditId:
        if (code == ui::kEditButtonClicked) SourceEditEditButtons0Click();
        break;
    case kDesEditId:
        if (code == ui::kEditButtonClicked) DesEditEditButtons0Click();
        break;
    case kSaveBitBtnId:
        if (clicked) SaveBitBtnClick();
        break;
    case kCloseBitBtnId:
    case kNCloseId:
        if (clicked) NCloseClick();
        break;
    case kN4Id:
        N4Click();
        break;
    case kNAboutId:
        NAboutClick();
        break;
    case kN1Id:
        N1Click();
        break;
    default:
        break;
    }
}

LRESULT TMainForm::OnNotify(const NMHDR& header) {
    if (header.hwndFrom == PageControl1.Handle() && header.code == TCN_SELCHANGE) PageControl1.Arrange();
    return 0;
}

void TMainForm::OnTimer(UINT_PTR id) {
    if (id == kTimer1Id) Timer1Timer();
    if (id == kTrayRetryTimerId) TrayRetryTimerTimer();
}

LRESULT TMainForm::SentDuringRun(UINT msg, WPARAM wParam, LPARAM lParam) {
    NoteMissCause(msg, wParam);
    if (msg == WM_POWERBROADCAST) return TRUE;
    // Posted messages wait in the queue until the run is over; these are
    // posted again to join them. A double-click asked to see the window; a
    // menu opening later at a stale place would only surprise, so a right
    // click is dropped, as are the icon's other mouse events.
    if (msg == kTrayCallbackMessage) {
        if (lParam == WM_LBUTTONDBLCLK) ::PostMessageA(hwnd_, msg, wParam, lParam);
        return 0;
    }
    if (msg == taskbarCreatedMessage_ && msg != 0) {
        ::PostMessageA(hwnd_, msg, wParam, lParam);
        return 0;
    }
    return Form::SentDuringRun(msg, wParam, lParam);
}

LRESULT TMainForm::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    NoteMissCause(msg, wParam);
    // What a window that takes note of a power event answers (it grants a
    // query); Wine's DefWindowProc would answer 0.
    if (msg == WM_POWERBROADCAST) return TRUE;
    if (msg == kTrayCallbackMessage) {
        TrayIconMessage(lParam);
        return 0;
    }
    if (msg == taskbarCreatedMessage_ && msg != 0) {
        TaskbarCreated();
        return 0;
    }
    return Form::HandleMessage(msg, wParam, lParam);
}

}  // namespace zelvo
