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
// not count; hidden and system files do).
bool FileExistsByListing(const std::string& path);

// A file opened for one copy; closed on destruction.
class FileStream {
public:
    // Existing file, read only, no sharing; fails with FileOpenError "Cannot open file %s".
    static FileStream OpenRead(const std::string& path);
    // New or replaced (truncated) file, read-write, normal attributes, no sharing;
    // fails with FileCreateError "Cannot create file %s".
    static FileStream Create(const std::string& path);

    FileStream(FileStream&&) noexcept = default;
    FileStream& operator=(FileStream&&) noexcept = default;

    std::uint64_t Size() const;
    // Reads exactly count bytes; fails with StreamReadError.
    void ReadBuffer(void* buffer, std::size_t count);
    // Writes exactly count bytes; fails with StreamWriteError.
    void WriteBuffer(const void* buffer, std::size_t count);
    // Closes now; fails with StreamWriteError when the close reports an error.
    void Close();

    HANDLE Native() const { return handle_.Get(); }

private:
    explicit FileStream(FileHandle handle) : handle_(std::move(handle)) {}
    FileHandle handle_;
};

}  // namespace zelvo
