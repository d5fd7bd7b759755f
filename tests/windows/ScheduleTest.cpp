// The once-a-second check of the main window driven by a scripted clock, with
// real directories and the real backup dialog. Ticks go through the window
// procedure (WM_TIMER), as the timer's would.
#include "Backup.h"
#include "Main.h"
#include "WindowTestSupport.h"
#include "copy/CopySupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zelvo {
namespace {

using test::At;
using test::ReadFileBytes;
using test::RemoveTree;
using test::ScratchDir;
using test::WriteFileBytes;

// The runs of this program's tests give a source in use its second chance
// for 600 ms rather than 10 s, and a refused step 400 ms rather than 5 s.
class ShortRunWaits : public ::testing::Environment {
    void SetUp() override {
        TBackupForm::RunTuning.retries.stepLimitMs = 400;
        TBackupForm::RunTuning.retries.secondChanceMs = 600;
        TBackupForm::RunTuning.retries.secondChanceEveryMs = 150;
    }
};
::testing::Environment* const kShortRunWaits = ::testing::AddGlobalTestEnvironment(new ShortRunWaits);

class ScheduleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::Application::Instance().SetTitle(kApplicationTitle);
        // The program's folder, where the run log goes, is the scratch folder.
        MainFormSite site;
        site.exePath = [this] { return scratch / "ZelvoBackup.exe"; };
        form = std::make_unique<TMainForm>(clock.AsClock(), site);
        // Ticks come from the test only.
        form->Timer1.SetEnabled(false);
        ::CreateDirectoryA(source.c_str(), nullptr);
        WriteFileBytes(source + "\\a.txt", "alpha");
        WriteFileBytes(source + "\\b.txt", "bravo");
        form->SourceEdit.SetText(source);
        form->DesEdit.SetText(dest);
    }

    void SetSlot(ui::CheckBox& box, ui::TimePicker& picker, DateTime time) {
        box.SetChecked(true);
        picker.SetTime(time);
    }
    void Tick() { ::SendMessageA(form->Handle(), WM_TIMER, TMainForm::kTimer1Id, 0); }
    std::vector<std::string> DestFiles() const { return ScratchDir::List(dest); }
    // Source files "locked<i>.txt" held open without sharing, so the run cannot read them.
    std::vector<std::unique_ptr<test::ExclusiveLock>> LockedFiles(int count) const {
        std::vector<std::unique_ptr<test::ExclusiveLock>> locks;
        for (int i = 0; i < count; ++i) {
            const std::string file = source + "\\locked" + std::to_string(i) + ".txt";
            WriteFileBytes(file, "x");
            locks.push_back(std::make_unique<test::ExclusiveLock>(file));
        }
        return locks;
    }

    test::RecordingReporter reporter;
    ui::ScopedReporter scoped{reporter};
    test::ScriptedClock clock;
    ScratchDir scratch;
    const std::string source = scratch / "源";
    const std::string dest = scratch / "目的";
    test::CreationWatch dialogs{TBackupForm::kClassName};
    std::unique_ptr<TMainForm> form;
};

TEST_F(ScheduleTest, SlotRunsInItsSecondAndNotInTheNext) {
    SetSlot(form->CheckBox1, form->DateTimePicker1, EncodeTime(12, 0, 0));
    clock.Set({At(12, 0, 0)});
    Tick();
    EXPECT_EQ(dialogs.count, 1);
    EXPECT_EQ(ReadFileBytes(dest + "\\a.txt"), "alpha");
    EXPECT_EQ(ReadFileBytes(dest + "\\b.txt"), "bravo");
    EXPECT_EQ(BackupForm, nullptr);  // destroyed after its run
    EXPECT_FALSE(form->RunOpen());

    RemoveTree(dest);
    clock.Set({At(12, 0, 1)});
    Tick();
    EXPECT_EQ(dialogs.count, 1);
    EXPECT_TRUE(DestFiles().empty());
    EXPECT_TRUE(reporter.errors.empty());
    EXPECT_TRUE(reporter.informations.empty());
}

TEST_F(ScheduleTest, UncheckedSlotNeverRuns) {
    form->DateTimePicker2.SetTime(EncodeTime(12, 0, 0));
    clock.Set({At(12, 0, 0)});
    Tick();
    EXPECT_EQ(dialogs.count, 0);
    EXPECT_TRUE(DestFiles().empty());
}

TEST_F(ScheduleTest, PickerDatePlaysNoRole) {
    SetSlot(form->CheckBox2, form->DateTimePicker2, EncodeTime(12, 0, 0));
    clock.Set({EncodeDate(2031, 3, 4) + EncodeTime(12, 0, 0)});
    Tick();
    EXPECT_EQ(dialogs.count, 1);
}

TEST_F(ScheduleTest, TwoSlotsAtOneSecondRunTwiceWhileTheSecondLasts) {
    SetSlot(form->CheckBox1, form->DateTimePicker1, EncodeTime(12, 0, 0));
    SetSlot(form->CheckBox3, form->DateTimePicker3, EncodeTime(12, 0, 0));
    clock.Set({At(12, 0, 0)});
    Tick();
    EXPECT_EQ(dialogs.count, 2);
}

TEST_F(ScheduleTest, SecondSlotIsExaminedAgainstTheClockAfterTheFirstRun) {
    SetSlot(form->CheckBox1, form->DateTimePicker1, EncodeTime(12, 0, 0));
    SetSlot(form->CheckBox3, form->DateTimePicker3, EncodeTime(12, 0, 0));
    // Readings: status panel, slot 1, slot 2, then slot 3 after the run.
    clock.Set({At(12, 0, 0), At(12, 0, 0), At(12, 0, 1), At(12, 0, 1)});
    Tick();
    EXPECT_EQ(dialogs.count, 1);
}

TEST_F(ScheduleTest, MissingSourceGivesOneBoxAndEndsTheTick) {
    RemoveTree(source);
    SetSlot(form->CheckBox1, form->DateTimePicker1, EncodeTime(12, 0, 0));
    SetSlot(form->CheckBox2, form->DateTimePicker2, EncodeTime(12, 0, 0));
    clock.Set({At(12, 0, 0)});
    Tick();
    ASSERT_EQ(reporter.informations.size(), 1u);
    EXPECT_EQ(reporter.informations[0], "目录[" + source + "]不存在!");
    EXPECT_TRUE(reporter.errors.empty());  // the abort is silent
    EXPECT_EQ(dialogs.count, 1);           // slot 2 was not examined
    EXPECT_EQ(::GetFileAttributesA(dest.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(form->RunOpen());

    // A plain file of the source's name is no directory either.
    WriteFileBytes(source, "not a directory");
    clock.Set({At(12, 0, 1)});
    form->DateTimePicker1.SetTime(EncodeTime(12, 0, 1));
    Tick();
    EXPECT_EQ(reporter.informations.size(), 2u);
}

TEST_F(ScheduleTest, DestinationIsCreatedOneLevelOnly) {
    SetSlot(form->CheckBox1, form->DateTimePicker1, EncodeTime(12, 0, 0));
    clock.Set({At(12, 0, 0)});
    Tick();
    EXPECT_EQ(DestFiles().size(), 2u);

    // Two missing levels: nothing is created, and the run reports the folder
    // it could not reach, once.
    const std::string deep = scratch / "x\\y";
    form->DesEdit.SetText(deep);
    clock.Set({At(12, 0, 1)});
    form->DateTimePicker1.SetTime(EncodeTime(12, 0, 1));
    Tick();
    EXPECT_EQ(::GetFileAttributesA((scratch / "x").c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(reporter.errors.size(), 1u);
    const std::string reason = SystemErrorText(ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(reporter.errors[0], "目的目录[" + deep + "]无法访问 (" + reason + ")");
}

TEST_F(ScheduleTest, EmptyOrRelativeDestinationIsRefusedLikeAMissingSource) {
    SetSlot(form->CheckBox1, form->DateTimePicker1, EncodeTime(12, 0, 0));
    SetSlot(form->CheckBox2, form->DateTimePicker2, EncodeTime(12, 0, 0));
    form->DesEdit.SetText("");
    clock.Set({At(12, 0, 0)});
    Tick();
    form->DesEdit.SetText("relative\\dir");
    form->DateTimePicker1.SetTime(EncodeTime(12, 0, 1));
    clock.Set({At(12, 0, 1)});
    Tick();
    ASSERT_EQ(reporter.informations.size(), 2u);
    EXPECT_EQ(reporter.informations[0], "目录[]不存在!");
    EXPECT_EQ(reporter.informations[1], "目录[relative\\dir]不存在!");
    EXPECT_EQ(::GetFileAttributesA("relative"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ScheduleTest, OverwriteSwitchIsReadFromTheMainWindow) {
    ::CreateDirectoryA(dest.c_str(), nullptr);
    WriteFileBytes(dest + "\\a.txt", "old and longer");
    SetSlot(form->CheckBox1, form->DateTimePicker1, EncodeTime(12, 0, 0));
    clock.Set({At(12, 0, 0)});
    Tick();
    EXPECT_EQ(ReadFileBytes(dest + "\\a.txt"), "old and longer");
    EXPECT_EQ(ReadFileBytes(dest + "\\b.txt"), "bravo");

    form->OverWriteCheckBox.SetChecked(true);
    form->DateTimePicker1.SetTime(EncodeTime(12, 0, 1));
    clock.Set({At(12, 0, 1)});
    Tick();
    EXPECT_EQ(ReadFileBytes(dest + "\\a.txt"), "alpha");
}

// A tick that arrives while a run's dialog is open (here before the run's
// own first tick) updates the clock but starts no second run.
TEST_F(ScheduleTest, NoRunStartsWhileARunsDialogIsOpen) {
    SetSlot(form->CheckBox1, form->DateTimePicker1, EncodeTime(12, 0, 0));
    SetSlot(form->CheckBox2, form->DateTimePicker2, EncodeTime(12, 0, 1));
    bool created = false;
    dialogs.onCreate = [&](HWND) {
        created = true;
        // Posted messages come before the dialog's own timer in its modal loop.
        ::PostMessageA(form->Handle(), WM_TIMER, TMainForm::kTimer1Id, 0);
    };
    // 12:00:00 until the dialog exists, 12:00:01 while it does, 12:00:02 after.
    clock.computed = [&] {
        if (BackupForm) return At(12, 0, 1);
        return created ? At(12, 0, 2) : At(12, 0, 0);
    };
    Tick();
    EXPECT_EQ(dialogs.count, 1);
    // The inner tick wrote the clock last.
    EXPECT_EQ(form->StatusBar1.PanelText(0), "2026-12-07 12:00:01");
    EXPECT_EQ(DestFiles().size(), 2u);
}

TEST_F(ScheduleTest, ClosingTheDialogBeforeItsFirstTickEndsItWithoutARun) {
    dialogs.onCreate = [](HWND dialog) { ::PostMessageA(dialog, WM_CLOSE, 0, 0); };
    SetSlot(form->CheckBox1, form->DateTimePicker1, EncodeTime(12, 0, 0));
    clock.Set({At(12, 0, 0)});
    Tick();
    EXPECT_EQ(dialogs.count, 1);
    EXPECT_EQ(BackupForm, nullptr);
    EXPECT_TRUE(DestFiles().empty());  // created by the scheduler, left empty
    EXPECT_FALSE(form->RunOpen());
}

// The failures of a run are reported once its dialog is gone, and while that
// box waits for its click, later ticks examine the slots and run as usual;
// their reports wait and then share one box, each under its run's time.
TEST_F(ScheduleTest, ABoxWaitingForItsClickHoldsBackNoRunAndOnlyOneBoxIsOpen) {
    WriteFileBytes(source + "\\locked.txt", "locked");
    test::ExclusiveLock lock(source + "\\locked.txt");
    ASSERT_TRUE(lock.Held());
    SetSlot(form->CheckBox1, form->DateTimePicker1, EncodeTime(12, 0, 0));
    SetSlot(form->CheckBox2, form->DateTimePicker2, EncodeTime(12, 0, 5));
    SetSlot(form->CheckBox3, form->DateTimePicker3, EncodeTime(12, 0, 9));
    std::vector<bool> dialogAtBox;
    std::vector<std::size_t> errorsSeenInBox;
    reporter.onBox = [&] {
        dialogAtBox.push_back(BackupForm != nullptr);
        if (reporter.errors.size() != 1) return;
        // Inside the first box's loop: two more slots come due and run.
        for (int second : {5, 9}) {
            WriteFileBytes(source + "\\new" + std::to_string(second) + ".txt", "new");
            clock.Set({At(12, 0, second)});
            Tick();
            errorsSeenInBox.push_back(reporter.errors.size());
        }
    };
    clock.Set({At(12, 0, 0)});
    Tick();
    lock.Release();

    EXPECT_EQ(dialogs.count, 3);
    EXPECT_EQ(ReadFileBytes(dest + "\\new5.txt"), "new");
    EXPECT_EQ(ReadFileBytes(dest + "\\new9.txt"), "new");
    // No second box while the first was open; the two that waited share one.
    EXPECT_EQ(errorsSeenInBox, (std::vector<std::size_t>{1, 1}));
    ASSERT_EQ(reporter.errors.size(), 2u);
    const std::string failure =
        "Cannot open file " + source + "\\locked.txt (" + SystemErrorText(ERROR_SHARING_VIOLATION) + ")";
    EXPECT_EQ(reporter.errors[0], failure);
    EXPECT_EQ(reporter.errors[1], "[2026-12-07 12:00:05]\n" + failure + "\n[2026-12-07 12:00:09]\n" + failure);
    EXPECT_EQ(dialogAtBox, (std::vector<bool>{false, false}));
    EXPECT_FALSE(form->RunOpen());
}

// The missing-directory box does not hold back the schedule either, and the
// tick that met it still ends there.
TEST_F(ScheduleTest, MissingSourceBoxHoldsBackNoLaterRun) {
    const std::string other = scratch / "其他";
    ::CreateDirectoryA(other.c_str(), nullptr);
    WriteFileBytes(other + "\\c.txt", "charlie");
    form->SourceEdit.SetText(scratch / "没有");
    SetSlot(form->CheckBox1, form->DateTimePicker1, EncodeTime(12, 0, 0));
    SetSlot(form->CheckBox2, form->DateTimePicker2, EncodeTime(12, 0, 0));
    SetSlot(form->CheckBox3, form->DateTimePicker3, EncodeTime(12, 0, 3));
    reporter.onBox = [&] {
        if (reporter.informations.size() != 1) return;
        form->SourceEdit.SetText(other);
        clock.Set({At(12, 0, 3)});
        Tick();
    };
    clock.Set({At(12, 0, 0)});
    Tick();
    EXPECT_EQ(reporter.informations.size(), 1u);  // slot 2 was not examined
    EXPECT_EQ(dialogs.count, 2);                   // slot 1's, never shown, and slot 3's
    EXPECT_EQ(ReadFileBytes(dest + "\\c.txt"), "charlie");
}

// Slots 1 and 2 at one second with the source missing: the box is dismissed
// at once and the next tick comes within the second after or late; slot 2's
// second passed inside the tick that ended at the box and is not caught up,
// nor logged as missed: the log's line for the missing source stands for it.
TEST_F(ScheduleTest, MissingSourceGivesOneBoxHoweverSoonItIsDismissed) {
    RemoveTree(source);
    SetSlot(form->CheckBox1, form->DateTimePicker1, EncodeTime(12, 0, 0));
    SetSlot(form->CheckBox2, form->DateTimePicker2, EncodeTime(12, 0, 0));
    for (int nextSecond : {1, 2}) {
        const DateTime day = nextSecond;  // each round on a day of its own
        for (const DateTime now : {At(11, 59, 59), At(12, 0, 0), At(12, 0, nextSecond), At(12, 0, 3)}) {
            clock.Set({now + day});
            Tick();
        }
        EXPECT_EQ(reporter.informations.size(), static_cast<std::size_t>(nextSecond));
    }
    EXPECT_EQ(ReadFileBytes(scratch / "Backup.log").find("错过"), std::string::npos);
}

// Too many failures for the screen: the box lists as many as fit (at most
// 20) and ends with a line that counts the rest and names the run log.
TEST_F(ScheduleTest, ManyFailuresGiveABoxThatFitsTheScreen) {
    auto locks = LockedFiles(150);
    SetSlot(form->CheckBox1, form->DateTimePicker1, EncodeTime(12, 0, 0));
    clock.Set({At(12, 0, 0)});
    Tick();
    locks.clear();
    ASSERT_EQ(reporter.errors.size(), 1u);
    const std::string& text = reporter.errors[0];
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    EXPECT_GE(lines, 2u);
    EXPECT_LE(lines, 21u);
    const std::string last = text.substr(text.rfind('\n') + 1);
    EXPECT_NE(last.find("另有 " + std::to_string(150 - (lines - 1)) + " 条未列出"), std::string::npos) << last;
    // Where they all are: the run's block in the log holds every one.
    EXPECT_NE(last.find(scratch / "Backup.log"), std::string::npos) << last;
    const std::string log = ReadFileBytes(scratch / "Backup.log");
    EXPECT_NE(log.find("    失败: 150 个\r\n"), std::string::npos);
    EXPECT_NE(log.find("Cannot open file " + source + "\\locked149.txt (" + SystemErrorText(ERROR_SHARING_VIOLATION) +
                       ")\r\n"),
              std::string::npos);
}

// A log that cannot be written changes nothing else: no box of its own, the
// run and its report as ever, and no box points at a log without the lines.
TEST_F(ScheduleTest, ALogThatCannotBeWrittenChangesNothingElse) {
    ::CreateDirectoryA((scratch / "Backup.log").c_str(), nullptr);  // no file can be made there
    auto locks = LockedFiles(30);
    SetSlot(form->CheckBox1, form->DateTimePicker1, EncodeTime(12, 0, 0));
    clock.Set({At(12, 0, 0)});
    Tick();
    locks.clear();
    EXPECT_EQ(ReadFileBytes(dest + "\\a.txt"), "alpha");
    ASSERT_EQ(reporter.errors.size(), 1u);
    EXPECT_TRUE(reporter.informations.empty());
    const std::string& text = reporter.errors[0];
    EXPECT_EQ(text.rfind("Cannot open file " + source + "\\locked", 0), 0u) << text;
    EXPECT_EQ(text.find("Backup.log"), std::string::npos) << text;
}

// Windows ends the session while a run copies, sending from another thread
// as the system does, and while b.txt's rename hangs on a share that drops.
// Log-off was refused meanwhile; inside the message, answered within the
// time Windows gives, the run's block goes into the log, marked cut off,
// with the rename it did not see end; the run then ends at once, without
// its temporary file, no box waits for a click, the main window closes, and
// the block is not written a second time.
TEST_F(ScheduleTest, TheSessionEndingDuringARunEndsItAtOnceAndLogsItOnce) {
    ASSERT_TRUE(test::WriteZeroFile(source + "\\big.dat", 1ull << 30));
    SetSlot(form->CheckBox1, form->DateTimePicker1, EncodeTime(12, 0, 0));
    clock.Set({At(12, 0, 0)});
    form->Show();
    testing::HangingRename hang(L"\\b.txt");
    DWORD_PTR refused = 0xBAD;
    std::string logAtAnswer;
    std::thread session([&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while ((test::TemporaryFilesIn(dest).bytes <= kCopyBufferSize ||
                ::WaitForSingleObject(hang.hanging.Get(), 0) != WAIT_OBJECT_0) &&
               std::chrono::steady_clock::now() < end) {
            ::Sleep(1);
        }
        ::SendMessageTimeoutA(form->Handle(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &refused);
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutA(form->Handle(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &ignored);
        logAtAnswer = ReadFileBytes(scratch / "Backup.log");
        ::SetEvent(hang.release.Get());
    });
    Tick();
    session.join();

    EXPECT_EQ(refused, 0u);
    const std::string log = ReadFileBytes(scratch / "Backup.log");
    EXPECT_EQ(log, logAtAnswer);
    EXPECT_EQ(log.find("开始备份"), log.rfind("开始备份")) << log;
    EXPECT_NE(log.find("] 备份中断: Windows 会话结束"), std::string::npos) << log;
    EXPECT_NE(log.find("    未知: 1 个文件 (会话结束时仍在改名, 不知是否已备份)\r\n"), std::string::npos) << log;
    std::vector<std::string> names = DestFiles();
    names.erase(std::remove(names.begin(), names.end(), "a.txt"), names.end());
    names.erase(std::remove(names.begin(), names.end(), "b.txt"), names.end());
    EXPECT_TRUE(names.empty()) << names.front();
    EXPECT_TRUE(reporter.errors.empty());
    EXPECT_TRUE(reporter.informations.empty());
    EXPECT_FALSE(form->Visible());
    EXPECT_EQ(BackupForm, nullptr);
}

// The first flush of a run does `first` before it flushes, on the thread that
// makes it, while the run waits for it; the others are made at once.
class FirstFlush {
public:
    explicit FirstFlush(std::function<void()> first)
        : first_(std::move(first)), previous_(std::exchange(FlushFileBuffersCall, &Flush)) {
        current_ = this;
    }
    ~FirstFlush() {
        FlushFileBuffersCall = previous_;
        current_ = nullptr;
    }
    FirstFlush(const FirstFlush&) = delete;
    FirstFlush& operator=(const FirstFlush&) = delete;

    KernelHandle begun{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    KernelHandle ended{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};

private:
    static BOOL WINAPI Flush(HANDLE file) {
        // The copies in flight flush side by side: one of them is the first.
        if (current_->taken_.exchange(true)) return current_->previous_(file);
        ::SetEvent(current_->begun.Get());
        current_->first_();
        const BOOL flushed = current_->previous_(file);
        ::SetEvent(current_->ended.Get());
        return flushed;
    }
    static inline FirstFlush* current_ = nullptr;
    std::atomic<bool> taken_{false};
    std::function<void()> first_;
    BOOL(WINAPI* previous_)(HANDLE);
};

// While the run waits out a first flush of 7 s, the dialog answers what other
// programs send within the second, past the 5 s after which Windows would take
// it for hung; log-off is refused. A session that ends all the same during the wait
// gets its cut-off block: the copy being flushed is gone, the other one (in
// flight beside it, flushed at once) is in place, nothing is put in place
// after the block, and the dialog still answers until the flush thread lets go
// of the file.
TEST_F(ScheduleTest, TheDialogAnswersThroughoutALongFlushAndTheSessionMayEndInIt) {
    SetSlot(form->CheckBox1, form->DateTimePicker1, EncodeTime(12, 0, 0));
    clock.Set({At(12, 0, 0)});
    std::atomic<HWND> dialog{nullptr};
    dialogs.onCreate = [&](HWND created) { dialog = created; };
    // 7 s, as a new file's flush on a write-cached USB disk may take.
    const FirstFlush flush([] { ::Sleep(7000); });
    int answered = 0, unanswered = 0;
    DWORD_PTR refused = 0xBAD;
    std::string logAtAnswer;
    std::vector<std::string> destAtAnswer;
    std::thread others([&] {
        const auto ask = [&] {
            DWORD_PTR result = 0;
            if (::SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result)) {
                ++answered;
            } else if (::IsWindow(dialog)) {  // one that goes during the call answered all it was asked
                ++unanswered;
            }
            ::Sleep(100);
        };
        if (::WaitForSingleObject(flush.begun.Get(), 20000) != WAIT_OBJECT_0) return;
        for (const DWORD until = ::GetTickCount() + 5500; ::GetTickCount() < until;) ask();
        ::SendMessageTimeoutA(dialog, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 1000, &refused);
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutA(dialog, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 1000, &ignored);
        logAtAnswer = ReadFileBytes(scratch / "Backup.log");
        destAtAnswer = DestFiles();
        while (::WaitForSingleObject(flush.ended.Get(), 0) == WAIT_TIMEOUT) ask();
    });
    Tick();
    others.join();

    EXPECT_EQ(unanswered, 0);
    EXPECT_GE(answered, 40);
    EXPECT_EQ(refused, 0u);
    const std::string log = ReadFileBytes(scratch / "Backup.log");
    EXPECT_EQ(log, logAtAnswer);
    // The block counts the copies in place, and nothing is put in place
    // after it; the copy in its long flush is not among them, and goes with
    // its handle, as does the run's folder.
    std::vector<std::string> placed;
    for (const std::string& name : destAtAnswer) {
        if (!IsTemporaryName(name)) placed.push_back(name);
    }
    EXPECT_EQ(placed.size(), 1u);
    EXPECT_NE(log.find("] 备份中断: Windows 会话结束 (注销、重启或关机), 其余文件未备份\r\n"
                       "    复制: " + std::to_string(placed.size()) + " 个文件, "),
              std::string::npos) << log;
    EXPECT_EQ(DestFiles(), placed);
    EXPECT_EQ(BackupForm, nullptr);
}

// A set time that passes with no tick that examined it goes into the log,
// with the cause the program heard: a run that held the tick; the clock set
// forward, heard from another thread during that run; the computer asleep (a
// tick may come between the suspend and the sleep, and the first tick on
// waking before the resume); and no cause when none was heard.
TEST_F(ScheduleTest, ASetTimeThatNoTickExaminedIsLoggedWithTheCauseHeard) {
    SetSlot(form->CheckBox1, form->DateTimePicker1, EncodeTime(12, 0, 0));
    SetSlot(form->CheckBox2, form->DateTimePicker2, EncodeTime(12, 0, 5));
    SetSlot(form->CheckBox3, form->DateTimePicker3, EncodeTime(11, 59, 55));
    DWORD_PTR powerAnswer = 0;
    const FirstFlush flush([&] {
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutA(form->Handle(), WM_TIMECHANGE, 0, 0, SMTO_NORMAL, 5000, &ignored);
        ::SendMessageTimeoutA(form->Handle(), WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE, 0, SMTO_NORMAL, 5000,
                              &powerAnswer);
    });
    // The clock jumps from 11:59:50 to 12:00:00, where slot 1's run begins; it ends at 12:00:10.
    bool created = false;
    dialogs.onCreate = [&](HWND) { created = true; };
    DateTime before = At(11, 59, 50);
    clock.computed = [&] { return created ? At(12, 0, 10) : before; };
    Tick();
    before = At(12, 0, 0);
    Tick();
    EXPECT_EQ(powerAnswer, static_cast<DWORD_PTR>(TRUE));

    form->CheckBox1.SetChecked(false);
    form->CheckBox2.SetChecked(false);
    clock.computed = nullptr;
    const auto tickAt = [&](DateTime at) {
        clock.Set({at});
        Tick();
    };
    tickAt(At(11, 59, 50) + 1);
    EXPECT_EQ(::SendMessageA(form->Handle(), WM_POWERBROADCAST, PBT_APMSUSPEND, 0), TRUE);
    tickAt(At(11, 59, 51) + 1);
    tickAt(At(11, 59, 58) + 1);
    ::SendMessageA(form->Handle(), WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    tickAt(At(11, 59, 59) + 1);

    tickAt(At(11, 59, 50) + 2);
    tickAt(At(11, 59, 58) + 2);

    const std::string log = ReadFileBytes(scratch / "Backup.log");
    const std::string lines[] = {
        "[2026-12-07 12:00:10] 错过备份时间 12:00:05 (上一次备份仍在进行)\r\n\r\n",
        "[2026-12-07 12:00:10] 错过备份时间 11:59:55 (系统时间被调整)\r\n\r\n",
        "[2026-12-08 11:59:58] 错过备份时间 11:59:55 (计算机睡眠)\r\n\r\n",
        "[2026-12-09 11:59:58] 错过备份时间 11:59:55\r\n\r\n",
    };
    std::size_t after = 0;
    for (const std::string& line : lines) {
        const std::size_t at = log.find(line, after);
        EXPECT_NE(at, std::string::npos) << line << log;
        if (at != std::string::npos) after = at;
    }
    std::size_t count = 0;
    for (std::size_t at = log.find("错过"); at != std::string::npos; at = log.find("错过", at + 1)) ++count;
    EXPECT_EQ(count, 4u) << log;
    EXPECT_EQ(dialogs.count, 1);  // slot 1's run, and no other
    EXPECT_TRUE(reporter.informations.empty());
    EXPECT_TRUE(reporter.errors.empty());
}

}  // namespace
}  // namespace zelvo
