// Directory test, directory creation, listing and file streams over kernel32.
// The copy run reaches files through the wide calls (see core/Paths.h).
#pragma once

#include "core/Failure.h"
#include "core/Handles.h"
#include "core/Paths.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zelvo {

// True when an object exists at path and has the directory attribute.
// A plain file does not count; \\computer\share paths are taken as they stand.
// The path is taken as the run takes it (DirPath).
bool DirectoryExists(const std::string& path);

// Creates that one directory (parents are not created). Returns the platform's
// verdict, which the scheduler does not examine.
bool CreateOneDirectory(const std::string& path);

// Joins directory and name exactly as they stand, with one "\" between.
std::string JoinPath(const std::string& dir, const std::string& name);

// Position of the first "\" at or after `from`, stepping over double-byte
// characters of the ANSI code page (a GBK trail byte may be 0x5C); npos if none.
std::size_t FindSeparator(const std::string& path, std::size_t from = 0);

// The directory part of a path up to and including its last "\" (stepping over
// double-byte characters as FindSeparator does); "" when it has none.
std::string DirectoryPart(const std::string& path);

// Failure texts of the file services. Each failure line names its file and,
// where the platform refused something, the platform's reason (FailureLine).
inline constexpr char kCannotOpenFileText[] = "Cannot open file %s";
inline constexpr char kCannotCreateFileText[] = "Cannot create file %s";
inline constexpr char kStreamReadErrorText[] = "Stream read error";
inline constexpr char kStreamWriteErrorText[] = "Stream write error";
// A source whose size changed while it was read: a writer outside the
// platform's sharing rules (the open shares reading only) changed it. No
// call failed, so the line has no reason.
inline constexpr char kFileChangedText[] = "File changed while it was copied %s";
// A listing that ended with an error other than "no more files".
inline constexpr char kCannotListDirectoryText[] = "Cannot list directory %s";

// The platform's text for an error code, on one line; "error N" when it has none.
std::string SystemErrorText(DWORD error);

// A failure line: the text with the path in place of its "%s" (after it, for
// a text without one), then the platform's reason for `error` in brackets:
// "Stream write error D:\备份\a2.bin (磁盘空间不足。)".
std::string FailureLine(const char* text, const std::string& path, DWORD error);

// That line as a failure of type F, which keeps the error code.
template <typename F>
F FailureOf(const char* text, const std::string& path, DWORD error) {
    return F(FailureLine(text, path, error), error);
}

// The platform's FlushFileBuffers, through which every flush of the file
// services is made, so that a test can watch the flushes really made.
extern BOOL(WINAPI* FlushFileBuffersCall)(HANDLE file);

// The platform's WriteFile, through which every write of a FileStream is
// made, so that a test can hold writes up as Windows does on a synchronous
// handle while another request of that handle is under way.
extern BOOL(WINAPI* WriteFileCall)(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);

// The platform's MoveFileExW, through which every rename of the wide
// MoveIntoPlace is made, so that a test can refuse renames as another
// program's open handle would.
extern BOOL(WINAPI* MoveFileExCall)(LPCWSTR from, LPCWSTR to, DWORD flags);

// The platform's DeleteFileW, through which RemoveFile removes, so that a test
// can play a program that holds a copy open for a moment.
extern BOOL(WINAPI* DeleteFileCall)(LPCWSTR path);

// The platform's CreateFileW, through which the file services open and create
// (a copy, a folder's hold), so that a test can play another program that
// gets at a file or folder in the moment before the run does.
extern HANDLE(WINAPI* CreateFileCall)(LPCWSTR path, DWORD access, DWORD sharing, LPSECURITY_ATTRIBUTES security,
                                      DWORD disposition, DWORD flags, HANDLE templateFile);

struct DirEntry {
    std::wstring name;
    DWORD attributes = 0;
    std::uint64_t size = 0;
    bool IsDirectory() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

// Lets a test make a listing fail part-way: asked before each further entry
// is fetched, with the number of entries handed out so far; a nonzero error
// ends the listing there, as a FindNextFile failing with it would.
using ListingFault = std::function<DWORD(std::size_t listed)>;

// The listing of every entry of a directory in the platform's order, every
// attribute let through, "." and ".." left out, through the wide calls.
class DirListing {
public:
    explicit DirListing(const DirPath& dir, ListingFault fault = nullptr);
    explicit DirListing(const std::string& dir) : DirListing(DirPath(dir)) {}
    DirListing(const DirListing&) = delete;
    DirListing& operator=(const DirListing&) = delete;

    // Next entry; false at the end.
    bool Next(DirEntry& entry);
    // Once Next has returned false: ERROR_SUCCESS when the listing reached
    // its end, also for a directory that is not there (a listing that cannot
    // start because of that yields nothing), otherwise the error that ended
    // it, which means that entries may be missing.
    DWORD Error() const { return error_; }

private:
    FindHandle find_;
    WIN32_FIND_DATAW data_{};
    ListingFault fault_;
    std::size_t listed_ = 0;
    DWORD error_ = ERROR_SUCCESS;
    bool pending_ = false;
};

// What a look-up of one exact path found: the entry of the name the file
// system matched (which may be a different long name whose 8.3 alias this
// name is), or nothing.
struct FoundEntry {
    bool found = false;
    std::wstring name;
    DWORD attributes = 0;
    bool IsDirectory() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

// Looks up exactly `path` (in the form the wide calls take) by listing it. A
// last element holding "*" or "?" is no exact path (it would match other
// names), so it finds nothing.
FoundEntry FindExact(const std::wstring& path);

// True when two names are one to the file system (compared without case).
bool SameName(const std::wstring& a, const std::wstring& b);

// Puts the file `from` in place of `to` by a rename on the same volume; with
// replaceExisting an existing `to` is replaced in one step, without it an
// existing `to` makes the move fail. False when the platform refuses.
bool MoveIntoPlace(const std::wstring& from, const std::wstring& to, bool replaceExisting);
bool MoveIntoPlace(const std::string& from, const std::string& to, bool replaceExisting);

// The platform's rename of an open file (SetFileInformationByHandle with
// FileRenameInfo), through which FileStream::RenameTo is made, so that a test
// can refuse renames as another program's open handle would.
extern BOOL(WINAPI* RenameOpenFileCall)(HANDLE file, LPCWSTR to, BOOL replaceExisting);

// Errors for which a file system takes no rename by handle (RenameTo); a
// rename by path may still do.
bool TakesNoRenameByHandle(DWORD error);

// Deletes one file; false when the platform refuses.
bool RemoveFile(const std::wstring& path);

// Makes a new, empty directory in parent under a name of our own (as for
// FileStream::CreateTemporary), never one that exists nor one of `avoid`;
// returns its name, or "" when none could be made.
std::wstring CreateTemporaryDirectory(const DirPath& parent, const std::vector<std::wstring>& avoid);

// True for exactly the names that CreateTemporaryDirectory and
// FileStream::CreateTemporary make: "~zlv" + 8 lowercase hex digits + ".tmp".
bool IsTemporaryName(const std::wstring& name);
bool IsTemporaryName(const std::string& name);
// True for the names that equal such a name without regard to case.
bool IsTemporaryNameInAnyCase(const std::wstring& name);

// Opens a directory so that no other opener can remove or rename it while the
// handle is held (others may still list it and make, write and delete files in
// it); an invalid handle when it cannot be opened.
FileHandle HoldDirectory(const std::wstring& path);

// Opens a directory for its own removal, only when no other opener holds it
// as HoldDirectory does (another running copy of the program): an invalid
// handle then. While the claim is held no other opener can remove, rename or
// hold the directory.
FileHandle ClaimDirectory(const std::wstring& path);

// Removes the empty directory behind a ClaimDirectory handle and closes the
// handle; false when the platform refuses.
bool RemoveClaimedDirectory(FileHandle& claim);

// A second handle of a file whose own handle shares writing (CreateTemporary
// with flushedBeside), only to flush it by: a flush of any handle of a file
// writes all the file's cached data, and it holds up no request of the
// other handle. It shares everything, so that the other handle keeps its
// reading, renaming and deletion. An invalid handle when it cannot be opened.
FileHandle OpenToFlush(const std::wstring& path);

// Writes what the platform still caches of an existing, closed file to disk;
// false when the file cannot be opened for writing or the flush fails.
bool FlushFile(const std::wstring& path);

// Removes a directory only when it is empty; false otherwise.
bool RemoveEmptyDirectory(const std::wstring& path);

// A file opened for one copy; closed on destruction. Paths are in the form
// the wide calls take (DirPath::PathOf); every failure names the file as
// `shown` (the source's shown path for reading, the destination's for
// writing) followed by the platform's reason (FailureLine).
class FileStream {
public:
    // Existing file, read only, sharing reading only: other readers neither
    // block it nor are blocked, while a file that another program has open for
    // writing is refused, and no writer can open it meanwhile. Fails with
    // FileOpenError "Cannot open file <shown> (<reason>)".
    static FileStream OpenRead(const std::wstring& path, const std::string& shown);
    // New or replaced (truncated) file, read-write, normal attributes, no sharing;
    // fails with FileCreateError "Cannot create file <shown> (<reason>)".
    static FileStream Create(const std::wstring& path, const std::string& shown);
    // A new, empty file in dir under a name of our own ("~zlv" + 8 hex digits
    // + ".tmp"), read-write and delete, normal attributes, no sharing. It is created only
    // where no object of that name exists (CREATE_NEW), so an existing file is
    // never opened, and no name of `avoid` (compared without case) is ever
    // chosen. `path` receives its path. Failures name `reportAs`: "Cannot
    // create file <reportAs> (<reason>)" here, "Stream write error
    // <reportAs> (<reason>)" later. With `flushedBeside` it shares writing,
    // and only writing, so that OpenToFlush can flush it while this handle
    // writes: Windows serializes the requests of one synchronous handle, and
    // a flush through it would hold up every write until the flush is over.
    static FileStream CreateTemporary(const DirPath& dir, const std::vector<std::wstring>& avoid,
                                      const std::string& reportAs, std::wstring& path, bool flushedBeside = false);

    FileStream(FileStream&&) noexcept = default;
    FileStream& operator=(FileStream&&) noexcept = default;

    // Fails with StreamReadError.
    std::uint64_t Size() const;
    // Reads exactly count bytes; fails with StreamReadError, or with
    // FileChangedError when the file ends before.
    void ReadBuffer(void* buffer, std::size_t count);
    // Writes exactly count bytes; fails with StreamWriteError.
    void WriteBuffer(const void* buffer, std::size_t count);
    // Marks the file to be deleted when its handle closes, also when the
    // process is killed first; needs DELETE access (CreateTemporary has it).
    // False when the platform refuses.
    bool DeleteOnClose() noexcept;
    bool IsOpen() const noexcept { return handle_.Valid(); }
    // Renames the open file to `to` (in the form the wide calls take) by its
    // handle, replacing an existing file when asked; it stays open. False
    // when the platform refuses (GetLastError tells why). Needs DELETE access
    // (CreateTemporary has it).
    bool RenameTo(const std::wstring& to, bool replaceExisting) noexcept;
    // Closes now; fails with StreamWriteError when the close reports an error.
    void Close();

    HANDLE Native() const { return handle_.Get(); }
    const std::string& Shown() const { return shown_; }

private:
    FileStream(FileHandle handle, std::string shown) : handle_(std::move(handle)), shown_(std::move(shown)) {}
    FileHandle handle_;
    std::string shown_;
};

}  // namespace zelvo
