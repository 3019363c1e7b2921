#include "jobs/JobCompletion.h"

#include "app/frmMain.h"
#include "engine/EngineError.h"

namespace trimora {

void JobOutcome::Fail(const std::exception& error) {
    if (failed_) return;
    failed_ = true;
    description_ = QString::fromUtf8(error.what());
}

void RequireOutputCreated(const OutputPreparation& preparation) {
    if (preparation.created) return;
    throw EngineError(preparation.error.isEmpty() ? std::string("The output file was not created.")
                                                  : preparation.error.toStdString());
}

void EndOutput(frmMain& window, JobOutcome& outcome, bool locked) {
    if (outcome.Failed()) outcome.Step([&] { window.VideoFileOut->DiscardOutputFile(); });
    outcome.Step([&] { window.VideoFileOut->Close(); });
    // The job's frames are read: what the window shows next (a mark's frame) is decoded here,
    // with nothing read ahead that would then be waited for and thrown away.
    outcome.Step([&] {
        if (locked) window.VideoFileIn1->DecodeInBackground(false);
    });
    outcome.Step([&] {
        if (locked) window.VideoView1->LimitToScreenRate(false);
    });
}

void ReportJobEnd(frmMain& window, const JobOutcome& outcome, int successMessage) {
    if (outcome.Failed())
        window.ShowMessage(window.Messages[1] + " " + outcome.Description());
    else if (window.CancelRequested)
        window.ShowMessage(window.Messages[21]);
    else
        window.ShowMessage(window.Messages[static_cast<size_t>(successMessage)]);
}

void CloseIfAskedDuringJob(frmMain& window) {
    if (!window.CloseAfterJob) return;
    window.CloseAfterJob = false;
    window.close();
}

void TakeWindowForJob(frmMain& window) {
    window.cmdCut->setEnabled(false);
    window.cmdSplit->setEnabled(false);
    window.cmdCancel->setEnabled(true);
    window.LockForJob(true);
    window.JobRunning = true;
    // The input is decoded ahead while the window shows a frame and the encoder works.
    window.VideoFileIn1->DecodeInBackground(true);
    // The job's frames come faster than any screen shows them.
    window.VideoView1->LimitToScreenRate(true);
}

void ReleaseWindowAfterJob(frmMain& window, JobOutcome& outcome, bool locked) {
    outcome.Step([&] {
        window.cmdCut->setEnabled(true);
        window.cmdSplit->setEnabled(true);
        window.cmdCancel->setEnabled(false);
    });
    outcome.Step([&] {
        if (locked) window.LockForJob(false);
    });
    window.JobRunning = false;
}

}  // namespace trimora
