#include "core/ProfileFile.h"

#include "core/Failure.h"

#include <windows.h>

#include <cstring>

namespace zelvo {

namespace {

// GetPrivateProfileStringA reads into a buffer of this size, so at most one
// byte less of a value is ever seen.
constexpr DWORD kValueBufferSize = 2048;

// A path without a directory would make the profile calls look in the Windows
// directory, so a relative path is taken against the current directory.
std::string FullPath(const std::string& path) {
    if (path.empty()) return path;
    char buffer[MAX_PATH * 4];
    const DWORD length = ::GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    if (length == 0 || length >= sizeof buffer) return path;
    return std::string(buffer, length);
}

bool IsBlankOrQuote(char c) { return c == ' ' || c == '\t' || c == '"' || c == '\''; }

}  // namespace

ProfileFile::ProfileFile(std::string path) : path_(FullPath(path)) {}

std::string ProfileFile::ReadString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) const {
    // Wine cuts a value that does not fit after its last whole double-byte
    // character but counts the buffer as full, leaving the byte after the
    // cut unwritten; the zeroed buffer ends the value there instead.
    char buffer[kValueBufferSize] = {};
    const DWORD length = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(),
                                                   buffer, kValueBufferSize, path_.c_str());
    return std::string(buffer, ::strnlen(buffer, length));
}

void ProfileFile::WriteString(const std::string& section, const std::string& key,
                              const std::string& value) {
    const std::string stored = ProtectValue(value);
    if (!::WritePrivateProfileStringA(section.c_str(), key.c_str(), stored.c_str(), path_.c_str()))
        throw ProfileWriteError(FormatMessageText("Unable to write to %s", path_));
}

std::string ProfileFile::ProtectValue(const std::string& value) {
    if (value.empty() || (!IsBlankOrQuote(value.front()) && !IsBlankOrQuote(value.back())))
        return value;
    return '"' + value + '"';
}

}  // namespace zelvo
