// The cut: copies the frames from the lower mark to the higher one, with their sound, into the
// output file. It runs inside the button's handler on the UI thread, one video frame or audio
// block per cycle, and lets pending events run between cycles so Cancel can stop it.
#include <QCoreApplication>
#include <algorithm>

#include "app/Arithmetic.h"
#include "app/frmMain.h"
#include "jobs/JobCompletion.h"
#include "jobs/JobProgress.h"
#include "output/PrepareOutputFile.h"

namespace trimora {

namespace {
// Sound is copied in blocks of this many sample frames.
}  // namespace

int16_t frmMain::ClipValue(int16_t percentage) { return std::clamp<int16_t>(percentage, 0, 100); }

void frmMain::cmdCancel_Click() { CancelRequested = true; }

void frmMain::cmdCut_Click() {
    if (!FileLoaded) return;

    JobOutcome outcome;
    bool locked = false;
    // The marks as they stand now; the completion puts both sliders back there.
    const int savedValue1 = SliderTimePosition1->Value();
    const int savedValue2 = SliderTimePosition2->Value();
    try {
        StartFrame = SliderTimePosition1->Value();
        EndFrame = SliderTimePosition2->Value();
        if (StartFrame == EndFrame) {
            ShowMessage(Messages[4]);
            return;
        }
        MediaFile& in = *VideoFileIn1;
        const int32_t frames = in.NumberOfFrames();
        const int32_t duration = in.VideoDuration();
        double startTime = Divide(StartFrame, frames) * duration;
        double endTime = Divide(EndFrame, frames) * duration;
        if (StartFrame > EndFrame) Swap(StartFrame, EndFrame);
        if (startTime > endTime) Swap(startTime, endTime);

        const QString output = EdOutFile->text();
        if (!CheckOutputNames({output})) return;

        UpdatingSliders = true;
        TakeWindowForJob(*this);
        locked = true;
        CancelRequested = false;
        RequireOutputCreated(PrepareOutput(*this, output));
        in.SeekToFrame(StartFrame);
        CopyState copy;
        ProgressBar1->setVisible(true);

        AudioBlock audio;
        for (;;) {
            if (in.CurrentFrameNumber() >= EndFrame) copy.videoFinished = true;
            if (static_cast<double>(in.CurrentAudioPosition()) >= endTime) copy.audioFinished = true;
            if ((copy.videoFinished && copy.audioFinished) || CancelRequested) break;

            CopyOneCycle(in, *VideoFileOut, *VideoView1, FrameData_, audio, copy);

            // The lower mark travels towards the higher one to show how far the job is.
            UpdatingSliders = true;
            Slider* moving = SliderTimePosition1->Value() < SliderTimePosition2->Value() ? SliderTimePosition1
                                                                                        : SliderTimePosition2;
            const int64_t position = int64_t{in.CurrentVideoPosition()} + in.CurrentAudioPosition();
            const int64_t total = int64_t{in.VideoDuration()} + in.AudioDuration();
            moving->SetValue(SliderValueFor(position, total, moving->Max()));
            const int64_t done = int64_t{in.CurrentFrameNumber()} - StartFrame;
            ProgressBar1->setValue(ClipValue(Percentage(done, int64_t{EndFrame} - StartFrame + 1)));
            UpdatingSliders = false;
            LabelS->SetCaption(MarksLabelText(" ~2"));

            RepaintWindow();
            QCoreApplication::processEvents();
        }
    } catch (const std::exception& error) {
        outcome.Fail(error);
    }

    // Completion: every step runs, so the window never stays half-locked.
    EndOutput(*this, outcome, locked);
    outcome.Step([&] { ProgressBar1->setVisible(false); });
    // With the lower mark moved back, its change handler shows that mark's frame again.
    outcome.Step([&] { SliderTimePosition1->SetValue(savedValue1); });
    outcome.Step([&] { SliderTimePosition2->SetValue(savedValue2); });
    UpdatingSliders = false;
    ReleaseWindowAfterJob(*this, outcome, locked);
    outcome.Step([&] { ProgressBar1->setValue(0); });
    ReportJobEnd(*this, outcome, 19);
    CloseIfAskedDuringJob(*this);
}

}  // namespace trimora
