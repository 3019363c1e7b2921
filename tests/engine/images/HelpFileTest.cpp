// The help file beside the program: a real compiled HTML help file whose contents list every
// page under its title, with the topics a user looks for, and no link that leads nowhere.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QString>
#include <filesystem>
#include <map>
#include <set>

#include "ImageTestUtil.h"
#include "support/TestClips.h"

namespace trimora::test {
namespace {

namespace fs = std::filesystem;

QString ReadText(const fs::path& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path.string());
    return QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

class HelpFile : public testing::Test {
protected:
    static void SetUpTestSuite() {
        chm_ = fs::path(TRIMORA_BIN_DIR) / "trimora.chm";
        extracted_ = fs::path(MakeScratchFolder()) / "help";
        if (fs::exists(chm_))
            extractStatus_ = RunCommand("extract_chmLib " + ShellQuote(chm_.string()) + " " +
                                        ShellQuote(extracted_.string()) + " >/dev/null 2>&1");
    }

    // Contents entries in order: title shown in the contents → page.
    static std::vector<std::pair<QString, QString>> Contents() {
        std::vector<std::pair<QString, QString>> entries;
        const QRegularExpression entry(
            R"re(<param name="Name" value="([^"]*)">\s*<param name="Local" value="([^"]*)">)re",
            QRegularExpression::CaseInsensitiveOption);
        for (auto it = entry.globalMatch(ReadText(extracted_ / "trimora.hhc")); it.hasNext();) {
            const auto match = it.next();
            entries.emplace_back(match.captured(1), match.captured(2));
        }
        return entries;
    }

    static QString Title(const QString& page) {
        const auto match = QRegularExpression("<title>([^<]*)</title>", QRegularExpression::CaseInsensitiveOption)
                               .match(ReadText(extracted_ / page.toStdString()));
        return match.hasMatch() ? match.captured(1) : QString();
    }

    static QString Page(const char* name) { return ReadText(extracted_ / name); }

    static fs::path chm_;
    static fs::path extracted_;
    static int extractStatus_;
};

fs::path HelpFile::chm_;
fs::path HelpFile::extracted_;
int HelpFile::extractStatus_ = -1;

TEST_F(HelpFile, IsACompiledHelpFileBesideTheProgram) {
    ASSERT_TRUE(fs::exists(chm_)) << "build the trimora_help target";
    const std::vector<uint8_t> bytes = ReadBytes(chm_.string());
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "ITSF");
    EXPECT_EQ(extractStatus_, 0);
    EXPECT_TRUE(fs::exists(extracted_ / "#SYSTEM"));
}

TEST_F(HelpFile, ContentsListEveryPageUnderItsTitle) {
    const auto contents = Contents();
    const std::map<QString, QString> expected = {
        {"index.html", "Welcome to Trimora"},
        {"opening.html", "Opening a video"},
        {"marks.html", "Marks, thumbs and frame steps"},
        {"playing.html", "Playing and the preview"},
        {"cut.html", "Cutting"},
        {"split.html", "Splitting"},
        {"output-files.html", "Output files"},
        {"formats.html", "Output formats"},
        {"codec-settings.html", "The codec settings dialog"},
        {"save-frame.html", "Saving a frame as a picture"},
        {"languages.html", "Languages"},
        {"messages.html", "Messages and what they mean"},
        {"about.html", "About Trimora"},
    };
    std::map<QString, QString> listed;
    for (const auto& [name, page] : contents) {
        listed[page] = name;
        ASSERT_TRUE(fs::exists(extracted_ / page.toStdString())) << page.toStdString();
        EXPECT_EQ(Title(page), name) << page.toStdString();
    }
    EXPECT_EQ(listed, expected);
    ASSERT_FALSE(contents.empty());
    EXPECT_EQ(contents.front().second, "index.html");
}

TEST_F(HelpFile, EveryLinkLeadsToAPageAndAnchorInTheFile) {
    const QRegularExpression link(R"re(href="([^"#]*)(#([^"]*))?")re");
    int links = 0;
    for (const auto& entry : fs::directory_iterator(extracted_)) {
        if (entry.path().extension() != ".html") continue;
        const QString text = ReadText(entry.path());
        for (auto it = link.globalMatch(text); it.hasNext();) {
            const auto match = it.next();
            const QString target = match.captured(1).isEmpty() ? QString::fromStdString(entry.path().filename().string())
                                                                : match.captured(1);
            ++links;
            ASSERT_TRUE(fs::exists(extracted_ / target.toStdString()))
                << entry.path().filename() << " links to " << target.toStdString();
            if (!match.captured(3).isEmpty()) {
                EXPECT_TRUE(Page(target.toStdString().c_str()).contains("id=\"" + match.captured(3) + "\""))
                    << entry.path().filename() << " links to a missing anchor " << match.captured(0).toStdString();
            }
        }
    }
    EXPECT_GT(links, 20);
}

TEST_F(HelpFile, PagesCoverWhatTheUserNeeds) {
    const QString saving = Page("save-frame.html");
    for (const char* type : {"BMP Files (*.bmp)", "JPEG Files (*.jpg)", "GIF Files (*.gif)", "TIFF Files (*.tiff)",
                             "PCX Files (*.pcx)", "WMF Files (*.wmf)", "EMF Files (*.emf)", "TGA Files (*.tga)",
                             "PNG Files (*.png)", "RAS Files (*.ras)", "JPEG2000 Files (*.j2k)"})
        EXPECT_TRUE(saving.contains(type)) << type;

    const QString formats = Page("formats.html");
    for (const char* option : {"PCM", "MP3", "GSM", "ADPCM", "ALAW", "ULAW", "MPEG1", "MPEG2", "Video Bit Rate",
                               "Audio Bit Rate", "Channels", "Frame Rate", "profile", "Configure..."})
        EXPECT_TRUE(formats.contains(option)) << option;

    const QString opening = Page("opening.html");
    for (const char* pattern : {"*.avi", "*.mpg", "*.mpeg", "*.wmv", "*.wma", "*.asf", "*.mov", "*.qt"})
        EXPECT_TRUE(opening.contains(pattern)) << pattern;

    const QString languages = Page("languages.html");
    for (const char* part : {"Languages", ".ini", ".bmp", "[frmMain]", "[MSGX]", "Default"})
        EXPECT_TRUE(languages.contains(part)) << part;

    // One explanation for each message the program shows by number.
    const QString messages = Page("messages.html");
    for (const char* anchor : {"splitframe", "failed", "samemark", "parts", "noframe", "cutdone", "splitdone",
                               "cancelled", "novideo"})
        EXPECT_TRUE(messages.contains(QString("id=\"%1\"").arg(anchor))) << anchor;
}

}  // namespace
}  // namespace trimora::test
