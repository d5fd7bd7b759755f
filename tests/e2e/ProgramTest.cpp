// The real program, started as a separate process in a folder of its own and
// driven from outside through window messages, as a user's clicks would.
#include "Backup.h"
#include "Main.h"
#include "e2e/ProgramDriver.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace zelvo {
namespace {

using e2e::ProgramTest;
using e2e::Text;
using e2e::WaitFor;
using test::ScratchDir;

TEST_F(ProgramTest, ShowsTheMainWindowAndCopiesAtTheSetSecond) {
    const long startMs = Start();
    ASSERT_NE(main, nullptr) << "no main window";
    std::printf("start-up to a visible main window: %ld ms\n", startMs);

    // Seen from outside: the captions, the owner that carries the task-bar button.
    EXPECT_EQ(Text(main), kApplicationTitle);
    const HWND app = FindOwn("TApplication", kApplicationTitle);
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(::GetWindow(main, GW_OWNER), app);
    EXPECT_TRUE(::IsWindowVisible(app));
    EXPECT_EQ(Text(Control(TMainForm::kCheckBox1Id)), "备份时间一");
    EXPECT_EQ(Text(Control(TMainForm::kSaveBitBtnId)), "保存设置");
    EXPECT_EQ(Text(Control(TMainForm::kCloseBitBtnId)), "退 出");
    EXPECT_EQ(Text(Control(TMainForm::kLabel2Id)), "源 目 录");
    EXPECT_EQ(Text(Control(TMainForm::kSourceEditId)), "");

    // The clock in the status bar ticks.
    const std::string first = StatusText();
    ASSERT_EQ(first.size(), 19u) << first;
    EXPECT_EQ(first[4], '-');
    EXPECT_EQ(first[7], '-');
    EXPECT_EQ(first[10], ' ');
    EXPECT_TRUE(WaitFor([&] { return StatusText() != first; }, 3000));

    ScratchDir::Write(source + "\\a.txt", "alpha");
    ScratchDir::Write(source + "\\b.txt", "bravo");
    SetPaths();
    const SYSTEMTIME at = ArmSlot(TMainForm::kCheckBox1Id, TMainForm::kDateTimePicker1Id, 4);
    EXPECT_TRUE(::IsWindowEnabled(Control(TMainForm::kDateTimePicker1Id)));
    EXPECT_EQ(::GetFileAttributesA(dest.c_str()), INVALID_FILE_ATTRIBUTES);

    ASSERT_TRUE(WaitFor([&] { return ScratchDir::Read(dest + "\\b.txt") == "bravo"; }, 10000))
        << "no copy within 10 s";
    SYSTEMTIME done{};
    ::GetLocalTime(&done);
    // Seen within 50 ms of the copy: in the set second or just after, never before.
    const int setSecond = at.wHour * 3600 + at.wMinute * 60 + at.wSecond;
    int late = done.wHour * 3600 + done.wMinute * 60 + done.wSecond - setSecond;
    if (late < -43200) late += 86400;
    EXPECT_GE(late, 0);
    EXPECT_LE(late, 2);
    EXPECT_EQ(ScratchDir::Read(dest + "\\a.txt"), "alpha");

    // Closing from the menu ends the process.
    ::PostMessageA(main, WM_COMMAND, TMainForm::kNCloseId, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

TEST_F(ProgramTest, RunDialogShowsItsEndAndOneBoxWithTheFailures) {
    ASSERT_NE((Start(), main), nullptr);
    ScratchDir::Write(source + "\\free.txt", "free");
    ScratchDir::Write(source + "\\locked.txt", "locked");
    test::ExclusiveLock lock(source + "\\locked.txt");
    ASSERT_TRUE(lock.Held());
    SetPaths();
    ArmSlot(TMainForm::kCheckBox2Id, TMainForm::kDateTimePicker2Id, 3);

    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = FindOwn("#32770", kApplicationTitle)) != nullptr; }, 10000))
        << "no error box";
    const HWND dialog = FindOwn(TBackupForm::kClassName);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(::IsWindowVisible(dialog));
    EXPECT_EQ(Text(dialog).rfind(" 备份 " + source + "\\", 0), 0u) << Text(dialog);
    HWND bar = ::FindWindowExA(::FindWindowExA(dialog, nullptr, "TPanel", nullptr), nullptr, PROGRESS_CLASSA, nullptr);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), 10000);

    EXPECT_EQ(e2e::BoxMessage(box), "Cannot open file " + source + "\\locked.txt.");
    EXPECT_EQ(ScratchDir::Read(dest + "\\free.txt"), "free");

    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return !::IsWindow(dialog); }, 5000));
    lock.Release();
    ::PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

}  // namespace
}  // namespace zelvo
