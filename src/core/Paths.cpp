#include "core/Paths.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace zelvo {

namespace {

constexpr wchar_t kLongPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";
constexpr wchar_t kDevicePrefix[] = L"\\\\.\\";
// CreateDirectory leaves room for an 8.3 name in a plain path.
constexpr std::size_t kDirectoryLimit = MAX_PATH - 12;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsQuote(char c) { return c == '"' || c == '\''; }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string TrimBlanks(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// Position of the first "\" or "/" at or after `from`, stepping over
// double-byte characters (a GBK trail byte may be 0x5C); npos if none.
std::size_t FindAnySeparator(const std::string& path, std::size_t from) {
    for (std::size_t i = from; i < path.size(); ++i) {
        const auto byte = static_cast<unsigned char>(path[i]);
        if (IsSeparator(path[i])) return i;
        if (IsDBCSLeadByte(byte)) ++i;
    }
    return std::string::npos;
}

bool IsDrivePath(const std::string& path) {
    return path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == ':' && IsSeparator(path[2]);
}

// "\\computer\share..." with "\" or "/" anywhere.
bool IsUncPath(const std::string& path) {
    if (path.size() < 5 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return false;
    const std::size_t computerEnd = FindAnySeparator(path, 2);
    if (computerEnd == std::string::npos || computerEnd == 2) return false;
    // "\\.\" and "\\?\" name devices and the raw namespace, not a computer.
    const std::string computer = path.substr(2, computerEnd - 2);
    if (computer == "." || computer == "?") return false;
    const std::size_t shareEnd = FindAnySeparator(path, computerEnd + 1);
    return (shareEnd == std::string::npos ? path.size() : shareEnd) > computerEnd + 1;
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::char_traits<wchar_t>::length(prefix), prefix) == 0;
}

bool IsWideSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The length of the root of a whole path, which keeps its separator:
// "D:\", "\\server\share\" and their \\?\ forms.
std::size_t RootLength(const std::wstring& path) {
    std::size_t at = 0;
    if (StartsWith(path, kLongUncPrefix)) {
        at = sizeof kLongUncPrefix / sizeof(wchar_t) - 1;
    } else if (StartsWith(path, kLongPrefix)) {
        at = sizeof kLongPrefix / sizeof(wchar_t) - 1;
    } else if (path.size() >= 2 && IsWideSeparator(path[0]) && IsWideSeparator(path[1])) {
        at = 2;
    } else {
        return path.size() >= 3 && path[1] == L':' ? 3 : 0;
    }
    if (at == 4 && path.size() >= at + 3 && path[at + 1] == L':') return at + 3;
    // computer, separator, share, separator
    for (int part = 0; part < 2 && at < path.size(); ++part) {
        while (at < path.size() && !IsWideSeparator(path[at])) ++at;
        if (at < path.size()) ++at;
    }
    return at;
}

// The directory made whole, as the plain (non-\\?\) calls would take it;
// a \\?\ text is taken as it stands. A \\.\ path comes out in its \\?\ form:
// the platform still trims and limits a \\.\ path as it does a plain one,
// so an entry "report." would reach "report" through it.
std::wstring WholePath(const std::wstring& text) {
    std::wstring whole = text;
    if (!StartsWith(text, kLongPrefix)) {
        std::vector<wchar_t> buffer(MAX_PATH);
        for (;;) {
            const DWORD length = ::GetFullPathNameW(text.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(),
                                                    nullptr);
            if (length == 0) break;
            if (length < buffer.size()) {
                whole.assign(buffer.data(), length);
                break;
            }
            buffer.resize(length + 1);
        }
    }
    if (StartsWith(whole, kDevicePrefix)) whole.replace(0, sizeof kDevicePrefix / sizeof(wchar_t) - 1, kLongPrefix);
    const std::size_t root = RootLength(whole);
    while (whole.size() > root && IsWideSeparator(whole.back())) whole.pop_back();
    return whole;
}

// The \\?\ form of a whole path, which the platform takes without any change.
std::wstring LongForm(const std::wstring& whole) {
    if (StartsWith(whole, kLongPrefix)) return whole;
    if (whole.size() >= 2 && IsWideSeparator(whole[0]) && IsWideSeparator(whole[1])) {
        return kLongUncPrefix + whole.substr(2);
    }
    return kLongPrefix + whole;
}

// Names that a plain path would not reach: the platform drops trailing dots
// and blanks, and takes CON, PRN, AUX, NUL, COM0-9 and LPT0-9 (with any
// extension, also with the superscript digits ¹ ² ³) for devices. Such names
// come from other systems or \\?\ paths.
bool NeedsExactForm(const std::wstring& name) {
    if (name.empty()) return false;
    if (name.back() == L'.' || name.back() == L' ') return true;
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (auto& c : stem) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL") return true;
    const wchar_t digit = stem.size() == 4 ? stem[3] : L'\0';
    const bool portDigit = (digit >= L'0' && digit <= L'9') || digit == L'\u00b9' || digit == L'\u00b2' ||
                           digit == L'\u00b3';
    return portDigit && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0);
}

// Appends the ANSI form of `count` UTF-16 units if the code page holds each of
// their characters exactly; false (and nothing appended) when it holds one of
// them not at all or only as a look-alike.
bool AppendExactAnsi(const wchar_t* units, int count, std::string& out) {
    std::string bytes(static_cast<std::size_t>(count) * 4, '\0');
    const int room = static_cast<int>(bytes.size());
    BOOL usedDefault = FALSE;
    int length = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units, count, bytes.data(), room, nullptr,
                                       &usedDefault);
    // UTF-8 as the ANSI code page takes neither the flag nor the default-character report.
    if (length == 0 && ::GetLastError() == ERROR_INVALID_PARAMETER) {
        usedDefault = FALSE;
        length = ::WideCharToMultiByte(CP_ACP, 0, units, count, bytes.data(), room, nullptr, nullptr);
    }
    if (length <= 0 || usedDefault) return false;
    // The way back tells a look-alike from the character itself.
    std::wstring back(static_cast<std::size_t>(count), L'\0');
    const int backLength =
        ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), length, back.data(), count);
    if (backLength != count || back.compare(0, back.size(), units, static_cast<std::size_t>(count)) != 0) {
        return false;
    }
    out.append(bytes.data(), static_cast<std::size_t>(length));
    return true;
}

}  // namespace

std::string CleanDirectoryText(const std::string& text) {
    std::string clean = TrimBlanks(text);
    if (clean.size() >= 2 && IsQuote(clean.front()) && clean.back() == clean.front()) {
        clean = TrimBlanks(clean.substr(1, clean.size() - 2));
    }
    return clean;
}

bool IsUsableDirectoryPath(const std::string& path) {
    if (path.size() > 4 && path[0] == '\\' && path[1] == '\\' && (path[2] == '?' || path[2] == '.') &&
        path[3] == '\\') {
        const std::string rest = path.substr(4);
        if (rest.size() > 4 && (rest[0] | 0x20) == 'u' && (rest[1] | 0x20) == 'n' && (rest[2] | 0x20) == 'c' &&
            rest[3] == '\\') {
            return IsUncPath("\\\\" + rest.substr(4));
        }
        return IsDrivePath(rest);
    }
    return IsDrivePath(path) || IsUncPath(path);
}

std::wstring WidenAnsi(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string ShownName(const std::wstring& name) {
    std::string shown;
    if (name.empty() || AppendExactAnsi(name.data(), static_cast<int>(name.size()), shown)) return shown;
    for (std::size_t i = 0; i < name.size();) {
        const bool pair = IS_HIGH_SURROGATE(name[i]) && i + 1 < name.size() && IS_LOW_SURROGATE(name[i + 1]);
        const int count = pair ? 2 : 1;
        if (!AppendExactAnsi(&name[i], count, shown)) {
            const unsigned long codePoint =
                pair ? 0x10000ul + ((name[i] - 0xD800ul) << 10) + (name[i + 1] - 0xDC00ul) : name[i];
            char text[16];
            std::snprintf(text, sizeof text, "<U+%04lX>", codePoint);
            shown += text;
        }
        i += static_cast<std::size_t>(count);
    }
    return shown;
}

DirPath::DirPath(std::string text) : text_(std::move(text)), whole_(WholePath(WidenAnsi(text_))) {}

std::wstring DirPath::Path() const {
    return whole_.size() >= kDirectoryLimit ? LongForm(whole_) : whole_;
}

std::wstring DirPath::PathOf(const std::wstring& name, bool directory) const {
    std::wstring path = whole_;
    if (path.empty() || !IsWideSeparator(path.back())) path += L'\\';
    path += name;
    const std::size_t limit = directory ? kDirectoryLimit : MAX_PATH;
    return path.size() >= limit || NeedsExactForm(name) ? LongForm(path) : path;
}

std::string DirPath::ShownPathOf(const std::wstring& name) const {
    return text_ + "\\" + ShownName(name);
}

DirPath DirPath::Inside(const std::wstring& name) const {
    std::wstring path = whole_;
    if (path.empty() || !IsWideSeparator(path.back())) path += L'\\';
    return DirPath(text_ + "\\" + ShownName(name), path + name);
}

}  // namespace zelvo
