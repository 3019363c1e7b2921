// The language list, captions and messages on the scripted engine.
#include <QAccessible>
#include <QFile>
#include <QImage>
#include <set>
#include <QTest>
#include <initializer_list>
#include <map>

#include "settings/CRegister.h"
#include "support/PlainLabelLook.h"
#include "support/WindowFixture.h"

namespace trimora::test {
namespace {

const char* const kKeyPath = "Software\\Corvale\\Framewise Settings";

class CaptionsTest : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        RemoveLanguages();
    }
    // A language file whose every text is "<prefix> <key>", with a picture unless told otherwise.
    void WriteLanguage(const QString& name, const QString& prefix, bool picture = true) {
        QFile file(programFolder + "/Languages/" + name + ".ini");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray text = "[frmMain]\r\n";
        for (int key = 0; key <= 31; ++key) {
            QString value = prefix + " " + QString::number(key);
            if (key == 27) value = "-1 " + prefix + " zoom";
            if (key == 28) value = "0 " + prefix + " shrink";
            text += QString("%1=%2\r\n").arg(key).arg(value).toUtf8();
        }
        text += "[MSGX]\r\n";
        for (int key = 0; key <= 29; ++key) text += QString("%1=%2 message %1\r\n").arg(key).arg(prefix).toUtf8();
        file.write(text);
        if (picture) {
            QImage flag(24, 16, QImage::Format_RGB888);
            flag.fill(Qt::red);
            flag.save(programFolder + "/Languages/" + name + ".bmp", "BMP");
        }
    }
    void StoreLanguage(const std::string& name) {
        CRegister().REGSaveSetting(HKEY_LOCAL_MACHINE, kKeyPath, "Lang", name);
    }
    std::string StoredLanguage() {
        return CRegister().REGGetSetting(HKEY_LOCAL_MACHINE, kKeyPath, "Lang", "none");
    }
    void Choose(const QString& language) {
        window->LstLang->setCurrentIndex(window->LstLang->findText(language));
        window->LstLang_Click();
    }
};

TEST_F(CaptionsTest, LanguageFilesGiveEntriesWithPicturesAndTheStoredOneIsSelected) {
    WriteLanguage("English", "EN");
    WriteLanguage("German", "DE");
    StoreLanguage("German");
    frmMain& w = Load();
    ASSERT_EQ(w.LstLang->count(), 2);
    EXPECT_EQ(w.LstLang->itemText(0), "English");
    EXPECT_EQ(w.LstLang->itemText(1), "German");
    EXPECT_FALSE(w.LstLang->itemIcon(0).isNull());
    EXPECT_FALSE(w.LstLang->itemIcon(1).isNull());
    EXPECT_EQ(w.LstLang->currentText(), "German");
    EXPECT_EQ(w.windowTitle(), "DE 0");
    EXPECT_EQ(w.cmdCut->text(), "DE 9");
    EXPECT_EQ(w.Messages[21], "DE message 21");
}

TEST_F(CaptionsTest, StoredNameDifferingInCaseSelectsTheFirstEntry) {
    WriteLanguage("English", "EN");
    WriteLanguage("German", "DE");
    StoreLanguage("german");
    frmMain& w = Load();
    EXPECT_EQ(w.LstLang->currentIndex(), 0);
    EXPECT_EQ(w.CurLang, "german");  // the texts are looked up under the stored name
}

TEST_F(CaptionsTest, LanguageWithoutPictureStillAppears) {
    WriteLanguage("English", "EN");
    WriteLanguage("Klingon", "KL", false);
    frmMain& w = Load();
    ASSERT_EQ(w.LstLang->count(), 2);
    EXPECT_EQ(w.LstLang->itemText(1), "Klingon");
    EXPECT_FALSE(w.LstLang->itemIcon(1).isNull());
}

TEST_F(CaptionsTest, ChoosingALanguageAppliesAndStoresItEvenWhenAlreadySelected) {
    WriteLanguage("English", "EN");
    WriteLanguage("German", "DE");
    frmMain& w = Load();
    Choose("German");
    EXPECT_EQ(w.cmdExit->text(), "DE 26");
    EXPECT_EQ(StoredLanguage(), "German");
    // Edit the file, then choose the selected entry again: texts reload, the value is written again.
    WriteLanguage("German", "DE2");
    StoreLanguage("something else");
    Choose("German");
    EXPECT_EQ(w.cmdExit->text(), "DE2 26");
    EXPECT_EQ(StoredLanguage(), "German");
    // A new window (the next start) comes up in the chosen language.
    window.reset();
    engine.files.clear();
    EXPECT_EQ(Load().cmdExit->text(), "DE2 26");
}

TEST_F(CaptionsTest, EmptyLanguageFileShowsDefaultEverywhere) {
    QFile(programFolder + "/Languages/English.ini").open(QIODevice::WriteOnly);
    frmMain& w = Load();
    EXPECT_EQ(w.windowTitle(), "Default");
    for (QGroupBox* frame : {w.FrameInputFile, w.FrameCutEditor, w.FrameOutputFile, w.FrameVideoInfo,
                             w.FrameConvertTo, w.FrameOptVideoAvi, w.FrameOptAudioAvi, w.FrameOptVideoMpeg,
                             w.FrameOptAudioMpeg, w.FrameOptVersionMpeg, w.FrameOptVideoWMV})
        EXPECT_EQ(frame->title(), "Default") << frame->objectName().toStdString();
    for (QPushButton* button : {w.cmdSavePictureAs, w.cmdCut, w.cmdSplit, w.cmdCancel, w.btnConfigureVideoCodec,
                                w.cmdHelp, w.cmdExit, w.cmdPlayStop})
        EXPECT_EQ(button->text(), "Default") << button->objectName().toStdString();
    for (SkinLabel* label : {w.lblVideoInfo, w.lblAudioInfo, w.lblLang, w.lblFrameRate, w.lblFrameRate2,
                             w.lblVideoBitrate, w.lblChannels, w.lblChannels2, w.lblAudioBitrate, w.lblAVICodec,
                             w.lblSldNo})
        EXPECT_EQ(label->Caption(), "Default") << label->objectName().toStdString();
    EXPECT_EQ(w.cmbVideoSize->itemText(0), "Default");
    EXPECT_EQ(w.cmbVideoSize->itemText(1), "Default");
    EXPECT_EQ(w.txtFile->text(), "Default");
    EXPECT_EQ(w.EdOutFile->text(), "Default");
    EXPECT_EQ(w.EdOutFile2->text(), "Default");
    for (const QString& message : w.Messages) EXPECT_EQ(message, "Default");
    // Rows 0 and 1 no longer begin with a number: both select mode 0.
    w.SelectRow(w.cmbVideoSize, 0);
    EXPECT_EQ(engine.view->sizeMode, 0);
}

TEST_F(CaptionsTest, LanguageChangeKeepsTheChosenContainer) {
    WriteLanguage("English", "EN");
    WriteLanguage("German", "DE");
    frmMain& w = Load();
    QTest::mouseClick(w.cmdOptMPEG, Qt::LeftButton);
    Choose("German");
    EXPECT_EQ(w.CurOutFormat, 1);
    EXPECT_TRUE(w.cmdOptMPEG->font().bold());
    EXPECT_FALSE(w.cmdOptAVI->font().bold());
    EXPECT_TRUE(w.FrameOptVideoMpeg->isVisibleTo(&w));
    EXPECT_TRUE(w.FrameOptVersionMpeg->isVisibleTo(&w));
    EXPECT_FALSE(w.FrameOptVideoAvi->isVisibleTo(&w));
    EXPECT_FALSE(w.FrameOptVideoWMV->isVisibleTo(&w));
    EXPECT_EQ(w.FrameOptVideoMpeg->title(), "DE 14");
}

TEST_F(CaptionsTest, WithAnInputOpenTheComposedTextsFollowTheLanguage) {
    WriteLanguage("English", "EN");
    WriteLanguage("German", "DE");
    frmMain& w = Load();
    Open("/videos/clip.avi");
    w.SliderTimePosition2->SetValue(42);
    Choose("German");
    EXPECT_EQ(w.LabelS->Caption(), "DE message 91#: 1\rDE message 92#: 42\rDE message 24");
    EXPECT_EQ(w.LabelT->Caption(), "DE message 22\r4000 DE message 8\rDE message 23\r100");
    EXPECT_EQ(w.sldThum2->toolTip(), "DE message 9:42");
    EXPECT_TRUE(w.EdInfoVideo->Text().startsWith("DE message 10\tFake Video\r\nDE message 11\t4000"));
    EXPECT_TRUE(w.EdInfoAudio->Text().contains("DE message 16\t48000"));
    EXPECT_EQ(w.EdOutFile->text(), "/videos/clip_1.avi");
    EXPECT_EQ(w.EdOutFile2->text(), "/videos/clip_2.avi");
    EXPECT_EQ(w.txtFile->text(), "/videos/clip.avi");
}

TEST_F(CaptionsTest, WithoutAnInputTheFileBoxesTakeTheNewPrompts) {
    WriteLanguage("English", "EN");
    WriteLanguage("German", "DE");
    frmMain& w = Load();
    Choose("German");
    EXPECT_EQ(w.txtFile->text(), "DE 6");
    EXPECT_EQ(w.EdOutFile->text(), "DE 8");
    EXPECT_EQ(w.EdOutFile2->text(), "DE 8");
}

// The marks label is rewritten on every cycle of a job and every frame of playback: it paints
// its whole rectangle itself, so the frames and the window behind it are not painted again.
TEST_F(CaptionsTest, TheMarksLabelAloneIsPaintedWhenItsTextChanges) {
    frmMain& w = Load();
    w.Timer2->stop();  // the idle logo would repaint the picture area behind it on its own
    w.show();
    QCoreApplication::processEvents();
    struct PaintCounter : QObject {
        std::map<QObject*, int> paints;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint) ++paints[watched];
            return false;
        }
    } counter;
    for (QObject* watched : std::initializer_list<QObject*>{w.LabelS, w.Frame4, w.FrameCutEditor, &w})
        watched->installEventFilter(&counter);
    for (int i = 0; i < 3; ++i) {
        w.LabelS->SetCaption(QString("frame %1").arg(i));
        QCoreApplication::processEvents();
    }
    EXPECT_GE(counter.paints[w.LabelS], 1);
    EXPECT_EQ(counter.paints[w.Frame4], 0);
    EXPECT_EQ(counter.paints[w.FrameCutEditor], 0);
    EXPECT_EQ(counter.paints[&w], 0);
    // Where there is no text the label shows its background, not whatever was there before.
    const QImage label = w.LabelS->grab().toImage();
    const QColor background = w.LabelS->palette().color(w.LabelS->backgroundRole());
    EXPECT_EQ(label.pixelColor(label.width() - 1, label.height() - 1).rgb(), background.rgb());
}

// The marks label draws its lines itself, each laid out again only when it changes: on screen
// it must be exactly what a plain label of the same style shows, enabled and disabled.
TEST_F(CaptionsTest, TheMarksLabelLooksLikeAPlainLabel) {
    frmMain& w = Load();
    w.show();
    ExpectLooksLikeAPlainLabel(*w.LabelS);
}

// During a job the lower mark travels on every cycle, moving its thumb and resizing the region
// bar: the tracks and the strip under the bar repaint the places they leave, never the frame or
// the window behind; and the tracks' rounded corners still show the window's colour.
TEST_F(CaptionsTest, MovingAMarkRepaintsNeitherTheFrameNorTheWindow) {
    frmMain& w = Load();
    Open("/videos/clip.avi");
    w.show();
    QCoreApplication::processEvents();
    // What each widget painted, in the window's coordinates.
    struct PaintRecorder : QObject {
        std::map<QObject*, QRegion> painted;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint) {
                auto* widget = static_cast<QWidget*>(watched);
                painted[watched] += static_cast<QPaintEvent*>(event)->region().translated(
                    widget->mapTo(widget->window(), QPoint(0, 0)));
            }
            return false;
        }
    } recorder;
    for (QObject* watched : std::initializer_list<QObject*>{w.sldThum, w.sldBack, w.lblreg, w.FrameCutEditor, &w})
        watched->installEventFilter(&recorder);
    const QRect thumbBefore = w.sldThum->geometry();
    const QRect barBefore = w.lblreg->geometry();
    QRegion marks;  // everywhere the thumb and the bar have been
    auto inWindow = [&](QWidget* widget) { return QRect(widget->mapTo(&w, QPoint(0, 0)), widget->size()); };
    for (int value : {20, 40, 60, 3}) {
        w.SliderTimePosition1->SetValue(value);
        marks += inWindow(w.sldThum);
        marks += inWindow(w.lblreg);
        QCoreApplication::processEvents();
    }
    EXPECT_NE(w.sldThum->geometry(), thumbBefore);
    EXPECT_NE(w.lblreg->geometry(), barBefore);
    EXPECT_FALSE(recorder.painted[w.sldThum].isEmpty());
    EXPECT_FALSE(recorder.painted[w.sldBack].isEmpty());
    EXPECT_FALSE(recorder.painted[w.lblreg].isEmpty());
    // (The preview shows the mark's frame, so the frame may be painted there.)
    EXPECT_FALSE(recorder.painted[w.FrameCutEditor].intersects(marks));
    EXPECT_FALSE(recorder.painted[&w].intersects(marks));

    const QColor window = w.palette().color(QPalette::Window);
    const QImage track = w.sldBack->grab().toImage();
    EXPECT_EQ(track.pixelColor(0, 0).rgb(), window.rgb());
    EXPECT_EQ(track.pixelColor(track.width() - 1, track.height() - 1).rgb(), window.rgb());
    // Where the thumb was, the track shows again (its skin, not the thumb's old pixels).
    const QImage whole = w.grab().toImage();
    const QPoint centre = w.sldBack->mapTo(&w, QPoint(track.width() / 2, track.height() / 2));
    EXPECT_EQ(whole.pixelColor(centre).rgb(), track.pixelColor(track.width() / 2, track.height() / 2).rgb());
}

// Accessible names and descriptions follow the language; a language file without them gives the
// English texts; every option panel is announced by a name of its own.
TEST_F(CaptionsTest, AccessibleNamesFollowTheLanguageAndEachPanelHasItsOwn) {
    WriteLanguage("Sparse", "SP");
    CopyLanguages({"German", "English"});
    frmMain& w = Load();
    const auto announced = [](QWidget* widget, QAccessible::Text text = QAccessible::Name) {
        return QAccessible::queryAccessibleInterface(widget)->text(text);
    };
    QWidget* const panels[] = {w.FrameOptVideoAvi, w.FrameOptAudioAvi, w.FrameOptVideoMpeg,
                               w.FrameOptAudioMpeg, w.FrameOptVersionMpeg, w.FrameOptVideoWMV};
    for (const QString language : {"German", "Sparse", "English"}) {
        SCOPED_TRACE(language.toStdString());
        Choose(language);
        const bool german = language == "German";
        EXPECT_EQ(announced(w.cmdPrevFrame), german ? "Marke 1: ein Bild zurück" : "Mark 1: one frame back");
        EXPECT_EQ(announced(w.cmdNextFrame2), german ? "Marke 2: ein Bild vor" : "Mark 2: one frame forward");
        EXPECT_EQ(announced(w.sldThum), german ? "Marke 1" : "Mark 1");
        EXPECT_TRUE(announced(w.sldThum2, QAccessible::Description).startsWith(german ? "Ziehen" : "Drag"));
        EXPECT_EQ(announced(w.cmdFile), german ? "Eingabevideo öffnen" : "Open an input video");
        EXPECT_EQ(announced(w.cmdOutFile2), german ? "Zweite Ausgabedatei wählen" : "Choose the second output file");
        std::set<QString> names;
        for (QWidget* panel : panels) names.insert(announced(panel));
        EXPECT_EQ(names.size(), std::size(panels));
        EXPECT_FALSE(names.contains(announced(w.FrameConvertTo)));
        EXPECT_TRUE(names.contains(german ? "MPEG-Audioeinstellungen" : "MPEG audio options"));
    }
}

TEST_F(CaptionsTest, ShippedLanguagesAllLoadWithoutDefaults) {
    CopyLanguages();
    frmMain& w = Load();
    ASSERT_GE(w.LstLang->count(), 4);
    for (int i = 0; i < w.LstLang->count(); ++i) {
        Choose(w.LstLang->itemText(i));
        EXPECT_NE(w.windowTitle(), "Default");
        for (const QString& message : w.Messages) EXPECT_NE(message, "Default") << w.CurLang.toStdString();
        EXPECT_NE(w.cmdPlayStop->text(), "Default");
    }
}

}  // namespace
}  // namespace trimora::test
