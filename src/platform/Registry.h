// Registry access for the start-with-Windows switch.
#pragma once

#include "core/Settings.h"

#include <windows.h>

#include <string>

namespace zelvo {

// An open registry key; closed on destruction.
class RegKey {
public:
    RegKey() = default;
    ~RegKey();
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // Opens root\path with full access, creating missing keys; false when refused.
    bool Create(HKEY root, const std::string& path);
    // Opens an existing key with the given access; false when absent or refused.
    bool Open(HKEY root, const std::string& path, REGSAM access);
    HKEY Get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

private:
    void Reset(HKEY key);
    HKEY key_ = nullptr;
};

// The machine-wide Run key below HKEY_LOCAL_MACHINE.
class RunKeyRegistrar : public StartupRegistrar {
public:
    // Writes the string value `title` = command; throws Failure when the key
    // cannot be opened or created or the value cannot be written.
    void Register(const std::string& title, const std::string& command) override;
    // Deletes the value; a missing value or key is no failure and nothing is reported.
    void Unregister(const std::string& keyPath, const std::string& name) noexcept override;

    // Reads a string value back (empty when absent); for tests and diagnostics.
    static std::string Read(const std::string& keyPath, const std::string& name);
};

}  // namespace zelvo
