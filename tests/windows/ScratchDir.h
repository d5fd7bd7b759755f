// A scratch folder tree under %TEMP% for tests that copy real files.
#pragma once

#include "core/CoreTestFiles.h"
#include "core/FileSystem.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zelvo::test {

// A folder under %TEMP% removed with everything in it.
class ScratchDir {
public:
    ScratchDir() = default;
    ~ScratchDir() { RemoveTree(folder_.Path()); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& Path() const { return folder_.Path(); }
    std::string operator/(const std::string& name) const { return Path() + "\\" + name; }

    // Names in a directory, "." and ".." left out.
    static std::vector<std::string> List(const std::string& dir) {
        std::vector<std::string> names;
        WIN32_FIND_DATAA data;
        HANDLE h = ::FindFirstFileA((dir + "\\*").c_str(), &data);
        if (h == INVALID_HANDLE_VALUE) return names;
        do {
            const std::string name = data.cFileName;
            if (name != "." && name != "..") names.push_back(name);
        } while (::FindNextFileA(h, &data));
        ::FindClose(h);
        return names;
    }

private:
    TempFolder folder_;
};

// A file of that size that costs no time to make (all zeros, sparse where
// the file system allows), for a run that lasts long enough to watch.
inline bool WriteZeroFile(const std::string& path, std::uint64_t size) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    const bool ok = ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
    ::CloseHandle(file);
    return ok;
}

// The temporary files of a run in a destination (ours by name, there or in
// a folder of ours there): how many, and their bytes so far.
struct TemporaryFiles {
    int count = 0;
    std::uint64_t bytes = 0;
};

inline TemporaryFiles TemporaryFilesIn(const std::string& dir, bool inFolders = true) {
    TemporaryFiles found;
    WIN32_FIND_DATAA data;
    HANDLE h = ::FindFirstFileA((dir + "\\*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return found;
    do {
        if (!IsTemporaryName(data.cFileName)) continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!inFolders) continue;
            const TemporaryFiles inner = TemporaryFilesIn(dir + "\\" + data.cFileName, false);
            found.count += inner.count;
            found.bytes += inner.bytes;
        } else {
            ++found.count;
            found.bytes += (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        }
    } while (::FindNextFileA(h, &data));
    ::FindClose(h);
    return found;
}

}  // namespace zelvo::test
