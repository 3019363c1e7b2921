// Playback from a mark on the scripted engine: the calls that start it, the pacing of the picture
// against the tick clock, sound refills, the ways it stops, and the idle logo.
#include <QCoreApplication>
#include <QFile>
#include <QMetaObject>
#include <QTest>
#include <initializer_list>

#include "support/WindowFixture.h"

namespace trimora::test {
namespace {

std::vector<std::string> Repeat(const std::string& call, int times) { return std::vector<std::string>(times, call); }

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

class PlaybackTest : public WindowFixture {
protected:
    // Starts the window and opens the fake input (100 frames of 40 ms, stereo 48 kHz sound).
    frmMain& OpenInput() {
        frmMain& w = Load();
        // The open runs the window's events: the window is never painted here, so the pictures
        // counted are the ones playback shows and not a repaint's.
        w.setUpdatesEnabled(false);
        Open();
        return w;
    }

    void PressPlayStop() { window->cmdPlayStop->click(); }

    // One Timer1 tick with the clock `ms` after playback started.
    void TickAt(int64_t ms) {
        platform.tick = static_cast<uint32_t>(static_cast<uint32_t>(window->PlayStartTick) + ms);
        window->Timer1_Timer();
    }

    // One Timer1 tick delivered the way the timer delivers it, through the window's error guard.
    void TimerFires() { ASSERT_TRUE(QMetaObject::invokeMethod(window->Timer1, "timeout", Qt::DirectConnection)); }

    // The logged calls that start with one of the prefixes, in order.
    std::vector<std::string> Calls(std::initializer_list<std::string> prefixes) const {
        std::vector<std::string> out;
        for (const auto& call : engine.log.calls)
            for (const auto& prefix : prefixes)
                if (call.rfind(prefix, 0) == 0) {
                    out.push_back(call);
                    break;
                }
        return out;
    }

    std::vector<QWidget*> StepButtons() const {
        return {window->cmdPrevFrame, window->cmdNextFrame, window->cmdPrevFrame2, window->cmdNextFrame2};
    }
};

// ---- starting -----------------------------------------------------------------------------------

TEST_F(PlaybackTest, StartSeeksPreparesPrefetchesBeginsThenQueuesInThatOrder) {
    frmMain& w = OpenInput();
    w.PlayPosition[1] = 1000;
    engine.log.Clear();
    PressPlayStop();

    // Stereo 48 kHz: 2 x 480000 bytes would take 209 blocks of 4608, so the 100-block limit ends
    // the prefetch, and every block read is queued once the player has begun.
    const auto expected = Join({
        {"in.SeekToPosition(1000)", "in.Width()", "in.Height()", "view.PrepareForPlayback(176,144)", "in.Channels()",
         "player.AmountForDuration(2500)"},
        Repeat("in.ReadNextAudioBlock(0)", 100),
        {"player.BeginPlaying()"},
        Repeat("player.QueueBlock(4608)", 100),
        {"in.FrameRate()"},
    });
    EXPECT_EQ(Calls({"in.", "player.", "view."}), expected);
    EXPECT_TRUE(w.Playing);
    EXPECT_EQ(w.PlayStartTick, static_cast<int32_t>(platform.tick));
    EXPECT_TRUE(w.Timer1->isActive());
    EXPECT_EQ(w.cmdPlayStop->text(), "Stop");
    // Nothing is shown before the first tick finds the picture behind.
    EXPECT_EQ(engine.log.Count("in.ReadNextVideoFrame"), 0);
}

TEST_F(PlaybackTest, PrefetchStopsWhenChannelsTimesTwoAndAHalfSecondsAreRead) {
    engine.setUpFile = [](FakeMediaFile& file) {
        file.sampleRate = 8000;
        file.channels = 1;
    };
    OpenInput();
    engine.log.Clear();
    PressPlayStop();
    // 1 x 40000 bytes in blocks counted as 2303: the 18th block takes the remainder below zero.
    EXPECT_EQ(engine.log.Count("in.ReadNextAudioBlock"), 18);
    EXPECT_EQ(engine.player->blocksQueued, std::vector<size_t>(18, 2304));
}

TEST_F(PlaybackTest, PrefetchStopsAtTheEndOfTheSound) {
    engine.setUpFile = [](FakeMediaFile& file) { file.audioDuration = 100; };
    OpenInput();
    engine.log.Clear();
    PressPlayStop();
    // 100 ms of sound: four full blocks of 24 ms and a short one of 4 ms, then nothing.
    EXPECT_EQ(engine.log.Count("in.ReadNextAudioBlock"), 6);
    ASSERT_EQ(engine.player->blocksQueued.size(), 5u);
    EXPECT_EQ(engine.player->blocksQueued.back(), 768u);
}

TEST_F(PlaybackTest, TimerIntervalIsAFifthOfTheFramePeriodRoundedHalfEven) {
    const std::pair<double, int> cases[] = {{25, 8}, {29.97, 7}, {10, 20}};
    for (const auto& [rate, interval] : cases) {
        SCOPED_TRACE(rate);
        engine.setUpFile = [rate = rate](FakeMediaFile& file) { file.frameRate = rate; };
        frmMain& w = OpenInput();
        PressPlayStop();
        EXPECT_EQ(w.Timer1->interval(), interval);
        PressPlayStop();
        window.reset();
        engine.files.clear();
    }
}

TEST_F(PlaybackTest, WithoutASoundDeviceBlocksAreReadAndDroppedAndThePlayerIsLeftAlone) {
    engine.audioDevices = 0;
    frmMain& w = OpenInput();
    ASSERT_TRUE(w.NoAudioOutput);
    engine.log.Clear();
    PressPlayStop();
    EXPECT_EQ(engine.log.Count("in.ReadNextAudioBlock"), 100);
    TickAt(25);
    engine.player->handler->AudioPlayer_EndArrayPlay();
    engine.player->handler->AudioPlayer_EndPlay();
    PressPlayStop();
    EXPECT_FALSE(w.Playing);
    EXPECT_EQ(engine.log.Count("player.BeginPlaying"), 0);
    EXPECT_EQ(engine.log.Count("player.QueueBlock"), 0);
    EXPECT_EQ(engine.log.Count("player.Stop"), 0);
    EXPECT_EQ(engine.log.Count("in.ReadNextAudioBlock"), 100);  // the events read nothing more
    EXPECT_EQ(engine.view->shown, (std::vector<int>{1, 1}));    // the open's and the tick's
}

TEST_F(PlaybackTest, InputWithoutSoundPlaysPicturesOnly) {
    engine.setUpFile = [](FakeMediaFile& file) {
        file.hasAudio = false;
        file.sampleRate = 0;
        file.channels = 0;
        file.audioDuration = 0;
    };
    frmMain& w = OpenInput();
    engine.log.Clear();
    PressPlayStop();
    EXPECT_EQ(engine.log.Count("in.ReadNextAudioBlock"), 1);
    EXPECT_EQ(engine.log.Count("player.QueueBlock"), 0);
    for (int ms : {21, 61, 101}) TickAt(ms);
    EXPECT_EQ(engine.view->shown, (std::vector<int>{1, 1, 2, 3}));  // the first from the open
    EXPECT_TRUE(w.Playing);
    EXPECT_TRUE(platform.messages.empty());
}

// ---- pacing the picture ---------------------------------------------------------------------------

// After a long stall the picture catches up two seconds of frames a tick: the window keeps
// answering, and a stall of half an hour is no arithmetic error.
TEST_F(PlaybackTest, LongStallCatchesUpTwoSecondsOfFramesATick) {
    engine.setUpFile = [](FakeMediaFile& file) {
        file.numberOfFrames = 100000;
        file.videoDuration = 4000000;
        file.audioDuration = 4000000;
    };
    frmMain& w = OpenInput();
    PressPlayStop();
    engine.log.Clear();
    TimerFires();  // first tick on time
    platform.tick += 30 * 60 * 1000;
    TimerFires();
    EXPECT_TRUE(engine.log.Has("in.DropNotification(49)"));
    EXPECT_EQ(engine.log.Count("in.ReadNextVideoFrame"), 50);
    EXPECT_TRUE(w.Playing);
    EXPECT_TRUE(platform.messages.empty());
    TimerFires();
    EXPECT_EQ(engine.log.Count("in.DropNotification(49)"), 2);
}

// At 25 frames per second, k = lag / 40 ms rounded half to even: 0.5 shows nothing, up to 1.5
// one frame, more drops k - 1 frames first.
TEST_F(PlaybackTest, TickShowsDropsOrWaitsByWholeFramePeriods) {
    struct Case {
        int lag;
        std::vector<std::string> calls;
    };
    const auto read = std::string("in.ReadNextVideoFrame()");
    const Case cases[] = {
        {-5, {}},
        {0, {}},
        {20, {}},
        {21, {read, "view.ShowFrame(26)"}},
        {59, {read, "view.ShowFrame(26)"}},
        {60, {"in.DropNotification(1)", read, read, "view.ShowFrame(27)"}},
        {100, {"in.DropNotification(1)", read, read, "view.ShowFrame(27)"}},  // 2.5 rounds to 2
        {140, {"in.DropNotification(3)", read, read, read, read, "view.ShowFrame(29)"}},  // 3.5 to 4
    };
    frmMain& w = OpenInput();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lag);
        w.PlayPosition[1] = 1000;  // frame 26 comes next
        PressPlayStop();
        engine.log.Clear();
        TickAt(c.lag);
        EXPECT_EQ(Calls({"in.DropNotification", "in.ReadNextVideoFrame", "view.ShowFrame"}), c.calls);
        PressPlayStop();
    }
}

TEST_F(PlaybackTest, PictureKeepsPaceFrameByFrameWithASteadyClock) {
    frmMain& w = OpenInput();
    w.PlayPosition[1] = 0;
    PressPlayStop();
    engine.view->shown.clear();
    // One tick every 8 ms for a second: frames 1 to 25, none dropped, none shown twice.
    for (int ms = 0; ms <= 1000; ms += 8) TickAt(ms);
    std::vector<int> expected;
    for (int frame = 1; frame <= 25; ++frame) expected.push_back(frame);
    EXPECT_EQ(engine.view->shown, expected);
    EXPECT_EQ(engine.log.Count("in.DropNotification"), 0);
    EXPECT_EQ(w.SliderTimePosition1->Value(), 24);  // the frame read before the one shown
    EXPECT_EQ(w.LabelS->Caption().right(3), " ~1");
}

TEST_F(PlaybackTest, TickClockWrappingDuringPlaybackKeepsThePace) {
    for (uint32_t start : {0xFFFFFFF0u, 0x7FFFFFF0u}) {
        SCOPED_TRACE(start);
        frmMain& w = OpenInput();
        platform.tick = start;
        PressPlayStop();
        engine.view->shown.clear();
        TickAt(30);  // past the wrap
        TickAt(70);
        EXPECT_EQ(engine.view->shown, (std::vector<int>{1, 2}));
        EXPECT_TRUE(w.Playing);
        EXPECT_TRUE(platform.messages.empty());
        PressPlayStop();
        window.reset();
        engine.files.clear();
    }
}

// ---- stopping -----------------------------------------------------------------------------------

class PlaybackSliderTest : public PlaybackTest, public ::testing::WithParamInterface<int> {
protected:
    Slider* Played() const { return GetParam() == 1 ? window->SliderTimePosition1 : window->SliderTimePosition2; }
};

TEST_P(PlaybackSliderTest, ReachingTheLastFrameStopsAndGoesBackToFrameOne) {
    const int slider = GetParam();
    frmMain& w = OpenInput();
    w.SelectRow(w.cmbPlaySld, slider - 1);
    w.PlayPosition[slider] = 3920;  // frame 99 comes next
    PressPlayStop();
    engine.log.Clear();
    TickAt(25);
    TickAt(65);
    EXPECT_EQ(engine.view->shown.back(), 100);
    EXPECT_TRUE(w.Playing);
    EXPECT_EQ(Played()->Value(), 99);

    TickAt(105);
    EXPECT_FALSE(w.Playing);
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_EQ(Played()->Value(), 1);
    EXPECT_EQ(w.PlayPosition[slider], 1);
    EXPECT_EQ(engine.view->shown.back(), 1);
    EXPECT_EQ(w.cmdPlayStop->text(), "Play");
    EXPECT_EQ(Calls({"player.Stop", "view.PlaybackEnded", "in.SeekToPosition", "view.ShowFrame"}),
              (std::vector<std::string>{"view.ShowFrame(99)", "view.ShowFrame(100)", "player.Stop()",
                                        "view.PlaybackEnded()", "in.SeekToPosition(0)", "view.ShowFrame(1)"}));
    EXPECT_TRUE(platform.messages.empty());
}

TEST_P(PlaybackSliderTest, StopThenPlayResumesAfterTheLastFrameShown) {
    const int slider = GetParam();
    const int other = 3 - slider;
    frmMain& w = OpenInput();
    w.SelectRow(w.cmbPlaySld, slider - 1);
    w.PlayPosition[slider] = 400;  // frame 11 comes next
    w.PlayPosition[other] = 2000;
    PressPlayStop();
    for (int ms : {25, 65, 105}) TickAt(ms);
    EXPECT_EQ(engine.view->shown.back(), 13);
    EXPECT_EQ(Played()->Value(), 12);
    PressPlayStop();
    EXPECT_EQ(w.PlayPosition[slider], 520);  // the end of frame 13
    EXPECT_EQ(w.PlayPosition[other], 2000);

    engine.log.Clear();
    PressPlayStop();
    EXPECT_EQ(engine.log.With("in.SeekToPosition"), (std::vector<std::string>{"in.SeekToPosition(520)"}));
    TickAt(25);
    EXPECT_EQ(engine.view->shown.back(), 14);
}

INSTANTIATE_TEST_SUITE_P(BothMarks, PlaybackSliderTest, ::testing::Values(1, 2));

TEST_F(PlaybackTest, ReaderDeliveringNoFrameStopsPlayback) {
    frmMain& w = OpenInput();
    w.PlayPosition[1] = 400;
    PressPlayStop();
    reader().deliverNoFrames = true;
    engine.log.Clear();
    TickAt(25);
    EXPECT_FALSE(w.Playing);
    EXPECT_EQ(w.PlayPosition[1], 1);
    EXPECT_EQ(engine.log.Count("player.Stop"), 1);
    EXPECT_TRUE(platform.messages.empty());
}

// Play and Stop texts that are equal or missing must not make playback unstoppable.
TEST_F(PlaybackTest, PlayStopFollowsThePlayingStateWhateverTheCaptions) {
    const char* variants[] = {"29=Same\r\n30=Same\r\n", ""};
    for (const char* keys : variants) {
        SCOPED_TRACE(keys);
        {
            QFile file(programFolder + "/Languages/Same.ini");
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(QByteArray("[frmMain]\r\n0=Trimora\r\n") + keys + "[MSGX]\r\n9=Mark\r\n");
        }
        frmMain& w = OpenInput();
        w.SelectRow(w.LstLang, w.LstLang->findText("Same"));
        ASSERT_EQ(w.CurLang, "Same");
        const QString caption = w.GetFromINI("frmMain", "29");
        ASSERT_EQ(caption, w.GetFromINI("frmMain", "30"));

        PressPlayStop();
        EXPECT_TRUE(w.Playing);
        EXPECT_TRUE(w.Timer1->isActive());
        EXPECT_EQ(w.cmdPlayStop->text(), caption);
        PressPlayStop();
        EXPECT_FALSE(w.Playing);
        EXPECT_FALSE(w.Timer1->isActive());
        EXPECT_EQ(engine.log.Count("player.Stop"), 2);  // the open's reset and this press
        PressPlayStop();
        EXPECT_TRUE(w.Playing);
        PressPlayStop();
        EXPECT_FALSE(w.Playing);
        window.reset();
        engine.files.clear();
        engine.log.Clear();
    }
}

TEST_F(PlaybackTest, MarkControlsAndFrameStepsAreLockedWhilePlaying) {
    frmMain& w = OpenInput();
    const std::vector<QWidget*> locked = {w.cmdCut,  w.cmdSplit,     w.cmbPlaySld,   w.sldThum,      w.sldThum2,
                                          w.cmdPrevFrame, w.cmdNextFrame, w.cmdPrevFrame2, w.cmdNextFrame2};
    PressPlayStop();
    for (QWidget* control : locked) EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    // What playback leaves alone.
    for (QWidget* control : std::initializer_list<QWidget*>{w.cmdSavePictureAs, w.cmdFile, w.LstLang, w.cmdPlayStop})
        EXPECT_TRUE(control->isEnabled()) << control->objectName().toStdString();

    engine.log.Clear();
    for (QWidget* button : StepButtons()) static_cast<QPushButton*>(button)->click();
    QTest::keyClick(w.sldThum, Qt::Key_Right);
    QTest::keyClick(w.sldThum2, Qt::Key_Left);
    EXPECT_EQ(engine.log.Count("in.SeekToFrame"), 0);  // nothing moved the reader under the clock

    PressPlayStop();
    for (QWidget* control : locked) EXPECT_TRUE(control->isEnabled()) << control->objectName().toStdString();
    w.cmdNextFrame->click();
    EXPECT_EQ(engine.log.Count("in.SeekToFrame"), 1);
}

// ---- failures during playback --------------------------------------------------------------------------

TEST_F(PlaybackTest, FailingFrameReadOnATickStopsOnceWithOneMessage) {
    frmMain& w = OpenInput();
    PressPlayStop();
    engine.failures["in.ReadNextVideoFrame"] = "The decoder gave up";
    platform.tick = static_cast<uint32_t>(w.PlayStartTick) + 100;
    TimerFires();
    // A timer still running would fire several times meanwhile, failing again each time.
    QTest::qWait(60);
    EXPECT_EQ(platform.MessageTexts(), QStringList{"The decoder gave up"});
    EXPECT_FALSE(w.Playing);
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_EQ(engine.log.Count("player.Stop"), 2);  // the open's reset and this stop
    EXPECT_EQ(engine.log.Count("view.PlaybackEnded"), 2);
    EXPECT_EQ(w.cmdPlayStop->text(), "Play");
    for (QWidget* button : StepButtons()) EXPECT_TRUE(button->isEnabled());
}

TEST_F(PlaybackTest, FailureWhileMovingThePlayedSliderLeavesTheMarksWorking) {
    frmMain& w = OpenInput();
    PressPlayStop();
    engine.failures["in.CurrentFrameNumber"] = "Lost the position";
    platform.tick = static_cast<uint32_t>(w.PlayStartTick) + 30;
    TimerFires();
    engine.failures.clear();
    EXPECT_EQ(platform.MessageTexts(), QStringList{"Lost the position"});
    EXPECT_FALSE(w.Playing);
    EXPECT_FALSE(w.UpdatingSliders);
    // A step seeks and shows again, as it did before playback.
    engine.log.Clear();
    w.cmdNextFrame->click();
    EXPECT_EQ(engine.log.With("in.SeekToFrame"), (std::vector<std::string>{"in.SeekToFrame(2)"}));
    EXPECT_EQ(engine.view->shown.back(), 2);
}

TEST_F(PlaybackTest, FailingRefillStopsOnceWithOneMessage) {
    frmMain& w = OpenInput();
    PressPlayStop();
    engine.failures["in.ReadNextAudioBlock"] = "Sound stream broken";
    engine.player->played = engine.player->queued;  // nothing left waiting
    engine.player->handler->AudioPlayer_EndArrayPlay();
    EXPECT_EQ(platform.MessageTexts(), QStringList{"Sound stream broken"});
    EXPECT_FALSE(w.Playing);
    EXPECT_FALSE(w.Timer1->isActive());
}

// ---- sound refills --------------------------------------------------------------------------------

TEST_F(PlaybackTest, RefillWaitsWhileMoreThanTwoSecondsAreQueued) {
    engine.setUpFile = [](FakeMediaFile& file) { file.audioDuration = 60000; };
    OpenInput();
    FakeAudioPlayer& player = *engine.player;
    player.queued = 192 * 2001 + 5000;  // 48 kHz stereo: 192 bytes per millisecond
    player.played = 5000;
    engine.log.Clear();
    player.handler->AudioPlayer_EndArrayPlay();
    EXPECT_EQ(engine.log.Count("in.ReadNextAudioBlock"), 0);
    EXPECT_EQ(engine.log.Count("player.QueueBlock"), 0);

    player.queued = 192 * 2000 + 5000;
    engine.log.Clear();
    player.handler->AudioPlayer_EndArrayPlay();
    // 9 s would be 375 blocks: at most 101 are read, each queued as it comes.
    EXPECT_EQ(Calls({"in.ReadNextAudioBlock", "player.QueueBlock"}).size(), 202u);
    EXPECT_EQ(engine.log.IndexOf("player.QueueBlock(4608)"), engine.log.IndexOf("in.ReadNextAudioBlock(0)") + 1);
    EXPECT_TRUE(engine.log.Has("player.AmountForDuration(9000)"));
}

TEST_F(PlaybackTest, RefillStopsWhenTheNineSecondBudgetIsSpentOrTheSoundEnds) {
    engine.setUpFile = [](FakeMediaFile& file) {
        file.audioDuration = 60000;
        file.sampleRate = 8000;
        file.channels = 1;
    };
    OpenInput();
    engine.log.Clear();
    engine.player->handler->AudioPlayer_EndArrayPlay();
    // 144000 bytes in blocks counted as 2303: the 63rd spends the budget. No channel factor.
    EXPECT_EQ(engine.log.Count("in.ReadNextAudioBlock"), 63);
    EXPECT_EQ(engine.player->blocksQueued.size(), 63u);

    reader().audioDuration = 63 * 144 + 2 * 144 + 32;
    engine.player->played = engine.player->queued;  // all of it played
    engine.player->blocksQueued.clear();
    engine.log.Clear();
    engine.player->handler->AudioPlayer_EndArrayPlay();
    EXPECT_EQ(engine.player->blocksQueued, (std::vector<size_t>{2304, 2304, 512}));  // the last 32 ms
    EXPECT_EQ(engine.log.Count("in.ReadNextAudioBlock"), 4);
}

TEST_F(PlaybackTest, EndOfSoundStopsThePlayer) {
    OpenInput();
    engine.log.Clear();
    engine.player->handler->AudioPlayer_EndPlay();
    EXPECT_EQ(engine.log.With("player."), (std::vector<std::string>{"player.Stop()"}));
}

// ---- idle logo ------------------------------------------------------------------------------------

TEST_F(PlaybackTest, IdleLogoMovesFifteenTwipsAndTurnsAtBothEdges) {
    frmMain& w = Load();
    const float width = w.lblLogo->Width();
    const float right = w.picScreen->Width() - width;
    auto expectLines = [&] {
        for (LineControl* line : {w.Line1, w.Line2}) {
            EXPECT_FLOAT_EQ(line->X1, w.lblLogo->Left() + 30);
            EXPECT_FLOAT_EQ(line->X2, w.lblLogo->Left() + width - 30);
        }
    };

    w.lblLogo->SetLeft(right - 20);
    w.LogoDirection = 1;
    w.Timer2_Timer();
    EXPECT_FLOAT_EQ(w.lblLogo->Left(), right - 5);
    EXPECT_EQ(w.LogoDirection, 1);
    expectLines();
    w.Timer2_Timer();  // its right edge passes picScreen's
    EXPECT_FLOAT_EQ(w.lblLogo->Left(), right + 10);
    EXPECT_EQ(w.LogoDirection, -1);
    w.Timer2_Timer();
    EXPECT_FLOAT_EQ(w.lblLogo->Left(), right - 5);
    expectLines();

    w.lblLogo->SetLeft(20);
    w.Timer2_Timer();
    EXPECT_FLOAT_EQ(w.lblLogo->Left(), 5);
    EXPECT_EQ(w.LogoDirection, -1);
    w.Timer2_Timer();  // below 0
    EXPECT_FLOAT_EQ(w.lblLogo->Left(), -10);
    EXPECT_EQ(w.LogoDirection, 1);
    w.Timer2_Timer();
    EXPECT_FLOAT_EQ(w.lblLogo->Left(), 5);
    expectLines();
}

TEST_F(PlaybackTest, OpeningAnInputStopsTheIdleLogo) {
    frmMain& w = Load();
    EXPECT_TRUE(w.Timer2->isActive());
    Open();
    EXPECT_FALSE(w.Timer2->isActive());
    EXPECT_FALSE(w.picScreen->isVisible());
}

}  // namespace
}  // namespace trimora::test
