// Fuzzes the settings store's file parser: the input's bytes are the file of a registry root.
// Rules: whatever is understood of a file is written back in a form that reads back the same
// (the text written a second time equals the first); every key listed can be found by its
// name; a value stored through the store reads back, and the rest of the file survives it.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "settings/RegistryStore.h"

namespace {

using trimora::fuzz::Broken;

constexpr size_t kKeysWalked = 2000;

void WalkKeys(const trimora::RegistryHive& hive) {
    std::vector<std::string> pending{std::string()};
    size_t walked = 0;
    while (!pending.empty() && walked++ < kKeysWalked) {
        const std::string path = pending.back();
        pending.pop_back();
        const auto names = hive.SubKeys(path);
        if (!names) Broken("key \"" + path + "\" was listed but is not found");
        for (const std::string& name : *names) pending.push_back(path.empty() ? name : path + '\\' + name);
    }
}

std::string ReadWhole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

trimora::RegistryStore& Store() {
    static const std::filesystem::path folder = std::filesystem::path(trimora::fuzz::ScratchFile()).concat(".d");
    static trimora::RegistryStore store({folder / "machine", folder / "user"});
    static const bool removeAtExit = [] {
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        return true;
    }();
    (void)removeAtExit;
    return store;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const trimora::RegistryHive hive = trimora::RegistryHive::Parse(text);
    const std::string once = hive.Serialize();
    const trimora::RegistryHive again = trimora::RegistryHive::Parse(once);
    const std::string twice = again.Serialize();
    if (once != twice) Broken("the file does not read back as written:\n" + once + "\n--- read back and written again:\n" + twice);
    WalkKeys(again);

    // Through the store's files: the input is the user's root.
    trimora::RegistryStore& store = Store();
    const std::filesystem::path file = store.File(trimora::HKEY_CURRENT_USER);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(text.data(), static_cast<std::streamsize>(text.size()));
    const std::string stored("Deutsch\0", 8);
    if (!store.SetValue(trimora::HKEY_CURRENT_USER, "Software\\Trimora", "Language", stored))
        Broken("a value could not be stored");
    if (store.Value(trimora::HKEY_CURRENT_USER, "software\\TRIMORA", "language") != stored)
        Broken("a stored value does not read back");
    trimora::RegistryHive expected = trimora::RegistryHive::Parse(once);
    expected.SetValue("Software\\Trimora", "Language", stored);
    if (trimora::RegistryHive::Parse(ReadWhole(file)).Serialize() != expected.Serialize()) Broken("storing a value changed the rest of the file");
    return 0;
}
