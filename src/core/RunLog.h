// The run log: one block of plain text per backup run, appended to
// "Backup.log" beside the program, in the ANSI code page with CRLF line ends
// so that Notepad shows it as it is.
#pragma once

#include "core/CopyRun.h"
#include "core/DateTime.h"

#include <cstdint>
#include <string>

namespace zelvo {

inline constexpr char kRunLogFileName[] = "Backup.log";
inline constexpr char kOldRunLogFileName[] = "Backup.old.log";
// A log that has reached this size is renamed to kOldRunLogFileName (replacing
// an older one) before the next append, and a new log begun.
inline constexpr std::uint64_t kRunLogLimit = 1u << 20;

struct RunRecord {
    DateTime start = 0, end = 0;
    std::string source, dest;
    CopyRunResult result;
};

class RunLog {
public:
    // directory: the program's folder, ending with "\"; the log is
    // directory + kRunLogFileName.
    RunLog(std::string directory, FormatSettings fs);

    // Full path of the log.
    const std::string& Path() const { return path_; }

    // Appends one block for a run:
    //   [yyyy-MM-dd hh:mm:ss] 开始备份
    //       源目录: <source>
    //       目的目录: <dest>
    //   [yyyy-MM-dd hh:mm:ss] 备份结束
    //       (a run cut off by the end of the session: "备份中断: Windows 会话结束
    //       (注销、重启或关机), 其余文件未备份" instead, with what it had done)
    //       复制: <copied> 个文件, <bytesCopied> 字节
    //       跳过: <skipped> 个已存在的文件 (未选覆盖重名文件)
    //       子目录: <directories> 个 (未备份)
    //       失败: <failures> 个
    //       <each failure text, in order>
    //       未知: <unknown> 个文件 (会话结束时仍在改名, 不知是否已备份)   (only when > 0)
    //       未备份: <notTried> 个文件 (目录无法访问)   (only when > 0)
    //       清除: 上次中断留下的临时文件 <leftoversRemoved> 个   (only when > 0)
    //   <blank line>
    // Never throws; false when the block could not be written.
    bool AppendRun(const RunRecord& record) noexcept;

    // Appends "[yyyy-MM-dd hh:mm:ss] " + text and a blank line. Never throws;
    // false when the line could not be written.
    bool AppendLine(DateTime at, const std::string& text) noexcept;

private:
    std::string Stamp(DateTime at) const;
    bool Append(const std::string& text) const noexcept;

    std::string directory_;
    std::string path_;
    FormatSettings fs_;
};

}  // namespace zelvo
