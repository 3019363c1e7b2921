// Choosing the output container and its options: the panels of the chosen container, the marker
// under its button, the output names' extension, and the AVI codec taken into the writer at once.
#include <vector>

#include "app/Arithmetic.h"
#include "app/frmMain.h"
#include "output/OutputNames.h"

namespace trimora {

namespace {
void SetBold(QPushButton* button, bool bold) {
    QFont font = button->font();
    font.setBold(bold);
    button->setFont(font);
}
}  // namespace

void frmMain::ConvertTo(int16_t format) {
    CurOutFormat = format;

    for (QPushButton* button : {cmdOptAVI, cmdOptMPEG, cmdOptWMV}) SetBold(button, false);
    for (QGroupBox* panel : {FrameOptAudioAvi, FrameOptVideoAvi, FrameOptAudioMpeg, FrameOptVideoMpeg,
                             FrameOptVersionMpeg, FrameOptVideoWMV})
        panel->hide();

    QPushButton* chosen = nullptr;
    std::vector<QGroupBox*> panels;
    switch (format) {
        case 0:
            chosen = cmdOptAVI;
            panels = {FrameOptAudioAvi, FrameOptVideoAvi};
            break;
        case 1:
            chosen = cmdOptMPEG;
            panels = {FrameOptAudioMpeg, FrameOptVideoMpeg, FrameOptVersionMpeg};
            break;
        case 2:
            chosen = cmdOptWMV;
            panels = {FrameOptVideoWMV};
            break;
        default:
            break;
    }
    if (chosen) {
        lblCurSel->SetLeft(static_cast<float>(chosen->x() * kTwipsPerPixel));
        for (QGroupBox* panel : panels) panel->show();
        SetBold(chosen, true);
    }

    // The output names follow the container. Only the file name's own extension is replaced, and
    // the second name only when it carries the same extension as the first. A failure here
    // leaves the names as they are, without a message.
    try {
        if (format < 0 || format >= static_cast<int16_t>(OutExt.size())) throw std::out_of_range("Subscript out of range");
        const QString oldExtension = FileExtension(EdOutFile->text());
        if (oldExtension.isEmpty()) return;
        const QString& newExtension = OutExt[static_cast<size_t>(format)];
        EdOutFile->setText(ReplaceExtension(EdOutFile->text(), oldExtension, newExtension));
        EdOutFile2->setText(ReplaceExtension(EdOutFile2->text(), oldExtension, newExtension));
    } catch (const std::exception&) {
    }
}

void frmMain::cmdOptAVI_Click() { ConvertTo(0); }
void frmMain::cmdOptMPEG_Click() { ConvertTo(1); }
void frmMain::cmdOptWMV_Click() { ConvertTo(2); }

void frmMain::cmbAVICodecs_Click() {
    // The list is filled from the writer's last codec down to its first, so row k is codec count - k.
    VideoFileOut->SelectAviCodec(NarrowChecked<int16_t>(cmbAVICodecs->count() - cmbAVICodecs->currentIndex()));
    Skin1->SkinControl(cmbAVICodecs, "Button");
}

void frmMain::btnConfigureVideoCodec_Click() { VideoFileOut->ConfigureSelectedAviCodec(); }

// The other option lists keep their choice in the control until a job reads it; a choice only
// restyles the list.
void frmMain::cmbFramerateAVI_Click() { Skin1->SkinControl(cmbFramerateAVI, "Button"); }
void frmMain::cmbCnannelsAVI_Click() { Skin1->SkinControl(cmbCnannelsAVI, "Button"); }
void frmMain::cmbFramerateMPEG_Click() { Skin1->SkinControl(cmbFramerateMPEG, "Button"); }
void frmMain::cmbVideoBitrateMPEG_Click() { Skin1->SkinControl(cmbVideoBitrateMPEG, "Button"); }
void frmMain::cmbCnannelsMPEG_Click() { Skin1->SkinControl(cmbCnannelsMPEG, "Button"); }
void frmMain::cmbAudioBitrateMPEG_Click() { Skin1->SkinControl(cmbAudioBitrateMPEG, "Button"); }
void frmMain::cmbWMVCodecs_Click() { Skin1->SkinControl(cmbWMVCodecs, "Button"); }

}  // namespace trimora
