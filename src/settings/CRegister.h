#pragma once
// String values in the registry: the language choice is kept here between runs.
//
// Every operation opens the key it needs, works on it and closes it again; the class keeps no
// state, so a new instance sees exactly what an earlier one (or an earlier run) stored.
// Texts are UTF-8. A stored string is its bytes plus one terminating zero byte.
//
// On Windows the platform registry holds the values. Elsewhere a small file-backed registry of
// our own does (RegistryStore.h): one file per root, the machine-wide roots in a machine-wide
// folder, with per-user copies of machine keys that a user may not write.
//
// Include this header before <windows.h> where both are needed: windows.h defines the root
// names below as macros.
#include <cstdint>
#include <string>
#include <vector>

namespace trimora {

// The predefined roots, as the 32-bit handle values the Windows registry gives them.
using RegistryRoot = std::uint32_t;
inline constexpr RegistryRoot HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr RegistryRoot HKEY_CURRENT_USER = 0x80000001u;
inline constexpr RegistryRoot HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr RegistryRoot HKEY_USERS = 0x80000003u;

class CRegister {
public:
    // The value sKey of key sSection below regHKEY, or sDefault when the key or the value is
    // missing or cannot be read. sKey "*" (or empty) names the key's unnamed default value.
    std::string REGGetSetting(RegistryRoot regHKEY, const std::string& sSection,
                              const std::string& sKey, const std::string& sDefault) const;

    // Stores sValue as a string value, creating the key path as needed. True when written.
    bool REGSaveSetting(RegistryRoot regHKEY, const std::string& sSection, const std::string& sKey,
                        const std::string& sValue) const;

    // With a non-empty sKey: deletes that value ("*" the default value) of key sSection.
    // With an empty sKey: deletes the key sSection itself (taken as given, not trimmed); a key
    // that still has subkeys is refused. True when something was deleted.
    bool REGDeleteSetting(RegistryRoot regHKEY, const std::string& sSection,
                          const std::string& sKey) const;

    // Names of the direct subkeys of strPath (taken as given, not trimmed), sorted the way the
    // registry enumerates them; empty when the key has none or does not exist.
    std::vector<std::string> GetAllKeys(RegistryRoot hKey, const std::string& strPath) const;

    // Removes one leading and one trailing backslash, if present: "\a\b\" gives "a\b", while
    // "\\a" keeps its second backslash and gives "\a".
    static std::string TrimKeyPath(const std::string& path);
};

}  // namespace trimora
