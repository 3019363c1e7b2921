// Choosing the container: panels, bold button, marker, the output names' extension, and the AVI
// codec list that selects in the writer at once.
#include "support/WindowFixture.h"

namespace trimora::test {
namespace {

class OutputFormatTest : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        Load();
    }
    std::vector<QGroupBox*> Panels() const {
        return {window->FrameOptAudioAvi,  window->FrameOptVideoAvi,    window->FrameOptAudioMpeg,
                window->FrameOptVideoMpeg, window->FrameOptVersionMpeg, window->FrameOptVideoWMV};
    }
    std::vector<QString> ShownPanels() const {
        std::vector<QString> shown;
        for (QGroupBox* panel : Panels())
            if (!panel->isHidden()) shown.push_back(panel->objectName());
        return shown;
    }
    std::vector<QString> BoldButtons() const {
        std::vector<QString> bold;
        for (QPushButton* b : {window->cmdOptAVI, window->cmdOptMPEG, window->cmdOptWMV})
            if (b->font().bold()) bold.push_back(b->objectName());
        return bold;
    }
    void Names(const QString& first, const QString& second) {
        window->EdOutFile->setText(first);
        window->EdOutFile2->setText(second);
    }
};

TEST_F(OutputFormatTest, EachContainerShowsItsPanelsBoldButtonAndMarker) {
    struct Case {
        QPushButton* button;
        int16_t format;
        std::vector<QString> panels;
    };
    const Case cases[] = {
        {window->cmdOptMPEG, 1, {"FrameOptAudioMpeg", "FrameOptVideoMpeg", "FrameOptVersionMpeg"}},
        {window->cmdOptWMV, 2, {"FrameOptVideoWMV"}},
        {window->cmdOptAVI, 0, {"FrameOptAudioAvi", "FrameOptVideoAvi"}},
    };
    for (const Case& c : cases) {
        c.button->click();
        EXPECT_EQ(window->CurOutFormat, c.format);
        EXPECT_EQ(ShownPanels(), c.panels) << c.format;
        EXPECT_EQ(BoldButtons(), std::vector<QString>{c.button->objectName()});
        EXPECT_FLOAT_EQ(window->lblCurSel->Left(), static_cast<float>(c.button->x() * 15));
    }
}

TEST_F(OutputFormatTest, AnUnknownContainerLeavesEverythingHidden) {
    window->ConvertTo(7);
    EXPECT_EQ(window->CurOutFormat, 7);
    EXPECT_TRUE(ShownPanels().empty());
    EXPECT_TRUE(BoldButtons().empty());
}

TEST_F(OutputFormatTest, StartUpEndsOnTheAviPanels) {
    EXPECT_EQ(window->CurOutFormat, 0);
    EXPECT_EQ(ShownPanels(), (std::vector<QString>{"FrameOptAudioAvi", "FrameOptVideoAvi"}));
    EXPECT_EQ(BoldButtons(), std::vector<QString>{"cmdOptAVI"});
}

TEST_F(OutputFormatTest, ThePlaceholderTextStaysWhenTheContainerChanges) {
    const QString placeholder = window->EdOutFile->text();
    ASSERT_FALSE(placeholder.contains('.'));
    window->cmdOptMPEG->click();
    EXPECT_EQ(window->EdOutFile->text(), placeholder);
    EXPECT_EQ(window->EdOutFile2->text(), placeholder);
}

TEST_F(OutputFormatTest, OnlyTheFileNamesExtensionIsReplaced) {
    struct Case {
        QString before;
        int16_t format;
        QString after;
    };
    const Case cases[] = {
        {"C:\\Video\\clip.avi", 1, "C:\\Video\\clip.mpeg"},
        {"C:\\Video\\clip.mpeg", 2, "C:\\Video\\clip.wmv"},
        {"C:\\Video\\clip.wmv", 0, "C:\\Video\\clip.avi"},
        {"C:\\avi\\clip.avi", 1, "C:\\avi\\clip.mpeg"},          // the folder keeps its name
        {"/home/ann.lee/clip.avi", 1, "/home/ann.lee/clip.mpeg"},  // a dot in a folder is no extension
        {"C:\\my.dir\\clip.avi", 0, "C:\\my.dir\\clip.avi"},
        {"/home/ann.lee/clip", 1, "/home/ann.lee/clip"},  // no extension: unchanged
        {"/videos/clip.", 1, "/videos/clip."},            // ends in a dot: unchanged
        {"clip.avi.avi", 2, "clip.avi.wmv"},
    };
    for (const Case& c : cases) {
        Names(c.before, c.before);
        window->ConvertTo(c.format);
        EXPECT_EQ(window->EdOutFile->text(), c.after) << c.before.toStdString();
        EXPECT_EQ(window->EdOutFile2->text(), c.after) << c.before.toStdString();
    }
}

TEST_F(OutputFormatTest, TheSecondNameChangesOnlyWithTheFirstNamesExtension) {
    Names("/v/a.avi", "/v/b.mpg");
    window->cmdOptMPEG->click();
    EXPECT_EQ(window->EdOutFile->text(), "/v/a.mpeg");
    EXPECT_EQ(window->EdOutFile2->text(), "/v/b.mpg");

    Names("/v/a.avi", "/v/b.AVI");  // case counts
    window->cmdOptWMV->click();
    EXPECT_EQ(window->EdOutFile2->text(), "/v/b.AVI");

    Names("/v/a.avi", "/v/avi.d/b");  // the extension appears only in the folder
    window->cmdOptMPEG->click();
    EXPECT_EQ(window->EdOutFile2->text(), "/v/avi.d/b");
}

TEST_F(OutputFormatTest, SwitchingBackAndForthKeepsTheOptions) {
    window->optGSM->setChecked(true);
    window->SelectRow(window->cmbAudioBitrateMPEG, 3);
    window->cmdOptMPEG->click();
    window->cmdOptWMV->click();
    window->cmdOptAVI->click();
    EXPECT_TRUE(window->optGSM->isChecked());
    EXPECT_EQ(window->cmbAudioBitrateMPEG->currentIndex(), 3);
}

TEST_F(OutputFormatTest, CodecRowsRunFromTheLastCodecDownToTheFirst) {
    // Three codecs: rows show 3, 2, 1.
    ASSERT_EQ(window->cmbAVICodecs->count(), 3);
    EXPECT_EQ(window->cmbAVICodecs->itemText(0), "Codec 3");
    EXPECT_EQ(writer().selectedCodec, 3);  // start-up selects the first row
    engine.log.Clear();
    window->SelectRow(window->cmbAVICodecs, 2);
    EXPECT_EQ(writer().selectedCodec, 1);
    EXPECT_EQ(engine.log.calls,
              (std::vector<std::string>{"out.SelectAviCodec(1)", "skin.SkinControl(cmbAVICodecs,Button)"}));
}

TEST_F(OutputFormatTest, ConfigureOpensTheSelectedCodecsSettings) {
    engine.log.Clear();
    window->btnConfigureVideoCodec->click();
    EXPECT_EQ(engine.log.calls, std::vector<std::string>{"out.ConfigureSelectedAviCodec()"});
}

TEST_F(OutputFormatTest, OptionListsOnlyRestyleThemselves) {
    QComboBox* lists[] = {window->cmbFramerateAVI,     window->cmbCnannelsAVI,  window->cmbFramerateMPEG,
                          window->cmbVideoBitrateMPEG, window->cmbCnannelsMPEG, window->cmbAudioBitrateMPEG,
                          window->cmbWMVCodecs};
    for (QComboBox* list : lists) {
        engine.log.Clear();
        window->SelectRow(list, 0);
        EXPECT_EQ(engine.log.calls,
                  std::vector<std::string>{"skin.SkinControl(" + list->objectName().toStdString() + ",Button)"});
    }
}

}  // namespace
}  // namespace trimora::test
