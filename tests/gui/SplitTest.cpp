// The split on the scripted engine: every input frame lands in exactly one of the two files with
// the split frame first in the second, the switch between the files, progress, cancel, errors.
#include <QProgressBar>
#include <algorithm>
#include <map>

#include "JobFixture.h"

namespace trimora::test {
namespace {

class SplitTest : public JobFixture {
protected:
    using Files = std::vector<std::vector<int>>;
};

TEST_F(SplitTest, SplitFrameCloserThanFourFramesToAnEndShowsMessage0) {
    LoadAndOpen();  // 100 frames
    for (int frame : {1, 3, 97, 100}) {
        SetMarks(frame, 50);
        engine.log.Clear();
        platform.messages.clear();
        window->cmdSplit->click();
        EXPECT_EQ(platform.MessageTexts(), QStringList{Message(0)}) << frame;
        EXPECT_TRUE(engine.log.With("out.").empty()) << frame;
        EXPECT_TRUE(window->cmdSplit->isEnabled());
        EXPECT_TRUE(window->ProgressBar1->isHidden());
    }
}

TEST_F(SplitTest, NoInputLeavesTheSlidersAtOneAndStopsWithMessage0) {
    Load();
    window->cmdSplit_Click();
    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(0)});
}

TEST_F(SplitTest, EveryFrameLandsInOneFileWithTheSplitFrameFirstInTheSecond) {
    LoadAndOpen();
    for (int split : {4, 50, 96}) {
        SetMarks(split, 30);
        engine.log.Clear();
        platform.messages.clear();
        window->cmdSplit->click();
        EXPECT_EQ(FramesPerFile(), (Files{Range(1, split - 1), Range(split, 100)})) << split;
        EXPECT_EQ(platform.MessageTexts(), QStringList{Message(20)}) << split;
    }
}

TEST_F(SplitTest, TheFirstFileIsClosedBeforeTheReaderGoesBackToTheSplitFrame) {
    LoadAndOpen();
    SetMarks(50, 30);
    QString captionPart1, captionPart2;
    During([&] { return reader().currentFrame == 20; }, [&] { captionPart1 = window->LabelPart->Caption(); });
    During([&] { return reader().currentFrame == 80; }, [&] { captionPart2 = window->LabelPart->Caption(); });
    engine.log.Clear();
    window->cmdSplit->click();

    const auto& log = engine.log;
    const long start = log.IndexOf("in.SeekToPosition(0)");
    const long create1 = log.IndexOf("out.CreateOutputFile(/videos/clip_1.avi,1)");
    const long close1 = log.IndexOf("out.Close()", create1);
    const long seek = log.IndexOf("in.SeekToFrame(50)", create1);
    const long create2 = log.IndexOf("out.CreateOutputFile(/videos/clip_2.avi,1)");
    ASSERT_GE(start, 0);
    EXPECT_LT(start, create1);
    EXPECT_LT(log.IndexOf("out.AppendVideoFrame(49)"), close1);
    EXPECT_LT(close1, seek);
    EXPECT_LT(seek, create2);
    EXPECT_LT(create2, log.IndexOf("out.AppendVideoFrame(50)"));
    EXPECT_EQ(log.Count("out.CreateOutputFile"), 2);
    // Each file's settings are applied again before it is created.
    EXPECT_EQ(log.Count("out.SetAviVideoParameters"), 2);

    EXPECT_EQ(captionPart1, Message(5));
    EXPECT_EQ(captionPart2, Message(6));
    EXPECT_EQ(window->LabelPart->Caption(), "");
    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(20)});
    EXPECT_EQ(window->SliderTimePosition2->Value(), 30);
    EXPECT_EQ(window->SliderTimePosition1->Value(), 50);
    EXPECT_TRUE(window->ProgressBar1->isHidden());
    EXPECT_EQ(window->ProgressBar1->value(), 0);
    EXPECT_TRUE(window->cmdCut->isEnabled());
    EXPECT_TRUE(window->cmdSplit->isEnabled());
    EXPECT_FALSE(window->cmdCancel->isEnabled());
    EXPECT_FALSE(window->UpdatingSliders);
}

TEST_F(SplitTest, ThePreviewEndsOnTheFrameTheWindowHolds) {
    LoadAndOpen();
    SetMarks(50, 30);  // mark 2 changed last: its frame is on screen
    const int held = FrameNumberOf(window->FrameData_);
    ASSERT_EQ(held, 30);
    window->cmdSplit->click();
    EXPECT_EQ(FrameNumberOf(window->FrameData_), held);
    EXPECT_EQ(engine.view->shown.back(), held);
    // The split moves only slider 2, without seeking: no mark's frame was read again.
    EXPECT_EQ(engine.log.IndexOf("in.SeekToFrame(30)", engine.log.IndexOf("in.SeekToPosition(0)")), -1);
}

TEST_F(SplitTest, Slider2TravelsAcrossTheWholeInputAndReturns) {
    LoadAndOpen();
    SetMarks(50, 30);
    auto& values = Watch(window->SliderTimePosition2);
    window->cmdSplit->click();
    ASSERT_GT(values.size(), 50u);
    EXPECT_EQ(values.back(), 30);
    EXPECT_EQ(*std::max_element(values.begin(), values.end()), 100);
    EXPECT_LT(values.front(), 5);
}

TEST_F(SplitTest, CancelDuringPart2KeepsBothFilesAndRestoresTheWindow) {
    LoadAndOpen();
    SetMarks(50, 30);
    CancelAtFrame(70);
    window->cmdSplit->click();
    const auto files = FramesPerFile();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0], Range(1, 49));
    // The cancel is seen at the end of the cycle after the click: at most one more frame.
    ASSERT_GE(files[1].size(), 21u);
    EXPECT_EQ(std::vector<int>(files[1].begin(), files[1].begin() + 21), Range(50, 70));
    EXPECT_LE(files[1].back(), 71);
    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(21)});
    EXPECT_GE(engine.log.IndexOf("out.Close()", engine.log.IndexOf("out.AppendVideoFrame(70)")), 0);
    EXPECT_EQ(window->LabelPart->Caption(), "");
    EXPECT_EQ(window->SliderTimePosition2->Value(), 30);
    EXPECT_FALSE(window->cmdCancel->isEnabled());
    EXPECT_TRUE(window->cmdSplit->isEnabled());
}

TEST_F(SplitTest, CancelDuringPart1PreparesNoSecondFile) {
    LoadAndOpen();
    SetMarks(50, 30);
    CancelAtFrame(10);
    window->cmdSplit->click();
    EXPECT_EQ(engine.log.Count("out.CreateOutputFile"), 1);
    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(21)});
    EXPECT_TRUE(engine.log.Has("out.Close()"));
}

TEST_F(SplitTest, ProgressBarRunsOncePerPart) {
    LoadAndOpen(1000, 40000);
    SetMarks(200, 30);
    std::map<int, int> progressAtFrame;
    During(
        [&] {
            progressAtFrame[reader().currentFrame] = window->ProgressBar1->value();
            return false;
        },
        [] {});
    window->cmdSplit->click();
    EXPECT_EQ(progressAtFrame[50], 25);   // 5000 / 200
    EXPECT_EQ(progressAtFrame[600], 50);  // 40000 / 801 = 49.94
    EXPECT_EQ(progressAtFrame[1000], 100);
    EXPECT_EQ(FramesPerFile(), (Files{Range(1, 199), Range(200, 1000)}));
}

TEST_F(SplitTest, InputWithoutSoundCopiesOnlyVideoAndSlider2ReachesItsEnd) {
    LoadAndOpen(100, 4000, false);
    SetMarks(50, 30);
    auto& values = Watch(window->SliderTimePosition2);
    engine.log.Clear();
    window->cmdSplit->click();
    EXPECT_EQ(FramesPerFile(), (Files{Range(1, 49), Range(50, 100)}));
    EXPECT_EQ(engine.log.Count("out.AppendAudioBlock"), 0);
    EXPECT_EQ(engine.log.Count("in.ReadNextAudioBlock"), 1);
    EXPECT_EQ(*std::max_element(values.begin(), values.end()), 100);
    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(20)});
}

TEST_F(SplitTest, AThreeHourInputSplitsWithoutOverflow) {
    // 400 frames of 27.5 s: both positions pass 10,737 s, where a 32-bit sum times 100 overflows.
    UseThreeHourInput(400);
    Load();
    Open();
    SetMarks(200, 30);
    platform.messages.clear();
    auto& values = Watch(window->SliderTimePosition2);
    window->cmdSplit->click();
    EXPECT_EQ(platform.MessageTexts(), QStringList{Message(20)});
    EXPECT_EQ(FramesPerFile(), (Files{Range(1, 199), Range(200, 400)}));
    EXPECT_EQ(*std::max_element(values.begin(), values.end()), 400);
}

TEST_F(SplitTest, ASecondFileThatCannotBeCreatedEndsWithMessage1) {
    LoadAndOpen();
    SetMarks(50, 30);
    During([&] { return reader().currentFrame >= 40; },
           [&] { engine.failures["out.CreateOutputFile"] = "Permission denied"; });
    window->cmdSplit->click();
    EXPECT_EQ(platform.MessageTexts(), (QStringList{"Permission denied", Message(1) + " Permission denied"}));
    EXPECT_EQ(FramesPerFile().front(), Range(1, 49));
    EXPECT_EQ(engine.log.IndexOf("out.AppendVideoFrame(50)"), -1);
    EXPECT_TRUE(window->cmdSplit->isEnabled());
    EXPECT_FALSE(window->JobRunning);
    EXPECT_FALSE(reader().decodingInBackground);
    EXPECT_GT(engine.log.IndexOf("in.DecodeInBackground(false)"), engine.log.IndexOf("in.DecodeInBackground(true)"));
}

}  // namespace
}  // namespace trimora::test
