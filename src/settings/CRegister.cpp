#include "settings/CRegister.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "settings/RegistryStore.h"
#endif

#include <optional>

namespace trimora {

namespace {

// "*" names the key's unnamed default value, which the registry calls "".
std::string ValueName(const std::string& sKey) { return sKey == "*" ? std::string() : sKey; }

}  // namespace

std::string CRegister::TrimKeyPath(const std::string& path) {
    std::string trimmed = path;
    if (!trimmed.empty() && trimmed.front() == '\\') trimmed.erase(0, 1);
    if (!trimmed.empty() && trimmed.back() == '\\') trimmed.pop_back();
    return trimmed;
}

#ifdef _WIN32

// The platform registry, through its wide-character functions; texts are converted between
// UTF-8 and UTF-16 at this boundary. A legacy program's writes below HKEY_LOCAL_MACHINE that an
// ordinary user may not make are redirected by Windows to a per-user "VirtualStore"; a program
// with a manifest gets no such redirection, so we do the same redirection ourselves.
namespace {

const wchar_t kVirtualStore[] = L"Software\\Classes\\VirtualStore\\MACHINE\\";

HKEY ToHandle(RegistryRoot root) {
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
}

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int count =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), count);
    return wide;
}

std::string Utf8(const wchar_t* wide, std::size_t length) {
    if (length == 0) return std::string();
    const int count = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0,
                                          nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), utf8.data(), count, nullptr,
                        nullptr);
    return utf8;
}

const wchar_t* NameOrNull(const std::wstring& name) { return name.empty() ? nullptr : name.c_str(); }

// The text of a value, or nothing when the key or value cannot be read or holds no bytes.
std::optional<std::string> ReadValue(HKEY root, const std::wstring& path, const std::wstring& name) {
    HKEY key = nullptr;
    LONG status = RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (status == ERROR_ACCESS_DENIED) status = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS) return std::nullopt;

    std::optional<std::string> text;
    DWORD size = 0;
    if (RegQueryValueExW(key, NameOrNull(name), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS &&
        size > 0) {
        std::wstring buffer(size / sizeof(wchar_t) + 1, L' ');
        DWORD received = size;
        if (RegQueryValueExW(key, NameOrNull(name), nullptr, nullptr,
                             reinterpret_cast<BYTE*>(buffer.data()), &received) == ERROR_SUCCESS) {
            // The last character counted is the terminating zero.
            const std::size_t characters = size / sizeof(wchar_t);
            text = Utf8(buffer.data(), characters > 0 ? characters - 1 : 0);
        }
    }
    RegCloseKey(key);
    return text;
}

LONG WriteValue(HKEY root, const std::wstring& path, const std::wstring& name, const std::string& value) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    const std::wstring data = Wide(value);
    status = RegSetValueExW(key, NameOrNull(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status;
}

}  // namespace

std::string CRegister::REGGetSetting(RegistryRoot regHKEY, const std::string& sSection,
                                     const std::string& sKey, const std::string& sDefault) const {
    const std::wstring path = Wide(TrimKeyPath(sSection));
    const std::wstring name = Wide(ValueName(sKey));
    if (regHKEY == HKEY_LOCAL_MACHINE) {
        if (auto text = ReadValue(ToHandle(HKEY_CURRENT_USER), kVirtualStore + path, name)) return *text;
    }
    return ReadValue(ToHandle(regHKEY), path, name).value_or(sDefault);
}

bool CRegister::REGSaveSetting(RegistryRoot regHKEY, const std::string& sSection,
                               const std::string& sKey, const std::string& sValue) const {
    const std::wstring path = Wide(TrimKeyPath(sSection));
    const std::wstring name = Wide(ValueName(sKey));
    const LONG status = WriteValue(ToHandle(regHKEY), path, name, sValue);
    if (regHKEY != HKEY_LOCAL_MACHINE) return status == ERROR_SUCCESS;

    const std::wstring copyPath = kVirtualStore + path;
    if (status == ERROR_SUCCESS) {
        // An older per-user copy would hide the value just written.
        HKEY copy = nullptr;
        if (RegOpenKeyExW(ToHandle(HKEY_CURRENT_USER), copyPath.c_str(), 0, KEY_SET_VALUE, &copy) ==
            ERROR_SUCCESS) {
            RegDeleteValueW(copy, NameOrNull(name));
            RegCloseKey(copy);
        }
        return true;
    }
    if (status != ERROR_ACCESS_DENIED) return false;
    return WriteValue(ToHandle(HKEY_CURRENT_USER), copyPath, name, sValue) == ERROR_SUCCESS;
}

bool CRegister::REGDeleteSetting(RegistryRoot regHKEY, const std::string& sSection,
                                 const std::string& sKey) const {
    HKEY key = nullptr;
    if (sKey.empty()) {
        // The root itself is opened and the subkey named as given; keys with subkeys are refused.
        if (RegOpenKeyExW(ToHandle(regHKEY), L"", 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
        const LONG status = RegDeleteKeyW(key, Wide(sSection).c_str());
        RegCloseKey(key);
        return status == ERROR_SUCCESS;
    }
    const std::wstring path = Wide(TrimKeyPath(sSection));
    if (RegOpenKeyExW(ToHandle(regHKEY), path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return false;
    const LONG status = RegDeleteValueW(key, NameOrNull(Wide(ValueName(sKey))));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

std::vector<std::string> CRegister::GetAllKeys(RegistryRoot hKey, const std::string& strPath) const {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(ToHandle(hKey), Wide(strPath).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    // Key names have at most 255 characters: this buffer holds every one, so no subkey ends the
    // listing early.
    wchar_t buffer[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(Utf8(buffer, length));
    }
    RegCloseKey(key);
    return names;
}

#else  // our own file-backed registry

std::string CRegister::REGGetSetting(RegistryRoot regHKEY, const std::string& sSection,
                                     const std::string& sKey, const std::string& sDefault) const {
    const auto data = RegistryStore().Value(regHKEY, TrimKeyPath(sSection), ValueName(sKey));
    if (!data || data->empty()) return sDefault;
    // The stored bytes end with the terminating zero; everything before it is the text.
    return data->substr(0, data->size() - 1);
}

bool CRegister::REGSaveSetting(RegistryRoot regHKEY, const std::string& sSection,
                               const std::string& sKey, const std::string& sValue) const {
    std::string data = sValue;
    data.push_back('\0');
    return RegistryStore().SetValue(regHKEY, TrimKeyPath(sSection), ValueName(sKey), data);
}

bool CRegister::REGDeleteSetting(RegistryRoot regHKEY, const std::string& sSection,
                                 const std::string& sKey) const {
    RegistryStore store;
    if (sKey.empty()) return store.DeleteKey(regHKEY, sSection);
    return store.DeleteValue(regHKEY, TrimKeyPath(sSection), ValueName(sKey));
}

std::vector<std::string> CRegister::GetAllKeys(RegistryRoot hKey, const std::string& strPath) const {
    return RegistryStore().SubKeys(hKey, strPath).value_or(std::vector<std::string>());
}

#endif

}  // namespace trimora
