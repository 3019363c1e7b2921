// Stepping a mark by one frame, saving the shown frame as a picture, the preview size list and
// clicks on the skin's own elements.
#include "app/Arithmetic.h"
#include "app/LeadingNumber.h"
#include "app/frmMain.h"

namespace trimora {

namespace {
const char* const kPictureFilter =
    "BMP Files (*.bmp)|*.bmp|JPEG Files (*.jpg)|*.jpg|GIF Files (*.gif)|*.gif|"
    "TIFF Files (*.tiff)|*.tif;*.tiff;*.cpt|PCX Files (*.pcx)|*.pcx|"
    "WMF Files (*.wmf)|*.wmf|EMF Files (*.emf)|*.emf|TGA Files (*.tga)|*.tga|"
    "PNG Files (*.png)|*.png|RAS Files (*.ras)|*.ras|JPEG2000 Files (*.j2k)|*.j2k|";

void StepForward(Slider* slider) {
    if (slider->Value() >= slider->Max()) slider->SetValue(1);
    else slider->SetValue(slider->Value() + 1);
}

void StepBack(Slider* slider) {
    if (slider->Value() < 2) slider->SetValue(slider->Max());
    else slider->SetValue(slider->Value() - 1);
}
}  // namespace

void frmMain::cmdNextFrame_Click() {
    if (FileLoaded) StepForward(SliderTimePosition1);
}
void frmMain::cmdNextFrame2_Click() {
    if (FileLoaded) StepForward(SliderTimePosition2);
}
void frmMain::cmdPrevFrame_Click() {
    if (FileLoaded) StepBack(SliderTimePosition1);
}
void frmMain::cmdPrevFrame2_Click() {
    if (FileLoaded) StepBack(SliderTimePosition2);
}

void frmMain::cmdSavePictureAs_Click() {
    if (!FileLoaded) return;
    // The frame and its number as they are when the button is pressed: playback may move on
    // while the dialog is open.
    const FrameData frame = FrameData_;
    QString fileName;
    int row = 0;
    try {
        const QString input = txtFile->text();
        if (input.size() < 4) return;
        const QString proposed = input.left(input.size() - 4) + " Frame" +
                                 QString::number(VideoFileIn1->CurrentFrameNumber());
        commonDialog->FileName = proposed;
        commonDialog->DialogTitle = "Save Picture To File";
        commonDialog->CancelError = true;
        commonDialog->Filter = kPictureFilter;
        commonDialog->Flags = 2;  // ask before replacing an existing file
        commonDialog->ShowSave();
        fileName = commonDialog->FileName;
        row = commonDialog->FilterIndex;
    } catch (const std::exception&) {
        return;  // a cancelled dialog ends the capture silently
    }
    if (fileName.isEmpty()) return;

    using Save = void (ImageWriter::*)(const FrameData&, const std::string&);
    static constexpr Save kRows[] = {&ImageWriter::SaveAsBmp,  &ImageWriter::SaveAsJpeg, &ImageWriter::SaveAsGif,
                                     &ImageWriter::SaveAsTiff, &ImageWriter::SaveAsPcx,  &ImageWriter::SaveAsWmf,
                                     &ImageWriter::SaveAsEmf,  &ImageWriter::SaveAsTga,  &ImageWriter::SaveAsPng,
                                     &ImageWriter::SaveAsRas,  &ImageWriter::SaveAsJpeg2000};
    if (row < 1 || row > static_cast<int>(std::size(kRows))) return;
    const Save save = kRows[row - 1];
    const std::string path = fileName.toStdString();
    try {
        (ImageFile1.get()->*save)(frame, path);
    } catch (const std::exception& error) {
        // A picture that could not be written is said so, never passed over as saved.
        ShowMessage(QString::fromUtf8(error.what()), MessageIcon::Critical);
    }
}

void frmMain::cmbVideoSize_Click() {
    VideoView1->SetSizeMode(RoundToInt32(LeadingNumber(cmbVideoSize->currentText())));
    Skin1->SkinControl(cmbVideoSize, "Button");
}

void frmMain::Skin1_ElementClick(const SkinElement& element) {
    if (element.name == "Help") HelpCommand(QString::fromStdString(element.name));
}

}  // namespace trimora
