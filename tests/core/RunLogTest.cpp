// The run log as Notepad would show it: exact GBK text with CRLF line ends,
// appended, rolled over at its size limit, and silent when it cannot be written.
#include "core/CoreTestFiles.h"

#include "core/DateTime.h"
#include "core/RunLog.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

using namespace zelvo;
using zelvo::test::ExclusiveLock;
using zelvo::test::ReadFileBytes;
using zelvo::test::WriteFileBytes;

namespace {

// A private folder standing for the program's folder (path ends with "\").
class LogFolder {
public:
    LogFolder() : path_(test::NewTempDirectory("zelvo-log-") + "\\") {}
    ~LogFolder() { test::RemoveTree(path_.substr(0, path_.size() - 1)); }
    LogFolder(const LogFolder&) = delete;
    LogFolder& operator=(const LogFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string Log() const { return path_ + kRunLogFileName; }
    std::string OldLog() const { return path_ + kOldRunLogFileName; }

private:
    std::string path_;
};

DateTime At(int hour, int minute, int second) {
    return EncodeDate(2026, 12, 8) + EncodeTime(hour, minute, second);
}

RunRecord SampleRun() {
    RunRecord record;
    record.start = At(8, 30, 0);
    record.end = At(8, 30, 12);
    record.source = "D:\\源目录";
    record.dest = "E:\\目的目录";
    record.result.copied = 120;
    record.result.bytesCopied = 4330618530;  // past 32 bits
    record.result.skipped = 3;
    record.result.directories = 2;
    record.result.failures = {"Cannot open file D:\\源目录\\locked.txt", "Stream write error"};
    record.result.leftoversRemoved = 1;
    record.result.notTried = 7;
    return record;
}

const char kSampleBlock[] =
    "[2026-12-08 08:30:00] 开始备份\r\n"
    "    源目录: D:\\源目录\r\n"
    "    目的目录: E:\\目的目录\r\n"
    "[2026-12-08 08:30:12] 备份结束\r\n"
    "    复制: 120 个文件, 4330618530 字节\r\n"
    "    跳过: 3 个已存在的文件 (未选覆盖重名文件)\r\n"
    "    子目录: 2 个 (未备份)\r\n"
    "    失败: 2 个\r\n"
    "    Cannot open file D:\\源目录\\locked.txt\r\n"
    "    Stream write error\r\n"
    "    未备份: 7 个文件 (目录无法访问)\r\n"
    "    清除: 上次中断留下的临时文件 1 个\r\n"
    "\r\n";

TEST(RunLog, RunBlockIsExactGbkTextWithCrLf) {
    LogFolder folder;
    RunLog log(folder.Path(), FormatSettings());

    ASSERT_TRUE(log.AppendRun(SampleRun()));

    const std::string text = ReadFileBytes(folder.Log());
    EXPECT_EQ(text, kSampleBlock);
    // GBK, not UTF-8: 开 is 0xBF 0xAA.
    EXPECT_EQ(text.substr(22, 2), "\xBF\xAA");
}

// A run cut off by the end of the session says so where its end would be,
// and names the copies whose rename it did not see end.
TEST(RunLog, QuietRunStillNamesItsFailuresAndNoCleaning) {
    for (const bool cutOff : {false, true}) {
        LogFolder folder;
        RunLog log(folder.Path(), FormatSettings());
        RunRecord record;
        record.start = record.end = At(23, 59, 59);
        record.source = "C:\\a";
        record.dest = "\\\\pc\\share";
        record.result.cutOff = cutOff;
        record.result.unknown = cutOff ? 1 : 0;

        ASSERT_TRUE(log.AppendRun(record));

        EXPECT_EQ(ReadFileBytes(folder.Log()),
                  std::string("[2026-12-08 23:59:59] 开始备份\r\n"
                              "    源目录: C:\\a\r\n"
                              "    目的目录: \\\\pc\\share\r\n"
                              "[2026-12-08 23:59:59] ") +
                      (cutOff ? "备份中断: Windows 会话结束 (注销、重启或关机), 其余文件未备份\r\n"
                              : "备份结束\r\n") +
                      "    复制: 0 个文件, 0 字节\r\n"
                      "    跳过: 0 个已存在的文件 (未选覆盖重名文件)\r\n"
                      "    子目录: 0 个 (未备份)\r\n"
                      "    失败: 0 个\r\n" +
                      (cutOff ? "    未知: 1 个文件 (会话结束时仍在改名, 不知是否已备份)\r\n" : "") + "\r\n");
    }
}

TEST(RunLog, LinesAndBlocksAreAppendedToWhatIsThere) {
    LogFolder folder;
    ASSERT_TRUE(WriteFileBytes(folder.Log(), "earlier\r\n"));
    RunLog log(folder.Path(), FormatSettings());

    ASSERT_TRUE(log.AppendLine(At(8, 30, 0), "目录[D:\\源目录]不存在! 未备份"));
    ASSERT_TRUE(log.AppendRun(SampleRun()));

    EXPECT_EQ(ReadFileBytes(folder.Log()), std::string("earlier\r\n") +
                                               "[2026-12-08 08:30:00] 目录[D:\\源目录]不存在! 未备份\r\n\r\n" +
                                               kSampleBlock);
}

// Notepad, or another copy of the program, may hold the log open for reading
// and writing; appending goes on beside it.
TEST(RunLog, AppendsBesideAnotherSharingOpener) {
    LogFolder folder;
    RunLog log(folder.Path(), FormatSettings());
    ASSERT_TRUE(log.AppendLine(At(1, 0, 0), "one"));
    HANDLE other = CreateFileA(folder.Log().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);

    EXPECT_TRUE(log.AppendLine(At(2, 0, 0), "two"));
    CloseHandle(other);

    EXPECT_EQ(ReadFileBytes(folder.Log()), "[2026-12-08 01:00:00] one\r\n\r\n[2026-12-08 02:00:00] two\r\n\r\n");
}

TEST(RunLogRollover, AtTheLimitTheOldLogIsReplacedAndANewOneBegun) {
    for (const std::uint64_t size : {kRunLogLimit - 1, kRunLogLimit}) {
        LogFolder folder;
        const std::string earlier(size, 'x');
        ASSERT_TRUE(WriteFileBytes(folder.Log(), earlier));
        ASSERT_TRUE(WriteFileBytes(folder.OldLog(), "oldest"));
        RunLog log(folder.Path(), FormatSettings());

        ASSERT_TRUE(log.AppendRun(SampleRun()));

        if (size < kRunLogLimit) {
            EXPECT_EQ(ReadFileBytes(folder.Log()), earlier + kSampleBlock);
            EXPECT_EQ(ReadFileBytes(folder.OldLog()), "oldest");
        } else {
            EXPECT_EQ(ReadFileBytes(folder.Log()), kSampleBlock);
            EXPECT_EQ(ReadFileBytes(folder.OldLog()), earlier);
        }
    }
}

// Another opener that does not share deletion blocks the rename.
TEST(RunLogRollover, WhenTheRenameIsRefusedTheBigLogGrowsOn) {
    LogFolder folder;
    const std::string full(kRunLogLimit + 10, 'x');
    ASSERT_TRUE(WriteFileBytes(folder.Log(), full));
    ASSERT_TRUE(WriteFileBytes(folder.OldLog(), "oldest"));
    HANDLE reader = CreateFileA(folder.Log().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    RunLog log(folder.Path(), FormatSettings());

    const bool appended = log.AppendLine(At(9, 0, 0), "next");
    CloseHandle(reader);

    EXPECT_TRUE(appended);
    EXPECT_EQ(ReadFileBytes(folder.Log()), full + "[2026-12-08 09:00:00] next\r\n\r\n");
    EXPECT_EQ(ReadFileBytes(folder.OldLog()), "oldest");
}

TEST(RunLogFailure, ALogThatCannotBeWrittenReturnsFalseAndChangesNothing) {
    LogFolder folder;
    RunLog log(folder.Path(), FormatSettings());
    const std::string full(kRunLogLimit, 'x');

    // Held open by someone who shares nothing, also when it is due for rollover.
    for (const std::string& content : {std::string("locked\r\n"), full}) {
        ASSERT_TRUE(WriteFileBytes(folder.Log(), content));
        ASSERT_TRUE(WriteFileBytes(folder.OldLog(), "oldest"));
        ExclusiveLock holder(folder.Log());
        ASSERT_TRUE(holder.Held());
        EXPECT_FALSE(log.AppendRun(SampleRun()));
        EXPECT_FALSE(log.AppendLine(At(9, 0, 0), "line"));
        holder.Release();
        EXPECT_EQ(ReadFileBytes(folder.Log()), content);
        EXPECT_EQ(ReadFileBytes(folder.OldLog()), "oldest");
    }

    // A folder in the log's place.
    ASSERT_TRUE(DeleteFileA(folder.Log().c_str()));
    ASSERT_TRUE(CreateDirectoryA(folder.Log().c_str(), nullptr));
    EXPECT_FALSE(log.AppendRun(SampleRun()));
    EXPECT_NE(GetFileAttributesA(folder.Log().c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(ReadFileBytes(folder.OldLog()), "oldest");

    // The program's folder gone.
    RunLog nowhere(folder.Path() + "missing\\", FormatSettings());
    EXPECT_FALSE(nowhere.AppendLine(At(9, 0, 0), "line"));
    EXPECT_EQ(GetFileAttributesA((folder.Path() + "missing").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
