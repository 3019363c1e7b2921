// Choosing the names of the output files with the Save As dialog.
#include <QFileInfo>

#include "app/Arithmetic.h"
#include "app/frmMain.h"
#include "jobs/OutputPaths.h"

namespace trimora {

namespace {

const char* const kOutputFilter =
    "All Movie Files |*.avi;*.mpg;*.mpeg;*.wmv;*.wma;*.asf;*.mov;*.qt|AVI Files (*.avi)|*.avi|Mpeg files (*.mpg, "
    "*.mpeg)|*.mpg; *.mpeg|Windows Media files (*.wmv, *.wma, *.asf)|*.wmv; *.wma; *.asf|Quick Time Files (*.mov, "
    "*.qt)|*.mov; *.qt|";

// The dialog asks before returning an existing file.
constexpr int kOverwritePrompt = 2;

void ChooseOutputFile(frmMain& w, QLineEdit* box, QPushButton* jobButton) {
    try {
        CommonDialog& dialog = *w.commonDialog;
        dialog.FileName = "";
        dialog.DialogTitle = "Select Output Video File";
        dialog.FileName = box->text();
        dialog.Flags = kOverwritePrompt;
        dialog.Filter = kOutputFilter;
        dialog.FilterIndex = CheckedAdd<int16_t>(w.CurOutFormat, 2);
        dialog.ShowSave();
        if (dialog.FileName.isEmpty()) return;
        // An existing file the user accepted has been confirmed for replacing by the dialog.
        if (dialog.Accepted && QFileInfo::exists(dialog.FileName)) {
            const QString path = ResolvedPath(dialog.FileName);
            if (!w.ConfirmedOutputFiles.contains(path)) w.ConfirmedOutputFiles << path;
        }
        box->setText(dialog.FileName);
        // A running job or playback keeps the job buttons locked until it ends.
        if (!w.JobRunning && !w.Playing) jobButton->setEnabled(true);
    } catch (const std::exception&) {
    }
}

}  // namespace

void frmMain::cmdOutFile_Click() { ChooseOutputFile(*this, EdOutFile, cmdCut); }

void frmMain::cmdOutFile2_Click() { ChooseOutputFile(*this, EdOutFile2, cmdSplit); }

}  // namespace trimora
