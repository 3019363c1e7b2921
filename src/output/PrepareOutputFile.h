#pragma once
// Applying the output choices of the window to the writer and creating the output file.
#include <QString>

namespace trimora {

class frmMain;

// The leading decimal number of an option list's text ("29.97 fps" gives 29.97), read with "."
// as the decimal separator whatever the user's locale; 0 when the text does not begin with one.
double NumberFromListText(const QString& text);

struct OutputPreparation {
    bool created = false;  // the writer holds a new output file, ready for frames
    QString error;         // the description already shown to the user, when a step failed
};

// What frmMain::PrepareOutputFile does, with its outcome for the jobs: a failure has been shown
// to the user in one message box when this returns.
OutputPreparation PrepareOutput(frmMain& window, const QString& fileName);

}  // namespace trimora
