// The per-user key store on the real HKEY_CURRENT_USER.
#include <cstring>
#include <vector>

#include "platform/win32/win32_platform.h"

namespace quellora::win32 {

bool RegistryKeys::CreateKey(const std::string& path) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool RegistryKeys::KeyExists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::optional<KeyValue> RegistryKeys::ReadValue(const std::string& path, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0, size = 0;
    std::optional<KeyValue> result;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<char> data(size + 1, '\0');
        DWORD got = size;
        if (RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got) ==
            ERROR_SUCCESS) {
            KeyValue v;
            if (type == REG_SZ || type == REG_EXPAND_SZ) {
                v.type = type == REG_SZ ? KeyValue::Type::String : KeyValue::Type::ExpandString;
                data[got] = '\0';
                v.text = data.data();  // up to the first zero
            } else if (type == REG_DWORD && got == sizeof(DWORD)) {
                v.type = KeyValue::Type::Dword;
                std::memcpy(&v.dword, data.data(), sizeof v.dword);
            } else {
                v.type = KeyValue::Type::Other;
            }
            result = v;
        }
    }
    RegCloseKey(key);
    return result;
}

}  // namespace quellora::win32
