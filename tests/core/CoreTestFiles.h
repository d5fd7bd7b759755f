// A private folder under %TEMP% for tests that need real files. Every file
// gets a fresh name: Wine caches profile files and would not notice a file
// rewritten within the same time-stamp tick.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zelvo::test {

class TempFolder {
public:
    TempFolder() {
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        static unsigned counter = 0;
        path_ = std::string(temp) + "zelvo_core_" + std::to_string(::GetCurrentProcessId()) + "_" +
                std::to_string(++counter);
        ::CreateDirectoryA(path_.c_str(), nullptr);
    }
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
        WriteBytes(file, bytes);
        return file;
    }

    static void WriteBytes(const std::string& file, const std::string& bytes) {
        HANDLE h = ::CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        ::CloseHandle(h);
    }

    // The file's whole content; empty when it cannot be opened.
    static std::string ReadBytes(const std::string& file) {
        HANDLE h = ::CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return std::string();
        std::string content;
        char buffer[4096];
        DWORD got = 0;
        while (::ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
        ::CloseHandle(h);
        return content;
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
