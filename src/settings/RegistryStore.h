#pragma once
// The file-backed registry used where there is no Windows registry.
//
// A RegistryHive is one root in memory: a tree of keys, each holding named values of raw bytes.
// Key and value names are matched without regard to letter case and keep the spelling they were
// created with. A key path is a backslash-separated list of names below the root; "" is the root
// itself, and a path with an empty name in it (a doubled, leading or trailing backslash)
// addresses no key.
//
// A RegistryStore keeps each root in one file. The machine-wide roots live in a machine-wide
// folder; when a machine file cannot be written, the write goes to a per-user copy of that root
// (its "virtual store"), which later reads prefer. That is how an ordinary user's choices under
// HKEY_LOCAL_MACHINE survive a restart. Files are replaced atomically (temporary file, then
// rename); a missing, unreadable or damaged file reads as far as it can be understood and never
// raises.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "settings/CRegister.h"

namespace trimora {

class RegistryHive {
public:
    RegistryHive();
    ~RegistryHive();
    RegistryHive(RegistryHive&&) noexcept;
    RegistryHive& operator=(RegistryHive&&) noexcept;

    bool HasKey(const std::string& path) const;
    // The value's bytes as stored, or nothing when the key or the value does not exist.
    std::optional<std::string> Value(const std::string& path, const std::string& name) const;
    // Names of the direct subkeys, sorted case-insensitively; nothing when the key is missing.
    std::optional<std::vector<std::string>> SubKeys(const std::string& path) const;

    // Creates the key and every missing key above it. False for a path that addresses no key
    // or a name longer than 255 characters.
    bool CreateKey(const std::string& path);
    bool SetValue(const std::string& path, const std::string& name, const std::string& data);
    bool DeleteValue(const std::string& path, const std::string& name);
    // Refuses the root, a missing key and a key that still has subkeys.
    bool DeleteKey(const std::string& path);

    std::string Serialize() const;
    // Reads what it can: lines it does not understand are skipped.
    static RegistryHive Parse(const std::string& text);

private:
    struct Key;
    Key* Find(const std::string& path) const;
    std::unique_ptr<Key> root_;
};

class RegistryStore {
public:
    struct Folders {
        std::filesystem::path machine;  // files of the machine-wide roots
        std::filesystem::path user;     // the current user's root and the per-user copies
    };

    // $TRIMORA_REGISTRY_DIR/machine and $TRIMORA_REGISTRY_DIR/user when that variable is set;
    // otherwise /var/lib/trimora/registry and the user's configuration folder
    // ($XDG_CONFIG_HOME or ~/.config) followed by trimora/registry.
    static Folders DefaultFolders();

    RegistryStore();
    explicit RegistryStore(Folders folders);

    // The operations below fail (nothing, false, empty) for a root this store does not know.
    bool HasKey(RegistryRoot root, const std::string& path) const;
    std::optional<std::string> Value(RegistryRoot root, const std::string& path,
                                     const std::string& name) const;
    std::optional<std::vector<std::string>> SubKeys(RegistryRoot root, const std::string& path) const;
    bool SetValue(RegistryRoot root, const std::string& path, const std::string& name,
                  const std::string& data);
    bool DeleteValue(RegistryRoot root, const std::string& path, const std::string& name);
    bool DeleteKey(RegistryRoot root, const std::string& path);

    // Where a root is kept; empty for an unknown root. VirtualFile is empty for the user's root.
    std::filesystem::path File(RegistryRoot root) const;
    std::filesystem::path VirtualFile(RegistryRoot root) const;

private:
    Folders folders_;
};

}  // namespace trimora
