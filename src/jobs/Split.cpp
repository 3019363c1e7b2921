// The split: copies the whole input into two files, the frames before mark 1 into the first and
// mark 1's frame and everything after it into the second. Like the cut it runs inside the
// button's handler, one video frame or audio block per cycle, letting pending events run.
#include <QCoreApplication>

#include "app/Arithmetic.h"
#include "app/frmMain.h"
#include "jobs/JobCompletion.h"
#include "jobs/JobProgress.h"
#include "output/PrepareOutputFile.h"

namespace trimora {

namespace {
// The split frame must lie at least this many frames inside either end of the input.
constexpr int32_t kSplitMargin = 4;
}  // namespace

void frmMain::cmdSplit_Click() {
    JobOutcome outcome;
    bool locked = false;
    const int savedValue2 = SliderTimePosition2->Value();
    try {
        if (SliderTimePosition1->Value() > SliderTimePosition1->Max() - kSplitMargin ||
            SliderTimePosition1->Value() < kSplitMargin) {
            ShowMessage(Messages[0]);
            return;
        }
        // Both names are checked, and kept, before anything is written.
        const QString firstOutput = EdOutFile->text();
        const QString secondOutput = EdOutFile2->text();
        if (!CheckOutputNames({firstOutput, secondOutput})) return;

        ProgressBar1->setVisible(true);
        ProgressBar1->setValue(0);
        UpdatingSliders = true;
        CancelRequested = false;
        TakeWindowForJob(*this);
        locked = true;

        MediaFile& in = *VideoFileIn1;
        const int32_t splitFrame = SliderTimePosition1->Value();
        in.SeekToPosition(0);
        int part = 1;
        RequireOutputCreated(PrepareOutput(*this, firstOutput));
        LabelPart->SetCaption(Messages[5]);
        UpdatingSliders = true;

        CopyState copy;
        FrameData frame;  // the preview's FrameData stays the frame of the mark
        AudioBlock audio;
        for (;;) {
            // The first file ends with the frame before the split frame: switch before the split
            // frame is read, and start the second file at it, so every frame lands in one file.
            if (part == 1 && in.CurrentFrameNumber() >= splitFrame - 1) {
                // The first file's sound runs to the split frame, where the second's begins.
                CopySoundToThePicture(in, *VideoFileOut, audio, copy);
                VideoFileOut->Close();
                in.SeekToFrame(splitFrame);
                part = 2;
                RequireOutputCreated(PrepareOutput(*this, secondOutput));
                LabelPart->SetCaption(Messages[6]);
            }

            CopyOneCycle(in, *VideoFileOut, *VideoView1, frame, audio, copy);

            const int64_t position = int64_t{in.CurrentAudioPosition()} + in.CurrentVideoPosition();
            const int64_t total = int64_t{in.AudioDuration()} + in.VideoDuration();
            int16_t overall = Percentage(position, total);
            if (overall > 100) overall = 100;

            // The bar runs from 0 to 100 once for each part.
            const int32_t current = in.CurrentFrameNumber();
            const int16_t partPercentage =
                current > splitFrame
                    ? Percentage(int64_t{current} - splitFrame, int64_t{in.NumberOfFrames()} - splitFrame + 1)
                    : Percentage(current, splitFrame);
            ProgressBar1->setValue(ClipValue(partPercentage));

            // Slider 2 travels once across the whole input.
            SliderTimePosition2->SetValue(RoundToInt32(overall / 100.0 * SliderTimePosition2->Max()));

            if ((copy.videoFinished && copy.audioFinished) || CancelRequested) break;
            QCoreApplication::processEvents();
        }
    } catch (const std::exception& error) {
        outcome.Fail(error);
    }

    // Completion: every step runs, so the window never stays half-locked.
    EndOutput(*this, outcome, locked);
    outcome.Step([&] { ProgressBar1->setVisible(false); });
    outcome.Step([&] { SliderTimePosition2->SetValue(savedValue2); });  // UpdatingSliders still holds: no seek
    UpdatingSliders = false;
    ReleaseWindowAfterJob(*this, outcome, locked);
    // The preview showed the job's frames; it goes back to the frame the window holds.
    outcome.Step([&] {
        if (locked && FileLoaded && !FrameData_.empty()) VideoView1->ShowFrame(FrameData_);
    });
    ReportJobEnd(*this, outcome, 20);
    outcome.Step([&] {
        LabelPart->SetCaption("");
        ProgressBar1->setValue(0);
    });
    CloseIfAskedDuringJob(*this);
}

}  // namespace trimora
