#include "platform/Registry.h"

#include "core/Failure.h"

#include <vector>

namespace zelvo {

RegKey::~RegKey() { Reset(nullptr); }

void RegKey::Reset(HKEY key) {
    if (key_) ::RegCloseKey(key_);
    key_ = key;
}

bool RegKey::Create(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    const LONG rc = ::RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_ALL_ACCESS, nullptr, &key, nullptr);
    Reset(rc == ERROR_SUCCESS ? key : nullptr);
    return key_ != nullptr;
}

bool RegKey::Open(HKEY root, const std::string& path, REGSAM access) {
    HKEY key = nullptr;
    const LONG rc = ::RegOpenKeyExA(root, path.c_str(), 0, access, &key);
    Reset(rc == ERROR_SUCCESS ? key : nullptr);
    return key_ != nullptr;
}

void RunKeyRegistrar::Register(const std::string& title, const std::string& command) {
    RegKey key;
    if (!key.Create(HKEY_LOCAL_MACHINE, kRunKeyPath))
        throw Failure(FormatMessageText("Failed to create key %s", kRunKeyPath));
    const auto* data = reinterpret_cast<const BYTE*>(command.c_str());
    const LONG rc = ::RegSetValueExA(key.Get(), title.c_str(), 0, REG_SZ, data,
                                     static_cast<DWORD>(command.size() + 1));
    if (rc != ERROR_SUCCESS)
        throw Failure(FormatMessageText("Failed to set data for '%s'", title));
}

void RunKeyRegistrar::Unregister(const std::string& keyPath, const std::string& name) noexcept {
    RegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, keyPath)) ::RegDeleteValueA(key.Get(), name.c_str());
}

std::string RunKeyRegistrar::Read(const std::string& keyPath, const std::string& name) {
    RegKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, keyPath, KEY_READ)) return std::string();
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
