#include "settings/RegistryStore.h"

#include <QStandardPaths>
#include <QString>

#include <cstdlib>
#include <fstream>
#include <map>
#include <span>
#include <sstream>
#include <system_error>

#include "engine/AtomicFile.h"

namespace trimora {

namespace {

constexpr std::size_t kMaxKeyNameCharacters = 255;

// Names compare like the Windows registry compares them: without regard to letter case.
std::string Fold(const std::string& name) {
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()))
        .toCaseFolded()
        .toStdString();
}

std::size_t CharacterCount(const std::string& utf8) {
    std::size_t count = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80) ++count;
    return count;
}

// Splits a key path into its names; nothing when a name is empty.
std::optional<std::vector<std::string>> SplitPath(const std::string& path) {
    std::vector<std::string> names;
    if (path.empty()) return names;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('\\', start);
        std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (name.empty()) return std::nullopt;
        names.push_back(std::move(name));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return names;
}

bool NeedsEscape(unsigned char c) { return c < 0x20 || c == 0x7F; }

const char kHex[] = "0123456789ABCDEF";

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Key names may hold any character but the backslash; control bytes and '%' are written %HH.
std::string EscapeKeyName(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (NeedsEscape(c) || c == '%') {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::optional<std::string> UnescapeKeyPath(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string Quote(const std::string& bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (NeedsEscape(c)) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
    return out;
}

// Reads a quoted string starting at text[pos] == '"'; moves pos past the closing quote.
std::optional<std::string> Unquote(const std::string& text, std::size_t& pos) {
    if (pos >= text.size() || text[pos] != '"') return std::nullopt;
    std::string out;
    for (std::size_t i = pos + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            pos = i + 1;
            return out;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i + 1 >= text.size()) return std::nullopt;
        const char next = text[i + 1];
        if (next == '\\' || next == '"') {
            out += next;
            i += 1;
        } else if (next == 'x' && i + 3 < text.size() && HexDigit(text[i + 2]) >= 0 &&
                   HexDigit(text[i + 3]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3]));
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// RegistryHive

struct RegistryHive::Key {
    struct Entry {
        std::string name;
        std::string data;
    };
    std::string name;
    std::map<std::string, std::unique_ptr<Key>> subkeys;  // by folded name
    std::map<std::string, Entry> values;                  // by folded name
};

RegistryHive::RegistryHive() : root_(std::make_unique<Key>()) {}
RegistryHive::~RegistryHive() = default;
RegistryHive::RegistryHive(RegistryHive&&) noexcept = default;
RegistryHive& RegistryHive::operator=(RegistryHive&&) noexcept = default;

RegistryHive::Key* RegistryHive::Find(const std::string& path) const {
    const auto names = SplitPath(path);
    if (!names) return nullptr;
    Key* key = root_.get();
    for (const std::string& name : *names) {
        const auto it = key->subkeys.find(Fold(name));
        if (it == key->subkeys.end()) return nullptr;
        key = it->second.get();
    }
    return key;
}

bool RegistryHive::HasKey(const std::string& path) const { return Find(path) != nullptr; }

std::optional<std::string> RegistryHive::Value(const std::string& path, const std::string& name) const {
    const Key* key = Find(path);
    if (!key) return std::nullopt;
    const auto it = key->values.find(Fold(name));
    if (it == key->values.end()) return std::nullopt;
    return it->second.data;
}

std::optional<std::vector<std::string>> RegistryHive::SubKeys(const std::string& path) const {
    const Key* key = Find(path);
    if (!key) return std::nullopt;
    std::vector<std::string> names;
    names.reserve(key->subkeys.size());
    for (const auto& [folded, subkey] : key->subkeys) names.push_back(subkey->name);
    return names;  // the map's order is the folded order
}

bool RegistryHive::CreateKey(const std::string& path) {
    const auto names = SplitPath(path);
    if (!names) return false;
    for (const std::string& name : *names)
        if (CharacterCount(name) > kMaxKeyNameCharacters) return false;
    Key* key = root_.get();
    for (const std::string& name : *names) {
        auto& slot = key->subkeys[Fold(name)];
        if (!slot) {
            slot = std::make_unique<Key>();
            slot->name = name;
        }
        key = slot.get();
    }
    return true;
}

bool RegistryHive::SetValue(const std::string& path, const std::string& name, const std::string& data) {
    if (!CreateKey(path)) return false;
    Key* key = Find(path);
    auto& entry = key->values[Fold(name)];
    if (entry.name.empty()) entry.name = name;
    entry.data = data;
    return true;
}

bool RegistryHive::DeleteValue(const std::string& path, const std::string& name) {
    Key* key = Find(path);
    return key && key->values.erase(Fold(name)) > 0;
}

bool RegistryHive::DeleteKey(const std::string& path) {
    const auto names = SplitPath(path);
    if (!names || names->empty()) return false;
    const std::size_t last = path.rfind('\\');
    Key* parent = Find(last == std::string::npos ? std::string() : path.substr(0, last));
    if (!parent) return false;
    const auto it = parent->subkeys.find(Fold(names->back()));
    if (it == parent->subkeys.end() || !it->second->subkeys.empty()) return false;
    parent->subkeys.erase(it);
    return true;
}

std::string RegistryHive::Serialize() const {
    std::ostringstream out;
    out << "; Trimora registry: one root. Keys in [brackets], values as \"name\"=\"text\".\n";
    // Walk the tree depth-first; every key is written, so empty keys survive a reload.
    struct Frame {
        const Key* key;
        std::string path;
    };
    std::vector<Frame> stack{{root_.get(), std::string()}};
    bool first = true;
    while (!stack.empty()) {
        const Frame frame = stack.back();
        stack.pop_back();
        if (!first || !frame.key->values.empty()) {
            out << '[' << frame.path << "]\n";
            for (const auto& [folded, entry] : frame.key->values) {
                if (entry.name.empty())
                    out << '@';
                else
                    out << Quote(entry.name);
                out << '=';
                if (!entry.data.empty() && entry.data.back() == '\0')
                    out << Quote(entry.data.substr(0, entry.data.size() - 1));
                else
                    out << "raw:" << Quote(entry.data);
                out << '\n';
            }
        }
        first = false;
        for (auto it = frame.key->subkeys.rbegin(); it != frame.key->subkeys.rend(); ++it) {
            const std::string name = EscapeKeyName(it->second->name);
            stack.push_back({it->second.get(), frame.path.empty() ? name : frame.path + '\\' + name});
        }
    }
    return out.str();
}

RegistryHive RegistryHive::Parse(const std::string& text) {
    RegistryHive hive;
    std::optional<std::string> current;  // path of the key the following values belong to
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (line.empty() || line[0] == ';') continue;

        if (line.front() == '[' && line.back() == ']') {
            current = UnescapeKeyPath(line.substr(1, line.size() - 2));
            if (current && !hive.CreateKey(*current)) current.reset();
            continue;
        }
        if (!current) continue;

        std::size_t pos = 0;
        std::string name;
        if (line[0] == '@') {
            pos = 1;
        } else {
            const auto quoted = Unquote(line, pos);
            if (!quoted || quoted->empty()) continue;
            name = *quoted;
        }
        if (pos >= line.size() || line[pos] != '=') continue;
        ++pos;
        bool raw = false;
        if (line.compare(pos, 4, "raw:") == 0) {
            raw = true;
            pos += 4;
        }
        auto data = Unquote(line, pos);
        if (!data || pos != line.size()) continue;
        if (!raw) data->push_back('\0');
        hive.SetValue(*current, name, *data);
    }
    return hive;
}

// ---------------------------------------------------------------------------------------------
// Files

namespace {

RegistryHive LoadHive(const std::filesystem::path& file) {
    std::error_code error;
    if (file.empty() || !std::filesystem::is_regular_file(file, error)) return RegistryHive();
    std::ifstream in(file, std::ios::binary);
    if (!in) return RegistryHive();
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) return RegistryHive();
    return RegistryHive::Parse(content.str());
}

// Writes the whole root at once, so a reader (or a crash) never sees half a file.
bool SaveHive(const std::filesystem::path& file, const RegistryHive& hive) {
    if (file.empty()) return false;
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    if (error) return false;
    const std::string text = hive.Serialize();
    return SaveFileAtomically(file.string(), std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()))
        .empty();
}

bool IsMachineRoot(RegistryRoot root) {
    return root == HKEY_LOCAL_MACHINE || root == HKEY_CLASSES_ROOT || root == HKEY_USERS;
}

std::string FileName(RegistryRoot root) {
    switch (root) {
        case HKEY_CLASSES_ROOT: return "classes-root.reg";
        case HKEY_CURRENT_USER: return "current-user.reg";
        case HKEY_LOCAL_MACHINE: return "local-machine.reg";
        case HKEY_USERS: return "users.reg";
        default: return std::string();
    }
}

}  // namespace

RegistryStore::Folders RegistryStore::DefaultFolders() {
    if (const char* base = std::getenv("TRIMORA_REGISTRY_DIR"); base && *base) {
        const std::filesystem::path folder(base);
        return {folder / "machine", folder / "user"};
    }
    std::filesystem::path config;
    const QString location = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (!location.isEmpty()) {
        config = std::filesystem::path(location.toStdString());
    } else if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        config = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        config = std::filesystem::path(home) / ".config";
    }
    return {"/var/lib/trimora/registry", config.empty() ? config : config / "trimora" / "registry"};
}

RegistryStore::RegistryStore() : RegistryStore(DefaultFolders()) {}
RegistryStore::RegistryStore(Folders folders) : folders_(std::move(folders)) {}

std::filesystem::path RegistryStore::File(RegistryRoot root) const {
    const std::string name = FileName(root);
    if (name.empty()) return {};
    const std::filesystem::path& folder = IsMachineRoot(root) ? folders_.machine : folders_.user;
    return folder.empty() ? folder : folder / name;
}

std::filesystem::path RegistryStore::VirtualFile(RegistryRoot root) const {
    if (!IsMachineRoot(root) || folders_.user.empty()) return {};
    return folders_.user / "virtual-store" / FileName(root);
}

bool RegistryStore::HasKey(RegistryRoot root, const std::string& path) const {
    if (File(root).empty()) return false;
    return LoadHive(VirtualFile(root)).HasKey(path) || LoadHive(File(root)).HasKey(path);
}

std::optional<std::string> RegistryStore::Value(RegistryRoot root, const std::string& path,
                                                const std::string& name) const {
    if (File(root).empty()) return std::nullopt;
    if (auto data = LoadHive(VirtualFile(root)).Value(path, name)) return data;
    return LoadHive(File(root)).Value(path, name);
}

std::optional<std::vector<std::string>> RegistryStore::SubKeys(RegistryRoot root,
                                                               const std::string& path) const {
    if (File(root).empty()) return std::nullopt;
    auto real = LoadHive(File(root)).SubKeys(path);
    auto copy = LoadHive(VirtualFile(root)).SubKeys(path);
    if (!copy) return real;
    if (!real) return copy;
    // A key may exist in both; list it once, in the registry's order.
    std::map<std::string, std::string> merged;
    for (const auto& name : *real) merged.emplace(Fold(name), name);
    for (const auto& name : *copy) merged.emplace(Fold(name), name);
    std::vector<std::string> names;
    for (auto& [folded, name] : merged) names.push_back(std::move(name));
    return names;
}

bool RegistryStore::SetValue(RegistryRoot root, const std::string& path, const std::string& name,
                             const std::string& data) {
    const std::filesystem::path file = File(root);
    if (file.empty()) return false;
    RegistryHive hive = LoadHive(file);
    if (!hive.SetValue(path, name, data)) return false;
    const std::filesystem::path copyFile = VirtualFile(root);
    if (SaveHive(file, hive)) {
        // An older per-user copy of this value would hide the one just written.
        RegistryHive copy = LoadHive(copyFile);
        if (copy.DeleteValue(path, name)) SaveHive(copyFile, copy);
        return true;
    }
    if (copyFile.empty()) return false;
    RegistryHive copy = LoadHive(copyFile);
    return copy.SetValue(path, name, data) && SaveHive(copyFile, copy);
}

bool RegistryStore::DeleteValue(RegistryRoot root, const std::string& path, const std::string& name) {
    const std::filesystem::path file = File(root);
    if (file.empty()) return false;
    bool deleted = false;
    if (const auto copyFile = VirtualFile(root); !copyFile.empty()) {
        RegistryHive copy = LoadHive(copyFile);
        if (copy.DeleteValue(path, name)) deleted = SaveHive(copyFile, copy);
    }
    RegistryHive hive = LoadHive(file);
    if (hive.DeleteValue(path, name)) deleted = SaveHive(file, hive) || deleted;
    return deleted && !Value(root, path, name);
}

bool RegistryStore::DeleteKey(RegistryRoot root, const std::string& path) {
    const std::filesystem::path file = File(root);
    if (file.empty()) return false;
    const auto subkeys = SubKeys(root, path);
    if (path.empty() || !subkeys || !subkeys->empty()) return false;
    bool deleted = false;
    if (const auto copyFile = VirtualFile(root); !copyFile.empty()) {
        RegistryHive copy = LoadHive(copyFile);
        if (copy.DeleteKey(path)) deleted = SaveHive(copyFile, copy);
    }
    RegistryHive hive = LoadHive(file);
    if (hive.DeleteKey(path)) deleted = SaveHive(file, hive) || deleted;
    return deleted && !HasKey(root, path);
}

}  // namespace trimora
