// CRegister over the file-backed registry: every test runs against its own registry folders,
// relocated through TRIMORA_REGISTRY_DIR, so the real machine and user stores stay untouched.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "settings/CRegister.h"
#include "settings/RegistryStore.h"

using namespace trimora;
namespace fs = std::filesystem;

namespace {

const std::string kSection = "Software\\Corvale\\Framewise Settings";

class RegisterTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("TRIMORA_REGISTRY_DIR")) previous_ = old;
        std::random_device seed;
        base_ = fs::temp_directory_path() / ("trimora-registry-test-" + std::to_string(seed()));
        fs::create_directories(base_);
        setenv("TRIMORA_REGISTRY_DIR", base_.c_str(), 1);
    }
    void TearDown() override {
        if (previous_)
            setenv("TRIMORA_REGISTRY_DIR", previous_->c_str(), 1);
        else
            unsetenv("TRIMORA_REGISTRY_DIR");
        std::error_code ignored;
        fs::remove_all(base_, ignored);
    }

    fs::path MachineFolder() const { return base_ / "machine"; }
    fs::path MachineFile() const { return RegistryStore().File(HKEY_LOCAL_MACHINE); }

    static void WriteFile(const fs::path& path, const std::string& bytes) {
        fs::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    // A file where the machine folder should be: the folder can never be created, the way an
    // ordinary user can never write below /var/lib (tests run as root, so permissions alone
    // would not stop the write).
    void MakeMachineFolderUnwritable() const { WriteFile(MachineFolder(), "not a folder"); }

    fs::path base_;
    std::optional<std::string> previous_;
};

TEST_F(RegisterTest, MissingValueOrKeyGivesTheDefault) {
    CRegister reg;
    EXPECT_EQ(reg.REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "English");

    ASSERT_TRUE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, kSection, "Other", "x"));
    EXPECT_EQ(reg.REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "English");
    EXPECT_EQ(reg.REGGetSetting(HKEY_LOCAL_MACHINE, kSection + "\\Missing", "Other", "English"), "English");
    EXPECT_EQ(reg.REGGetSetting(HKEY_CURRENT_USER, kSection, "Other", "none"), "none");
}

TEST_F(RegisterTest, TrimKeyPathRemovesOneBackslashAtEachEnd) {
    EXPECT_EQ(CRegister::TrimKeyPath("\\" + kSection + "\\"), kSection);
    EXPECT_EQ(CRegister::TrimKeyPath(kSection), kSection);
    EXPECT_EQ(CRegister::TrimKeyPath("\\\\a\\\\"), "\\a\\");
    EXPECT_EQ(CRegister::TrimKeyPath("\\"), "");
    EXPECT_EQ(CRegister::TrimKeyPath(""), "");
}

TEST_F(RegisterTest, ExtraBackslashesAtBothEndsAddressTheSameKey) {
    CRegister reg;
    ASSERT_TRUE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, "\\" + kSection + "\\", "Lang", "French"));
    EXPECT_EQ(reg.REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "French");
    ASSERT_TRUE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "Spanish"));
    EXPECT_EQ(reg.REGGetSetting(HKEY_LOCAL_MACHINE, "\\" + kSection + "\\", "Lang", "English"), "Spanish");
    EXPECT_EQ(reg.GetAllKeys(HKEY_LOCAL_MACHINE, "Software\\Corvale"),
              std::vector<std::string>{"Framewise Settings"});
}

TEST_F(RegisterTest, PathsThatKeepAnEmptyNameAddressNoKey) {
    CRegister reg;
    // Only one backslash goes from each end: the second one leaves an empty key name.
    EXPECT_FALSE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, "\\\\Software\\X", "Lang", "German"));
    EXPECT_FALSE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, "Software\\\\X", "Lang", "German"));
    EXPECT_EQ(reg.REGGetSetting(HKEY_LOCAL_MACHINE, "\\\\Software\\X", "Lang", "English"), "English");
    EXPECT_TRUE(reg.GetAllKeys(HKEY_LOCAL_MACHINE, "").empty());
}

TEST_F(RegisterTest, TextsRoundTripWholeInTheirEncoding) {
    CRegister reg;
    ASSERT_TRUE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "German"));
    EXPECT_EQ(CRegister().REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "German");
    EXPECT_EQ(RegistryStore().Value(HKEY_LOCAL_MACHINE, kSection, "Lang"), std::string("German\0", 7));

    // Seven characters but eight bytes: a cut by character count would lose the last letter.
    const std::string spanish = "Espa\xC3\xB1ol";
    ASSERT_TRUE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", spanish));
    EXPECT_EQ(CRegister().REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), spanish);
    EXPECT_EQ(RegistryStore().Value(HKEY_LOCAL_MACHINE, kSection, "Lang")->size(), 9u);

    const std::string awkward = "\"quoted\" back\\slash\r\nnew line\ttab \x01 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\xAC ";
    ASSERT_TRUE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, kSection, "Awkward", awkward));
    EXPECT_EQ(CRegister().REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Awkward", ""), awkward);

    const std::string longText(5000, 'x');
    ASSERT_TRUE(reg.REGSaveSetting(HKEY_CURRENT_USER, kSection, "Long", longText));
    EXPECT_EQ(CRegister().REGGetSetting(HKEY_CURRENT_USER, kSection, "Long", ""), longText);
}

TEST_F(RegisterTest, EmptyStringIsStoredAsOneZeroByteAndReadsBackEmpty) {
    CRegister reg;
    ASSERT_TRUE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", ""));
    EXPECT_EQ(RegistryStore().Value(HKEY_LOCAL_MACHINE, kSection, "Lang"), std::string(1, '\0'));
    EXPECT_EQ(reg.REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "");
}

TEST_F(RegisterTest, StarNamesTheDefaultValue) {
    CRegister reg;
    ASSERT_TRUE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "German"));
    EXPECT_EQ(reg.REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "*", "none"), "none");

    ASSERT_TRUE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, kSection, "*", "unnamed"));
    EXPECT_EQ(reg.REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "*", "none"), "unnamed");
    EXPECT_EQ(RegistryStore().Value(HKEY_LOCAL_MACHINE, kSection, ""), std::string("unnamed\0", 8));
    EXPECT_EQ(reg.REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "German");

    EXPECT_TRUE(reg.REGDeleteSetting(HKEY_LOCAL_MACHINE, kSection, "*"));
    EXPECT_EQ(reg.REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "*", "none"), "none");
    EXPECT_EQ(reg.REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "German");
}

TEST_F(RegisterTest, KeyAndValueNamesIgnoreLetterCase) {
    CRegister reg;
    ASSERT_TRUE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "German"));
    EXPECT_EQ(reg.REGGetSetting(HKEY_LOCAL_MACHINE, "SOFTWARE\\corvale\\FRAMEWISE settings", "LANG", ""),
              "German");
    ASSERT_TRUE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, "software\\CORVALE\\framewise SETTINGS", "lang", "French"));
    EXPECT_EQ(reg.REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", ""), "French");
    // One key, spelled as first created.
    EXPECT_EQ(reg.GetAllKeys(HKEY_LOCAL_MACHINE, "Software"), std::vector<std::string>{"Corvale"});

    ASSERT_TRUE(reg.REGSaveSetting(HKEY_CURRENT_USER, "\xC3\x84pfel", "Gr\xC3\xB6\xC3\x9F" "e", "1"));
    EXPECT_EQ(reg.REGGetSetting(HKEY_CURRENT_USER, "\xC3\xA4PFEL", "gr\xC3\x96\xC3\x9F" "E", ""), "1");
}

TEST_F(RegisterTest, GetAllKeysListsDirectSubkeysInRegistryOrder) {
    CRegister reg;
    ASSERT_TRUE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "German"));
    EXPECT_TRUE(reg.GetAllKeys(HKEY_LOCAL_MACHINE, kSection).empty());
    EXPECT_TRUE(reg.GetAllKeys(HKEY_LOCAL_MACHINE, kSection + "\\Missing").empty());

    for (const char* name : {"beta", "Alpha", "gamma"})
        ASSERT_TRUE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, kSection + "\\" + name + "\\Deeper", "v", "1"));
    const std::string longName(255, 'z');
    ASSERT_TRUE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, kSection + "\\" + longName, "v", "1"));
    EXPECT_FALSE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, kSection + "\\" + longName + "z", "v", "1"));

    EXPECT_EQ(reg.GetAllKeys(HKEY_LOCAL_MACHINE, kSection),
              (std::vector<std::string>{"Alpha", "beta", "gamma", longName}));
    EXPECT_EQ(reg.GetAllKeys(HKEY_LOCAL_MACHINE, kSection + "\\beta"), std::vector<std::string>{"Deeper"});
}

TEST_F(RegisterTest, DeletingValuesAndKeys) {
    CRegister reg;
    ASSERT_TRUE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "German"));
    ASSERT_TRUE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, kSection + "\\Child", "v", "1"));

    EXPECT_TRUE(reg.REGDeleteSetting(HKEY_LOCAL_MACHINE, "\\" + kSection + "\\", "Lang"));
    EXPECT_EQ(reg.REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "English");
    EXPECT_FALSE(reg.REGDeleteSetting(HKEY_LOCAL_MACHINE, kSection, "Lang"));
    EXPECT_FALSE(reg.REGDeleteSetting(HKEY_LOCAL_MACHINE, kSection + "\\Missing", "Lang"));

    // An empty value name deletes the key itself, which must have no subkeys.
    EXPECT_FALSE(reg.REGDeleteSetting(HKEY_LOCAL_MACHINE, kSection, ""));
    // The key path is taken as given there: a leading backslash names no key.
    EXPECT_FALSE(reg.REGDeleteSetting(HKEY_LOCAL_MACHINE, "\\" + kSection + "\\Child", ""));
    EXPECT_TRUE(reg.REGDeleteSetting(HKEY_LOCAL_MACHINE, kSection + "\\child", ""));
    EXPECT_TRUE(reg.GetAllKeys(HKEY_LOCAL_MACHINE, kSection).empty());
    EXPECT_TRUE(reg.REGDeleteSetting(HKEY_LOCAL_MACHINE, kSection, ""));
    EXPECT_EQ(reg.GetAllKeys(HKEY_LOCAL_MACHINE, "Software\\Corvale"), std::vector<std::string>{});
    EXPECT_FALSE(reg.REGDeleteSetting(HKEY_LOCAL_MACHINE, "", ""));
}

TEST_F(RegisterTest, UnknownRootReadsTheDefaultAndWritesNothing) {
    CRegister reg;
    const RegistryRoot unknown = 0x12345678u;
    EXPECT_FALSE(reg.REGSaveSetting(unknown, kSection, "Lang", "German"));
    EXPECT_EQ(reg.REGGetSetting(unknown, kSection, "Lang", "English"), "English");
    EXPECT_TRUE(reg.GetAllKeys(unknown, "").empty());
}

TEST_F(RegisterTest, RootsAreSeparateStores) {
    CRegister reg;
    ASSERT_TRUE(reg.REGSaveSetting(HKEY_CURRENT_USER, kSection, "Lang", "French"));
    EXPECT_EQ(reg.REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "English");
    ASSERT_TRUE(reg.REGSaveSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "German"));
    EXPECT_EQ(reg.REGGetSetting(HKEY_CURRENT_USER, kSection, "Lang", "English"), "French");
    EXPECT_TRUE(fs::exists(base_ / "user"));
    EXPECT_EQ(MachineFile().parent_path(), MachineFolder());
}

TEST_F(RegisterTest, UnwritableMachineRootKeepsTheUsersChoiceAcrossARestart) {
    MakeMachineFolderUnwritable();
    EXPECT_TRUE(CRegister().REGSaveSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "German"));
    EXPECT_EQ(CRegister().REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "German");
    EXPECT_EQ(CRegister().GetAllKeys(HKEY_LOCAL_MACHINE, "Software\\Corvale"),
              std::vector<std::string>{"Framewise Settings"});
    EXPECT_TRUE(CRegister().REGSaveSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "French"));
    EXPECT_EQ(CRegister().REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "French");
    EXPECT_TRUE(fs::is_regular_file(MachineFolder()));

    // Once the machine root can be written again, a new choice goes there and the per-user
    // copy no longer hides it.
    fs::remove(MachineFolder());
    EXPECT_TRUE(CRegister().REGSaveSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "Spanish"));
    EXPECT_EQ(CRegister().REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "Spanish");
    EXPECT_TRUE(fs::is_regular_file(MachineFile()));
}

TEST_F(RegisterTest, PerUserCopyIsPreferredOverTheMachineValue) {
    WriteFile(MachineFile(), "[" + kSection + "]\n\"Lang\"=\"Italian\"\n\"Other\"=\"kept\"\n");
    EXPECT_EQ(CRegister().REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "Italian");
    WriteFile(RegistryStore().VirtualFile(HKEY_LOCAL_MACHINE), "[" + kSection + "]\n\"Lang\"=\"German\"\n");
    EXPECT_EQ(CRegister().REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "German");
    EXPECT_EQ(CRegister().REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Other", ""), "kept");
}

TEST_F(RegisterTest, DamagedOrUnreadableStoreFileGivesTheDefault) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) % 256);
    WriteFile(MachineFile(), garbage);
    EXPECT_EQ(CRegister().REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "English");

    // Cut off in the middle of a value: that value is lost, everything before it still reads.
    WriteFile(MachineFile(), "[" + kSection + "]\n\"Other\"=\"kept\"\n\"Lang\"=\"Ger");
    EXPECT_EQ(CRegister().REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "English");
    EXPECT_EQ(CRegister().REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Other", ""), "kept");
    EXPECT_TRUE(CRegister().REGSaveSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "German"));
    EXPECT_EQ(CRegister().REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "German");

    // A folder where the file should be can be neither read nor replaced: the default is read,
    // and the choice is kept in the per-user copy instead.
    fs::remove(MachineFile());
    fs::create_directories(MachineFile());
    EXPECT_EQ(CRegister().REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "English");
    EXPECT_TRUE(CRegister().REGSaveSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "French"));
    EXPECT_EQ(CRegister().REGGetSetting(HKEY_LOCAL_MACHINE, kSection, "Lang", "English"), "French");
}

TEST_F(RegisterTest, FoldersAreMachineWideAndPerUserUnlessRelocated) {
    EXPECT_EQ(RegistryStore::DefaultFolders().machine, base_ / "machine");
    EXPECT_EQ(RegistryStore::DefaultFolders().user, base_ / "user");

    // Only computes where the stores would be; nothing is read or written there.
    std::optional<std::string> previousConfig;
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) previousConfig = old;
    unsetenv("TRIMORA_REGISTRY_DIR");
    setenv("XDG_CONFIG_HOME", (base_ / "config").c_str(), 1);
    const RegistryStore::Folders folders = RegistryStore::DefaultFolders();
    if (previousConfig)
        setenv("XDG_CONFIG_HOME", previousConfig->c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    setenv("TRIMORA_REGISTRY_DIR", base_.c_str(), 1);

    EXPECT_EQ(folders.machine, fs::path("/var/lib/trimora/registry"));
    EXPECT_EQ(folders.user, base_ / "config" / "trimora" / "registry");
}

TEST_F(RegisterTest, StoreFilesAreReplacedWholeAndKeepAwkwardNames) {
    CRegister reg;
    const std::vector<std::string> keys = {" spaced ", "50% [x]", "semi;colon", "quote\"d", "ctl\x01"};
    for (const auto& key : keys)
        ASSERT_TRUE(reg.REGSaveSetting(HKEY_CURRENT_USER, "Root\\" + key, "na=me \"x\"", key + "!"));
    ASSERT_TRUE(reg.REGSaveSetting(HKEY_CURRENT_USER, "Root\\Empty\\Leaf", "v", "1"));
    ASSERT_TRUE(reg.REGDeleteSetting(HKEY_CURRENT_USER, "Root\\Empty\\Leaf", "v"));

    for (const auto& key : keys)
        EXPECT_EQ(CRegister().REGGetSetting(HKEY_CURRENT_USER, "Root\\" + key, "na=me \"x\"", ""), key + "!");
    // A key that lost its last value is still there.
    EXPECT_EQ(CRegister().GetAllKeys(HKEY_CURRENT_USER, "Root\\Empty"), std::vector<std::string>{"Leaf"});

    // Nothing but the store file is left behind in its folder.
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(RegistryStore().File(HKEY_CURRENT_USER).parent_path()))
        files.push_back(entry.path().filename().string());
    EXPECT_EQ(files, std::vector<std::string>{RegistryStore().File(HKEY_CURRENT_USER).filename().string()});
}

}  // namespace
