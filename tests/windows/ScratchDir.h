// A scratch folder tree under %TEMP% for tests that copy real files.
#pragma once

#include "core/CoreTestFiles.h"

#include <windows.h>

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

    static void Write(const std::string& file, const std::string& bytes) { TempFolder::WriteBytes(file, bytes); }
    static std::string Read(const std::string& file) { return TempFolder::ReadBytes(file); }

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
    static void RemoveTree(const std::string& dir) {
        for (const std::string& name : List(dir)) {
            const std::string path = dir + "\\" + name;
            const DWORD attributes = ::GetFileAttributesA(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                RemoveTree(path);
            } else {
                ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileA(path.c_str());
            }
        }
        ::RemoveDirectoryA(dir.c_str());
    }

private:
    TempFolder folder_;
};

}  // namespace zelvo::test
