#include "platform/Registry.h"

#include "core/Failure.h"

#include <vector>

namespace zelvo {

RegKey CreateRegKey(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    const LONG rc = ::RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return RegKey(rc == ERROR_SUCCESS ? key : nullptr);
}

RegKey OpenRegKey(HKEY root, const std::string& path, REGSAM access) {
    HKEY key = nullptr;
    const LONG rc = ::RegOpenKeyExA(root, path.c_str(), 0, access, &key);
    return RegKey(rc == ERROR_SUCCESS ? key : nullptr);
}

void RunKeyRegistrar::Register(const std::string& title, const std::string& command) {
    const RegKey key = CreateRegKey(HKEY_LOCAL_MACHINE, kRunKeyPath);
    if (!key) throw Failure(FormatMessageText("Failed to create key %s", kRunKeyPath));
    const auto* data = reinterpret_cast<const BYTE*>(command.c_str());
    const LONG rc = ::RegSetValueExA(key.Get(), title.c_str(), 0, REG_SZ, data,
                                     static_cast<DWORD>(command.size() + 1));
    if (rc != ERROR_SUCCESS)
        throw Failure(FormatMessageText("Failed to set data for '%s'", title));
}

void RunKeyRegistrar::Unregister(const std::string& keyPath, const std::string& name) noexcept {
    const RegKey key = CreateRegKey(HKEY_LOCAL_MACHINE, keyPath);
    if (key) ::RegDeleteValueA(key.Get(), name.c_str());
}

std::string RunKeyRegistrar::Read(const std::string& keyPath, const std::string& name) {
    const RegKey key = OpenRegKey(HKEY_LOCAL_MACHINE, keyPath, KEY_READ);
    if (!key) return std::string();
    DWORD type = 0;
    DWORD size = 0;
    std::string value;
    if (::RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ && size > 0) {
        std::vector<char> buffer(size + 1, '\0');
        if (::RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type,
                               reinterpret_cast<BYTE*>(buffer.data()), &size) == ERROR_SUCCESS)
            value.assign(buffer.data());
    }
    return value;
}

}  // namespace zelvo
