// Opening an input file: the Open dialog, reading the input's information, suggesting output
// names, resetting the marks and playback, and returning to the previous input after a failure.
#include <QEventLoop>
#include <QLocale>
#include <atomic>
#include <exception>
#include <thread>

#include "app/frmMain.h"
#include "editor/TwipsGeometry.h"
#include "engine/EngineError.h"
#include "output/OutputNames.h"

namespace trimora {

namespace {
const char* const kMovieFilter =
    "All Movie Files |*.avi;*.mpg;*.mpeg;*.wmv;*.wma;*.asf;*.mov;*.qt|AVI Files (*.avi)|*.avi|Mpeg files (*.mpg, "
    "*.mpeg)|*.mpg; *.mpeg|Windows Media files (*.wmv, *.wma, *.asf)|*.wmv; *.wma; *.asf|Quick Time Files (*.mov, "
    "*.qt)|*.mov; *.qt|";

// The general number form: the shortest text, at most 15 significant digits, the user's decimal
// separator and no grouping.
QString GeneralNumber(double value) {
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

QString Line(const QString& label, const QString& value) { return label + '\t' + value; }
}  // namespace

void frmMain::cmdFile_Click() {
    try {
        commonDialog->FileName.clear();
        commonDialog->DialogTitle = "Open Video File";
        commonDialog->Filter = kMovieFilter;
        commonDialog->FilterIndex = 1;
        commonDialog->ShowOpen();
    } catch (const std::exception&) {
        return;  // errors of the dialog end the handler silently
    }
    if (!commonDialog->FileName.isEmpty()) OpenChosenFile(commonDialog->FileName);
}

QString frmMain::VideoInfoText() {
    MediaFile& in = *VideoFileIn1;
    return QStringList{
        Line(Messages[10], QString::fromStdString(in.VideoCodecName())),
        Line(Messages[11], QString::number(in.VideoDuration())),
        Line(Messages[12], QString::number(in.VideoBitRate())),
        Line(Messages[13], GeneralNumber(in.FrameRate())),
        Line(Messages[14], QString::number(in.NumberOfFrames())),
        Line(Messages[15], QString::number(in.Width()) + "*" + QString::number(in.Height())),
    }.join("\r\n");
}

QString frmMain::AudioInfoText() {
    MediaFile& in = *VideoFileIn1;
    return QStringList{
        Line(Messages[10], QString::fromStdString(in.AudioFormatName())),
        Line(Messages[11], QString::number(in.AudioDuration())),
        Line(Messages[12], QString::number(in.AudioBitRate())),
        Line(Messages[16], QString::number(in.SampleRate())),
        Line(Messages[17], QString::number(in.BitsPerSample())),
        Line(Messages[18], QString::number(in.Channels())),
    }.join("\r\n");
}

QString frmMain::LabelTText() {
    return Messages[22] + '\r' + QString::number(VideoFileIn1->VideoDuration()) + " " + Messages[8] + '\r' +
           Messages[23] + '\r' + QString::number(VideoFileIn1->NumberOfFrames());
}

void frmMain::OpenReaderInBackground(const QString& path) {
    // The reader is used by the opening thread alone until it ends: whatever would start another
    // open, a job or playback is locked as for a job, and the window's other handlers leave the
    // reader alone while no input is loaded.
    struct Shared {
        std::atomic<double> share{0};
        std::atomic<bool> cancel{false};
        std::atomic<bool> done{false};
        std::exception_ptr failure;
    };
    Shared shared;
    CancelRequested = false;
    const bool cutEnabled = cmdCut->isEnabled(), splitEnabled = cmdSplit->isEnabled();
    cmdCut->setEnabled(false);
    cmdSplit->setEnabled(false);
    cmdCancel->setEnabled(true);
    LockForJob(true);
    ProgressBar1->setValue(0);
    ProgressBar1->setVisible(true);
    OpenRunning = true;

    QEventLoop loop;
    QTimer tick;
    tick.setInterval(20);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (CancelRequested || closeAfterOpen_) shared.cancel = true;
        ProgressBar1->setValue(static_cast<int>(shared.share.load() * 100));
        if (shared.done) loop.quit();
    });
    MediaFile& reader = *VideoFileIn1;
    const std::string file = path.toStdString();
    std::thread opening([&] {
        try {
            reader.OpenForReading(file, [&](double share) {
                shared.share = share;
                return !shared.cancel;
            });
        } catch (...) {
            shared.failure = std::current_exception();
        }
        shared.done = true;
        // The window goes on at once, not at the next tick.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    std::exception_ptr waitFailure;
    try {
        tick.start();
        loop.exec();
    } catch (...) {
        waitFailure = std::current_exception();
        shared.cancel = true;
    }
    opening.join();
    tick.stop();

    OpenRunning = false;
    ProgressBar1->setVisible(false);
    ProgressBar1->setValue(0);
    LockForJob(false);
    cmdCancel->setEnabled(false);
    cmdCut->setEnabled(cutEnabled);
    cmdSplit->setEnabled(splitEnabled);
    CancelRequested = false;
    if (closeAfterOpen_) QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    if (waitFailure) std::rethrow_exception(waitFailure);
    if (shared.failure) std::rethrow_exception(shared.failure);
}

void frmMain::OpenInputFile(const QString& path) {
    // The previous input is re-opened after a failure only once: if it fails as well, the window
    // stays without an input instead of trying again and again.
    const bool reopening = reopeningPrevious_;
    QString error;
    bool cancelled = false;
    // Playback reads the input on every tick: it stops before the input is closed, so a failed
    // open never leaves it running on a closed reader.
    if (Playing) StopPlayback();
    try {
        if (FileLoaded) {
            FileLoaded = false;
            VideoFileIn1->Close();
        }
        txtFile->setText(path);
        const QString stem = PathStem(path);
        EdOutFile->setText(stem + "_1." + OutExt.at(static_cast<size_t>(CurOutFormat)));
        EdOutFile2->setText(stem + "_2." + OutExt.at(static_cast<size_t>(CurOutFormat)));
        for (QWidget* w : std::initializer_list<QWidget*>{SliderTimePosition1, SliderTimePosition2, cmdOutFile,
                                                          cmdOutFile2, cmdCut, cmdSplit})
            w->setEnabled(true);
        OpenReaderInBackground(path);
        SliderTimePosition1->SetValue(1);
        SliderTimePosition2->SetValue(1);
        if (!VideoFileIn1->HasVideo()) throw EngineError(Messages[25].toStdString());

        const QString videoText = VideoInfoText();
        const int32_t frames = VideoFileIn1->NumberOfFrames();
        if (frames < 1) throw EngineError("The video holds no frames.");
        SliderTimePosition1->SetMax(frames);
        SliderTimePosition2->SetMax(frames);
        FileLoaded = true;
        EdInfoVideo->SetText(videoText);
        EdInfoAudio->SetText(VideoFileIn1->HasAudio() ? AudioInfoText() : QString());

        if (AudioPlayer_) {
            AudioPlayer_->SetPlaybackFormat(VideoFileIn1->SampleRate(), VideoFileIn1->Channels());
            AudioPlayer_->FollowUp(0);
        }
        PlayPosition[1] = 1;
        PlayPosition[2] = 1;
        StopPlayback();

        cmdPlayStop->setText(GetFromINI("frmMain", "29"));
        cmdPlayStop->repaint();
        cmdPlayStop->setEnabled(true);
        cmbPlaySld->setEnabled(true);
        cmdPlayStop->repaint();

        sldThum->SetLeft(ThumbLeft(sldBack->Left(), sldBack->Width(), sldThum->Width(),
                                   SliderTimePosition1->Value(), SliderTimePosition1->Max()));
        sldThum2->SetLeft(ThumbLeft(sldBack2->Left(), sldBack2->Width(), sldThum2->Width(),
                                    SliderTimePosition2->Value(), SliderTimePosition2->Max()));

        Timer2->stop();
        picScreen->hide();
        for (QWidget* w : std::initializer_list<QWidget*>{cmdSavePictureAs, sldThum, sldThum2, cmbVideoSize})
            w->setEnabled(true);
        LabelT->SetCaption(LabelTText());
        ShowCurrentFrame();
        Calc_Reg();
        PrevOpenedFile = path;
        return;
    } catch (const OpenCancelled&) {
        cancelled = true;  // the user's choice: the way back without a message
    } catch (const std::exception& failure) {
        error = QString::fromUtf8(failure.what());
    }

    FileLoaded = true;
    UpdatingSliders = true;
    SliderTimePosition1->SetValue(1);
    SliderTimePosition2->SetValue(1);
    SliderTimePosition1_Change();
    SliderTimePosition2_Change();
    UpdatingSliders = false;
    Calc_Reg();
    FileLoaded = false;
    VideoFileIn1->Close();
    EdInfoVideo->SetText("");
    EdInfoAudio->SetText("");
    txtFile->setText(GetFromINI("frmMain", "6"));
    if (!cancelled) ShowMessage(error, MessageIcon::Critical);
    VideoView1->Clear();
    Timer2->start();
    picScreen->show();
    for (QWidget* w : std::initializer_list<QWidget*>{cmdSavePictureAs, sldThum, sldThum2, cmbVideoSize})
        w->setEnabled(false);
    if (PrevOpenedFile.isEmpty() || closeAfterOpen_) return;  // a closing window opens nothing more
    if (reopening) {
        PrevOpenedFile.clear();
        return;
    }
    reopeningPrevious_ = true;
    const QString previous = PrevOpenedFile;
    try {
        OpenInputFile(previous);
    } catch (...) {
        reopeningPrevious_ = false;
        throw;
    }
    reopeningPrevious_ = false;
}

}  // namespace trimora
