// Opening an input on the scripted engine: what the window shows, the suggested names, and the
// way back after a failed open.
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "support/WindowFixture.h"

namespace trimora::test {
namespace {

const char* const kMovieFilter =
    "All Movie Files |*.avi;*.mpg;*.mpeg;*.wmv;*.wma;*.asf;*.mov;*.qt|AVI Files (*.avi)|*.avi|Mpeg files (*.mpg, "
    "*.mpeg)|*.mpg; *.mpeg|Windows Media files (*.wmv, *.wma, *.asf)|*.wmv; *.wma; *.asf|Quick Time Files (*.mov, "
    "*.qt)|*.mov; *.qt|";

class OpenInputTest : public WindowFixture {};

TEST_F(OpenInputTest, OpenDialogAsksWithItsTitleAndFilterAndOpensTheChoice) {
    frmMain& w = Load();
    platform.dialogAnswers.push_back(FileDialogAnswer{"/videos/holiday.avi", 2});
    QTest::mouseClick(w.cmdFile, Qt::LeftButton);
    ASSERT_EQ(platform.dialogRequests.size(), 1u);
    const FileDialogRequest& request = platform.dialogRequests[0];
    EXPECT_EQ(request.mode, FileDialogMode::Open);
    EXPECT_EQ(request.title, "Open Video File");
    EXPECT_EQ(request.filter, kMovieFilter);
    EXPECT_EQ(request.filterIndex, 1);
    EXPECT_TRUE(request.fileName.isEmpty());
    EXPECT_TRUE(engine.log.Has("in.OpenForReading(/videos/holiday.avi)"));
    EXPECT_TRUE(w.FileLoaded);
}

// The Open and Save As dialogs start in the folder of the file last chosen, also after a restart.
TEST_F(OpenInputTest, TheDialogsStartInTheFolderLastUsedAlsoAfterARestart) {
    const QString first = temp.path() + "/first videos", second = temp.path() + "/second videos";
    QDir().mkpath(first);
    QDir().mkpath(second);
    frmMain& w = Load();
    QTest::mouseClick(w.cmdFile, Qt::LeftButton);  // cancelled
    platform.dialogAnswers.push_back(FileDialogAnswer{first + "/a.avi", 1});
    QTest::mouseClick(w.cmdFile, Qt::LeftButton);
    platform.dialogAnswers.push_back(FileDialogAnswer{second + "/out.avi", 1});
    QTest::mouseClick(w.cmdOutFile, Qt::LeftButton);
    ASSERT_EQ(platform.dialogRequests.size(), 3u);
    EXPECT_EQ(platform.dialogRequests[1].folder, platform.dialogRequests[0].folder);
    EXPECT_EQ(platform.dialogRequests[2].folder, first);

    window->close();
    platform.dialogRequests.clear();
    Load();
    QTest::mouseClick(window->cmdFile, Qt::LeftButton);
    ASSERT_EQ(platform.dialogRequests.size(), 1u);
    EXPECT_EQ(platform.dialogRequests[0].folder, second);
    EXPECT_TRUE(platform.dialogRequests[0].fileName.isEmpty());
}

TEST_F(OpenInputTest, CancellingTheOpenDialogKeepsTheOpenInput) {
    frmMain& w = Load();
    Open("/videos/first.avi");
    engine.log.Clear();
    QTest::mouseClick(w.cmdFile, Qt::LeftButton);  // no answer queued: cancel
    EXPECT_TRUE(engine.log.With("in.").empty());
    EXPECT_TRUE(w.FileLoaded);
    EXPECT_EQ(w.txtFile->text(), "/videos/first.avi");
}

TEST_F(OpenInputTest, SuccessfulOpenFillsTheWindow) {
    engine.setUpFile = [](FakeMediaFile& f) {
        f.frameRate = 29.97;
        f.numberOfFrames = 250;
        f.videoDuration = 8342;
    };
    frmMain& w = Load();
    Open("/home/ann.lee/clip.avi");
    EXPECT_EQ(w.txtFile->text(), "/home/ann.lee/clip.avi");
    EXPECT_EQ(w.EdOutFile->text(), "/home/ann.lee/clip_1.avi");
    EXPECT_EQ(w.EdOutFile2->text(), "/home/ann.lee/clip_2.avi");
    const auto& m = w.Messages;
    EXPECT_EQ(w.EdInfoVideo->Text(), m[10] + "\tFake Video\r\n" + m[11] + "\t8342\r\n" + m[12] + "\t1200\r\n" + m[13] +
                                         "\t29.97\r\n" + m[14] + "\t250\r\n" + m[15] + "\t176*144");
    EXPECT_EQ(w.EdInfoAudio->Text(), m[10] + "\tFake PCM\r\n" + m[11] + "\t4000\r\n" + m[12] + "\t1536\r\n" + m[16] +
                                         "\t48000\r\n" + m[17] + "\t16\r\n" + m[18] + "\t2");
    EXPECT_EQ(w.LabelT->Caption(), m[22] + "\r8342 " + m[8] + "\r" + m[23] + "\r250");
    EXPECT_EQ(w.SliderTimePosition1->Max(), 250);
    EXPECT_EQ(w.SliderTimePosition2->Max(), 250);
    EXPECT_EQ(w.SliderTimePosition1->Value(), 1);
    EXPECT_EQ(w.SliderTimePosition2->Value(), 1);
    EXPECT_FLOAT_EQ(w.sldThum->Left(), w.sldBack->Left());
    EXPECT_FLOAT_EQ(w.sldThum2->Left(), w.sldBack2->Left());
    EXPECT_EQ(w.cmdPlayStop->text(), "Play");
    EXPECT_TRUE(w.cmdPlayStop->isEnabled());
    EXPECT_TRUE(w.cmdSavePictureAs->isEnabled());
    EXPECT_TRUE(w.sldThum->isEnabled());
    EXPECT_TRUE(w.cmbVideoSize->isEnabled());
    EXPECT_FALSE(w.cmdCancel->isEnabled());
    EXPECT_FALSE(w.Timer2->isActive());
    EXPECT_FALSE(w.picScreen->isVisibleTo(&w));
    EXPECT_EQ(w.PlayPosition[1], 0);  // set to 1, then stopping playback stores the reader's position
    EXPECT_EQ(engine.view->shown.back(), 1);
    EXPECT_EQ(w.PrevOpenedFile, "/home/ann.lee/clip.avi");
    EXPECT_TRUE(engine.log.Has("player.SetPlaybackFormat(48000,2)"));
    EXPECT_EQ(engine.log.IndexOf("player.FollowUp(0)"), engine.log.IndexOf("player.SetPlaybackFormat(48000,2)") + 1);
}

TEST_F(OpenInputTest, FrameRateIsWrittenInTheGeneralNumberForm) {
    engine.setUpFile = [](FakeMediaFile& f) { f.frameRate = 25; };
    frmMain& w = Load();
    Open();
    EXPECT_TRUE(w.EdInfoVideo->Text().contains(w.Messages[13] + "\t25\r\n"));
}

TEST_F(OpenInputTest, SuggestedNamesFollowTheFileNameNotTheFolders) {
    frmMain& w = Load();
    Open("/data/my.clips/a.avi");
    EXPECT_EQ(w.EdOutFile->text(), "/data/my.clips/a_1.avi");
    Open("/data/my.clips/noextension");
    EXPECT_EQ(w.EdOutFile->text(), "/data/my.clips/noextension_1.avi");
    EXPECT_EQ(w.EdOutFile2->text(), "/data/my.clips/noextension_2.avi");
    w.ConvertTo(1);
    Open("C:\\clips\\holiday.avi");
    EXPECT_EQ(w.EdOutFile->text(), "C:\\clips\\holiday_1.mpeg");
    EXPECT_EQ(w.EdOutFile2->text(), "C:\\clips\\holiday_2.mpeg");
}

TEST_F(OpenInputTest, InputWithoutSoundOpensWithAnEmptyAudioBoxAndStillSetsThePlayerFormat) {
    engine.setUpFile = [](FakeMediaFile& f) {
        f.hasAudio = false;
        f.sampleRate = 0;
        f.channels = 0;
    };
    frmMain& w = Load();
    Open();
    EXPECT_TRUE(w.FileLoaded);
    EXPECT_TRUE(w.EdInfoAudio->Text().isEmpty());
    EXPECT_TRUE(engine.log.Has("player.SetPlaybackFormat(0,0)"));
}

TEST_F(OpenInputTest, InputWithoutVideoIsRefusedWithItsMessage) {
    engine.setUpFile = [](FakeMediaFile& f) { f.hasVideo = false; };
    frmMain& w = Load();
    Open("/music/song.wma");
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].first, w.Messages[25]);
    EXPECT_EQ(platform.messages[0].second, MessageIcon::Critical);
    EXPECT_FALSE(w.FileLoaded);
    EXPECT_EQ(w.txtFile->text(), "Select Input Video File");
    EXPECT_TRUE(w.EdInfoVideo->Text().isEmpty());
    EXPECT_TRUE(w.Timer2->isActive());
    EXPECT_TRUE(w.picScreen->isVisibleTo(&w));
    EXPECT_FALSE(w.cmdSavePictureAs->isEnabled());
    EXPECT_FALSE(w.sldThum->isEnabled());
    EXPECT_TRUE(engine.log.Has("view.Clear()"));
    EXPECT_TRUE(w.PrevOpenedFile.isEmpty());
}

TEST_F(OpenInputTest, FailedSecondOpenReturnsToTheFirstInput) {
    frmMain& w = Load();
    Open("/videos/first.avi");
    w.SliderTimePosition1->SetValue(40);
    w.SliderTimePosition2->SetValue(70);
    const QString firstInfo = w.EdInfoVideo->Text();
    reader().unreadablePaths.insert("/videos/broken.avi");
    Open("/videos/broken.avi");
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].first, "Cannot open /videos/broken.avi");
    EXPECT_TRUE(w.FileLoaded);
    EXPECT_EQ(w.txtFile->text(), "/videos/first.avi");
    EXPECT_EQ(w.EdOutFile->text(), "/videos/first_1.avi");
    EXPECT_EQ(w.EdInfoVideo->Text(), firstInfo);
    EXPECT_EQ(w.SliderTimePosition1->Value(), 1);
    EXPECT_EQ(w.SliderTimePosition2->Value(), 1);
    EXPECT_EQ(w.PrevOpenedFile, "/videos/first.avi");
    EXPECT_EQ(reader().openPath, "/videos/first.avi");
}

// A long open leaves the window answering: the bar shows the share read, whatever would start
// another open, a job or playback is locked, and Cancel returns to the first input without a
// message. Closing the window during an open stops it and closes the window.
TEST_F(OpenInputTest, ALongOpenShowsItsProgressAndCancelReturnsToTheFirstInput) {
    frmMain& w = Load();
    Open("/videos/first.avi");
    reader().slowOpens["/videos/long.avi"] = 20000;  // some 20 s when nobody stops it
    std::vector<int> seen;
    bool locked = true;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (w.ProgressBar1->isHidden() || seen.size() >= 3) return;  // what follows Cancel is the way back
        if (seen.empty() || seen.back() != w.ProgressBar1->value()) seen.push_back(w.ProgressBar1->value());
        locked = locked && !w.cmdFile->isEnabled() && !w.cmdCut->isEnabled() && !w.cmdSplit->isEnabled() &&
                 !w.cmdPlayStop->isEnabled() && !w.sldThum->isEnabled() && w.cmdCancel->isEnabled();
        if (seen.size() == 3) QTest::mouseClick(w.cmdCancel, Qt::LeftButton);
    });
    watcher.start(5);
    Open("/videos/long.avi");
    watcher.stop();
    ASSERT_GE(seen.size(), 3u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_LT(seen.back(), 100);
    EXPECT_TRUE(locked);
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_TRUE(w.FileLoaded);
    EXPECT_EQ(w.txtFile->text(), "/videos/first.avi");
    EXPECT_EQ(w.PrevOpenedFile, "/videos/first.avi");
    EXPECT_EQ(reader().openPath, "/videos/first.avi");
    EXPECT_LT(engine.log.IndexOf("in.OpenForReading(/videos/long.avi)"),
              engine.log.IndexOf("in.OpenForReading(/videos/first.avi)", engine.log.IndexOf("in.OpenForReading(/videos/long.avi)")));
    EXPECT_TRUE(w.ProgressBar1->isHidden());
    EXPECT_TRUE(w.cmdFile->isEnabled());
    EXPECT_TRUE(w.cmdCut->isEnabled());
    EXPECT_TRUE(w.cmdPlayStop->isEnabled());
    EXPECT_FALSE(w.cmdCancel->isEnabled());

    // Closing the window while the input opens.
    engine.log.Clear();
    QTimer::singleShot(50, &w, [&] { w.close(); });
    Open("/videos/long.avi");
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_EQ(engine.log.Count("in.OpenForReading"), 1);  // the first input is not opened again
}

TEST_F(OpenInputTest, ReopeningThePreviousInputIsTriedOnce) {
    frmMain& w = Load();
    Open("/videos/first.avi");
    reader().unreadablePaths = {"/videos/first.avi", "/videos/broken.avi"};
    Open("/videos/broken.avi");
    EXPECT_EQ(platform.messages.size(), 2u);  // the failed input, then the failed return to the first
    EXPECT_FALSE(w.FileLoaded);
    EXPECT_TRUE(w.PrevOpenedFile.isEmpty());
    EXPECT_EQ(w.txtFile->text(), "Select Input Video File");
    EXPECT_EQ(engine.log.Count("in.OpenForReading"), 3);
}

TEST_F(OpenInputTest, FailedOpenWhilePlayingStopsPlaybackFirst) {
    frmMain& w = Load();
    Open("/videos/first.avi");
    w.cmdPlayStop_Click();
    ASSERT_TRUE(w.Playing);
    reader().unreadablePaths = {"/videos/first.avi", "/videos/broken.avi"};
    Open("/videos/broken.avi");
    EXPECT_FALSE(w.Playing);
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_LT(engine.log.IndexOf("player.Stop()"), engine.log.IndexOf("in.OpenForReading(/videos/broken.avi)"));
}

TEST_F(OpenInputTest, OneFrameInputOpensWithBothThumbsAtTheLeftEnd) {
    engine.setUpFile = [](FakeMediaFile& f) {
        f.numberOfFrames = 1;
        f.videoDuration = 40;
    };
    frmMain& w = Load();
    Open();
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_TRUE(w.FileLoaded);
    EXPECT_FLOAT_EQ(w.sldThum->Left(), w.sldBack->Left());
    EXPECT_FLOAT_EQ(w.sldThum2->Left(), w.sldBack2->Left());
    QTest::mouseClick(w.cmdNextFrame, Qt::LeftButton);
    QTest::mouseClick(w.cmdPrevFrame2, Qt::LeftButton);
    EXPECT_EQ(w.SliderTimePosition1->Value(), 1);
    EXPECT_EQ(w.SliderTimePosition2->Value(), 1);
    EXPECT_TRUE(platform.messages.empty());
}

}  // namespace
}  // namespace trimora::test
