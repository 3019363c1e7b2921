// The language files that ship with the program, and the listing of a language folder.
#include <gtest/gtest.h>

#include <QImage>
#include <QString>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "i18n/IniReader.h"
#include "i18n/LanguageFiles.h"

using namespace trimora;
namespace fs = std::filesystem;

namespace {

const std::string kLanguageFolder = TRIMORA_SOURCE_DIR "/resources/Languages";
const std::string kMissing = "<missing>";

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string Language(const std::string& fileName) { return fileName.substr(0, fileName.size() - 4); }

class ShippedLanguage : public ::testing::TestWithParam<std::string> {
protected:
    std::string Path() const { return kLanguageFolder + "/" + GetParam(); }
    std::string Text(const char* section, int key) const {
        return ReadProfileString(section, std::to_string(key), kMissing, Path());
    }
};

TEST(ShippedLanguages, TheMainLanguagesAreThere) {
    const auto files = ListLanguageFiles(kLanguageFolder);
    for (const char* name : {"English.ini", "German.ini", "French.ini", "Spanish.ini"})
        EXPECT_TRUE(std::find(files.begin(), files.end(), name) != files.end()) << name;
}

TEST_P(ShippedLanguage, IsUtf8WithoutAByteOrderMark) {
    const std::string bytes = ReadBytes(Path());
    EXPECT_TRUE(IsValidUtf8(bytes));
    EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");
}

TEST_P(ShippedLanguage, HasEveryCaptionAndMessage) {
    for (int key = 0; key <= 31; ++key) {
        const std::string text = Text("frmMain", key);
        EXPECT_NE(text, kMissing) << "frmMain " << key;
        EXPECT_FALSE(text.empty()) << "frmMain " << key;
        EXPECT_NE(text, "Default") << "frmMain " << key;
    }
    for (int key = 0; key <= 29; ++key) {
        const std::string text = Text("MSGX", key);
        EXPECT_NE(text, kMissing) << "MSGX " << key;
        EXPECT_FALSE(text.empty()) << "MSGX " << key;
        EXPECT_NE(text, "Default") << "MSGX " << key;
    }
}

TEST_P(ShippedLanguage, PreviewSizeEntriesStartWithTheirNumbers) {
    // The preview size is taken from the number an entry begins with: -1 fit, 0 shrink.
    const std::string zoom = Text("frmMain", 27);
    const std::string shrink = Text("frmMain", 28);
    ASSERT_GE(zoom.size(), 3u);
    ASSERT_GE(shrink.size(), 2u);
    EXPECT_EQ(zoom.substr(0, 3), "-1 ");
    EXPECT_EQ(shrink.substr(0, 2), "0 ");
}

TEST_P(ShippedLanguage, PlayAndStopDiffer) { EXPECT_NE(Text("frmMain", 29), Text("frmMain", 30)); }

TEST_P(ShippedLanguage, MarkLabelKeepsTheBlankBeforeTheMarkNumber) {
    // Message 9 is followed directly by "1#: 25": it must end in a blank or the number runs on.
    const std::string mark = Text("MSGX", 9);
    ASSERT_FALSE(mark.empty());
    EXPECT_EQ(mark.back(), ' ');
}

TEST_P(ShippedLanguage, HasAFlagPicture) {
    const fs::path picture = fs::path(kLanguageFolder) / (Language(GetParam()) + ".bmp");
    ASSERT_TRUE(fs::is_regular_file(picture)) << picture;
    EXPECT_EQ(ReadBytes(picture).substr(0, 2), "BM");
    const QImage image(QString::fromStdString(picture.string()));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(24, 16));
}

INSTANTIATE_TEST_SUITE_P(Languages, ShippedLanguage, ::testing::ValuesIn(ListLanguageFiles(kLanguageFolder)),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return Language(info.param);
                         });

TEST(ListLanguageFiles, ListsIniFilesSortedWithoutRegardToCase) {
    std::random_device seed;
    const fs::path folder = fs::temp_directory_path() / ("trimora-languages-test-" + std::to_string(seed()));
    fs::create_directories(folder / "Folder.ini");
    for (const char* name : {"spanish.ini", "English.ini", "German.INI", "Zulu.ini", "French.bmp",
                             "notes.txt", ".hidden.ini", "old.ini.bak"})
        std::ofstream(folder / name) << "[frmMain]\n";

    EXPECT_EQ(ListLanguageFiles(folder.string()),
              (std::vector<std::string>{"English.ini", "German.INI", "spanish.ini", "Zulu.ini"}));
    EXPECT_TRUE(ListLanguageFiles((folder / "missing").string()).empty());
    fs::remove_all(folder);
}

}  // namespace
