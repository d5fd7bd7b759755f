// The settings file "SetFile.ini": its keys, their conversions, and the load
// and save sequences, applied to a plain struct that mirrors the main
// window's controls.
#pragma once

#include "core/DateTime.h"
#include "core/ProfileFile.h"

#include <array>
#include <string>

namespace zelvo {

inline constexpr const char* kSettingsFileName = "SetFile.ini";
inline constexpr const char* kAppSection = "AppPara";
inline constexpr const char* kDaySection = "DayPara";
inline constexpr const char* kSourceDirKey = "SourceDir";
inline constexpr const char* kDestinationDirKey = "DestinationDir";
inline constexpr const char* kOverWriteFileKey = "OverWriteFile";
inline constexpr const char* kAutoRunKey = "AutoRun";
inline constexpr const char* kDefaultSourceDir = "d:\\源目录";
inline constexpr const char* kDefaultDestinationDir = "d:\\目的目录";
inline constexpr const char* kRunKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr int kSlotCount = 3;

// "UserTime1".."UserTime3" and "DayTime1".."DayTime3" (slot is 1-based).
std::string UserTimeKey(int slot);
std::string DayTimeKey(int slot);

// "1" for true, "0" for false; only exactly "1" reads as true.
std::string FlagText(bool value);
bool FlagValue(const std::string& text);

// The time every picker shows before the settings are loaded: 15:47:40.
DateTime InitialPickerTime();

// One ScheduleSlot as its controls hold it.
struct SlotState {
    bool checked = false;
    bool pickerEnabled = true;
    DateTime time = InitialPickerTime();
};

// The configurable state of the main window. A default-constructed value is
// the controls' initial state before loading.
struct SettingsState {
    std::string sourceDir;
    std::string destinationDir;
    bool overwrite = false;
    bool autoRun = false;   // AutoRunCheckBox
    bool startMinimized = false;  // set by loading AutoRun = "1"
    std::array<SlotState, kSlotCount> slots;
};

// Load sequence. Fills `state` key by key in the file's order. An empty or
// missing DayTimeN gives the clock's current date-time, a non-empty one its
// time of day (date part zero). A bad DayTimeN throws ConvertError; what was
// read before it is already in `state`, the failing slot keeps the check-box
// state just read and its earlier time, later slots are untouched.
void LoadSettings(const ProfileFile& ini, SettingsState& state, const Clock& now,
                  const FormatSettings& fs);
void LoadDayTime(const ProfileFile& ini, int slot, SlotState& state, const Clock& now,
                 const FormatSettings& fs);

// Registry side of the start-with-Windows switch, so that the core needs no advapi32.
class StartupRegistrar {
public:
    virtual ~StartupRegistrar() = default;
    // Writes the Run value; throws Failure when the key or the value cannot be written.
    virtual void Register(const std::string& title, const std::string& command) = 0;
    // Removes the Run value; reports nothing.
    virtual void Unregister(const std::string& keyPath, const std::string& name) noexcept = 0;
};

// The data of the Run value for an executable path: quoted when it holds a
// blank (an unquoted blank makes Windows try a shorter program name first).
std::string RunValueData(const std::string& exePath);

// Save sequence, key by key, so a new file lists the keys in this order:
// SourceDir, DestinationDir, OverWriteFile, AutoRun, then UserTimeN, DayTimeN
// per slot. Paths are stored as the run takes them (CleanDirectoryText: no
// surrounding blanks, no pair of quotes around them). Checked autoRun:
// Register(title, RunValueData(exePath)), then AutoRun = "1"; unchecked:
// Unregister(kRunKeyPath, title), then AutoRun = "0" whatever its outcome.
// A refused write throws ProfileWriteError and stops the save; the keys
// before it stay written. A failed registration (or a failed AutoRun = "1"
// write after it) is silent and clears state.autoRun, which the caller shows
// by unchecking AutoRunCheckBox, also when a later write throws.
void SaveSettings(ProfileFile& ini, SettingsState& state, StartupRegistrar& registrar,
                  const std::string& title, const std::string& exePath, const FormatSettings& fs);
void SaveDayTime(ProfileFile& ini, int slot, const SlotState& state, const FormatSettings& fs);

}  // namespace zelvo
