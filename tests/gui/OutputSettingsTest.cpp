// Applying the output options to the writer: the exact writer calls for each container and
// option, and the one message box of a rejected file.
#include <QLocale>

#include "output/PrepareOutputFile.h"
#include "support/WindowFixture.h"

namespace trimora::test {
namespace {

using Calls = std::vector<std::string>;

class OutputSettingsTest : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        Load();
        Open();
        platform.messages.clear();
    }
    // The writer calls PrepareOutputFile makes for `name`.
    Calls Prepare(const QString& name = "/out/x.avi") {
        engine.log.Clear();
        window->PrepareOutputFile(name);
        return engine.log.With("out.");
    }
    static Calls Copies(bool audio = true) {
        Calls calls{"out.CopyVideoFormat(176,144,25)"};
        if (audio) calls.push_back("out.CopyAudioFormat(48000,2)");
        calls.push_back("out.SetHasVideo(true)");
        calls.push_back(audio ? "out.SetHasAudio(true)" : "out.SetHasAudio(false)");
        return calls;
    }
    static Calls Then(Calls calls, const Calls& more) {
        calls.insert(calls.end(), more.begin(), more.end());
        return calls;
    }
};

TEST_F(OutputSettingsTest, AviDefaultsGivePcmThenVideoParametersThenCreate) {
    EXPECT_EQ(Prepare(), Then(Copies(), {"out.SetPcmAudio(48000,2,16)", "out.SetAviVideoParameters(176,144,25)",
                                          "out.CreateOutputFile(/out/x.avi,1)"}));
    EXPECT_TRUE(writer().outputOpen);
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(OutputSettingsTest, EachAviSoundOptionMakesItsOwnCall) {
    window->SelectRow(window->cmbCnannelsAVI, 0);  // Mono
    const std::pair<QRadioButton*, std::string> cases[] = {
        {window->optALAW, "out.SetAlawAudio(48000,1)"},
        {window->optULAW, "out.SetMulawAudio(48000,1)"},
        {window->optMP3, "out.SetMp3Audio(128,48000,1)"},  // always 128, whatever the MPEG list shows
        {window->optGSM, "out.SetGsmAudio(48000)"},        // the channel choice is not passed
        {window->optADPCM, "out.SetAdpcmAudio(48000,1)"},
        {window->optPCM, "out.SetPcmAudio(48000,1,16)"},
    };
    window->SelectRow(window->cmbAudioBitrateMPEG, 13);
    for (const auto& [option, call] : cases) {
        option->setChecked(true);
        const Calls calls = Prepare();
        ASSERT_EQ(calls.size(), 7u);
        EXPECT_EQ(calls[4], call);
    }
}

TEST_F(OutputSettingsTest, OptionsAreTestedInTheirFixedOrder) {
    // Option buttons in separate groups could both be on: PCM wins over A-law, A-law over MP3.
    window->optPCM->setAutoExclusive(false);
    window->optALAW->setAutoExclusive(false);
    window->optMP3->setAutoExclusive(false);
    window->optPCM->setChecked(false);
    window->optALAW->setChecked(true);
    window->optMP3->setChecked(true);
    EXPECT_EQ(Prepare()[4], "out.SetAlawAudio(48000,2)");
    window->optALAW->setChecked(false);
    window->optMP3->setChecked(false);
    // With none on, no sound codec call is made.
    EXPECT_EQ(Prepare(), Then(Copies(), {"out.SetAviVideoParameters(176,144,25)", "out.CreateOutputFile(/out/x.avi,1)"}));
}

TEST_F(OutputSettingsTest, TheFrameRateIsReadWithADotWhateverTheLocale) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    window->SelectRow(window->cmbFramerateAVI, 6);  // "29.97"
    const Calls calls = Prepare();
    QLocale::setDefault(saved);
    EXPECT_EQ(calls[5], "out.SetAviVideoParameters(176,144,29.97)");
}

TEST_F(OutputSettingsTest, Mpeg2DefaultsAndBothVersionsCreateKind2) {
    window->cmdOptMPEG->click();
    window->rbMPEG2->setChecked(true);
    EXPECT_EQ(Prepare("/out/x.mpeg"),
              Then(Copies(), {"out.SetMpegVideoParameters(2,1150,176,144,29.97)", "out.SetMpegAudioParameters(128,48000,2)",
                              "out.CreateOutputFile(/out/x.mpeg,2)"}));
    window->rbMPEG1->setChecked(true);
    window->SelectRow(window->cmbVideoBitrateMPEG, 4);
    window->SelectRow(window->cmbFramerateMPEG, 0);
    window->SelectRow(window->cmbCnannelsMPEG, 0);
    window->SelectRow(window->cmbAudioBitrateMPEG, 0);
    EXPECT_EQ(Prepare("/out/x.mpeg"),
              Then(Copies(), {"out.SetMpegVideoParameters(1,2376,176,144,23.97)", "out.SetMpegAudioParameters(32,48000,1)",
                              "out.CreateOutputFile(/out/x.mpeg,2)"}));
}

TEST_F(OutputSettingsTest, BitRatesRoundHalvesToEven) {
    window->cmdOptMPEG->click();
    window->cmbVideoBitrateMPEG->addItem("1150.5");
    window->cmbAudioBitrateMPEG->addItem("127.5 kbit/s");
    window->SelectRow(window->cmbVideoBitrateMPEG, window->cmbVideoBitrateMPEG->count() - 1);
    window->SelectRow(window->cmbAudioBitrateMPEG, window->cmbAudioBitrateMPEG->count() - 1);
    const Calls calls = Prepare("/out/x.mpeg");
    EXPECT_EQ(calls[4], "out.SetMpegVideoParameters(1,1150,176,144,29.97)");
    EXPECT_EQ(calls[5], "out.SetMpegAudioParameters(128,48000,2)");
}

TEST_F(OutputSettingsTest, NeitherMpegVersionOnCreatesNothing) {
    window->cmdOptMPEG->click();
    window->rbMPEG1->setAutoExclusive(false);
    window->rbMPEG1->setChecked(false);
    EXPECT_EQ(Prepare("/out/x.mpeg"), Copies());
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(OutputSettingsTest, AnInputWithoutSoundStillGetsMpegAudioParameters) {
    reader().hasAudio = false;
    reader().sampleRate = 0;
    reader().channels = 0;
    window->cmdOptMPEG->click();
    EXPECT_EQ(Prepare("/out/x.mpeg"),
              Then(Copies(false), {"out.SetMpegVideoParameters(1,1150,176,144,29.97)", "out.SetMpegAudioParameters(128,0,2)",
                                   "out.CreateOutputFile(/out/x.mpeg,2)"}));
}

TEST_F(OutputSettingsTest, WindowsMediaSelectsTheProfileTheRowShows) {
    window->cmdOptWMV->click();
    EXPECT_EQ(Prepare("/out/x.wmv"), Then(Copies(), {"out.SelectWmvProfile(3)", "out.CreateOutputFile(/out/x.wmv,3)"}));
    window->SelectRow(window->cmbWMVCodecs, 2);
    EXPECT_EQ(Prepare("/out/x.wmv"), Then(Copies(), {"out.SelectWmvProfile(1)", "out.CreateOutputFile(/out/x.wmv,3)"}));
    EXPECT_EQ(writer().selectedProfile, 1);
}

TEST_F(OutputSettingsTest, ARejectedFileNameGivesOneMessageBox) {
    engine.failures["out.CreateOutputFile"] = "Cannot create /nowhere/x.avi: No such file or directory";
    engine.log.Clear();
    const OutputPreparation result = PrepareOutput(*window, "/nowhere/x.avi");
    EXPECT_FALSE(result.created);
    EXPECT_EQ(platform.MessageTexts(), QStringList{"Cannot create /nowhere/x.avi: No such file or directory"});
    EXPECT_EQ(result.error, platform.MessageTexts().front());
    EXPECT_FALSE(writer().outputOpen);
}

TEST_F(OutputSettingsTest, AFailingStepStopsThoseAfterIt) {
    engine.failures["out.SetPcmAudio"] = "Unsupported sample rate";
    const Calls calls = Prepare();
    EXPECT_EQ(calls.back(), "out.SetPcmAudio(48000,2,16)");
    EXPECT_EQ(platform.MessageTexts(), QStringList{"Unsupported sample rate"});
}

TEST(NumberFromListText, ReadsTheLeadingNumberWithADot) {
    EXPECT_DOUBLE_EQ(NumberFromListText("29.97"), 29.97);
    EXPECT_DOUBLE_EQ(NumberFromListText("25.00 fps"), 25);
    EXPECT_DOUBLE_EQ(NumberFromListText("  1150"), 1150);
    EXPECT_DOUBLE_EQ(NumberFromListText("-5"), -5);
    EXPECT_DOUBLE_EQ(NumberFromListText("+.5"), 0.5);
    EXPECT_DOUBLE_EQ(NumberFromListText("1e3"), 1000);
    EXPECT_DOUBLE_EQ(NumberFromListText("1.5e"), 1.5);
    EXPECT_DOUBLE_EQ(NumberFromListText("12,5"), 12);
    EXPECT_EQ(NumberFromListText("Stereo"), 0);
    EXPECT_EQ(NumberFromListText(""), 0);
    EXPECT_EQ(NumberFromListText("."), 0);
    EXPECT_EQ(NumberFromListText("-"), 0);
}

}  // namespace
}  // namespace trimora::test
