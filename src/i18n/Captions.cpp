// The language list, the text lookup and loading every caption and message of the window.
#include <QIcon>
#include <QPainter>
#include <QPixmap>

#include "app/frmMain.h"
#include "i18n/IniReader.h"
#include "i18n/LanguageFiles.h"
#include "settings/CRegister.h"

namespace trimora {

namespace {
const char* const kSettingsKeyPath = "Software\\Corvale\\Framewise Settings";

// Shown for a language whose picture is missing or unreadable.
QPixmap PlaceholderPicture() {
    QPixmap picture(24, 16);
    picture.fill(QColor(222, 226, 214));
    QPainter painter(&picture);
    painter.setPen(QColor(120, 128, 104));
    painter.drawRect(0, 0, 23, 15);
    return picture;
}
}  // namespace

QString frmMain::GetFromINI(const QString& section, const QString& key) {
    return QString::fromStdString(
        ReadProfileString(section.toStdString(), key.toStdString(), "Default", CurLangPath.toStdString()));
}

void frmMain::Load_Language() {
    const QString folder = programFolder_ + "/Languages";
    const std::vector<std::string> files = ListLanguageFiles(folder.toStdString());
    LstLang->clear();
    std::vector<QIcon> pictures;
    for (const std::string& file : files) {
        const QString name = QString::fromStdString(file).chopped(4);
        QPixmap picture(folder + "/" + name + ".bmp");
        pictures.emplace_back(picture.isNull() ? PlaceholderPicture() : picture);
    }
    int selected = -1;
    for (size_t i = 0; i < files.size(); ++i) {
        const QString name = QString::fromStdString(files[i]).chopped(4);
        LstLang->addItem(pictures[i], name);
        if (name == CurLang && selected < 0) selected = static_cast<int>(i);
    }
    if (selected < 0 && LstLang->count() > 0) selected = 0;
    LstLang->setCurrentIndex(selected);
}

void frmMain::LstLang_Click() {
    CurLang = LstLang->currentText();
    SetCaption();
    Register().REGSaveSetting(HKEY_LOCAL_MACHINE, kSettingsKeyPath, "Lang", LstLang->currentText().toStdString());
}

void frmMain::SetCaption() {
    const auto text = [this](int key) { return GetFromINI("frmMain", QString::number(key)); };
    CurLangPath = programFolder_ + "/Languages/" + CurLang + ".ini";

    setWindowTitle(text(0));
    FrameInputFile->setTitle(text(1));
    FrameCutEditor->setTitle(text(2));
    FrameOutputFile->setTitle(text(3));
    FrameVideoInfo->setTitle(text(4));
    FrameConvertTo->setTitle(text(5));
    cmdSavePictureAs->setText(text(7));
    cmdCut->setText(text(9));
    cmdSplit->setText(text(10));
    cmdCancel->setText(text(11));
    lblVideoInfo->SetCaption(text(12));
    lblAudioInfo->SetCaption(text(13));

    const int16_t remembered = CurOutFormat;
    ConvertTo(0);
    FrameOptVideoAvi->setTitle(text(14));
    FrameOptAudioAvi->setTitle(text(15));
    ConvertTo(1);
    FrameOptVideoMpeg->setTitle(text(14));
    FrameOptAudioMpeg->setTitle(text(15));
    FrameOptVersionMpeg->setTitle(text(16));
    ConvertTo(2);
    FrameOptVideoWMV->setTitle(text(17));
    ConvertTo(remembered);

    lblLang->SetCaption(text(18));
    lblFrameRate->SetCaption(text(19));
    lblFrameRate2->SetCaption(text(19));
    lblVideoBitrate->SetCaption(text(20));
    lblChannels2->SetCaption(text(21));
    lblChannels->SetCaption(text(21));
    lblAudioBitrate->SetCaption(text(22));
    lblAVICodec->SetCaption(text(23));
    btnConfigureVideoCodec->setText(text(24));
    cmdHelp->setText(text(25));
    cmdExit->setText(text(26));

    cmbVideoSize->setItemText(0, text(27));
    cmbVideoSize->setItemText(1, text(28));
    Skin1->SkinControl(cmbVideoSize, "Button");

    cmdPlayStop->setText(Playing ? text(30) : text(29));
    cmdPlayStop->repaint();
    lblSldNo->SetCaption(text(31));

    for (int i = 0; i < 30; ++i) Messages[i] = GetFromINI("MSGX", QString::number(i));

    if (FileLoaded) {
        LabelS->SetCaption(MarksLabelText(""));
        LabelT->SetCaption(LabelTText());
        RepaintWindow();
        sldThum->setToolTip(Messages[9] + ":" + QString::number(SliderTimePosition1->Value()));
        sldThum2->setToolTip(Messages[9] + ":" + QString::number(SliderTimePosition2->Value()));
        EdInfoVideo->SetText(VideoFileIn1->HasVideo() ? VideoInfoText() : QString());
        EdInfoAudio->SetText(VideoFileIn1->HasAudio() ? AudioInfoText() : QString());
    } else {
        txtFile->setText(text(6));
        EdOutFile->setText(text(8));
        EdOutFile2->setText(text(8));
    }

    for (QPushButton* button : {cmdCut, cmdSplit, cmdCancel, cmdExit, cmdHelp, cmdSavePictureAs}) button->repaint();
    SetAccessibleTexts();
}

}  // namespace trimora
