// Registry access for the start-with-Windows switch.
#pragma once

#include "core/Handles.h"
#include "core/Settings.h"

#include <windows.h>

#include <string>

namespace zelvo {

struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static bool Close(Type h) noexcept { return ::RegCloseKey(h) == ERROR_SUCCESS; }
};

// An open registry key; closed on destruction.
using RegKey = ScopedHandle<RegKeyTraits>;

// Opens root\path with full access, creating missing keys; empty when refused.
RegKey CreateRegKey(HKEY root, const std::string& path);
// Opens an existing key with the given access; empty when absent or refused.
RegKey OpenRegKey(HKEY root, const std::string& path, REGSAM access);

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
