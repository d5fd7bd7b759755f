// Real files for the tests of every folder: whole-file reads and writes, tree
// removal, and a private folder under %TEMP%. Every file of the folder gets a
// fresh name: Wine caches profile files and would not notice a file rewritten
// within the same time-stamp tick.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zelvo::test {

inline bool WriteToFile(HANDLE file, const std::string& content) {
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = content.empty() ||
                    (::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
                     written == content.size());
    ::CloseHandle(file);
    return ok;
}

// False when the file cannot be created or not all of `content` went in.
inline bool WriteFileBytes(const std::string& path, const std::string& content, DWORD flags = 0) {
    return WriteToFile(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL | flags, nullptr),
                       content);
}

// The same for a path in the form the wide calls take (any name, \\?\ paths).
inline bool WriteFileBytes(const std::wstring& path, const std::string& content, DWORD flags = 0) {
    return WriteToFile(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL | flags, nullptr),
                       content);
}

inline std::string ReadAll(HANDLE file) {
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string content;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    ::CloseHandle(file);
    return content;
}

// The whole content, or "<missing>" when the file cannot be opened.
inline std::string ReadFileBytes(const std::string& path) {
    return ReadAll(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
}

inline std::string ReadFileBytes(const std::wstring& path) {
    return ReadAll(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
}

// Removes a directory with everything in it, attributes cleared first. Wide
// and in the \\?\ form, so that names outside the code page, paths past
// MAX_PATH and names ending in a dot go too.
inline void RemoveTree(const std::wstring& dir) {
    if (dir.size() > 2 && dir[1] == L':') return RemoveTree(L"\\\\?\\" + dir);
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = dir + L"\\" + name;
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(dir.c_str());
}

inline void RemoveTree(const std::string& dir) {
    WCHAR wide[MAX_PATH];
    if (::MultiByteToWideChar(CP_ACP, 0, dir.c_str(), -1, wide, MAX_PATH) > 0) RemoveTree(std::wstring(wide));
}

// A new, empty directory under %TEMP% whose name starts with `prefix`.
inline std::string NewTempDirectory(const std::string& prefix) {
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    // Wine hands out the same small process ids run after run, so a leftover
    // of an earlier run must not be taken over.
    static unsigned serial = ::GetTickCount();
    std::string path;
    do {
        path = std::string(temp) + prefix + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(++serial);
    } while (!::CreateDirectoryA(path.c_str(), nullptr) && ::GetLastError() == ERROR_ALREADY_EXISTS);
    return path;
}

class TempFolder {
public:
    TempFolder() : path_(NewTempDirectory("zelvo_core_")) {}
    ~TempFolder() {
        for (const auto& file : files_) {
            ::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileA(file.c_str());
        }
        ::RemoveDirectoryA(path_.c_str());
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }

    // A full path for a new file in the folder, removed with the folder.
    std::string NewFile(const std::string& stem) {
        files_.push_back(path_ + "\\" + stem + std::to_string(files_.size()) + ".ini");
        return files_.back();
    }

    // A new file holding exactly `bytes`.
    std::string NewFileWith(const std::string& stem, const std::string& bytes) {
        const std::string file = NewFile(stem);
        WriteFileBytes(file, bytes);
        return file;
    }

    // Sets the read-only attribute; false when the platform still lets the file
    // be opened for writing (Wine running as root maps the attribute to Unix
    // permission bits, which root ignores).
    static bool MakeReadOnly(const std::string& file) {
        ::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
        HANDLE h = ::CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return true;
        ::CloseHandle(h);
        return false;
    }

private:
    std::string path_;
    std::vector<std::string> files_;
};

// Holds a file open with no sharing, so the platform refuses every other opener.
class ExclusiveLock {
public:
    explicit ExclusiveLock(const std::string& file)
        : handle_(::CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~ExclusiveLock() { Release(); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

    bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }
    void Release() {
        if (Held()) ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

}  // namespace zelvo::test
