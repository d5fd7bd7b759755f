// Directory test, directory creation, listing and file streams over kernel32.
#pragma once

#include "core/Handles.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace zelvo {

// True when an object exists at path and has the directory attribute.
// A plain file does not count; \\computer\share paths are taken as they stand.
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

// Failure texts of the file services.
inline constexpr char kCannotOpenFileText[] = "Cannot open file %s";
inline constexpr char kCannotCreateFileText[] = "Cannot create file %s";
inline constexpr char kStreamReadErrorText[] = "Stream read error";
inline constexpr char kStreamWriteErrorText[] = "Stream write error";

struct DirEntry {
    std::string name;
    DWORD attributes = 0;
    std::uint64_t size = 0;
    bool IsDirectory() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

// The listing of dir + "\*.*" in the platform's order, every attribute let
// through, "." and ".." left out. A listing that cannot start yields nothing.
class DirListing {
public:
    explicit DirListing(const std::string& dir);
    DirListing(const DirListing&) = delete;
    DirListing& operator=(const DirListing&) = delete;

    // Next entry; false at the end.
    bool Next(DirEntry& entry);

private:
    FindHandle find_;
    WIN32_FIND_DATAA data_{};
    bool pending_ = false;
};

// True when listing exactly `path` finds a file (a directory of that name does
// not count; hidden and system files do). A last element holding "*" or "?"
// is no exact path (it would match other names), so it finds nothing.
bool FileExistsByListing(const std::string& path);

// The attributes of the object at path, or INVALID_FILE_ATTRIBUTES when there
// is none (or it cannot be queried).
DWORD PathAttributes(const std::string& path);

// Puts the file `from` in place of `to` by a rename on the same volume; with
// replaceExisting an existing `to` is replaced in one step, without it an
// existing `to` makes the move fail. False when the platform refuses.
bool MoveIntoPlace(const std::string& from, const std::string& to, bool replaceExisting);

// Deletes one file; false when the platform refuses.
bool RemoveFile(const std::string& path);

// Makes a new, empty directory in parent under a name of our own (as for
// FileStream::CreateTemporary), never one that exists; "" when none could be made.
std::string CreateTemporaryDirectory(const std::string& parent);

// True for exactly the names that CreateTemporaryDirectory and
// FileStream::CreateTemporary make: "~zlv" + 8 lowercase hex digits + ".tmp".
bool IsTemporaryName(const std::string& name);

// Opens a directory so that no other opener can remove or rename it while the
// handle is held (others may still list it and make, write and delete files in
// it); an invalid handle when it cannot be opened.
FileHandle HoldDirectory(const std::string& path);

// Writes what the platform still caches of an existing, closed file to disk;
// false when the file cannot be opened for writing or the flush fails.
bool FlushFile(const std::string& path);

// Removes a directory only when it is empty; false otherwise.
bool RemoveEmptyDirectory(const std::string& path);

// A file opened for one copy; closed on destruction.
class FileStream {
public:
    // Existing file, read only, no sharing; fails with FileOpenError "Cannot open file %s".
    static FileStream OpenRead(const std::string& path);
    // New or replaced (truncated) file, read-write, normal attributes, no sharing;
    // fails with FileCreateError "Cannot create file %s".
    static FileStream Create(const std::string& path);
    // A new, empty file in dir under a name of our own ("~zlv" + 8 hex digits
    // + ".tmp"), read-write and delete, normal attributes, no sharing. It is created only
    // where no object of that name exists (CREATE_NEW), so an existing file is
    // never opened, and a name equal to `avoid` (compared without case) is
    // never chosen. `path` receives the full path. Fails with FileCreateError
    // "Cannot create file %s" naming `reportAs`.
    static FileStream CreateTemporary(const std::string& dir, const std::string& avoid,
                                      const std::string& reportAs, std::string& path);

    FileStream(FileStream&&) noexcept = default;
    FileStream& operator=(FileStream&&) noexcept = default;

    std::uint64_t Size() const;
    // Reads exactly count bytes; fails with StreamReadError.
    void ReadBuffer(void* buffer, std::size_t count);
    // Writes exactly count bytes; fails with StreamWriteError.
    void WriteBuffer(const void* buffer, std::size_t count);
    // Writes what the platform caches of the file to disk; fails with StreamWriteError.
    void Flush();
    // Marks the file to be deleted when its handle closes, also when the
    // process is killed first; needs DELETE access (CreateTemporary has it).
    // False when the platform refuses.
    bool DeleteOnClose() noexcept;
    // Closes now; fails with StreamWriteError when the close reports an error.
    void Close();

    HANDLE Native() const { return handle_.Get(); }

private:
    explicit FileStream(FileHandle handle) : handle_(std::move(handle)) {}
    FileHandle handle_;
};

}  // namespace zelvo
