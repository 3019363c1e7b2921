// Creating the main window's controls with their design-time texts, lists and states, placing
// them in twips, and wiring their events to the handlers.
#include <QAccessible>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QPainter>

#include "app/frmMain.h"
#include "settings/CRegister.h"

namespace trimora {

class frmMain::AudioEvents : public AudioPlayerEvents {
public:
    explicit AudioEvents(frmMain& window) : window_(window) {}
    void AudioPlayer_EndArrayPlay() override { window_.RunGuarded([this] { window_.AudioPlayer_EndArrayPlay(); }); }
    void AudioPlayer_EndPlay() override { window_.RunGuarded([this] { window_.AudioPlayer_EndPlay(); }); }

private:
    frmMain& window_;
};

namespace {

template <typename T, typename... Args>
T* Make(QWidget* parent, const char* name, Args&&... args) {
    T* widget = new T(std::forward<Args>(args)..., parent);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QGroupBox* Group(QWidget* parent, const char* name, const QString& caption) {
    return Make<QGroupBox>(parent, name, caption);
}

QComboBox* List(QWidget* parent, const char* name, const QStringList& entries) {
    auto* list = Make<QComboBox>(parent, name);
    list->addItems(entries);
    list->setCurrentIndex(-1);
    return list;
}

void Accessible(QWidget* widget, const QString& name) {
    widget->setAccessibleName(name);
    widget->setToolTip(name);
}

}  // namespace

frmMain::frmMain(EngineFactory& engine, Platform& platform, QString programFolder, QWidget* parent)
    : QWidget(parent), engine_(engine), platform_(platform), programFolder_(std::move(programFolder)) {
    setObjectName("frmMain");
    setWindowTitle("Trimora");
    audioEvents_ = std::make_unique<AudioEvents>(*this);
    Skin1 = engine_.CreateSkin();
    Skin1->SetElementClickHandler([this](const SkinElement& element) {
        RunGuarded([&] { Skin1_ElementClick(element); });
    });
    CreateControls();
    LayoutControls();
    ConnectHandlers();
}

frmMain::~frmMain() = default;

AudioPlayerEvents* frmMain::AudioEventSink() { return audioEvents_.get(); }

void frmMain::CreateControls() {
    Timer2 = new QTimer(this);
    Timer2->setObjectName("Timer2");
    Timer2->setInterval(25);

    Frame2 = Group(this, "Frame2", "");
    cmdExit = Make<QPushButton>(Frame2, "cmdExit", "Exit");
    cmdHelp = Make<QPushButton>(Frame2, "cmdHelp", "About");

    Frame1 = Group(this, "Frame1", "");
    LstLang = Make<QComboBox>(Frame1, "LstLang");
    LstLang->setIconSize(QSize(24, 16));
    Accessible(LstLang, "Language");
    lblLang = Make<SkinLabel>(Frame1, "lblLang", "Language");

    FrameConvertTo = Group(this, "FrameConvertTo", "Convert To");
    cmdOptMPEG = Make<QPushButton>(FrameConvertTo, "cmdOptMPEG", "MPEG");
    cmdOptWMV = Make<QPushButton>(FrameConvertTo, "cmdOptWMV", "WMV");
    cmdOptAVI = Make<QPushButton>(FrameConvertTo, "cmdOptAVI", "AVI");
    lblCurSel = Make<SkinLabel>(FrameConvertTo, "lblCurSel", "");

    FrameOptAudioAvi = Group(FrameConvertTo, "FrameOptAudioAvi", "Audio Format: ");
    cmbCnannelsAVI = List(FrameOptAudioAvi, "cmbCnannelsAVI", {"Mono", "Stereo"});
    optPCM = Make<QRadioButton>(FrameOptAudioAvi, "optPCM", "PCM");
    optMP3 = Make<QRadioButton>(FrameOptAudioAvi, "optMP3", "MP3");
    optGSM = Make<QRadioButton>(FrameOptAudioAvi, "optGSM", "GSM");
    optADPCM = Make<QRadioButton>(FrameOptAudioAvi, "optADPCM", "ADPCM");
    optALAW = Make<QRadioButton>(FrameOptAudioAvi, "optALAW", "ALAW");
    optULAW = Make<QRadioButton>(FrameOptAudioAvi, "optULAW", "ULAW");
    optPCM->setChecked(true);
    lblChannels2 = Make<SkinLabel>(FrameOptAudioAvi, "lblChannels2", "Channels:");

    FrameOptVideoWMV = Group(FrameConvertTo, "FrameOptVideoWMV", "Output Video Format");
    cmbWMVCodecs = List(FrameOptVideoWMV, "cmbWMVCodecs", {});
    Accessible(cmbWMVCodecs, "Windows Media profile");

    FrameOptVideoMpeg = Group(FrameConvertTo, "FrameOptVideoMpeg", "Video Format");
    cmbFramerateMPEG = List(FrameOptVideoMpeg, "cmbFramerateMPEG", {"23.97", "24.00", "25.00", "29.97", "30.00"});
    cmbVideoBitrateMPEG = List(FrameOptVideoMpeg, "cmbVideoBitrateMPEG", {"750", "1150", "1500", "1950", "2376"});
    lblFrameRate = Make<SkinLabel>(FrameOptVideoMpeg, "lblFrameRate", "FrameRate:");
    lblVideoBitrate = Make<SkinLabel>(FrameOptVideoMpeg, "lblVideoBitrate", "VideoBitrate:");

    FrameOptAudioMpeg = Group(FrameConvertTo, "FrameOptAudioMpeg", "Audio Format");
    cmbCnannelsMPEG = List(FrameOptAudioMpeg, "cmbCnannelsMPEG", {"Mono", "Stereo"});
    cmbAudioBitrateMPEG = List(FrameOptAudioMpeg, "cmbAudioBitrateMPEG",
                               {"32", "48", "56", "64", "80", "96", "112", "128", "160", "192", "224", "256", "320",
                                "384"});
    lblChannels = Make<SkinLabel>(FrameOptAudioMpeg, "lblChannels", "Channels:");
    lblAudioBitrate = Make<SkinLabel>(FrameOptAudioMpeg, "lblAudioBitrate", "AudioBitrate:");

    FrameOptVersionMpeg = Group(FrameConvertTo, "FrameOptVersionMpeg", "MPEG Version");
    rbMPEG1 = Make<QRadioButton>(FrameOptVersionMpeg, "rbMPEG1", "MPEG1");
    rbMPEG2 = Make<QRadioButton>(FrameOptVersionMpeg, "rbMPEG2", "MPEG2");
    rbMPEG1->setChecked(true);

    FrameOptVideoAvi = Group(FrameConvertTo, "FrameOptVideoAvi", "Video Format: ");
    cmbAVICodecs = List(FrameOptVideoAvi, "cmbAVICodecs", {});
    Accessible(cmbAVICodecs, "AVI video codec");
    btnConfigureVideoCodec = Make<QPushButton>(FrameOptVideoAvi, "btnConfigureVideoCodec", "Configure ...");
    cmbFramerateAVI = List(FrameOptVideoAvi, "cmbFramerateAVI",
                           {"10.00", "15.00", "20.00", "23.97", "24.00", "25.00", "29.97", "30.00"});
    lblFrameRate2 = Make<SkinLabel>(FrameOptVideoAvi, "lblFrameRate2", "FrameRate:");
    lblAVICodec = Make<SkinLabel>(FrameOptVideoAvi, "lblAVICodec", "AVI Codec:");

    FrameOP = Group(this, "FrameOP", "");
    ProgressBar1 = Make<QProgressBar>(FrameOP, "ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    cmdCut = Make<QPushButton>(FrameOP, "cmdCut", "Cut");
    cmdCancel = Make<QPushButton>(FrameOP, "cmdCancel", "Cancel");
    cmdSplit = Make<QPushButton>(FrameOP, "cmdSplit", "Split");
    LabelPart = Make<SkinLabel>(FrameOP, "LabelPart", "");

    FrameInputFile = Group(this, "FrameInputFile", "Input Video File:");
    cmdFile = Make<QPushButton>(FrameInputFile, "cmdFile", "...");
    Accessible(cmdFile, "Open an input video");
    txtFile = Make<QLineEdit>(FrameInputFile, "txtFile");
    txtFile->setText("Select Input Video File");
    txtFile->setReadOnly(true);

    commonDialog = std::make_unique<CommonDialog>(platform_, this);

    FrameCutEditor = Group(this, "FrameCutEditor", "Movie Editor");
    Frame5 = Group(FrameCutEditor, "Frame5", "");
    cmdPlayStop = Make<QPushButton>(Frame5, "cmdPlayStop", "Play");
    cmbPlaySld = List(Frame5, "cmbPlaySld", {"1", "2"});
    Accessible(cmbPlaySld, "Play from mark");
    lblSldNo = Make<SkinLabel>(Frame5, "lblSldNo", "Using Slider #");
    LabelT = Make<SkinLabel>(Frame5, "LabelT", "");
    LabelT->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Frame4 = Group(FrameCutEditor, "Frame4", "");
    cmdSavePictureAs = Make<QPushButton>(Frame4, "cmdSavePictureAs", "Save Frame...");
    LabelS = Make<SkinLabel>(Frame4, "LabelS", "");
    LabelS->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Its text changes with every cycle of a job and every frame of playback: with a background
    // of its own, only the label is painted again, not the frames and the window behind it.
    LabelS->PaintOwnBackground();
    Frame3 = Group(FrameCutEditor, "Frame3", "");
    cmbVideoSize = List(Frame3, "cmbVideoSize", {"-1 Zoom To Fit", "0  Shrink To Fit", "1", "2", "3", "4", "5", "8"});
    Accessible(cmbVideoSize, "Preview size");
    SkinLabel1 = Make<SkinLabel>(Frame3, "SkinLabel1", "Preview Type");
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(500);

    VideoView1 = engine_.CreateVideoView(FrameCutEditor);
    VideoView1Widget = VideoView1->Widget();
    VideoView1Widget->setObjectName("VideoView1");
    Accessible(VideoView1Widget, "Preview of the video");

    picScreen = Make<PictureBox>(FrameCutEditor, "picScreen");
    Accessible(picScreen, "Trimora");
    lblLogo = Make<PictureBox>(picScreen, "lblLogo");
    lblLogoText = Make<QLabel>(lblLogo, "lblLogoText", "TRIMORA");
    lblLogoText->setAlignment(Qt::AlignCenter);
    Line1 = Make<LineControl>(picScreen, "Line1");
    Line2 = Make<LineControl>(picScreen, "Line2");

    // The region bar and the thumbs move with every cycle of a job: the strip under the bar and
    // the tracks under the thumbs repaint the places they leave, so the frame and the window
    // behind are not painted again each time.
    regionBackdrop_ = Make<Backdrop>(FrameCutEditor, "regionBackdrop");
    lblreg = Make<PictureBox>(FrameCutEditor, "lblreg");
    sldBack = Make<PictureBox>(FrameCutEditor, "sldBack");
    sldBack2 = Make<PictureBox>(FrameCutEditor, "sldBack2");
    sldBack->PaintOwnBackground();
    sldBack2->PaintOwnBackground();
    sldThum = Make<PictureBox>(FrameCutEditor, "sldThum");
    sldThum2 = Make<PictureBox>(FrameCutEditor, "sldThum2");
    for (PictureBox* thumb : {sldThum, sldThum2}) {
        thumb->setFocusPolicy(Qt::StrongFocus);
        thumb->setCursor(Qt::SizeHorCursor);
    }
    Accessible(sldThum, "Mark 1: drag to choose the first frame (arrow keys step one frame)");
    Accessible(sldThum2, "Mark 2: drag to choose the second frame (arrow keys step one frame)");
    sldBack->setAccessibleName("Track of mark 1");
    sldBack2->setAccessibleName("Track of mark 2");
    lblreg->setAccessibleName("Selected stretch");

    cmdNextFrame2 = Make<QPushButton>(FrameCutEditor, "cmdNextFrame2");
    cmdPrevFrame2 = Make<QPushButton>(FrameCutEditor, "cmdPrevFrame2");
    cmdPrevFrame = Make<QPushButton>(FrameCutEditor, "cmdPrevFrame");
    cmdNextFrame = Make<QPushButton>(FrameCutEditor, "cmdNextFrame");
    Accessible(cmdPrevFrame, "Mark 1: one frame back");
    Accessible(cmdNextFrame, "Mark 1: one frame forward");
    Accessible(cmdPrevFrame2, "Mark 2: one frame back");
    Accessible(cmdNextFrame2, "Mark 2: one frame forward");

    SliderTimePosition1 = Make<Slider>(FrameCutEditor, "SliderTimePosition1");
    SliderTimePosition2 = Make<Slider>(FrameCutEditor, "SliderTimePosition2");
    for (Slider* slider : {SliderTimePosition1, SliderTimePosition2}) {
        slider->SetMin(1);
        slider->SetMax(100);
        slider->setFocusPolicy(Qt::NoFocus);
        slider->hide();  // the user works through the thumbs
    }

    FrameOutputFile = Group(this, "FrameOutputFile", "Output Video File:");
    EdOutFile2 = Make<QLineEdit>(FrameOutputFile, "EdOutFile2");
    EdOutFile2->setText("Select Output Video File");
    Accessible(EdOutFile2, "Second output file of a split");
    cmdOutFile2 = Make<QPushButton>(FrameOutputFile, "cmdOutFile2", "...");
    Accessible(cmdOutFile2, "Choose the second output file");
    cmdOutFile = Make<QPushButton>(FrameOutputFile, "cmdOutFile", "...");
    Accessible(cmdOutFile, "Choose the output file");
    EdOutFile = Make<QLineEdit>(FrameOutputFile, "EdOutFile");
    EdOutFile->setText("Select Output Video File");
    Accessible(EdOutFile, "Output file");

    FrameVideoInfo = Group(this, "FrameVideoInfo", "Input Video Info");
    EdInfoAudio = Make<InfoBox>(FrameVideoInfo, "EdInfoAudio");
    EdInfoVideo = Make<InfoBox>(FrameVideoInfo, "EdInfoVideo");
    lblVideoInfo = Make<SkinLabel>(FrameVideoInfo, "lblVideoInfo", "Video Information");
    lblAudioInfo = Make<SkinLabel>(FrameVideoInfo, "lblAudioInfo", "Audio Information");
    EdInfoVideo->setAccessibleName("Video information");
    EdInfoAudio->setAccessibleName("Audio information");

    // Controls that only make sense with an input open start disabled.
    for (QWidget* w : std::initializer_list<QWidget*>{cmdCut, cmdSplit, cmdCancel, cmdOutFile, cmdOutFile2,
                                                      cmdPlayStop, cmbPlaySld, cmdSavePictureAs, cmbVideoSize,
                                                      sldThum, sldThum2})
        w->setEnabled(false);
}

void frmMain::LayoutControls() {
    resize(900, 548);
    setMinimumSize(900, 548);

    PlaceTwips(FrameCutEditor, 120, 120, 6900, 7980);
    PlaceTwips(VideoView1Widget, 210, 300, 5745, 3480);
    picScreen->SetGeometryTwips(210, 300, 5745, 3480);
    lblLogo->SetGeometryTwips(600, 1380, 2700, 600);
    lblLogoText->setGeometry(lblLogo->rect());
    Line1->setGeometry(picScreen->rect());
    Line2->setGeometry(picScreen->rect());
    Line1->Y1 = Line1->Y2 = 1290;
    Line2->Y1 = Line2->Y2 = 2070;
    Line1->X1 = Line2->X1 = lblLogo->Left() + 30;
    Line1->X2 = Line2->X2 = lblLogo->Left() + lblLogo->Width() - 30;

    // The tracks, thumbs and region bar keep the design geometry exactly.
    sldBack->SetGeometryTwips(210, 3960, 5745, 195);
    sldThum->SetGeometryTwips(210, 3975, 135, 165);
    lblreg->SetGeometryTwips(277.5f, 4170, 5640, 75);
    // The bar's row, across every place the bar can reach (between the two tracks' ends).
    PlaceTwips(regionBackdrop_, 210, 4170, 5775, 75);
    sldBack2->SetGeometryTwips(240, 4260, 5745, 195);
    sldThum2->SetGeometryTwips(240, 4275, 135, 165);
    PlaceTwips(cmdPrevFrame, 6060, 3930, 330, 255);
    PlaceTwips(cmdNextFrame, 6420, 3930, 330, 255);
    PlaceTwips(cmdPrevFrame2, 6060, 4230, 330, 255);
    PlaceTwips(cmdNextFrame2, 6420, 4230, 330, 255);
    PlaceTwips(SliderTimePosition1, -20000, 0, 1500, 300);
    PlaceTwips(SliderTimePosition2, -20000, 400, 1500, 300);

    PlaceTwips(Frame5, 120, 4620, 2160, 3240);
    PlaceTwips(lblSldNo, 120, 300, 1920, 255);
    PlaceTwips(cmdPlayStop, 120, 600, 1020, 375);
    PlaceTwips(cmbPlaySld, 1200, 600, 840, 375);
    PlaceTwips(LabelT, 120, 1110, 1920, 2000);
    PlaceTwips(Frame4, 2340, 4620, 2400, 3240);
    PlaceTwips(cmdSavePictureAs, 120, 300, 2160, 375);
    PlaceTwips(LabelS, 120, 810, 2160, 2300);
    PlaceTwips(Frame3, 4800, 4620, 1980, 3240);
    PlaceTwips(SkinLabel1, 120, 300, 1740, 255);
    PlaceTwips(cmbVideoSize, 120, 600, 1740, 375);

    PlaceTwips(FrameInputFile, 7140, 120, 6240, 720);
    PlaceTwips(txtFile, 120, 300, 5460, 330);
    PlaceTwips(cmdFile, 5640, 285, 480, 360);

    PlaceTwips(FrameOutputFile, 7140, 900, 6240, 1140);
    PlaceTwips(EdOutFile, 120, 300, 5460, 330);
    PlaceTwips(cmdOutFile, 5640, 285, 480, 360);
    PlaceTwips(EdOutFile2, 120, 690, 5460, 330);
    PlaceTwips(cmdOutFile2, 5640, 675, 480, 360);

    PlaceTwips(FrameVideoInfo, 7140, 2100, 6240, 1860);
    PlaceTwips(lblVideoInfo, 120, 240, 2940, 255);
    PlaceTwips(lblAudioInfo, 3180, 240, 2940, 255);
    PlaceTwips(EdInfoVideo, 120, 510, 2940, 1230);
    PlaceTwips(EdInfoAudio, 3180, 510, 2940, 1230);

    PlaceTwips(FrameConvertTo, 7140, 4020, 6240, 2400);
    PlaceTwips(cmdOptAVI, 120, 270, 1000, 375);
    PlaceTwips(cmdOptMPEG, 1200, 270, 1000, 375);
    PlaceTwips(cmdOptWMV, 2280, 270, 1000, 375);
    PlaceTwips(lblCurSel, 120, 660, 1000, 60);
    lblCurSel->SetLeft(120);

    PlaceTwips(FrameOptVideoAvi, 120, 780, 3420, 1500);
    PlaceTwips(lblAVICodec, 120, 240, 1800, 255);
    PlaceTwips(btnConfigureVideoCodec, 1920, 195, 1380, 300);
    PlaceTwips(cmbAVICodecs, 120, 540, 3180, 330);
    PlaceTwips(lblFrameRate2, 120, 990, 1620, 255);
    PlaceTwips(cmbFramerateAVI, 1800, 960, 1500, 330);
    PlaceTwips(FrameOptAudioAvi, 3660, 780, 2460, 1500);
    PlaceTwips(optPCM, 120, 240, 900, 255);
    PlaceTwips(optMP3, 120, 510, 900, 255);
    PlaceTwips(optGSM, 120, 780, 900, 255);
    PlaceTwips(optADPCM, 1260, 240, 1100, 255);
    PlaceTwips(optALAW, 1260, 510, 1100, 255);
    PlaceTwips(optULAW, 1260, 780, 1100, 255);
    PlaceTwips(lblChannels2, 120, 1110, 1080, 255);
    PlaceTwips(cmbCnannelsAVI, 1260, 1080, 1080, 330);

    PlaceTwips(FrameOptVideoMpeg, 120, 780, 2160, 1500);
    PlaceTwips(lblFrameRate, 120, 240, 1920, 255);
    PlaceTwips(cmbFramerateMPEG, 120, 495, 1920, 330);
    PlaceTwips(lblVideoBitrate, 120, 870, 1920, 255);
    PlaceTwips(cmbVideoBitrateMPEG, 120, 1125, 1920, 330);
    PlaceTwips(FrameOptAudioMpeg, 2340, 780, 2160, 1500);
    PlaceTwips(lblChannels, 120, 240, 1920, 255);
    PlaceTwips(cmbCnannelsMPEG, 120, 495, 1920, 330);
    PlaceTwips(lblAudioBitrate, 120, 870, 1920, 255);
    PlaceTwips(cmbAudioBitrateMPEG, 120, 1125, 1920, 330);
    PlaceTwips(FrameOptVersionMpeg, 4560, 780, 1560, 1500);
    PlaceTwips(rbMPEG1, 120, 360, 1320, 255);
    PlaceTwips(rbMPEG2, 120, 720, 1320, 255);
    PlaceTwips(FrameOptVideoWMV, 120, 780, 6000, 1500);
    PlaceTwips(cmbWMVCodecs, 120, 480, 5760, 330);

    PlaceTwips(FrameOP, 7140, 6480, 6240, 900);
    PlaceTwips(ProgressBar1, 120, 210, 6000, 195);
    PlaceTwips(cmdCut, 120, 450, 1260, 375);
    PlaceTwips(cmdSplit, 1440, 450, 1260, 375);
    PlaceTwips(cmdCancel, 2760, 450, 1260, 375);
    PlaceTwips(LabelPart, 4140, 510, 1980, 255);
    ProgressBar1->setVisible(false);

    PlaceTwips(Frame1, 7140, 7440, 3600, 660);
    PlaceTwips(lblLang, 120, 240, 1020, 300);
    PlaceTwips(LstLang, 1140, 210, 2340, 360);
    PlaceTwips(Frame2, 10860, 7440, 2520, 660);
    PlaceTwips(cmdHelp, 120, 195, 1080, 375);
    PlaceTwips(cmdExit, 1320, 195, 1080, 375);

    // Keyboard order: input, outputs, marks, playback, capture, preview size, format, jobs, language.
    QWidget* order[] = {cmdFile, txtFile, EdOutFile, cmdOutFile, EdOutFile2, cmdOutFile2, sldThum, cmdPrevFrame,
                        cmdNextFrame, sldThum2, cmdPrevFrame2, cmdNextFrame2, cmdPlayStop, cmbPlaySld,
                        cmdSavePictureAs, cmbVideoSize, EdInfoVideo, EdInfoAudio, cmdOptAVI, cmdOptMPEG, cmdOptWMV,
                        cmbAVICodecs, btnConfigureVideoCodec, cmbFramerateAVI, optPCM, optMP3, optGSM, optADPCM,
                        optALAW, optULAW, cmbCnannelsAVI, cmbFramerateMPEG, cmbVideoBitrateMPEG, cmbCnannelsMPEG,
                        cmbAudioBitrateMPEG, rbMPEG1, rbMPEG2, cmbWMVCodecs, cmdCut, cmdSplit, cmdCancel, LstLang,
                        cmdHelp, cmdExit};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

void frmMain::ConnectHandlers() {
    connect(Timer1, &QTimer::timeout, this, Guard(&frmMain::Timer1_Timer));
    connect(Timer2, &QTimer::timeout, this, Guard(&frmMain::Timer2_Timer));
    Timer2->start();  // the idle logo moves from the window's creation

    const std::pair<QPushButton*, void (frmMain::*)()> buttons[] = {
        {cmdExit, &frmMain::cmdExit_Click},
        {cmdHelp, &frmMain::cmdHelp_Click},
        {cmdOptMPEG, &frmMain::cmdOptMPEG_Click},
        {cmdOptWMV, &frmMain::cmdOptWMV_Click},
        {cmdOptAVI, &frmMain::cmdOptAVI_Click},
        {btnConfigureVideoCodec, &frmMain::btnConfigureVideoCodec_Click},
        {cmdCut, &frmMain::cmdCut_Click},
        {cmdCancel, &frmMain::cmdCancel_Click},
        {cmdSplit, &frmMain::cmdSplit_Click},
        {cmdFile, &frmMain::cmdFile_Click},
        {cmdPlayStop, &frmMain::cmdPlayStop_Click},
        {cmdSavePictureAs, &frmMain::cmdSavePictureAs_Click},
        {cmdNextFrame2, &frmMain::cmdNextFrame2_Click},
        {cmdPrevFrame2, &frmMain::cmdPrevFrame2_Click},
        {cmdPrevFrame, &frmMain::cmdPrevFrame_Click},
        {cmdNextFrame, &frmMain::cmdNextFrame_Click},
        {cmdOutFile2, &frmMain::cmdOutFile2_Click},
        {cmdOutFile, &frmMain::cmdOutFile_Click},
    };
    for (const auto& [button, handler] : buttons) connect(button, &QPushButton::clicked, this, Guard(handler));

    listHandlers_ = {
        {LstLang, &frmMain::LstLang_Click},
        {cmbCnannelsAVI, &frmMain::cmbCnannelsAVI_Click},
        {cmbWMVCodecs, &frmMain::cmbWMVCodecs_Click},
        {cmbFramerateMPEG, &frmMain::cmbFramerateMPEG_Click},
        {cmbVideoBitrateMPEG, &frmMain::cmbVideoBitrateMPEG_Click},
        {cmbCnannelsMPEG, &frmMain::cmbCnannelsMPEG_Click},
        {cmbAudioBitrateMPEG, &frmMain::cmbAudioBitrateMPEG_Click},
        {cmbAVICodecs, &frmMain::cmbAVICodecs_Click},
        {cmbFramerateAVI, &frmMain::cmbFramerateAVI_Click},
        {cmbPlaySld, &frmMain::cmbPlaySld_Click},
        {cmbVideoSize, &frmMain::cmbVideoSize_Click},
    };
    for (const auto& [list, handler] : listHandlers_)
        connect(list, &QComboBox::activated, this, [this, handler = handler](int) {
            RunGuarded([&] { (this->*handler)(); });
        });

    SliderTimePosition1->OnChange = [this] { SliderTimePosition1_Change(); };
    SliderTimePosition2->OnChange = [this] { SliderTimePosition2_Change(); };

    connect(sldThum, &PictureBox::MouseDown, this, Guard(&frmMain::sldThum_MouseDown));
    connect(sldThum, &PictureBox::MouseMove, this, Guard(&frmMain::sldThum_MouseMove));
    connect(sldThum, &PictureBox::MouseUp, this, Guard(&frmMain::sldThum_MouseUp));
    connect(sldThum2, &PictureBox::MouseDown, this, Guard(&frmMain::sldThum2_MouseDown));
    connect(sldThum2, &PictureBox::MouseMove, this, Guard(&frmMain::sldThum2_MouseMove));
    connect(sldThum2, &PictureBox::MouseUp, this, Guard(&frmMain::sldThum2_MouseUp));
    // Arrow keys on a focused thumb step its mark, as the step buttons do.
    connect(sldThum, &PictureBox::KeyPressed, this, [this](int key) {
        if (key == Qt::Key_Left) cmdPrevFrame->click();
        if (key == Qt::Key_Right) cmdNextFrame->click();
    });
    connect(sldThum2, &PictureBox::KeyPressed, this, [this](int key) {
        if (key == Qt::Key_Left) cmdPrevFrame2->click();
        if (key == Qt::Key_Right) cmdNextFrame2->click();
    });
}

void frmMain::SelectRow(QComboBox* list, int row) {
    list->setCurrentIndex(row < list->count() ? row : -1);
    if (auto it = listHandlers_.find(list); it != listHandlers_.end()) (this->*(it->second))();
}

void frmMain::RunGuarded(const std::function<void()>& body) {
    try {
        body();
    } catch (const std::exception& error) {
        if (Playing) Try([this] { StopPlayback(); });
        ShowMessage(QString::fromUtf8(error.what()), MessageIcon::Critical);
    }
}

void frmMain::ShowMessage(const QString& text, MessageIcon icon) { platform_.MessageBox(this, text, icon); }

// Repainting the window means drawing the preview's frame again. Controls whose texts or places
// changed repaint themselves; redrawing every control of the window once per frame would cost a
// job or playback more time than decoding and encoding the frame.
void frmMain::RepaintWindow() { VideoView1Widget->update(); }

void frmMain::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    RunGuarded([this] { Form_Paint(); });
}

CRegister& frmMain::Register() {
    if (!register_) register_ = std::make_unique<CRegister>();
    return *register_;
}

}  // namespace trimora
