#include "core/RunLog.h"

#include "core/FileSystem.h"
#include "core/Handles.h"

#include <windows.h>

#include <utility>

namespace zelvo {

namespace {

constexpr char kNewLine[] = "\r\n";
constexpr char kIndent[] = "    ";
constexpr char kEndText[] = "备份结束";
constexpr char kCutOffText[] = "备份中断: Windows 会话结束 (注销、重启或关机), 其余文件未备份";

// The size of the file at path; false when there is no file there.
bool FileSizeOf(const std::string& path, std::uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

}  // namespace

RunLog::RunLog(std::string directory, FormatSettings fs)
    : directory_(std::move(directory)), path_(directory_ + kRunLogFileName), fs_(std::move(fs)) {}

std::string RunLog::Stamp(DateTime at) const {
    return "[" + FormatDateTime(kClockFormat, at, fs_) + "] ";
}

bool RunLog::AppendRun(const RunRecord& record) noexcept {
    try {
        const CopyRunResult& result = record.result;
        std::string text;
        const auto line = [&text](const std::string& content) {
            text += kIndent;
            text += content;
            text += kNewLine;
        };
        text += Stamp(record.start) + "开始备份" + kNewLine;
        line("源目录: " + record.source);
        line("目的目录: " + record.dest);
        text += Stamp(record.end) + (result.cutOff ? kCutOffText : kEndText) + kNewLine;
        line("复制: " + std::to_string(result.copied) + " 个文件, " + std::to_string(result.bytesCopied) + " 字节");
        line("跳过: " + std::to_string(result.skipped) + " 个已存在的文件 (未选覆盖重名文件)");
        line("子目录: " + std::to_string(result.directories) + " 个 (未备份)");
        line("失败: " + std::to_string(result.failures.size()) + " 个");
        for (const std::string& failure : result.failures) line(failure);
        if (result.unknown > 0) {
            line("未知: " + std::to_string(result.unknown) + " 个文件 (会话结束时仍在改名, 不知是否已备份)");
        }
        if (result.notTried > 0) {
            line("未备份: " + std::to_string(result.notTried) + " 个文件 (目录无法访问)");
        }
        if (result.leftoversRemoved > 0) {
            line("清除: 上次中断留下的临时文件 " + std::to_string(result.leftoversRemoved) + " 个");
        }
        text += kNewLine;
        return Append(text);
    } catch (...) {
        return false;
    }
}

bool RunLog::AppendLine(DateTime at, const std::string& text) noexcept {
    try {
        return Append(Stamp(at) + text + kNewLine + kNewLine);
    } catch (...) {
        return false;
    }
}

bool RunLog::Append(const std::string& text) const noexcept {
    try {
        std::uint64_t size = 0;
        if (FileSizeOf(path_, size) && size >= kRunLogLimit) {
            // Fails while another opener of the log does not share deletion;
            // the big log then simply grows on until a later append.
            MoveIntoPlace(path_, directory_ + kOldRunLogFileName, true);
        }
        // Append-only access makes every write land at the end of the file,
        // even when another copy of the program appended since we opened it.
        FileHandle log(CreateFileA(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!log) return false;
        DWORD written = 0;
        const bool wrote = WriteFile(log.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                           written == text.size();
        return log.Close() && wrote;
    } catch (...) {
        return false;
    }
}

}  // namespace zelvo
