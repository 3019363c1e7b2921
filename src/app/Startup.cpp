// Start-up, shutdown, the Exit button and repainting the last frame.
#include <QAbstractItemView>
#include <QCloseEvent>
#include <QDir>
#include <QSettings>

#include "app/Arithmetic.h"
#include "app/UserSettings.h"
#include "app/frmMain.h"
#include "settings/CRegister.h"

namespace trimora {

namespace {
const char* const kSettingsKeyPath = "Software\\Corvale\\Framewise Settings";

// Fills an engine list from number `count` down to 1, so row k names number count - k.
template <typename Select, typename Name>
void FillEngineList(QComboBox* list, int32_t count, Select select, Name name) {
    for (int32_t i = count; i >= 1; --i) {
        select(NarrowChecked<int16_t>(i));
        list->addItem(QString::fromStdString(name()));
    }
    // Names longer than the closed list are shown whole when it opens.
    QAbstractItemView* view = list->view();
    view->setMinimumWidth(view->sizeHintForColumn(0) + 2 * view->frameWidth() +
                          view->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
}
}  // namespace

void frmMain::Form_Load() {
    // Every step runs under continue-on-error: a failing step is skipped silently.
    Try([&] { VideoFileIn1 = engine_.CreateMediaFile(); });
    Try([&] { VideoFileOut = engine_.CreateMediaFile(); });
    Try([&] { ImageFile1 = engine_.CreateImageWriter(); });
    Try([&] {
        AudioPlayer_ = engine_.CreateAudioPlayer();
        AudioPlayer_->SetEventHandler(AudioEventSink());
    });

    Try([&] { Skin1->LoadSkinFile((programFolder_ + "/trimora.skn").toStdString()); });
    Try([&] { Skin1->SkinWindow(this); });
    const std::pair<QWidget*, const char*> skinned[] = {
        {sldBack, "SLDBACK"},       {sldThum, "SLDTHUM"},         {sldBack2, "SLDBACK"},
        {sldThum2, "SLDTHUM"},      {cmdNextFrame, "SLD_BTN_R"},  {cmdNextFrame2, "SLD_BTN_R"},
        {cmdPrevFrame, "SLD_BTN_L"}, {cmdPrevFrame2, "SLD_BTN_L"}, {lblCurSel, "CurSel"},
        {cmbPlaySld, "Button"},     {cmbVideoBitrateMPEG, "Button"}, {cmbWMVCodecs, "Button"},
        {cmbFramerateMPEG, "Button"}, {cmbFramerateAVI, "Button"}, {cmbCnannelsMPEG, "Button"},
        {cmbCnannelsAVI, "Button"}, {cmbAVICodecs, "Button"},     {cmbAudioBitrateMPEG, "Button"},
        {cmbVideoSize, "Button"},
    };
    for (const auto& [control, element] : skinned) Try([&] { Skin1->SkinControl(control, element); });

    Try([&] {
        PrevOpenedFile.clear();
        cmdCut->repaint();
        cmdSplit->repaint();
    });
    Try([&] {
        CurLang = QString::fromStdString(
            Register().REGGetSetting(HKEY_LOCAL_MACHINE, kSettingsKeyPath, "Lang", "English"));
    });
    Try([&] { Load_Language(); });
    Try([&] { SetCaption(); });
    Try([&] {
        LogoDirection = 1;
        CurOutFormat = 0;
    });
    Try([&] {
        FillEngineList(
            cmbAVICodecs, VideoFileOut->AviCodecCount(), [&](int16_t i) { VideoFileOut->SelectAviCodec(i); },
            [&] { return VideoFileOut->SelectedAviCodecName(); });
        SelectRow(cmbAVICodecs, 0);
    });
    Try([&] {
        FillEngineList(
            cmbWMVCodecs, VideoFileOut->WmvProfileCount(), [&](int16_t i) { VideoFileOut->SelectWmvProfile(i); },
            [&] { return VideoFileOut->SelectedProfileName(); });
        SelectRow(cmbWMVCodecs, 0);
    });
    Try([&] {
        const QString stored = UserSettings().value("Settings/VideoFrameRate", "5").toString();
        bool numeric = false;
        const double value = stored.trimmed().toDouble(&numeric);
        if (!numeric) throw std::invalid_argument("Type mismatch");
        const int16_t row = RoundToInt16(value);
        if (row < -1 || row >= cmbFramerateAVI->count()) throw std::out_of_range("Invalid property value");
        SelectRow(cmbFramerateAVI, row);
    });
    Try([&] {
        SelectRow(cmbAudioBitrateMPEG, 7);
        SelectRow(cmbVideoBitrateMPEG, 1);
        SelectRow(cmbFramerateMPEG, 3);
    });
    Try([&] { cmdCancel->setEnabled(false); });
    Try([&] {
        SelectRow(cmbCnannelsAVI, 1);
        SelectRow(cmbCnannelsMPEG, 1);
        SelectRow(cmbVideoSize, 0);
        SelectRow(cmbPlaySld, 0);
    });
    Try([&] {
        FileLoaded = false;
        UpdatingSliders = false;
        QDir::setCurrent(programFolder_);
    });
    Try([&] { OutExt = {"avi", "mpeg", "wmv", "rm"}; });
    Try([&] {
        if (AudioPlayer_->NumberOfDevices() >= 1) {
            AudioPlayer_->SelectDevice(0);
            AudioPlayer_->SetFirstSetupValue(0xFFFF);
            AudioPlayer_->SetSecondSetupValue(50);
            NoAudioOutput = false;
        } else {
            NoAudioOutput = true;
        }
    });
    Try([&] {
        setWindowState(Qt::WindowNoState);
        show();
        setWindowState(Qt::WindowNoState);
    });
}

void frmMain::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    UserSettings().setValue("Settings/VideoFrameRate", QString::number(cmbFramerateAVI->currentIndex()));
    Timer1->stop();
    if (VideoView1) VideoView1->Clear();
    if (AudioPlayer_) AudioPlayer_->Stop();
    if (FileLoaded) {
        FileLoaded = false;
        VideoFileIn1->Close();
        VideoFileOut->Close();
    }
    VideoFileIn1.reset();
    VideoFileOut.reset();
    ImageFile1.reset();
    AudioPlayer_.reset();
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (JobRunning) {
        // Closing during a cut or split acts as Cancel: the job completes, closes its files and
        // then closes the window.
        CancelRequested = true;
        CloseAfterJob = true;
        event->ignore();
        return;
    }
    if (OpenRunning) {
        // Closing while an input opens stops the open; the window closes once it has ended.
        closeAfterOpen_ = true;
        event->ignore();
        return;
    }
    RunGuarded([this] { Form_Unload(); });
    event->accept();
}

void frmMain::cmdExit_Click() { close(); }

void frmMain::Form_Paint() {
    if (FileLoaded && !FrameData_.empty()) VideoView1->ShowFrame(FrameData_);
}

}  // namespace trimora
