// Creating the main window's controls with their design-time texts, lists and states, placing
// them in twips, and wiring their events to the handlers.
#include <QAccessible>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
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
    // One font for the window whatever the desktop's: the layout is measured in it, so every
    // caption of every language fits its control.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    setFont(font);
    setAcceptDrops(true);
    setWindowIcon(QIcon::fromTheme("trimora", QIcon(programFolder_ + "/trimora.png")));
    CreateControls();
    LayoutControls();
    ConnectHandlers();
    CreateShortcuts();
    SetAccessibleTexts();
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
    txtFile = Make<QLineEdit>(FrameInputFile, "txtFile");
    txtFile->setText("Select Input Video File");
    txtFile->setReadOnly(true);

    commonDialog = std::make_unique<CommonDialog>(platform_, this);

    FrameCutEditor = Group(this, "FrameCutEditor", "Movie Editor");
    Frame5 = Group(FrameCutEditor, "Frame5", "");
    cmdPlayStop = Make<QPushButton>(Frame5, "cmdPlayStop", "Play");
    cmbPlaySld = List(Frame5, "cmbPlaySld", {"1", "2"});
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
    SkinLabel1 = Make<SkinLabel>(Frame3, "SkinLabel1", "Preview Type");
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(500);

    VideoView1 = engine_.CreateVideoView(FrameCutEditor);
    VideoView1Widget = VideoView1->Widget();
    VideoView1Widget->setObjectName("VideoView1");

    picScreen = Make<PictureBox>(FrameCutEditor, "picScreen");
    picScreen->setAccessibleName("Trimora");
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

    cmdNextFrame2 = Make<QPushButton>(FrameCutEditor, "cmdNextFrame2");
    cmdPrevFrame2 = Make<QPushButton>(FrameCutEditor, "cmdPrevFrame2");
    cmdPrevFrame = Make<QPushButton>(FrameCutEditor, "cmdPrevFrame");
    cmdNextFrame = Make<QPushButton>(FrameCutEditor, "cmdNextFrame");

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
    cmdOutFile2 = Make<QPushButton>(FrameOutputFile, "cmdOutFile2", "...");
    cmdOutFile = Make<QPushButton>(FrameOutputFile, "cmdOutFile", "...");
    EdOutFile = Make<QLineEdit>(FrameOutputFile, "EdOutFile");
    EdOutFile->setText("Select Output Video File");

    FrameVideoInfo = Group(this, "FrameVideoInfo", "Input Video Info");
    EdInfoAudio = Make<InfoBox>(FrameVideoInfo, "EdInfoAudio");
    EdInfoVideo = Make<InfoBox>(FrameVideoInfo, "EdInfoVideo");
    lblVideoInfo = Make<SkinLabel>(FrameVideoInfo, "lblVideoInfo", "Video Information");
    lblAudioInfo = Make<SkinLabel>(FrameVideoInfo, "lblAudioInfo", "Audio Information");

    // Controls that only make sense with an input open start disabled.
    for (QWidget* w : std::initializer_list<QWidget*>{cmdCut, cmdSplit, cmdCancel, cmdOutFile, cmdOutFile2,
                                                      cmdPlayStop, cmbPlaySld, cmdSavePictureAs, cmbVideoSize,
                                                      sldThum, sldThum2})
        w->setEnabled(false);
}

void frmMain::LayoutControls() {
    // Room for the longest caption of every shipped language in the window's font, also when
    // the desktop draws everything one and a half times as large.
    resize(930, 590);
    setMinimumSize(930, 590);

    PlaceTwips(FrameCutEditor, 120, 120, 6900, 8610);
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

    // Playback on the left, the whole height; capture above the preview size on the right.
    PlaceTwips(Frame5, 120, 4620, 3300, 3870);
    PlaceTwips(lblSldNo, 120, 300, 3060, 255);
    PlaceTwips(cmdPlayStop, 120, 600, 1200, 375);
    PlaceTwips(cmbPlaySld, 1380, 600, 840, 375);
    PlaceTwips(LabelT, 120, 1110, 3060, 2000);
    PlaceTwips(Frame4, 3480, 4620, 3300, 1800);
    PlaceTwips(cmdSavePictureAs, 120, 300, 2400, 375);
    PlaceTwips(LabelS, 120, 780, 3060, 900);
    PlaceTwips(Frame3, 3480, 6480, 3300, 2010);
    PlaceTwips(SkinLabel1, 120, 300, 3060, 255);
    PlaceTwips(cmbVideoSize, 120, 600, 3060, 375);

    PlaceTwips(FrameInputFile, 7140, 120, 6690, 720);
    PlaceTwips(txtFile, 120, 300, 5910, 330);
    PlaceTwips(cmdFile, 6090, 285, 480, 360);

    PlaceTwips(FrameOutputFile, 7140, 900, 6690, 1140);
    PlaceTwips(EdOutFile, 120, 300, 5910, 330);
    PlaceTwips(cmdOutFile, 6090, 285, 480, 360);
    PlaceTwips(EdOutFile2, 120, 690, 5910, 330);
    PlaceTwips(cmdOutFile2, 6090, 675, 480, 360);

    // Six lines in each information box, and room for a scroll bar under lines too long for it.
    PlaceTwips(FrameVideoInfo, 7140, 2100, 6690, 2490);
    PlaceTwips(lblVideoInfo, 120, 240, 3165, 255);
    PlaceTwips(lblAudioInfo, 3405, 240, 3165, 255);
    PlaceTwips(EdInfoVideo, 120, 510, 3165, 1860);
    PlaceTwips(EdInfoAudio, 3405, 510, 3165, 1860);

    PlaceTwips(FrameConvertTo, 7140, 4650, 6690, 2400);
    PlaceTwips(cmdOptAVI, 120, 270, 1000, 375);
    PlaceTwips(cmdOptMPEG, 1200, 270, 1000, 375);
    PlaceTwips(cmdOptWMV, 2280, 270, 1000, 375);
    PlaceTwips(lblCurSel, 120, 660, 1000, 60);
    lblCurSel->SetLeft(120);

    PlaceTwips(FrameOptVideoAvi, 120, 780, 3720, 1500);
    PlaceTwips(lblAVICodec, 120, 240, 1980, 255);
    PlaceTwips(btnConfigureVideoCodec, 2100, 195, 1500, 300);
    PlaceTwips(cmbAVICodecs, 120, 540, 3480, 330);
    PlaceTwips(lblFrameRate2, 120, 990, 2280, 255);
    PlaceTwips(cmbFramerateAVI, 2460, 960, 1140, 330);
    PlaceTwips(FrameOptAudioAvi, 3900, 780, 2670, 1500);
    PlaceTwips(optPCM, 120, 240, 1000, 255);
    PlaceTwips(optMP3, 120, 510, 1000, 255);
    PlaceTwips(optGSM, 120, 780, 1000, 255);
    PlaceTwips(optADPCM, 1260, 240, 1290, 255);
    PlaceTwips(optALAW, 1260, 510, 1290, 255);
    PlaceTwips(optULAW, 1260, 780, 1290, 255);
    PlaceTwips(lblChannels2, 120, 1110, 1080, 255);
    PlaceTwips(cmbCnannelsAVI, 1260, 1080, 1290, 330);

    PlaceTwips(FrameOptVideoMpeg, 120, 780, 2280, 1500);
    PlaceTwips(lblFrameRate, 120, 240, 2040, 255);
    PlaceTwips(cmbFramerateMPEG, 120, 495, 2040, 330);
    PlaceTwips(lblVideoBitrate, 120, 870, 2040, 255);
    PlaceTwips(cmbVideoBitrateMPEG, 120, 1125, 2040, 330);
    PlaceTwips(FrameOptAudioMpeg, 2460, 780, 2280, 1500);
    PlaceTwips(lblChannels, 120, 240, 2040, 255);
    PlaceTwips(cmbCnannelsMPEG, 120, 495, 2040, 330);
    PlaceTwips(lblAudioBitrate, 120, 870, 2040, 255);
    PlaceTwips(cmbAudioBitrateMPEG, 120, 1125, 2040, 330);
    PlaceTwips(FrameOptVersionMpeg, 4800, 780, 1770, 1500);
    PlaceTwips(rbMPEG1, 120, 360, 1530, 255);
    PlaceTwips(rbMPEG2, 120, 720, 1530, 255);
    PlaceTwips(FrameOptVideoWMV, 120, 780, 6450, 1500);
    PlaceTwips(cmbWMVCodecs, 120, 480, 6210, 330);

    // The part being written stands beside the progress bar, above the job buttons.
    PlaceTwips(FrameOP, 7140, 7110, 6690, 900);
    PlaceTwips(ProgressBar1, 120, 240, 3450, 195);
    PlaceTwips(LabelPart, 3630, 210, 2940, 255);
    PlaceTwips(cmdCut, 120, 465, 1260, 375);
    PlaceTwips(cmdSplit, 1440, 465, 1260, 375);
    PlaceTwips(cmdCancel, 2760, 465, 1260, 375);
    ProgressBar1->setVisible(false);

    PlaceTwips(Frame1, 7140, 8070, 3420, 660);
    PlaceTwips(lblLang, 120, 240, 1020, 300);
    PlaceTwips(LstLang, 1140, 210, 2160, 360);
    PlaceTwips(Frame2, 10680, 8070, 3150, 660);
    PlaceTwips(cmdHelp, 120, 195, 1380, 375);
    PlaceTwips(cmdExit, 1620, 195, 1380, 375);

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
    SliderTimePosition1->OnValueRequest = [this](int value) { RunGuarded([&] { MarkValueRequested(1, value); }); };
    SliderTimePosition2->OnValueRequest = [this](int value) { RunGuarded([&] { MarkValueRequested(2, value); }); };
    // The closed lists may be narrower than a codec's or profile's name: the tooltip shows it whole.
    for (QComboBox* list : {cmbAVICodecs, cmbWMVCodecs})
        connect(list, &QComboBox::currentIndexChanged, list, [list] { list->setToolTip(list->currentText()); });

    connect(sldThum, &PictureBox::MouseDown, this, Guard(&frmMain::sldThum_MouseDown));
    connect(sldThum, &PictureBox::MouseMove, this, Guard(&frmMain::sldThum_MouseMove));
    connect(sldThum, &PictureBox::MouseUp, this, Guard(&frmMain::sldThum_MouseUp));
    connect(sldThum2, &PictureBox::MouseDown, this, Guard(&frmMain::sldThum2_MouseDown));
    connect(sldThum2, &PictureBox::MouseMove, this, Guard(&frmMain::sldThum2_MouseMove));
    connect(sldThum2, &PictureBox::MouseUp, this, Guard(&frmMain::sldThum2_MouseUp));
    // Arrow keys on a focused thumb step its mark, as the step buttons do; Space plays and stops.
    connect(sldThum, &PictureBox::KeyPressed, this, [this](int key) {
        if (key == Qt::Key_Left) cmdPrevFrame->click();
        if (key == Qt::Key_Right) cmdNextFrame->click();
        if (key == Qt::Key_Space && cmdPlayStop->isEnabled()) cmdPlayStop->click();
    });
    connect(sldThum2, &PictureBox::KeyPressed, this, [this](int key) {
        if (key == Qt::Key_Left) cmdPrevFrame2->click();
        if (key == Qt::Key_Right) cmdNextFrame2->click();
        if (key == Qt::Key_Space && cmdPlayStop->isEnabled()) cmdPlayStop->click();
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
void frmMain::RepaintWindow() { VideoView1->Repaint(); }

void frmMain::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    RunGuarded([this] { Form_Paint(); });
}

CRegister& frmMain::Register() {
    if (!register_) register_ = std::make_unique<CRegister>();
    return *register_;
}

}  // namespace trimora
