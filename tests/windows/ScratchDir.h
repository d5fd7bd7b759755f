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

}  // namespace zelvo::test
