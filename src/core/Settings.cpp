#include "core/Settings.h"

#include "core/Paths.h"

#include <exception>

namespace zelvo {

std::string UserTimeKey(int slot) { return "UserTime" + std::to_string(slot); }

std::string DayTimeKey(int slot) { return "DayTime" + std::to_string(slot); }

std::string FlagText(bool value) { return value ? "1" : "0"; }

bool FlagValue(const std::string& text) { return text == "1"; }

DateTime InitialPickerTime() { return EncodeTime(15, 47, 40); }

void LoadSettings(const ProfileFile& ini, SettingsState& state, const Clock& now,
                  const FormatSettings& fs) {
    const std::string source = ini.ReadString(kAppSection, kSourceDirKey);
    state.sourceDir = source.empty() ? kDefaultSourceDir : source;
    const std::string destination = ini.ReadString(kAppSection, kDestinationDirKey);
    state.destinationDir = destination.empty() ? kDefaultDestinationDir : destination;
    state.overwrite = FlagValue(ini.ReadString(kAppSection, kOverWriteFileKey));
    state.autoRun = FlagValue(ini.ReadString(kAppSection, kAutoRunKey));
    if (state.autoRun) state.startMinimized = true;
    for (int slot = 1; slot <= kSlotCount; ++slot)
        LoadDayTime(ini, slot, state.slots[slot - 1], now, fs);
}

void LoadDayTime(const ProfileFile& ini, int slot, SlotState& state, const Clock& now,
                 const FormatSettings& fs) {
    state.checked = FlagValue(ini.ReadString(kDaySection, UserTimeKey(slot)));
    state.pickerEnabled = state.checked;
    const std::string text = ini.ReadString(kDaySection, DayTimeKey(slot));
    state.time = text.empty() ? now() : TimeOf(StrToDateTime(text, fs));
}

std::string RunValueData(const std::string& exePath) {
    return exePath.find(' ') == std::string::npos ? exePath : '"' + exePath + '"';
}

void SaveSettings(ProfileFile& ini, SettingsState& state, StartupRegistrar& registrar,
                  const std::string& title, const std::string& exePath, const FormatSettings& fs) {
    ini.WriteString(kAppSection, kSourceDirKey, CleanDirectoryText(state.sourceDir));
    ini.WriteString(kAppSection, kDestinationDirKey, CleanDirectoryText(state.destinationDir));
    ini.WriteString(kAppSection, kOverWriteFileKey, FlagText(state.overwrite));
    if (state.autoRun) {
        // Without administrative rights the Run key cannot be written; the
        // switch then quietly turns itself off and AutoRun keeps its old value.
        try {
            registrar.Register(title, RunValueData(exePath));
            ini.WriteString(kAppSection, kAutoRunKey, FlagText(true));
        } catch (const std::exception&) {
            state.autoRun = false;
        }
    } else {
        registrar.Unregister(kRunKeyPath, title);
        ini.WriteString(kAppSection, kAutoRunKey, FlagText(false));
    }
    for (int slot = 1; slot <= kSlotCount; ++slot) SaveDayTime(ini, slot, state.slots[slot - 1], fs);
}

void SaveDayTime(ProfileFile& ini, int slot, const SlotState& state, const FormatSettings& fs) {
    ini.WriteString(kDaySection, UserTimeKey(slot), FlagText(state.checked));
    ini.WriteString(kDaySection, DayTimeKey(slot), FormatDateTime(kTimeFormat, state.time, fs));
}

}  // namespace zelvo
