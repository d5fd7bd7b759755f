// SetFile.ini through the main window: loaded into the controls at creation,
// written by the save button, with the start-with-Windows switch. Every form
// is started as if its executable lay in a scratch folder.
#include "Main.h"
#include "RunValueGuard.h"
#include "WindowTestSupport.h"
#include "core/Failure.h"
#include "core/ProfileFile.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zelvo {
namespace {

using Strings = std::vector<std::string>;
using test::ReadFileBytes;
using test::ScratchDir;
using test::WriteFileBytes;

// A registrar whose outcome the test decides; `during` runs while the save
// is between its writes, where the switch is handled.
class ScriptedRegistrar : public StartupRegistrar {
public:
    void Register(const std::string& title, const std::string& command) override {
        registered.push_back(title + " = " + command);
        if (during) during();
        if (refuse) throw Failure("Access denied");
    }
    void Unregister(const std::string&, const std::string& name) noexcept override {
        unregistered.push_back(name);
        if (during) during();
    }
    bool refuse = false;
    std::function<void()> during;
    Strings registered;
    Strings unregistered;
};

std::string TimeText(const ui::TimePicker& picker) {
    return FormatDateTime(kTimeFormat, picker.Value(), FormatSettings());
}

// The three schedule rows, each as "on|off enabled|disabled hh:mm:ss".
Strings Rows(const TMainForm& form) {
    Strings rows;
    for (const SlotState& slot : form.ReadSettings().slots) {
        rows.push_back(std::string(slot.checked ? "on" : "off") + (slot.pickerEnabled ? " enabled " : " disabled ") +
                       FormatDateTime(kTimeFormat, slot.time, FormatSettings()));
    }
    return rows;
}

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override { ui::Application::Instance().SetTitle(kApplicationTitle); }

    // A main window whose executable is `folder`\ZelvoBackup.exe; a null
    // registrar means the machine's Run key.
    std::unique_ptr<TMainForm> StartIn(const std::string& folder, StartupRegistrar* reg) {
        MainFormSite site;
        const std::string exe = folder + "\\ZelvoBackup.exe";
        site.exePath = [exe] { return exe; };
        site.registrar = reg;
        auto form = std::make_unique<TMainForm>(clock.AsClock(), site);
        form->Timer1.SetEnabled(false);
        return form;
    }
    std::unique_ptr<TMainForm> Start() { return StartIn(scratch.Path(), &registrar); }
    std::unique_ptr<TMainForm> StartWith(const std::string& fileText) {
        WriteFileBytes(Ini(), fileText);
        return Start();
    }

    std::string Ini() const { return scratch / kSettingsFileName; }
    std::string Key(const char* section, const std::string& key) const {
        return ProfileFile(Ini()).ReadString(section, key);
    }

    test::RecordingReporter reporter;
    ui::ScopedReporter scoped{reporter};
    test::ScriptedClock clock;  // 2026-12-07 09:03:05
    ScratchDir scratch;
    ScriptedRegistrar registrar;
};

// Edited by hand: names in any case, blanks and quotes, GBK text, flags other
// than "1", a time with a date, a slot switched on without its time.
const char kEditedFile[] =
    "[appPARA]\r\n"
    "sourcedir = \" d:\\带 空格\\源 \" \r\n"
    "DESTINATIONDIR=\\\\pc\\共享\\目的\r\n"
    "OverWriteFile=yes\r\n"
    "AutoRun=0\r\n"
    "[DayPara]\r\n"
    "DayTime2=07:05:09\r\n"
    "UserTime2=1\r\n"
    "UserTime1=1\r\n"
    "UserTime3=yes\r\n"
    "DayTime3=2026/1/2 23:59:59\r\n";

TEST_F(SettingsFileTest, HandEditedFileShowsInTheControls) {
    const auto form = StartWith(kEditedFile);
    EXPECT_EQ(form->SourceEdit.Text(), " d:\\带 空格\\源 ");
    EXPECT_EQ(form->DesEdit.Text(), "\\\\pc\\共享\\目的");
    EXPECT_FALSE(form->OverWriteCheckBox.Checked());
    EXPECT_FALSE(form->AutoRunCheckBox.Checked());
    EXPECT_EQ(form->State(), ui::WindowState::Normal);

    // Row 1 at the clock's time of loading.
    EXPECT_EQ(Rows(*form), (Strings{"on enabled 09:03:05", "on enabled 07:05:09", "off disabled 23:59:59"}));
    EXPECT_TRUE(reporter.errors.empty());
}

TEST_F(SettingsFileTest, SaveWritesWhatTheControlsShowAndTheNextStartShowsIt) {
    auto form = StartWith(kEditedFile);
    form->SaveBitBtn.Click();
    EXPECT_TRUE(reporter.errors.empty());
    // The blanks that the hand-written quotes kept are no part of a folder.
    EXPECT_EQ(Key(kAppSection, kSourceDirKey), "d:\\带 空格\\源");
    EXPECT_EQ(Key(kAppSection, kOverWriteFileKey), "0");
    EXPECT_EQ(Key(kAppSection, kAutoRunKey), "0");
    EXPECT_EQ(Key(kDaySection, "UserTime1"), "1");
    EXPECT_EQ(Key(kDaySection, "DayTime1"), "09:03:05");
    EXPECT_EQ(Key(kDaySection, "UserTime2"), "1");
    EXPECT_EQ(Key(kDaySection, "DayTime2"), "07:05:09");
    EXPECT_EQ(Key(kDaySection, "UserTime3"), "0");
    EXPECT_EQ(Key(kDaySection, "DayTime3"), "23:59:59");
    ASSERT_EQ(registrar.unregistered.size(), 1u);
    EXPECT_EQ(registrar.unregistered[0], kApplicationTitle);

    const SettingsState saved = form->ReadSettings();
    const Strings savedRows = Rows(*form);
    form.reset();
    clock.Set({test::At(18, 0, 0)});
    const auto next = Start();
    EXPECT_EQ(next->SourceEdit.Text(), "d:\\带 空格\\源");
    EXPECT_EQ(next->DesEdit.Text(), saved.destinationDir);
    EXPECT_FALSE(next->OverWriteCheckBox.Checked());
    EXPECT_FALSE(next->AutoRunCheckBox.Checked());
    EXPECT_EQ(Rows(*next), savedRows);
}

TEST_F(SettingsFileTest, EmptySourceSavesEmptyAndTheNextStartShowsTheDefault) {
    auto form = Start();  // no file yet
    EXPECT_EQ(form->SourceEdit.Text(), "d:\\源目录");
    EXPECT_EQ(form->DesEdit.Text(), "d:\\目的目录");
    form->SourceEdit.SetText("");
    form->SaveBitBtn.Click();
    EXPECT_NE(ReadFileBytes(Ini()).find("\r\nSourceDir=\r\n"), std::string::npos) << ReadFileBytes(Ini());
    // Edits after the save reach the schedule but not the file.
    form->DesEdit.SetText("e:\\unsaved");
    form.reset();

    const auto next = Start();
    EXPECT_EQ(next->SourceEdit.Text(), "d:\\源目录");
    EXPECT_EQ(next->DesEdit.Text(), "d:\\目的目录");
}

// The edit holds and the save writes a path of any length; a load sees only
// the first 2047 bytes of it.
TEST_F(SettingsFileTest, LongPathIsSavedWholeAndReloadsCut) {
    std::string longPath = "d:\\";
    while (longPath.size() < 3000) longPath += "long\\";
    auto form = Start();
    form->SourceEdit.SetText(longPath);
    form->SaveBitBtn.Click();
    EXPECT_TRUE(reporter.errors.empty());
    const std::string file = ReadFileBytes(Ini());
    EXPECT_NE(file.find("SourceDir=" + longPath + "\r\nDestinationDir="), std::string::npos);
    EXPECT_NE(file.find("DayTime3=09:03:05\r\n"), std::string::npos);
    form.reset();
    EXPECT_EQ(Start()->SourceEdit.Text(), longPath.substr(0, 2047));
}

TEST_F(SettingsFileTest, BadDayTimeIsReportedAfterWhatWasReadBeforeItShows) {
    Strings shownAtTheBox;
    reporter.onBox = [&] {
        ASSERT_NE(MainForm, nullptr);
        shownAtTheBox = {MainForm->SourceEdit.Text(), TimeText(MainForm->DateTimePicker1)};
    };
    const auto form = StartWith("[AppPara]\r\nSourceDir=s:\\src\r\nAutoRun=1\r\n"
                                "[DayPara]\r\nUserTime1=1\r\nDayTime1=08:00:00\r\n"
                                "UserTime2=1\r\nDayTime2=7:5:9x\r\n"
                                "UserTime3=1\r\nDayTime3=09:00:00\r\n");
    ASSERT_EQ(reporter.errors, Strings{"'7:5:9x' is not a valid date and time"});
    EXPECT_EQ(shownAtTheBox, (Strings{"s:\\src", "08:00:00"}));

    EXPECT_TRUE(form->AutoRunCheckBox.Checked());
    EXPECT_EQ(form->State(), ui::WindowState::Minimized);
    // The failing row keeps the box just read and its initial time; the
    // next one is left as created.
    EXPECT_EQ(Rows(*form), (Strings{"on enabled 08:00:00", "on enabled 15:47:40", "off enabled 15:47:40"}));
}

TEST_F(SettingsFileTest, AutoRunOneStartsInTheMinimizedApplication) {
    ui::Application& app = ui::Application::Instance();
    auto form = StartWith("[AppPara]\r\nAutoRun=1\r\n");
    EXPECT_TRUE(form->AutoRunCheckBox.Checked());
    EXPECT_EQ(form->State(), ui::WindowState::Minimized);
    app.SetMainForm(form.get());
    app.ShowMainForm(SW_SHOWNORMAL);
    EXPECT_TRUE(app.Minimized());
    EXPECT_FALSE(form->Visible());
    app.Restore();
    form.reset();

    // A start requested maximized shows the window all the same.
    form = Start();
    app.SetMainForm(form.get());
    app.ShowMainForm(SW_SHOWMAXIMIZED);
    EXPECT_FALSE(app.Minimized());
    EXPECT_TRUE(form->Visible());
    EXPECT_EQ(form->State(), ui::WindowState::Maximized);
    app.SetMainForm(nullptr);

    // Only exactly "1" counts.
    ::CreateDirectoryA((scratch / "yes").c_str(), nullptr);
    WriteFileBytes(scratch / "yes\\SetFile.ini", "[AppPara]\r\nAutoRun=yes\r\n");
    const auto yes = StartIn(scratch / "yes", &registrar);
    EXPECT_FALSE(yes->AutoRunCheckBox.Checked());
    EXPECT_EQ(yes->State(), ui::WindowState::Normal);
}

// A file held open elsewhere is refused like a read-only one (which Wine does
// not refuse to root). The lock is taken as the switch is handled, after the
// first three writes.
TEST_F(SettingsFileTest, RefusedWriteStopsTheSaveAndKeepsTheKeysBeforeIt) {
    auto form = Start();
    std::optional<test::ExclusiveLock> lock;
    registrar.during = [&] { lock.emplace(Ini()); };
    form->SaveBitBtn.Click();
    ASSERT_TRUE(lock && lock->Held());
    lock.reset();
    EXPECT_EQ(reporter.errors, Strings{"Unable to write to " + Ini()});
    EXPECT_EQ(ReadFileBytes(Ini()),
              "[AppPara]\r\nSourceDir=d:\\源目录\r\nDestinationDir=d:\\目的目录\r\nOverWriteFile=0\r\n");
}

// Refused right after a successful registration: the AutoRun = "1" write
// fails silently and unchecks the box, the next write is reported.
TEST_F(SettingsFileTest, RefusedWriteAfterTheRegistrationLeavesTheSwitchOff) {
    auto form = Start();
    form->AutoRunCheckBox.Click();
    ASSERT_TRUE(form->AutoRunCheckBox.Checked());
    std::optional<test::ExclusiveLock> lock;
    registrar.during = [&] { lock.emplace(Ini()); };
    form->SaveBitBtn.Click();
    lock.reset();
    EXPECT_EQ(reporter.errors, Strings{"Unable to write to " + Ini()});
    EXPECT_FALSE(form->AutoRunCheckBox.Checked());
    EXPECT_EQ(ReadFileBytes(Ini()).find("AutoRun"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(Ini()).find("DayPara"), std::string::npos);
}

TEST_F(SettingsFileTest, RefusedRegistrationUnchecksTheBoxSilently) {
    auto form = StartWith("[AppPara]\r\nAutoRun=1\r\n");
    ASSERT_TRUE(form->AutoRunCheckBox.Checked());
    registrar.refuse = true;
    form->SaveBitBtn.Click();
    EXPECT_FALSE(form->AutoRunCheckBox.Checked());
    EXPECT_TRUE(reporter.errors.empty());
    EXPECT_TRUE(reporter.informations.empty());
    EXPECT_EQ(registrar.registered.size(), 1u);
    EXPECT_EQ(Key(kAppSection, kAutoRunKey), "1");        // as it was
    EXPECT_EQ(Key(kDaySection, "DayTime3"), "09:03:05");  // the save went on
}

// The machine's Run key itself (Wine grants every write to it).
class StartWithWindowsTest : public SettingsFileTest {
protected:
    // A folder for the executable; `name` may hold blanks.
    std::string Folder(const std::string& name) {
        const std::string folder = scratch / name;
        ::CreateDirectoryA(folder.c_str(), nullptr);
        return folder;
    }
    std::string Key(const std::string& folder, const std::string& key) const {
        return ProfileFile(folder + "\\" + kSettingsFileName).ReadString(kAppSection, key);
    }
    test::RunValueGuard runValue;
};

TEST_F(StartWithWindowsTest, CheckedRegistersTheProgramUncheckedRemovesIt) {
    const std::string folder = Folder("Zelvo 备份");
    const auto form = StartIn(folder, nullptr);
    form->AutoRunCheckBox.Click();
    form->SaveBitBtn.Click();
    EXPECT_TRUE(form->AutoRunCheckBox.Checked());
    // Quoted, or Windows would first try to start "...\Zelvo".
    EXPECT_EQ(runValue.Current(), "\"" + folder + "\\ZelvoBackup.exe\"");
    EXPECT_EQ(Key(folder, kAutoRunKey), "1");

    form->AutoRunCheckBox.Click();
    form->SaveBitBtn.Click();
    EXPECT_EQ(runValue.Current(), "");
    EXPECT_EQ(Key(folder, kAutoRunKey), "0");
    EXPECT_TRUE(reporter.errors.empty());
}

TEST_F(StartWithWindowsTest, MovedProgramRegistersItsNewPlace) {
    const std::string before = Folder("before");
    auto form = StartIn(before, nullptr);
    form->AutoRunCheckBox.Click();
    form->SaveBitBtn.Click();
    EXPECT_EQ(runValue.Current(), before + "\\ZelvoBackup.exe");
    form.reset();

    // Moved with its settings file.
    const std::string after = Folder("移动 之后");
    ASSERT_TRUE(::CopyFileA((before + "\\SetFile.ini").c_str(), (after + "\\SetFile.ini").c_str(), TRUE));
    form = StartIn(after, nullptr);
    ASSERT_TRUE(form->AutoRunCheckBox.Checked());
    form->SaveBitBtn.Click();
    EXPECT_EQ(runValue.Current(), "\"" + after + "\\ZelvoBackup.exe\"");
    EXPECT_EQ(Key(after, kAutoRunKey), "1");
}

}  // namespace
}  // namespace zelvo
