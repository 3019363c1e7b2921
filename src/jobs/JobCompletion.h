#pragma once
// What the cut and the split share around their copy loop: the first failure of a job (its
// completion steps included, each of which runs even when an earlier one failed), the message
// that ends the job, and the close of the window that was asked for while the job ran.
#include <QString>
#include <exception>

#include "output/PrepareOutputFile.h"

namespace trimora {

class frmMain;

class JobOutcome {
public:
    // Records a failure; only the first one is reported.
    void Fail(const std::exception& error);
    // Runs one step; a failure is recorded and the caller goes on with its next step.
    template <typename F>
    void Step(F&& step) {
        try {
            step();
        } catch (const std::exception& error) {
            Fail(error);
        }
    }
    bool Failed() const { return failed_; }
    const QString& Description() const { return description_; }

private:
    bool failed_ = false;
    QString description_;
};

// A job cannot go on when its output file was not created: raises with the reason already shown
// to the user, so that the job ends with the failure message and never reports success.
void RequireOutputCreated(const OutputPreparation& preparation);

// Ends the output being written, as the first step of the completion: a failed job's output is
// discarded, so a file of its name stays as it was; a finished or cancelled one is closed and
// takes its name (a close that fails is the job's failure, and its output is gone too). Then the
// input is decoded in the foreground again, where the job (`locked`: it took the window) had it
// decoded in the background.
void EndOutput(frmMain& window, JobOutcome& outcome, bool locked);

// Shows how the job ended: the failure (message 1 and the description), the cancel (message 21)
// or the success message given.
void ReportJobEnd(frmMain& window, const JobOutcome& outcome, int successMessage);

// Takes the window for a job: Cut and Split off, Cancel on, whatever would move or close the
// reader or change the output locked; the job is running, its input decoded in the background.
void TakeWindowForJob(frmMain& window);

// Gives the window back after a job: Cut and Split on, Cancel off, the controls the job locked
// (when it got as far as taking them) as they were; the job is no longer running.
void ReleaseWindowAfterJob(frmMain& window, JobOutcome& outcome, bool locked);

// Closes the window if the user asked for it while the job ran.
void CloseIfAskedDuringJob(frmMain& window);

}  // namespace trimora
