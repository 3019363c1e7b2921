// The cut on the scripted engine: which frames reach the writer, how the marks travel and come
// back, progress, cancel, errors and sound interleaving.
#include <QProgressBar>
#include <algorithm>
#include <cmath>
#include <map>

#include "JobFixture.h"

namespace trimora::test {
namespace {


class CutTest : public JobFixture {};

TEST_F(CutTest, ReversedMarksCutFromLowerToHigherWhileTheLowerSliderTravels) {
    LoadAndOpen(1000, 40000);
    SetMarks(500, 200);
    auto& values1 = Watch(window->SliderTimePosition1);
    auto& values2 = Watch(window->SliderTimePosition2);
    engine.log.Clear();

    window->cmdCut->click();

    const auto files = FramesPerFile();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0], Range(200, 500));
    EXPECT_EQ(window->StartFrame, 200);
    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(19)});

    // Slider 2 (the lower mark) travels towards 500, then returns to 200; slider 1 stays.
    EXPECT_TRUE(values1.empty());
    ASSERT_GT(values2.size(), 100u);
    EXPECT_EQ(values2.back(), 200);
    EXPECT_TRUE(std::is_sorted(values2.begin(), values2.end() - 1));
    EXPECT_GE(values2[values2.size() - 2], 495);
    EXPECT_EQ(window->SliderTimePosition1->Value(), 500);
    EXPECT_EQ(window->SliderTimePosition2->Value(), 200);

    // The file is created before the only positioning of the job, and closed after the last frame.
    const auto& log = engine.log;
    const long create = log.IndexOf("out.CreateOutputFile(/videos/clip_1.avi,1)");
    const long seek = log.IndexOf("in.SeekToFrame(200)");
    const long firstAppend = log.IndexOf("out.AppendVideoFrame(200)");
    const long lastAppend = log.IndexOf("out.AppendVideoFrame(500)");
    const long close = log.IndexOf("out.Close()");
    ASSERT_GE(create, 0);
    EXPECT_LT(create, seek);
    EXPECT_LT(seek, firstAppend);
    EXPECT_LT(lastAppend, close);
    EXPECT_EQ(log.IndexOf("in.SeekToFrame(200)", seek + 1), log.IndexOf("in.SeekToFrame(200)", close));
    // The input is decoded in the background for the job's frames only (the writer's encoder
    // comes first), and in the foreground again once the file is closed.
    const long background = log.IndexOf("in.DecodeInBackground(true)");
    ASSERT_GE(background, 0);
    EXPECT_LT(background, firstAppend);
    EXPECT_GT(log.IndexOf("in.DecodeInBackground(false)"), close);
    EXPECT_EQ(log.Count("in.DecodeInBackground"), 2);
    // The mark's frame shown again after the job is read in the foreground: nothing is read ahead
    // of it that would be waited for and thrown away.
    EXPECT_LT(log.IndexOf("in.DecodeInBackground(false)"), log.IndexOf("in.SeekToFrame(200)", close));
    EXPECT_FALSE(reader().decodingInBackground);
    // Moving slider 2 back showed its mark's frame again, and the window holds that frame.
    EXPECT_EQ(FrameNumberOf(window->FrameData_), 200);
    EXPECT_EQ(engine.view->shown.back(), 200);

    EXPECT_TRUE(window->cmdCut->isEnabled());
    EXPECT_TRUE(window->cmdSplit->isEnabled());
    EXPECT_FALSE(window->cmdCancel->isEnabled());
    EXPECT_TRUE(window->ProgressBar1->isHidden());
    EXPECT_EQ(window->ProgressBar1->value(), 0);
    EXPECT_FALSE(window->UpdatingSliders);
    EXPECT_FALSE(window->JobRunning);
}

TEST_F(CutTest, MarksInOrderGiveTheSameFramesAndEveryFrameIsShown) {
    LoadAndOpen();
    SetMarks(10, 30);
    engine.view->shown.clear();
    window->cmdCut->click();
    EXPECT_EQ(FramesPerFile(), std::vector<std::vector<int>>{Range(10, 30)});
    // Each written frame went to the preview, in order, before it was appended.
    std::vector<int> shown;
    for (int frame : engine.view->shown)
        if (shown.empty() || shown.back() != frame) shown.push_back(frame);
    EXPECT_EQ(std::vector<int>(shown.begin(), shown.begin() + 21), Range(10, 30));
    EXPECT_LT(engine.log.IndexOf("view.ShowFrame(17)"), engine.log.IndexOf("out.AppendVideoFrame(17)"));
}

TEST_F(CutTest, MarksOnTheSameFrameOnlyShowMessage4) {
    LoadAndOpen();
    SetMarks(40, 40);
    engine.log.Clear();
    window->cmdCut->click();
    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(4)});
    EXPECT_TRUE(engine.log.With("out.").empty());
    EXPECT_TRUE(engine.log.With("in.Seek").empty());
    EXPECT_TRUE(window->cmdCut->isEnabled());
    EXPECT_TRUE(window->cmdSplit->isEnabled());
    EXPECT_FALSE(window->cmdCancel->isEnabled());
    EXPECT_TRUE(window->cmdPlayStop->isEnabled());
}

TEST_F(CutTest, NothingHappensWithoutAnInput) {
    Load();
    engine.log.Clear();
    window->cmdCut_Click();
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_TRUE(engine.log.With("out.").empty());
}

TEST_F(CutTest, ProgressCountsFramesBetweenTheMarks) {
    LoadAndOpen(1000, 40000);
    SetMarks(100, 199);
    std::map<int, int> progressAtFrame;
    During(
        [&] {
            progressAtFrame[reader().currentFrame] = window->ProgressBar1->value();
            EXPECT_TRUE(window->ProgressBar1->isVisible());
            return false;
        },
        [] {});
    window->cmdCut->click();
    ASSERT_TRUE(progressAtFrame.count(150));
    EXPECT_EQ(progressAtFrame[150], 50);  // 5000 / 100
    EXPECT_EQ(progressAtFrame[100], 0);
    EXPECT_EQ(progressAtFrame[199], 99);
    EXPECT_EQ(window->ProgressBar1->value(), 0);
}

TEST_F(CutTest, LabelShowsBothMarksDuringTheJob) {
    LoadAndOpen();
    SetMarks(20, 60);
    QString label;
    int travelling = 0;
    During([&] { return reader().currentFrame >= 30; },
           [&] {
               label = window->LabelS->Caption();
               travelling = window->SliderTimePosition1->Value();
           });
    window->cmdCut->click();
    EXPECT_GT(travelling, 20);
    EXPECT_EQ(label, Message(9) + "1#: " + QString::number(travelling) + "\r" + Message(9) + "2#: 60\r" +
                         Message(24) + " ~2");
}

TEST_F(CutTest, CancelKeepsWhatWasWrittenAndRestoresTheWindow) {
    LoadAndOpen();
    SetMarks(80, 10);
    CancelAtFrame(30);
    window->cmdCut->click();

    EXPECT_EQ(FramesPerFile(), std::vector<std::vector<int>>{Range(10, 30)});
    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(21)});
    const long close = engine.log.IndexOf("out.Close()", engine.log.IndexOf("out.AppendVideoFrame(30)"));
    EXPECT_GE(close, 0);
    EXPECT_EQ(engine.log.IndexOf("out.AppendVideoFrame(31)"), -1);
    EXPECT_EQ(window->SliderTimePosition1->Value(), 80);
    EXPECT_EQ(window->SliderTimePosition2->Value(), 10);
    EXPECT_TRUE(window->cmdCut->isEnabled());
    EXPECT_TRUE(window->cmdSplit->isEnabled());
    EXPECT_FALSE(window->cmdCancel->isEnabled());
    EXPECT_TRUE(window->ProgressBar1->isHidden());
}

TEST_F(CutTest, InputWithoutSoundCopiesOnlyVideo) {
    LoadAndOpen(100, 4000, false);
    SetMarks(20, 60);
    engine.log.Clear();
    window->cmdCut->click();
    EXPECT_EQ(FramesPerFile(), std::vector<std::vector<int>>{Range(20, 60)});
    EXPECT_EQ(engine.log.Count("in.ReadNextAudioBlock"), 1);
    EXPECT_EQ(engine.log.Count("out.AppendAudioBlock"), 0);
    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(19)});
}

TEST_F(CutTest, SoundIsInterleavedWithThePicturesAndCoversTheStretch) {
    LoadAndOpen();  // 25 frames/s, 48 kHz stereo: a block of 2304 sample frames lasts 48 ms
    SetMarks(20, 60);
    engine.log.Clear();
    window->cmdCut->click();
    const double bytesPerMs = 48000 * 4 / 1000.0;
    double videoMs = 0, audioMs = 0, worstLead = 0;
    for (const auto& call : engine.log.calls) {
        if (call.rfind("out.AppendVideoFrame(", 0) == 0) {
            worstLead = std::max(worstLead, std::abs(audioMs - videoMs));
            videoMs += 40;
        } else if (call.rfind("out.AppendAudioBlock(", 0) == 0) {
            audioMs += std::stod(call.substr(21)) / bytesPerMs;
        }
    }
    EXPECT_DOUBLE_EQ(videoMs, 41 * 40);
    EXPECT_LE(worstLead, 48 + 40);
    EXPECT_NEAR(audioMs, videoMs, 48);
    EXPECT_EQ(engine.log.With("in.ReadNextAudioBlock").front(), "in.ReadNextAudioBlock(2304)");
}

TEST_F(CutTest, AnErrorEndsTheJobWithMessage1AndTheDescription) {
    LoadAndOpen();
    SetMarks(20, 60);
    During([&] { return reader().currentFrame >= 25; }, [&] { engine.failures["in.ReadNextVideoFrame"] = "Bad packet"; });
    window->cmdCut->click();
    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(1) + " Bad packet"});
    EXPECT_TRUE(engine.log.Has("out.Close()"));
    EXPECT_EQ(window->SliderTimePosition1->Value(), 20);
    EXPECT_EQ(window->SliderTimePosition2->Value(), 60);
    EXPECT_TRUE(window->cmdCut->isEnabled());
    EXPECT_FALSE(window->cmdCancel->isEnabled());
    EXPECT_FALSE(window->JobRunning);
}

TEST_F(CutTest, AThreeHourInputCutsWithoutOverflow) {
    // 2000 frames of 5.5 s: positions pass 10,800,000 ms near the end.
    UseThreeHourInput(2000);
    Load();
    Open();
    SetMarks(1990, 2000);
    platform.messages.clear();
    window->cmdCut->click();
    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(19)});
    EXPECT_EQ(FramesPerFile(), std::vector<std::vector<int>>{Range(1990, 2000)});
}

TEST(CutHelpers, ClipValueClampsToPercent) {
    EXPECT_EQ(frmMain::ClipValue(-5), 0);
    EXPECT_EQ(frmMain::ClipValue(130), 100);
    EXPECT_EQ(frmMain::ClipValue(100), 100);
    EXPECT_EQ(frmMain::ClipValue(0), 0);
    EXPECT_EQ(frmMain::ClipValue(57), 57);
}

TEST(CutHelpers, SwapExchangesIntegersAndDoubles) {
    int32_t a = 500, b = 200;
    frmMain::Swap(a, b);
    EXPECT_EQ(a, 200);
    EXPECT_EQ(b, 500);
    double x = 2.5, y = -1.25;
    frmMain::Swap(x, y);
    EXPECT_EQ(x, -1.25);
    EXPECT_EQ(y, 2.5);
}

}  // namespace
}  // namespace trimora::test
