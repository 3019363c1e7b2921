// Playback from a mark with sound: sound is queued ahead in the audio player and refilled as it
// plays; the picture is paced by Timer1 against the tick clock. Also the idle logo of Timer2.
#include <algorithm>
#include <vector>

#include "app/Arithmetic.h"
#include "app/frmMain.h"

namespace trimora {

namespace {
// The size of a sound block as playback counts it: its upper bound.
int32_t BlockSize(const AudioBlock& block) { return static_cast<int32_t>(block.size()) - 1; }

// Milliseconds from `start` to `now` on the tick clock. The counter wraps (after 49.7 days, and
// it passes the signed limit after 24.8), so the difference is taken modulo 2^32: a playback that
// spans either moment keeps its pace instead of failing with an overflow.
int32_t TicksSince(int32_t start, uint32_t now) { return static_cast<int32_t>(now - static_cast<uint32_t>(start)); }

// Sets a flag for the lifetime of the scope, and clears it however the scope is left: a failing
// engine call must not leave the sliders believing the program is still moving them.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
};
}  // namespace

void frmMain::cmdPlayStop_Click() {
    PlaySlider = static_cast<int16_t>(cmbPlaySld->currentIndex() + 1);
    // Decided by the playing state, so equal or missing Play/Stop texts cannot make playback
    // unstoppable.
    if (!Playing) StartPlayback();
    else StopPlayback();
}

void frmMain::cmbPlaySld_Click() { Skin1->SkinControl(cmbPlaySld, "Button"); }

void frmMain::StartPlayback() {
    Try([&] { Playing = true; });
    Try([&] {
        cmdCut->setEnabled(false);
        cmdSplit->setEnabled(false);
        cmbPlaySld->setEnabled(false);
    });
    Try([&] {
        cmdPlayStop->setText(GetFromINI("frmMain", "30"));
        cmdPlayStop->repaint();
    });
    // The thumbs and the frame steps would move the reader under the playback clock.
    Try([&] {
        for (QWidget* w : std::initializer_list<QWidget*>{sldThum, sldThum2, cmdPrevFrame, cmdNextFrame, cmdPrevFrame2,
                                                          cmdNextFrame2})
            w->setEnabled(false);
    });
    Try([&] { VideoFileIn1->SeekToPosition(PlayPosition.at(static_cast<size_t>(PlaySlider))); });
    Try([&] {
        // Asked one after the other: the order of evaluating call arguments is unspecified.
        const int32_t width = VideoFileIn1->Width();
        const int32_t height = VideoFileIn1->Height();
        VideoView1->PrepareForPlayback(width, height);
    });

    std::vector<AudioBlock> prefetch(1);
    int n = 0;
    Try([&] {
        const int32_t channels = VideoFileIn1->Channels();
        int32_t remaining = CheckedMul(channels, AudioPlayer_->AmountForDuration(2500));
        for (int i = 1; i <= 100; ++i) {
            prefetch.resize(static_cast<size_t>(i) + 2);
            VideoFileIn1->ReadNextAudioBlock(0, prefetch[static_cast<size_t>(i)]);
            const int32_t size = BlockSize(prefetch[static_cast<size_t>(i)]);
            if (size <= 0) break;
            n = i + 1;
            remaining = CheckedSub(remaining, size);
            if (remaining <= 0) break;
        }
    });
    Try([&] {
        if (!NoAudioOutput) AudioPlayer_->BeginPlaying();
    });
    Try([&] { PlayStartTick = static_cast<int32_t>(platform_.TickCount()); });
    Try([&] {
        for (int j = 1; j <= n - 1; ++j) {
            if (!NoAudioOutput) AudioPlayer_->QueueBlock(prefetch[static_cast<size_t>(j)]);
            prefetch[static_cast<size_t>(j)].resize(1);
        }
    });
    Try([&] { prefetch.resize(1); });
    Try([&] { Timer1->setInterval(RoundToInt32(Divide(0.2 * 1000, VideoFileIn1->FrameRate()))); });
    Try([&] {
        // A coarse timer may fire a few milliseconds late on every tick, which the picture would
        // carry as extra lag behind the sound.
        Timer1->setTimerType(Qt::PreciseTimer);
        Timer1->start();
    });
}

void frmMain::StopPlayback() {
    // A running cut or split keeps its locks; it gives the controls back when it completes.
    Try([&] {
        if (!JobRunning) {
            cmdCut->setEnabled(true);
            cmdSplit->setEnabled(true);
        }
    });
    Try([&] {
        cmdPlayStop->setText(GetFromINI("frmMain", "29"));
        cmdPlayStop->repaint();
    });
    Try([&] {
        if (JobRunning) return;
        for (QWidget* w : std::initializer_list<QWidget*>{sldThum, sldThum2, cmbPlaySld, cmdPrevFrame, cmdNextFrame,
                                                          cmdPrevFrame2, cmdNextFrame2})
            w->setEnabled(true);
    });
    Try([&] { Playing = false; });
    Try([&] { PlayPosition.at(static_cast<size_t>(PlaySlider)) = VideoFileIn1->CurrentVideoPosition(); });
    Try([&] { Timer1->stop(); });
    Try([&] {
        if (!NoAudioOutput) AudioPlayer_->Stop();
    });
    Try([&] {
        if (FileLoaded) VideoView1->PlaybackEnded();
    });
}

void frmMain::Timer1_Timer() {
    if (!FileLoaded) return;
    const int32_t elapsed = TicksSince(PlayStartTick, platform_.TickCount());
    const int32_t lag = CheckedSub(CheckedAdd(elapsed, PlayPosition.at(static_cast<size_t>(PlaySlider))),
                                   VideoFileIn1->CurrentVideoPosition());
    if (lag <= 0) return;
    // How many frame periods the picture is behind the clock: one shows the next frame, more
    // drop the frames in between first.
    const double frameRate = VideoFileIn1->FrameRate();
    const double framePeriod = Divide(1000.0, frameRate);
    // After a long stall (the machine slept, a disk hung) the picture catches up by at most two
    // seconds of frames a tick, so the window keeps answering between ticks instead of freezing
    // while thousands of frames are read.
    const double catchUpLimit = std::max(2.0 * frameRate, 2.0);
    const int16_t k = RoundToInt16(std::min(lag / framePeriod, catchUpLimit));
    if (k < 1) return;
    if (k - 1 > 0) {
        VideoFileIn1->DropNotification(k - 1);
        for (int i = 0; i < k - 1; ++i) VideoFileIn1->ReadNextVideoFrame(FrameData_);
    }
    {
        const FlagScope updating(UpdatingSliders);
        Slider* played = PlaySlider == 1 ? SliderTimePosition1 : PlaySlider == 2 ? SliderTimePosition2 : nullptr;
        if (played) {
            played->SetValue(VideoFileIn1->CurrentFrameNumber());
            if (played->Value() == played->Max()) {
                if (Playing) cmdPlayStop_Click();
                played->SetValue(1);
                PlayPosition.at(static_cast<size_t>(PlaySlider)) = 1;
            }
        }
    }
    ShowCurrentFrame();
}

void frmMain::AudioPlayer_EndArrayPlay() {
    if (!NoAudioOutput) RefillAudio();
}

void frmMain::AudioPlayer_EndPlay() {
    if (!NoAudioOutput) AudioPlayer_->Stop();
}

void frmMain::RefillAudio() {
    const int32_t waiting =
        AudioPlayer_->DurationOfAmount(NarrowChecked<int32_t>(AudioPlayer_->QueuedCounter() - AudioPlayer_->PlayedCounter()));
    if (waiting > 2000) return;
    int32_t budget = AudioPlayer_->AmountForDuration(9000);
    AudioBlock block;
    for (int i = 0; i <= 100; ++i) {
        VideoFileIn1->ReadNextAudioBlock(0, block);
        const int32_t size = BlockSize(block);
        if (size <= 0) break;
        AudioPlayer_->QueueBlock(block);
        budget = CheckedSub(budget, size);
        if (budget <= 0) break;
    }
}

void frmMain::Timer2_Timer() {
    lblLogo->SetLeft(lblLogo->Left() + LogoDirection * 15);
    if (lblLogo->Left() + lblLogo->Width() > picScreen->Width() || lblLogo->Left() < 0)
        LogoDirection = static_cast<int16_t>(-LogoDirection);
    for (LineControl* line : {Line1, Line2}) {
        line->X1 = lblLogo->Left() + 30;
        line->X2 = lblLogo->Left() + lblLogo->Width() - 30;
        line->Redraw();
    }
}

}  // namespace trimora
