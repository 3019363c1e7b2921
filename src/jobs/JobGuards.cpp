// What keeps a running job's input and outputs safe: the controls locked while it runs, and the
// output names checked before anything is written.
#include <QDir>
#include <QFileInfo>

#include "app/frmMain.h"
#include "jobs/OutputPaths.h"

namespace trimora {

void frmMain::LockForJob(bool locked) {
    if (!locked) {
        for (const auto& [control, wasEnabled] : LockedControls) control->setEnabled(wasEnabled);
        LockedControls.clear();
        return;
    }
    // Whatever would move or close the reader, and the output format controls, so that every
    // part of a job is written with the options it started with. The language list stays.
    QWidget* const controls[] = {
        cmdPlayStop, cmbPlaySld, cmdPrevFrame, cmdNextFrame, cmdPrevFrame2, cmdNextFrame2, sldThum, sldThum2,
        cmdFile, cmdSavePictureAs, cmdOptAVI, cmdOptMPEG, cmdOptWMV, cmbAVICodecs, btnConfigureVideoCodec,
        cmbFramerateAVI, optPCM, optMP3, optGSM, optADPCM, optALAW, optULAW, cmbCnannelsAVI, cmbFramerateMPEG,
        cmbVideoBitrateMPEG, cmbCnannelsMPEG, cmbAudioBitrateMPEG, rbMPEG1, rbMPEG2, cmbWMVCodecs, cmdOutFile,
        cmdOutFile2,
    };
    LockedControls.clear();
    for (QWidget* control : controls) {
        LockedControls.emplace_back(control, !control->testAttribute(Qt::WA_ForceDisabled));
        control->setEnabled(false);
    }
}

bool frmMain::CheckOutputNames(const QStringList& outputs) {
    // Names are compared by the files they reach, so that no spelling, link or hard link of the
    // input (or of the other output) gets past.
    const QString input = FileLoaded ? txtFile->text() : QString();
    QStringList resolved;
    for (const QString& output : outputs) {
        if (!input.isEmpty() && SameFile(output, input)) {
            ShowMessage(QStringLiteral("The output file \"%1\" is the input file. Choose another name for the "
                                       "output, so that the input is not written over.")
                            .arg(QDir::toNativeSeparators(output)));
            return false;
        }
        for (qsizetype earlier = 0; earlier < resolved.size(); ++earlier) {
            if (!SameFile(outputs[earlier], output)) continue;
            ShowMessage(QStringLiteral("Both parts of the split would be written to the same file \"%1\". "
                                       "Choose two different output files.")
                            .arg(QDir::toNativeSeparators(output)));
            return false;
        }
        resolved << ResolvedPath(output);
    }
    // An existing file is only written over once the user has agreed to it, here or in the
    // Save As dialog.
    for (qsizetype i = 0; i < outputs.size(); ++i) {
        const QFileInfo existing(resolved[i]);
        if (!existing.exists() || existing.isDir() || ConfirmedOutputFiles.contains(resolved[i])) continue;
        if (!platform().ConfirmOverwrite(this, QDir::toNativeSeparators(outputs[i]))) return false;
    }
    return true;
}

}  // namespace trimora
