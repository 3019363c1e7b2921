#pragma once
// The main window: every control, the state shared by the window's handlers, and the handlers
// themselves. The handlers are defined in the folder of the feature that owns them:
//   app/      start-up and shutdown, layout, opening the input, About and help
//   editor/   marks and thumbs, playback, frame steps and capture, preview size, skin events
//   jobs/     cut, split, output file selection
//   output/   output format selection, applying output settings
//   i18n/     language list, text lookup, captions
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "app/CommonDialog.h"
#include "app/Controls.h"
#include "app/Platform.h"
#include "engine/EngineFactory.h"

class QListWidget;

namespace trimora {

class CRegister;
class frmAbout;

class frmMain : public QWidget {
    Q_OBJECT
public:
    frmMain(EngineFactory& engine, Platform& platform, QString programFolder, QWidget* parent = nullptr);
    ~frmMain() override;

    // ---- controls, by container ---------------------------------------------------------
    QTimer* Timer2 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QPushButton* cmdExit = nullptr;
    QPushButton* cmdHelp = nullptr;
    QGroupBox* Frame1 = nullptr;
    QComboBox* LstLang = nullptr;  // image combo: entries carry the language's picture
    SkinLabel* lblLang = nullptr;
    QGroupBox* FrameConvertTo = nullptr;
    QPushButton* cmdOptMPEG = nullptr;
    QPushButton* cmdOptWMV = nullptr;
    QPushButton* cmdOptAVI = nullptr;
    SkinLabel* lblCurSel = nullptr;
    QGroupBox* FrameOptAudioAvi = nullptr;
    QComboBox* cmbCnannelsAVI = nullptr;
    QRadioButton* optPCM = nullptr;
    QRadioButton* optMP3 = nullptr;
    QRadioButton* optGSM = nullptr;
    QRadioButton* optADPCM = nullptr;
    QRadioButton* optALAW = nullptr;
    QRadioButton* optULAW = nullptr;
    SkinLabel* lblChannels2 = nullptr;
    QGroupBox* FrameOptVideoWMV = nullptr;
    QComboBox* cmbWMVCodecs = nullptr;
    QGroupBox* FrameOptVideoMpeg = nullptr;
    QComboBox* cmbFramerateMPEG = nullptr;
    QComboBox* cmbVideoBitrateMPEG = nullptr;
    SkinLabel* lblFrameRate = nullptr;
    SkinLabel* lblVideoBitrate = nullptr;
    QGroupBox* FrameOptAudioMpeg = nullptr;
    QComboBox* cmbCnannelsMPEG = nullptr;
    QComboBox* cmbAudioBitrateMPEG = nullptr;
    SkinLabel* lblChannels = nullptr;
    SkinLabel* lblAudioBitrate = nullptr;
    QGroupBox* FrameOptVersionMpeg = nullptr;
    QRadioButton* rbMPEG1 = nullptr;
    QRadioButton* rbMPEG2 = nullptr;
    QGroupBox* FrameOptVideoAvi = nullptr;
    QComboBox* cmbAVICodecs = nullptr;
    QPushButton* btnConfigureVideoCodec = nullptr;
    QComboBox* cmbFramerateAVI = nullptr;
    SkinLabel* lblFrameRate2 = nullptr;
    SkinLabel* lblAVICodec = nullptr;
    QGroupBox* FrameOP = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* cmdCut = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdSplit = nullptr;
    SkinLabel* LabelPart = nullptr;
    QGroupBox* FrameInputFile = nullptr;
    QPushButton* cmdFile = nullptr;
    QLineEdit* txtFile = nullptr;
    QGroupBox* FrameCutEditor = nullptr;
    QGroupBox* Frame5 = nullptr;
    QPushButton* cmdPlayStop = nullptr;
    QComboBox* cmbPlaySld = nullptr;
    SkinLabel* lblSldNo = nullptr;
    SkinLabel* LabelT = nullptr;
    QGroupBox* Frame4 = nullptr;
    QPushButton* cmdSavePictureAs = nullptr;
    SkinLabel* LabelS = nullptr;
    QGroupBox* Frame3 = nullptr;
    QComboBox* cmbVideoSize = nullptr;
    SkinLabel* SkinLabel1 = nullptr;
    QTimer* Timer1 = nullptr;
    PictureBox* sldThum = nullptr;
    PictureBox* picScreen = nullptr;
    LineControl* Line2 = nullptr;
    LineControl* Line1 = nullptr;
    PictureBox* lblLogo = nullptr;  // the idle logo "TRIMORA"; moved in twips
    QLabel* lblLogoText = nullptr;
    PictureBox* sldThum2 = nullptr;
    QWidget* VideoView1Widget = nullptr;
    PictureBox* lblreg = nullptr;
    QPushButton* cmdNextFrame2 = nullptr;
    QPushButton* cmdPrevFrame2 = nullptr;
    QPushButton* cmdPrevFrame = nullptr;
    QPushButton* cmdNextFrame = nullptr;
    Slider* SliderTimePosition1 = nullptr;
    Slider* SliderTimePosition2 = nullptr;
    PictureBox* sldBack = nullptr;
    PictureBox* sldBack2 = nullptr;
    QGroupBox* FrameOutputFile = nullptr;
    QLineEdit* EdOutFile2 = nullptr;
    QPushButton* cmdOutFile2 = nullptr;
    QPushButton* cmdOutFile = nullptr;
    QLineEdit* EdOutFile = nullptr;
    QGroupBox* FrameVideoInfo = nullptr;
    InfoBox* EdInfoAudio = nullptr;
    InfoBox* EdInfoVideo = nullptr;
    SkinLabel* lblVideoInfo = nullptr;
    SkinLabel* lblAudioInfo = nullptr;
    std::unique_ptr<CommonDialog> commonDialog;  // the shared file dialog ("CommonDialog")

    // ---- engine objects -------------------------------------------------------------------
    std::unique_ptr<MediaFile> VideoFileIn1;
    std::unique_ptr<MediaFile> VideoFileOut;
    std::unique_ptr<ImageWriter> ImageFile1;
    std::unique_ptr<AudioPlayer> AudioPlayer_;  // "AudioPlayer"
    std::unique_ptr<VideoView> VideoView1;
    std::unique_ptr<Skin> Skin1;

    // ---- shared state -------------------------------------------------------------------------
    bool FileLoaded = false;
    QString PrevOpenedFile;
    FrameData FrameData_;  // "FrameData": the frame last read for the preview (shares its picture)
    bool UpdatingSliders = false;
    bool MoveShape = false;
    int16_t MoveShapeXOld = 0;
    bool MoveShape2 = false;
    int16_t MoveShapeXOld2 = 0;
    bool Playing = false;
    int16_t PlaySlider = 1;
    int32_t PlayStartTick = 0;
    std::array<int32_t, 3> PlayPosition{0, 0, 0};
    bool NoAudioOutput = true;
    int16_t LogoDirection = 1;
    int32_t StartFrame = 0;
    int32_t EndFrame = 0;
    bool CancelRequested = false;
    int16_t CurOutFormat = 0;
    std::array<QString, 4> OutExt;
    QString CurLang;
    QString CurLangPath;
    std::array<QString, 30> Messages;

    // A cut or split is running: the controls that would move or close the reader and the
    // output format controls are locked meanwhile.
    bool JobRunning = false;
    // The window was asked to close while a job ran; it closes once the job has completed.
    bool CloseAfterJob = false;
    // An input is being opened in the background: the same controls as for a job are locked, and
    // Cancel stops the open.
    bool OpenRunning = false;
    // Existing files the user agreed to replace in the Save As dialog (resolved paths).
    QStringList ConfirmedOutputFiles;
    // The controls LockForJob disabled, with whether each was enabled before.
    std::vector<std::pair<QWidget*, bool>> LockedControls;

    CRegister& Register();  // created on first use, kept for the window's lifetime
    Platform& platform() { return platform_; }
    const QString& ProgramFolder() const { return programFolder_; }

    // ---- app: start-up, shutdown, opening the input, About and help ------------------------------
    void Form_Load();
    void Form_Unload();
    void cmdExit_Click();
    void cmdFile_Click();
    // Opens a file the user chose: in the Open dialog, on the command line or by dropping it on
    // the window.
    void OpenChosenFile(const QString& path);
    // The same for a path or file URL handed over by the desktop; errors are reported.
    void OpenFromDesktop(const QString& pathOrUrl);
    void OpenInputFile(const QString& path);
    // Opens the reader on a thread of its own while this one keeps answering: the bar shows the
    // share read, Cancel (or closing the window) stops it with OpenCancelled.
    void OpenReaderInBackground(const QString& path);
    void cmdHelp_Click();
    void HelpCommand(const QString& elementName);
    QString VideoInfoText();
    QString AudioInfoText();
    QString LabelTText();

    // ---- editor: marks, playback, steps and capture, preview size -----------------------------------
    void sldThum_MouseDown(int button, int shift, float x, float y);
    void sldThum_MouseMove(int button, int shift, float x, float y);
    void sldThum_MouseUp(int button, int shift, float x, float y);
    void sldThum2_MouseDown(int button, int shift, float x, float y);
    void sldThum2_MouseMove(int button, int shift, float x, float y);
    void sldThum2_MouseUp(int button, int shift, float x, float y);
    void SliderTimePosition1_Change();
    void SliderTimePosition2_Change();
    void Calc_Reg();
    void ShowCurrentFrame();
    QString MarksLabelText(const char* suffix);

    void cmdPlayStop_Click();
    void cmbPlaySld_Click();
    void StartPlayback();
    void StopPlayback();
    void RefillAudio();
    void Timer1_Timer();
    void Timer2_Timer();
    void AudioPlayer_EndArrayPlay();
    void AudioPlayer_EndPlay();

    void cmdNextFrame_Click();
    void cmdNextFrame2_Click();
    void cmdPrevFrame_Click();
    void cmdPrevFrame2_Click();
    void cmdSavePictureAs_Click();
    void cmbVideoSize_Click();
    void Skin1_ElementClick(const SkinElement& element);

    // ---- jobs: cut, split, output file selection ---------------------------------------------------
    void cmdCut_Click();
    void cmdSplit_Click();
    void cmdCancel_Click();
    static int16_t ClipValue(int16_t percentage);
    template <typename T>
    static void Swap(T& a, T& b) {
        T t = a;
        a = b;
        b = t;
    }
    void cmdOutFile_Click();
    void cmdOutFile2_Click();
    // Locks or unlocks what would move or close the reader, and the output format controls.
    void LockForJob(bool locked);
    // Checks the output names before anything is written; false (after telling the user) to refuse.
    bool CheckOutputNames(const QStringList& outputs);

    // ---- output: format selection and applying it to the writer --------------------------------------
    void ConvertTo(int16_t format);
    void cmdOptAVI_Click();
    void cmdOptMPEG_Click();
    void cmdOptWMV_Click();
    void cmbAVICodecs_Click();
    void btnConfigureVideoCodec_Click();
    void cmbFramerateAVI_Click();
    void cmbCnannelsAVI_Click();
    void cmbFramerateMPEG_Click();
    void cmbVideoBitrateMPEG_Click();
    void cmbCnannelsMPEG_Click();
    void cmbAudioBitrateMPEG_Click();
    void cmbWMVCodecs_Click();
    void PrepareOutputFile(const QString& FileName);

    // ---- i18n: languages, text lookup, captions ------------------------------------------------
    QString GetFromINI(const QString& section, const QString& key);
    // A text of the language file's section "Desktop"; the English text when the file lacks it.
    QString DesktopText(int key, const char* english);
    // Accessible names and descriptions, and the tooltips that name shortcuts, in the current
    // language.
    void SetAccessibleTexts();
    void Load_Language();
    void LstLang_Click();
    void SetCaption();

    // ---- helpers shared by the handlers ---------------------------------------------------------
    // Gives a list a selection from code; like a user's choice, it runs the list's handler.
    void SelectRow(QComboBox* list, int row);
    // Runs one step of a continue-on-error sequence: an error skips the step silently.
    template <typename F>
    void Try(F&& step) {
        try {
            step();
        } catch (const std::exception&) {
        }
    }
    // Message box with the application's title and an OK button.
    void ShowMessage(const QString& text, MessageIcon icon = MessageIcon::None);
    void RepaintWindow();

protected:
    void paintEvent(QPaintEvent* event) override;  // Form_Paint
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Wraps a handler for a signal connection: an error no handler trapped is reported once, and
    // playback stops first if it was running, so the window stays usable.
    template <typename... Args>
    auto Guard(void (frmMain::*handler)(Args...)) {
        return [this, handler](Args... args) { RunGuarded([&] { (this->*handler)(args...); }); };
    }
    void RunGuarded(const std::function<void()>& body);
    void CreateControls();
    void LayoutControls();
    void ConnectHandlers();
    void CreateShortcuts();
    // A value set on a mark's slider from outside the program (a screen reader).
    void MarkValueRequested(int mark, int value);
    void Form_Paint();

    EngineFactory& engine_;
    Platform& platform_;
    QString programFolder_;
    std::unique_ptr<CRegister> register_;
    bool unloaded_ = false;
    bool reopeningPrevious_ = false;
    bool closeAfterOpen_ = false;  // the window was asked to close while an input opened
    std::map<QComboBox*, void (frmMain::*)()> listHandlers_;
    Backdrop* regionBackdrop_ = nullptr;  // under lblreg
    class AudioEvents;
    std::unique_ptr<AudioEvents> audioEvents_;
    AudioPlayerEvents* AudioEventSink();
};

}  // namespace trimora
