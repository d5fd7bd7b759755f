#include "core/FileSystem.h"

#include "core/Failure.h"

#include <cstring>

namespace zelvo {

namespace {

// The names of our temporary files and folders: prefix, 8 hex digits, suffix.
constexpr char kTemporaryPrefix[] = "~zlv";
constexpr char kTemporarySuffix[] = ".tmp";
constexpr std::size_t kTemporaryDigits = 8;
constexpr char kHexDigits[] = "0123456789abcdef";

bool IsDotEntry(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

std::size_t LastElementStart(const std::string& path) {
    std::size_t start = 0;
    for (std::size_t at = FindSeparator(path); at != std::string::npos; at = FindSeparator(path, start)) {
        start = at + 1;
    }
    return start;
}

HANDLE OpenFile(const std::string& path, DWORD access, DWORD disposition, DWORD flags) {
    // No sharing: the copy must be the only opener of both files.
    return CreateFileA(path.c_str(), access, 0, nullptr, disposition, flags, nullptr);
}

// Tries names of our own in dir until `create` makes one; `create` must fail
// on an existing object (CREATE_NEW, CreateDirectory), so nothing that exists
// is ever taken over. False (and path empty) when no name could be made.
template <typename Create>
bool MakeUniquelyNamed(const std::string& dir, const std::string& avoid, std::string& path, Create create) {
    static DWORD counter = 0;
    constexpr int kAttempts = 64;
    constexpr std::size_t kPrefixLength = sizeof kTemporaryPrefix - 1;
    // Process id and tick count keep two running copies of the program (or a
    // leftover of a crashed run) from walking the same sequence of names.
    DWORD seed = (GetCurrentProcessId() << 16) ^ GetTickCount();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        DWORD value = seed + (++counter) * 2654435761u;
        std::string name = kTemporaryPrefix;
        name.append(kTemporaryDigits, '0');
        name += kTemporarySuffix;
        for (std::size_t digit = kPrefixLength + kTemporaryDigits; digit-- > kPrefixLength; value >>= 4) {
            name[digit] = kHexDigits[value & 0xF];
        }
        if (lstrcmpiA(name.c_str(), avoid.c_str()) == 0) continue;
        path = JoinPath(dir, name);
        if (create(path)) return true;
        const DWORD error = GetLastError();
        // ACCESS_DENIED: a directory of that name, or a file being deleted.
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) break;
        seed ^= error;
    }
    path.clear();
    return false;
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
    const DWORD attributes = PathAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateOneDirectory(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    std::string path;
    path.reserve(dir.size() + 1 + name.size());
    path += dir;
    path += '\\';
    path += name;
    return path;
}

DirListing::DirListing(const std::string& dir) {
    // In the body: data_ is declared after find_, so an initializer would
    // have its result wiped by data_'s own initialization.
    find_.Reset(FindFirstFileA(JoinPath(dir, "*.*").c_str(), &data_));
    pending_ = find_.Valid();
}

bool DirListing::Next(DirEntry& entry) {
    while (pending_) {
        const bool dot = IsDotEntry(data_.cFileName);
        if (!dot) {
            entry.name = data_.cFileName;
            entry.attributes = data_.dwFileAttributes;
            entry.size = (static_cast<std::uint64_t>(data_.nFileSizeHigh) << 32) | data_.nFileSizeLow;
        }
        pending_ = FindNextFileA(find_.Get(), &data_) != FALSE;
        if (!dot) return true;
    }
    find_.Reset();
    return false;
}

bool FileExistsByListing(const std::string& path) {
    if (path.find_first_of("*?", LastElementStart(path)) != std::string::npos) return false;
    WIN32_FIND_DATAA data;
    FindHandle find(FindFirstFileA(path.c_str(), &data));
    return find.Valid() && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

DWORD PathAttributes(const std::string& path) {
    return GetFileAttributesA(path.c_str());
}

bool MoveIntoPlace(const std::string& from, const std::string& to, bool replaceExisting) {
    // No MOVEFILE_COPY_ALLOWED: across volumes the move must fail rather than
    // turn into a copy that could leave half a file behind.
    const DWORD flags = replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0;
    return MoveFileExA(from.c_str(), to.c_str(), flags) != FALSE;
}

bool RemoveFile(const std::string& path) {
    return DeleteFileA(path.c_str()) != FALSE;
}

std::string CreateTemporaryDirectory(const std::string& parent) {
    std::string path;
    MakeUniquelyNamed(parent, std::string(), path, [](const std::string& candidate) {
        return CreateDirectoryA(candidate.c_str(), nullptr) != FALSE;
    });
    return path;
}

bool IsTemporaryName(const std::string& name) {
    const std::size_t prefix = sizeof kTemporaryPrefix - 1;
    const std::size_t suffix = sizeof kTemporarySuffix - 1;
    if (name.size() != prefix + kTemporaryDigits + suffix) return false;
    if (name.compare(0, prefix, kTemporaryPrefix) != 0) return false;
    if (name.compare(prefix + kTemporaryDigits, suffix, kTemporarySuffix) != 0) return false;
    // Exact case: the generator writes lowercase only, so "~ZLV...", or
    // "A"-"F" among the digits, is someone else's name.
    const std::string digits = name.substr(prefix, kTemporaryDigits);
    return digits.find_first_not_of(kHexDigits) == std::string::npos;
}

FileHandle HoldDirectory(const std::string& path) {
    // FILE_LIST_DIRECTORY is data access, so the sharing check applies to this
    // handle: any later open that asks for DELETE (which RemoveDirectory and a
    // rename do) is refused while it is held. An open for attributes only
    // would take no part in the sharing check.
    return FileHandle(CreateFileA(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool FlushFile(const std::string& path) {
    FileHandle file(OpenFile(path, GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    return file && FlushFileBuffers(file.Get()) && file.Close();
}

bool RemoveEmptyDirectory(const std::string& path) {
    return RemoveDirectoryA(path.c_str()) != FALSE;
}

FileStream FileStream::OpenRead(const std::string& path) {
    FileHandle handle(OpenFile(path, GENERIC_READ, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN));
    if (!handle) throw FileOpenError(FormatMessageText(kCannotOpenFileText, path));
    return FileStream(std::move(handle));
}

FileStream FileStream::Create(const std::string& path) {
    FileHandle handle(OpenFile(path, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    if (!handle) throw FileCreateError(FormatMessageText(kCannotCreateFileText, path));
    return FileStream(std::move(handle));
}

FileStream FileStream::CreateTemporary(const std::string& dir, const std::string& avoid,
                                       const std::string& reportAs, std::string& path) {
    FileHandle handle;
    const bool made = MakeUniquelyNamed(dir, avoid, path, [&handle](const std::string& candidate) {
        // DELETE, so that DeleteOnClose can mark it when the run must end at once.
        handle.Reset(OpenFile(candidate, GENERIC_READ | GENERIC_WRITE | DELETE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
        return handle.Valid();
    });
    if (!made) throw FileCreateError(FormatMessageText(kCannotCreateFileText, reportAs));
    return FileStream(std::move(handle));
}

std::uint64_t FileStream::Size() const {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_.Get(), &size)) throw StreamReadError(kStreamReadErrorText);
    return static_cast<std::uint64_t>(size.QuadPart);
}

void FileStream::ReadBuffer(void* buffer, std::size_t count) {
    auto* bytes = static_cast<char*>(buffer);
    while (count > 0) {
        DWORD done = 0;
        if (!ReadFile(handle_.Get(), bytes, static_cast<DWORD>(count), &done, nullptr) || done == 0) {
            throw StreamReadError(kStreamReadErrorText);
        }
        bytes += done;
        count -= done;
    }
}

void FileStream::WriteBuffer(const void* buffer, std::size_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
        DWORD done = 0;
        if (!WriteFile(handle_.Get(), bytes, static_cast<DWORD>(count), &done, nullptr) || done == 0) {
            throw StreamWriteError(kStreamWriteErrorText);
        }
        bytes += done;
        count -= done;
    }
}

void FileStream::Flush() {
    if (!FlushFileBuffers(handle_.Get())) throw StreamWriteError(kStreamWriteErrorText);
}

bool FileStream::DeleteOnClose() noexcept {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(handle_.Get(), FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

void FileStream::Close() {
    if (!handle_.Close()) throw StreamWriteError(kStreamWriteErrorText);
}

}  // namespace zelvo
