// The private-profile reader on the shapes language files take in the wild.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "i18n/IniReader.h"

using namespace trimora;
namespace fs = std::filesystem;

namespace {

class IniReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device seed;
        folder_ = fs::temp_directory_path() / ("trimora-ini-test-" + std::to_string(seed()));
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    // Writes the bytes to a new file and returns its path.
    std::string File(const std::string& bytes) {
        const fs::path path = folder_ / ("lang" + std::to_string(count_++) + ".ini");
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    fs::path folder_;
    int count_ = 0;
};

std::string Read(const std::string& path, const std::string& section, const std::string& key) {
    return ReadProfileString(section, key, "Default", path);
}

TEST_F(IniReaderTest, LongValuesAreCutTo254Characters) {
    const std::string path = File("[s]\nlong=" + std::string(300, 'a') + "\nexact=" + std::string(254, 'b') +
                                  "\none_more=" + std::string(255, 'c') + "\n");
    EXPECT_EQ(Read(path, "s", "long"), std::string(254, 'a'));
    EXPECT_EQ(Read(path, "s", "exact"), std::string(254, 'b'));
    EXPECT_EQ(Read(path, "s", "one_more"), std::string(254, 'c'));
}

TEST_F(IniReaderTest, CutNeverSplitsALetter) {
    std::string umlauts;
    for (int i = 0; i < 300; ++i) umlauts += "\xC3\xA4";  // ä
    std::string clapper;
    for (int i = 0; i < 260; ++i) clapper += "\xF0\x9F\x8E\xAC";
    const std::string path = File("[s]\nu=" + umlauts + "\nc=x" + clapper + "\n");

    const std::string u = Read(path, "s", "u");
    EXPECT_EQ(u.size(), 254u * 2);
    EXPECT_TRUE(IsValidUtf8(u));
    const std::string c = Read(path, "s", "c");
    EXPECT_EQ(c.size(), 1u + 253u * 4);
    EXPECT_TRUE(IsValidUtf8(c));

    // The same text written by Windows in its Western code page: one byte per letter in the file.
    const std::string cp1252 = File("[s]\nu=" + std::string(300, '\xE4') + "\n");
    EXPECT_EQ(Read(cp1252, "s", "u"), umlauts.substr(0, 254 * 2));
}

TEST_F(IniReaderTest, EmptyValueIsEmptyWhileMissingThingsGiveTheDefault) {
    const std::string path = File("[s]\nempty=\nblank =   \t\nquoted=\"\"\nk=v\n");
    EXPECT_EQ(Read(path, "s", "empty"), "");
    EXPECT_EQ(Read(path, "s", "blank"), "");
    EXPECT_EQ(Read(path, "s", "quoted"), "");
    EXPECT_EQ(Read(path, "s", "missing"), "Default");
    EXPECT_EQ(Read(path, "missing", "k"), "Default");
    EXPECT_EQ(Read(path, "s", ""), "Default");
    EXPECT_EQ(Read((folder_ / "absent.ini").string(), "s", "k"), "Default");
    EXPECT_EQ(Read(folder_.string(), "s", "k"), "Default");  // a folder, not a file
    EXPECT_EQ(Read("", "s", "k"), "Default");
}

TEST_F(IniReaderTest, DefaultLosesTrailingBlanksAndIsCutLikeAValue) {
    const std::string path = File("[s]\n");
    EXPECT_EQ(ReadProfileString("s", "k", "  fallback \t ", path), "  fallback");
    EXPECT_EQ(ReadProfileString("s", "k", std::string(300, 'd'), path), std::string(254, 'd'));
}

TEST_F(IniReaderTest, SectionAndKeyNamesIgnoreLetterCase) {
    const std::string path = File("[FrmMain]\nCaption=Trimora\n[\xC3\x84nderung]\nGr\xC3\xB6\xC3\x9F" "e=1\n");
    EXPECT_EQ(Read(path, "frmmain", "CAPTION"), "Trimora");
    EXPECT_EQ(Read(path, "FRMMAIN", "caption"), "Trimora");
    EXPECT_EQ(Read(path, "\xC3\xA4NDERUNG", "GR\xC3\x96\xC3\x9F" "E"), "1");
}

TEST_F(IniReaderTest, BlanksAroundNamesAndValuesAreDropped) {
    const std::string path =
        File("  [ frmMain ]  \n  \t 9 \t=\t  Cut  here \t \nx=a=b\n 28 = 0  Shrink To Fit\n");
    EXPECT_EQ(Read(path, "frmMain", "9"), "Cut  here");
    EXPECT_EQ(Read(path, "frmMain", "x"), "a=b");
    EXPECT_EQ(Read(path, "frmMain", "28"), "0  Shrink To Fit");
}

TEST_F(IniReaderTest, MatchingQuotesAreRemoved) {
    const std::string path = File(
        "[s]\n"
        "double=\"  Mark  \"\n"
        "single='Mark '\n"
        "mixed=\"Mark '\n"
        "lone=\"\n"
        "inner=\"a\"b\"\n"
        "middle=a \"b\" c\n"
        "outside=  \" spaced \"  \n");
    EXPECT_EQ(Read(path, "s", "double"), "  Mark  ");
    EXPECT_EQ(Read(path, "s", "single"), "Mark ");
    EXPECT_EQ(Read(path, "s", "mixed"), "\"Mark '");
    EXPECT_EQ(Read(path, "s", "lone"), "\"");
    EXPECT_EQ(Read(path, "s", "inner"), "a\"b");
    EXPECT_EQ(Read(path, "s", "middle"), "a \"b\" c");
    EXPECT_EQ(Read(path, "s", "outside"), " spaced ");
}

TEST_F(IniReaderTest, FirstSectionAndFirstKeyWin) {
    const std::string path = File(
        "[s]\nk=first\nk=second\n"
        "[other]\nk=other\n"
        "[S]\nk=third\nonly_later=x\n");
    EXPECT_EQ(Read(path, "s", "k"), "first");
    EXPECT_EQ(Read(path, "other", "k"), "other");
    // Only the first section of a name is searched.
    EXPECT_EQ(Read(path, "s", "only_later"), "Default");
}

TEST_F(IniReaderTest, KeysBeforeAnySectionBelongToNone) {
    const std::string path = File("orphan=1\n[s]\nk=v\n");
    EXPECT_EQ(Read(path, "s", "orphan"), "Default");
    EXPECT_EQ(Read(path, "", "orphan"), "Default");
    EXPECT_EQ(Read(path, "s", "k"), "v");
}

TEST_F(IniReaderTest, CommentsLinesWithoutEqualsAndBrokenHeaders) {
    const std::string path = File(
        "[s]\n"
        "; a comment=with equals\n"
        "  ;indented=too\n"
        "k=value ; not a comment\n"
        "bare\n"
        "#hash=is a key\n"
        "[unclosed\n"
        "after=still in s\n"
        "[also unclosed=x\n"
        "[t] trailing text\n"
        "k=in t\n");
    EXPECT_EQ(Read(path, "s", "; a comment"), "Default");
    EXPECT_EQ(Read(path, "s", ";indented"), "Default");
    EXPECT_EQ(Read(path, "s", "k"), "value ; not a comment");
    EXPECT_EQ(Read(path, "s", "bare"), "Default");
    EXPECT_EQ(Read(path, "s", "#hash"), "is a key");
    // "[unclosed" opens no section: the lines after it still belong to [s].
    EXPECT_EQ(Read(path, "s", "after"), "still in s");
    EXPECT_EQ(Read(path, "unclosed", "after"), "Default");
    EXPECT_EQ(Read(path, "s", "[also unclosed"), "x");
    EXPECT_EQ(Read(path, "t", "k"), "in t");
}

TEST_F(IniReaderTest, CrLfLfAndCrLineEndsReadAlike) {
    const std::string lines[] = {"[frmMain]", "0=Trimora", "9 = Cut ", "[MSGX]", "8=ms", "empty="};
    std::string lf, crlf, cr, mixed;
    for (size_t i = 0; i < std::size(lines); ++i) {
        lf += lines[i] + "\n";
        crlf += lines[i] + "\r\n";
        cr += lines[i] + "\r";
        mixed += lines[i] + (i % 3 == 0 ? "\r" : i % 3 == 1 ? "\n" : "\r\n");
    }
    const std::string unterminated = crlf.substr(0, crlf.size() - 2);  // no line end after the last
    // An empty line between two carriage returns, and a CR LF pair split over two line ends.
    const std::string blankLines = "[frmMain]\r\r0=Trimora\n\r\n9=Cut\r\r\n[MSGX]\r8=ms\rempty=";
    for (const std::string& path : {File(lf), File(crlf), File(unterminated), File(cr), File(mixed), File(blankLines)}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Read(path, "frmMain", "0"), "Trimora");
        EXPECT_EQ(Read(path, "frmMain", "9"), "Cut");
        EXPECT_EQ(Read(path, "MSGX", "8"), "ms");
        EXPECT_EQ(Read(path, "MSGX", "empty"), "");
    }
}

TEST_F(IniReaderTest, ByteOrderMarkIsNotPartOfTheFirstSection) {
    const std::string path = File("\xEF\xBB\xBF[frmMain]\r\n0=Gr\xC3\xBC\xC3\x9F" "e\r\n");
    EXPECT_EQ(Read(path, "frmMain", "0"), "Gr\xC3\xBC\xC3\x9F" "e");
}

TEST_F(IniReaderTest, Windows1252FilesGiveTheRightLetters) {
    // "Größe", "Übersicht", "€" and typographic quotes as Notepad writes them in Western Europe.
    const std::string path = File("[frmMain]\r\n1=Gr\xF6\xDF" "e\r\n2=\xDC" "bersicht \x80 \x93x\x94\r\n");
    EXPECT_EQ(Read(path, "frmMain", "1"), "Gr\xC3\xB6\xC3\x9F" "e");
    EXPECT_EQ(Read(path, "frmMain", "2"), "\xC3\x9C" "bersicht \xE2\x82\xAC \xE2\x80\x9Cx\xE2\x80\x9D");
}

TEST_F(IniReaderTest, Utf16FilesWithAByteOrderMarkAreRead) {
    const std::u16string text = u"[frmMain]\r\n0=Espa\u00F1ol \U0001F3AC\r\n";
    std::string little = "\xFF\xFE", big = "\xFE\xFF";
    for (char16_t unit : text) {
        little += static_cast<char>(unit & 0xFF);
        little += static_cast<char>(unit >> 8);
        big += static_cast<char>(unit >> 8);
        big += static_cast<char>(unit & 0xFF);
    }
    EXPECT_EQ(Read(File(little), "frmMain", "0"), "Espa\xC3\xB1ol \xF0\x9F\x8E\xAC");
    EXPECT_EQ(Read(File(big), "frmMain", "0"), "Espa\xC3\xB1ol \xF0\x9F\x8E\xAC");
}

TEST(ProfileTextDecoding, OnlyWellFormedUtf8IsTakenAsUtf8) {
    EXPECT_TRUE(IsValidUtf8("plain"));
    EXPECT_TRUE(IsValidUtf8("\xC3\xA4\xE2\x82\xAC\xF0\x9F\x8E\xAC"));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // a surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xC3"));              // cut short
    EXPECT_FALSE(IsValidUtf8("\xE4" "a"));

    // One stray byte makes the whole file Windows-1252, so letters already fine stay fine too.
    EXPECT_EQ(DecodeProfileText("\xC3\xA4 \xE4"), "\xC3\x83\xC2\xA4 \xC3\xA4");
    EXPECT_EQ(DecodeProfileText("\x81\x9F"), "\xC2\x81\xC5\xB8");
}

}  // namespace
