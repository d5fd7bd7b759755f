#include "core/FileSystem.h"

#include "core/Failure.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <vector>

namespace zelvo {

BOOL(WINAPI* FlushFileBuffersCall)(HANDLE file) = ::FlushFileBuffers;
BOOL(WINAPI* MoveFileExCall)(LPCWSTR from, LPCWSTR to, DWORD flags) = ::MoveFileExW;
BOOL(WINAPI* DeleteFileCall)(LPCWSTR path) = ::DeleteFileW;
HANDLE(WINAPI* CreateFileCall)(LPCWSTR path, DWORD access, DWORD sharing, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templateFile) = ::CreateFileW;
BOOL(WINAPI* WriteFileCall)(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                            LPOVERLAPPED overlapped) = ::WriteFile;

namespace {

// The rename information takes the NT form of a path: "\??\" before a drive
// path, "\??\UNC\" before a share's.
BOOL WINAPI RenameByHandle(HANDLE file, LPCWSTR to, BOOL replaceExisting) {
    const std::wstring path = to;
    std::wstring nt;
    if (path.compare(0, 4, L"\\\\?\\") == 0) {
        nt = L"\\??\\" + path.substr(4);
    } else if (path.compare(0, 2, L"\\\\") == 0) {
        nt = L"\\??\\UNC\\" + path.substr(2);
    } else {
        nt = L"\\??\\" + path;
    }
    const std::size_t bytes = nt.size() * sizeof(wchar_t);
    std::vector<char> buffer(offsetof(FILE_RENAME_INFO, FileName) + bytes + sizeof(wchar_t), 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replaceExisting ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(bytes);
    std::copy(nt.begin(), nt.end(), info->FileName);
    return ::SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size()));
}

}  // namespace

BOOL(WINAPI* RenameOpenFileCall)(HANDLE file, LPCWSTR to, BOOL replaceExisting) = RenameByHandle;

namespace {

// The names of our temporary files and folders: prefix, 8 hex digits, suffix.
constexpr wchar_t kTemporaryPrefix[] = L"~zlv";
constexpr wchar_t kTemporarySuffix[] = L".tmp";
constexpr std::size_t kTemporaryPrefixLength = sizeof kTemporaryPrefix / sizeof(wchar_t) - 1;
constexpr std::size_t kTemporarySuffixLength = sizeof kTemporarySuffix / sizeof(wchar_t) - 1;
constexpr std::size_t kTemporaryDigits = 8;
constexpr wchar_t kHexDigits[] = L"0123456789abcdef";

bool IsDotEntry(const wchar_t* name) {
    return (name[0] == L'.' && name[1] == L'\0') || (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

std::size_t LastElementStart(const std::string& path) {
    std::size_t start = 0;
    for (std::size_t at = FindSeparator(path); at != std::string::npos; at = FindSeparator(path, start)) {
        start = at + 1;
    }
    return start;
}

HANDLE OpenFile(const std::wstring& path, DWORD access, DWORD sharing, DWORD disposition, DWORD flags) {
    return CreateFileCall(path.c_str(), access, sharing, nullptr, disposition, flags, nullptr);
}

bool IsAvoided(const std::wstring& name, const std::vector<std::wstring>& avoid) {
    return std::any_of(avoid.begin(), avoid.end(),
                       [&name](const std::wstring& other) { return SameName(name, other); });
}

// Tries names of our own in dir until `create` makes one; `create` must fail
// on an existing object (CREATE_NEW, CreateDirectory), so nothing that exists
// is ever taken over. The name made, or "" when none could be made.
// The platform's last error is the reason when no name could be made.
template <typename Create>
std::wstring MakeUniquelyNamed(const std::vector<std::wstring>& avoid, Create create) {
    // The copies in flight make names on several threads at once.
    static std::atomic<DWORD> counter{0};
    constexpr int kAttempts = 64;
    // Process id and tick count keep two running copies of the program (or a
    // leftover of a crashed run) from walking the same sequence of names.
    DWORD seed = (::GetCurrentProcessId() << 16) ^ ::GetTickCount();
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        DWORD value = seed + (counter.fetch_add(1) + 1) * 2654435761u;
        std::wstring name = kTemporaryPrefix;
        name.append(kTemporaryDigits, L'0');
        name += kTemporarySuffix;
        for (std::size_t digit = kTemporaryPrefixLength + kTemporaryDigits; digit-- > kTemporaryPrefixLength;
             value >>= 4) {
            name[digit] = kHexDigits[value & 0xF];
        }
        if (IsAvoided(name, avoid)) continue;
        if (create(name)) return name;
        error = ::GetLastError();
        // ACCESS_DENIED: a directory of that name, or a file being deleted.
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) break;
        seed ^= error;
    }
    ::SetLastError(error);
    return std::wstring();
}

}  // namespace

std::size_t FindSeparator(const std::string& path, std::size_t from) {
    for (std::size_t i = from; i < path.size(); ++i) {
        const auto byte = static_cast<unsigned char>(path[i]);
        if (byte == '\\') return i;
        if (IsDBCSLeadByte(byte)) ++i;
    }
    return std::string::npos;
}

std::string DirectoryPart(const std::string& path) { return path.substr(0, LastElementStart(path)); }

bool DirectoryExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(DirPath(path).Path().c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateOneDirectory(const std::string& path) {
    return ::CreateDirectoryW(DirPath(path).Path().c_str(), nullptr) != FALSE;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    std::string path;
    path.reserve(dir.size() + 1 + name.size());
    path += dir;
    path += '\\';
    path += name;
    return path;
}

std::string SystemErrorText(DWORD error) {
    char* buffer = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
        reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = length > 0 && buffer ? std::string(buffer, length) : std::string();
    if (buffer) ::LocalFree(buffer);
    for (char& c : text) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text.empty() ? "error " + std::to_string(error) : text;
}

std::string FailureLine(const char* text, const std::string& path, DWORD error) {
    const std::string named = std::string(text).find("%s") != std::string::npos ? FormatMessageText(text, path)
                                                                                : std::string(text) + " " + path;
    return named + " (" + SystemErrorText(error) + ")";
}

DirListing::DirListing(const DirPath& dir, ListingFault fault) : fault_(std::move(fault)) {
    // In the body: data_ is declared after find_, so an initializer would
    // have its result wiped by data_'s own initialization.
    find_.Reset(::FindFirstFileW(dir.PathOf(L"*").c_str(), &data_));
    pending_ = find_.Valid();
    if (!pending_) {
        const DWORD error = ::GetLastError();
        // No entry at all (a root holds no "." and ".."), or no such directory.
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_NO_MORE_FILES) {
            error_ = error;
        }
    }
}

bool DirListing::Next(DirEntry& entry) {
    while (pending_) {
        const bool dot = IsDotEntry(data_.cFileName);
        if (!dot) {
            entry.name = data_.cFileName;
            entry.attributes = data_.dwFileAttributes;
            entry.size = (static_cast<std::uint64_t>(data_.nFileSizeHigh) << 32) | data_.nFileSizeLow;
            ++listed_;
        }
        const DWORD injected = fault_ ? fault_(listed_) : ERROR_SUCCESS;
        if (injected != ERROR_SUCCESS) {
            pending_ = false;
            error_ = injected;
        } else {
            pending_ = ::FindNextFileW(find_.Get(), &data_) != FALSE;
            if (!pending_) {
                const DWORD error = ::GetLastError();
                if (error != ERROR_NO_MORE_FILES) error_ = error;
            }
        }
        if (!dot) return true;
    }
    find_.Reset();
    return false;
}

FoundEntry FindExact(const std::wstring& path) {
    FoundEntry found;
    const std::size_t last = path.find_last_of(L"\\/");
    if (path.find_first_of(L"*?", last == std::wstring::npos ? 0 : last + 1) != std::wstring::npos) return found;
    WIN32_FIND_DATAW data;
    const FindHandle find(::FindFirstFileW(path.c_str(), &data));
    if (!find.Valid()) return found;
    found.found = true;
    found.name = data.cFileName;
    found.attributes = data.dwFileAttributes;
    return found;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

bool MoveIntoPlace(const std::wstring& from, const std::wstring& to, bool replaceExisting) {
    // No MOVEFILE_COPY_ALLOWED: across volumes the move must fail rather than
    // turn into a copy that could leave half a file behind.
    const DWORD flags = replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0;
    return MoveFileExCall(from.c_str(), to.c_str(), flags) != FALSE;
}

bool MoveIntoPlace(const std::string& from, const std::string& to, bool replaceExisting) {
    const DWORD flags = replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0;
    return ::MoveFileExA(from.c_str(), to.c_str(), flags) != FALSE;
}

bool TakesNoRenameByHandle(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_CALL_NOT_IMPLEMENTED;
}

bool RemoveFile(const std::wstring& path) { return DeleteFileCall(path.c_str()) != FALSE; }

std::wstring CreateTemporaryDirectory(const DirPath& parent, const std::vector<std::wstring>& avoid) {
    return MakeUniquelyNamed(avoid, [&parent](const std::wstring& name) {
        return ::CreateDirectoryW(parent.PathOf(name, true).c_str(), nullptr) != FALSE;
    });
}

bool IsTemporaryName(const std::wstring& name) {
    if (name.size() != kTemporaryPrefixLength + kTemporaryDigits + kTemporarySuffixLength) return false;
    if (name.compare(0, kTemporaryPrefixLength, kTemporaryPrefix) != 0) return false;
    if (name.compare(kTemporaryPrefixLength + kTemporaryDigits, kTemporarySuffixLength, kTemporarySuffix) != 0) {
        return false;
    }
    // Exact case: the generator writes lowercase only, so "~ZLV...", or
    // "A"-"F" among the digits, is someone else's name.
    const std::wstring digits = name.substr(kTemporaryPrefixLength, kTemporaryDigits);
    return digits.find_first_not_of(kHexDigits) == std::wstring::npos;
}

bool IsTemporaryName(const std::string& name) { return IsTemporaryName(WidenAnsi(name)); }

bool IsTemporaryNameInAnyCase(const std::wstring& name) {
    std::wstring lower = name;
    for (auto& c : lower) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return IsTemporaryName(lower);
}

FileHandle HoldDirectory(const std::wstring& path) {
    // FILE_LIST_DIRECTORY is data access, so the sharing check applies to this
    // handle: any later open that asks for DELETE (which RemoveDirectory and a
    // rename do) is refused while it is held. An open for attributes only
    // would take no part in the sharing check.
    return FileHandle(OpenFile(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS));
}

FileHandle ClaimDirectory(const std::wstring& path) {
    // DELETE is refused while another handle that does not share deletion
    // is open, such as a live run's hold.
    return FileHandle(OpenFile(path, DELETE | FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS));
}

bool RemoveClaimedDirectory(FileHandle& claim) {
    // Through the claim itself: RemoveDirectory would open the directory
    // again, and the claim shares no deletion, not even with us.
    FILE_DISPOSITION_INFO disposition{TRUE};
    const bool marked =
        ::SetFileInformationByHandle(claim.Get(), FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
    return claim.Close() && marked;
}

FileHandle OpenToFlush(const std::wstring& path) {
    return FileHandle(OpenFile(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
}

bool FlushFile(const std::wstring& path) {
    FileHandle file(OpenFile(path, GENERIC_WRITE, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    return file && FlushFileBuffersCall(file.Get()) && file.Close();
}

bool RemoveEmptyDirectory(const std::wstring& path) { return ::RemoveDirectoryW(path.c_str()) != FALSE; }

FileStream FileStream::OpenRead(const std::wstring& path, const std::string& shown) {
    FileHandle handle(OpenFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN));
    if (!handle) throw FailureOf<FileOpenError>(kCannotOpenFileText, shown, ::GetLastError());
    return FileStream(std::move(handle), shown);
}

FileStream FileStream::Create(const std::wstring& path, const std::string& shown) {
    // No sharing: the copy must be the only opener of what it writes.
    FileHandle handle(OpenFile(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    if (!handle) throw FailureOf<FileCreateError>(kCannotCreateFileText, shown, ::GetLastError());
    return FileStream(std::move(handle), shown);
}

FileStream FileStream::CreateTemporary(const DirPath& dir, const std::vector<std::wstring>& avoid,
                                       const std::string& reportAs, std::wstring& path, bool flushedBeside) {
    // Everything that may fail for want of memory comes before the file
    // exists: nothing between its creation and its return may leave it there.
    std::string shown = reportAs;
    std::wstring created;
    FileHandle handle;
    // Another writer could open it too while it is written, but no reader,
    // no deleter and no renamer: it still reaches its name unseen.
    const DWORD sharing = flushedBeside ? FILE_SHARE_WRITE : 0;
    const std::wstring name = MakeUniquelyNamed(avoid, [&](const std::wstring& candidate) {
        created = dir.PathOf(candidate);
        // DELETE, so that DeleteOnClose can mark it when the run must end at once.
        handle.Reset(OpenFile(created, GENERIC_READ | GENERIC_WRITE | DELETE, sharing, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL));
        return handle.Valid();
    });
    if (name.empty()) {
        const DWORD error = ::GetLastError();
        path.clear();
        throw FailureOf<FileCreateError>(kCannotCreateFileText, reportAs, error);
    }
    path = std::move(created);
    return FileStream(std::move(handle), std::move(shown));
}

std::uint64_t FileStream::Size() const {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(handle_.Get(), &size)) {
        throw FailureOf<StreamReadError>(kStreamReadErrorText, shown_, ::GetLastError());
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

void FileStream::ReadBuffer(void* buffer, std::size_t count) {
    auto* bytes = static_cast<char*>(buffer);
    while (count > 0) {
        DWORD done = 0;
        if (!::ReadFile(handle_.Get(), bytes, static_cast<DWORD>(count), &done, nullptr)) {
            throw FailureOf<StreamReadError>(kStreamReadErrorText, shown_, ::GetLastError());
        }
        if (done == 0) throw FileChangedError(FormatMessageText(kFileChangedText, shown_));
        bytes += done;
        count -= done;
    }
}

void FileStream::WriteBuffer(const void* buffer, std::size_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
        DWORD done = 0;
        if (!WriteFileCall(handle_.Get(), bytes, static_cast<DWORD>(count), &done, nullptr)) {
            throw FailureOf<StreamWriteError>(kStreamWriteErrorText, shown_, ::GetLastError());
        }
        // Written nothing and said nothing: the device took no more.
        if (done == 0) throw FailureOf<StreamWriteError>(kStreamWriteErrorText, shown_, ERROR_WRITE_FAULT);
        bytes += done;
        count -= done;
    }
}

bool FileStream::DeleteOnClose() noexcept {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(handle_.Get(), FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

bool FileStream::RenameTo(const std::wstring& to, bool replaceExisting) noexcept {
    return RenameOpenFileCall(handle_.Get(), to.c_str(), replaceExisting ? TRUE : FALSE) != FALSE;
}

void FileStream::Close() {
    if (!handle_.Close()) throw FailureOf<StreamWriteError>(kStreamWriteErrorText, shown_, ::GetLastError());
}

}  // namespace zelvo
