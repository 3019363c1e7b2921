// The window as the real skin draws it, where the program paints parts itself to spare repaints
// during a job: the marks label and the marks' tracks must look as the skin says.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QImage>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>

#include "app/frmAbout.h"

#include "app/frmMain.h"
#include "support/PlainLabelLook.h"
#include "support/RealWindowFixture.h"

namespace trimora::test {
namespace {

class SkinLookTest : public RealWindowFixture {
protected:
    void SetUp() override {
        RealWindowFixture::SetUp();
        LoadSkinnedAndShow();
    }
};

TEST_F(SkinLookTest, TheMarksLabelLooksLikeAPlainLabelOfTheSkin) {
    // The skin gives the label its own background, in the window's colour.
    EXPECT_EQ(window->LabelS->palette().color(window->LabelS->backgroundRole()).rgb(),
              window->palette().color(QPalette::Window).rgb());
    ExpectLooksLikeAPlainLabel(*window->LabelS);
}

TEST_F(SkinLookTest, TheTracksRoundCornersShowTheWindowAndTheirMiddleTheSkin) {
    const QImage track = window->sldBack->grab().toImage();
    const QColor backdrop = window->palette().color(QPalette::Window);
    EXPECT_EQ(track.pixelColor(0, 0).rgb(), backdrop.rgb());
    EXPECT_EQ(track.pixelColor(track.width() - 1, track.height() - 1).rgb(), backdrop.rgb());
    // The skin's dark gradient along the middle row, not the window's colour.
    const QColor middle = track.pixelColor(track.width() / 2, track.height() / 2);
    EXPECT_NE(middle.rgb(), backdrop.rgb());
    EXPECT_LT(middle.lightness(), backdrop.lightness());
}

// What a control offers its caption, in pixels at scale 1, and the font the caption is drawn in.
struct CaptionPlace {
    QString what;
    QString text;
    int width = 0;   // room for the text's width
    int height = 0;  // room for the text's lines
    QFont font;
};

CaptionPlace ButtonPlace(QPushButton* button, const QString& text) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = text;
    const QRect contents = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    return {button->objectName(), text, contents.width(), contents.height(), button->font()};
}

CaptionPlace RadioPlace(QRadioButton* radio) {
    QStyleOptionButton option;
    option.initFrom(radio);
    option.text = radio->text();
    const QRect contents = radio->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, radio);
    return {radio->objectName(), radio->text(), radio->width() - contents.left(), radio->height(), radio->font()};
}

CaptionPlace LabelPlace(QLabel* label, const QString& line) {
    return {label->objectName(), line, label->contentsRect().width(), label->contentsRect().height(), label->font()};
}

// A group box's title runs from where the style puts it to the box's rounded right corner.
CaptionPlace TitlePlace(QGroupBox* box) {
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = box->title();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    const QRect label = box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
    const int textWidth = box->fontMetrics().horizontalAdvance(box->title());
    const int chrome = label.width() - textWidth;  // the title's own padding
    constexpr int kCorner = 6;
    return {box->objectName(), box->title(), box->width() - label.left() - chrome - kCorner, label.height(),
            box->font()};
}

// The closed list's field, less the entry's picture.
CaptionPlace ComboPlace(QComboBox* list, int row) {
    QStyleOptionComboBox option;
    option.initFrom(list);
    option.editable = false;
    const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list);
    const int picture = list->itemIcon(row).isNull() ? 0 : list->iconSize().width() + 4;
    return {list->objectName() + " row " + QString::number(row), list->itemText(row), field.width() - picture,
            field.height(), list->font()};
}

// True when `place.text` fits its place with the font and the control both scaled by `scale`.
::testing::AssertionResult Fits(const CaptionPlace& place, double scale) {
    QFont font = place.font;
    font.setPixelSize(qRound(QFontInfo(place.font).pixelSize() * scale));
    const QFontMetrics metrics(font);
    const int needed = metrics.horizontalAdvance(place.text);
    const double room = place.width * scale;
    const bool fitsHeight = metrics.height() <= place.height * scale + 1;
    if (needed <= room && fitsHeight) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << place.what.toStdString() << " \"" << place.text.toStdString()
                                         << "\" at scale " << scale << ": needs " << needed << "x" << metrics.height()
                                         << ", has " << room << "x" << place.height * scale;
}

class CaptionFitTest : public RealWindowFixture {
protected:
    void SetUp() override {
        RealWindowFixture::SetUp();
        const QDir source(QString(TRIMORA_SOURCE_DIR) + "/resources/Languages");
        for (const QString& name : source.entryList(QDir::Files))
            QFile::copy(source.filePath(name), programFolder + "/Languages/" + name);
        LoadSkinnedAndShow();
    }

    // Every caption the window shows in its current language, with the place it has.
    std::vector<CaptionPlace> Captions() {
        frmMain& w = *window;
        std::vector<CaptionPlace> places;
        for (QGroupBox* box : {w.FrameInputFile, w.FrameCutEditor, w.FrameOutputFile, w.FrameVideoInfo,
                               w.FrameConvertTo, w.FrameOptVideoAvi, w.FrameOptAudioAvi, w.FrameOptVideoMpeg,
                               w.FrameOptAudioMpeg, w.FrameOptVersionMpeg, w.FrameOptVideoWMV})
            places.push_back(TitlePlace(box));
        for (QPushButton* button : {w.cmdSavePictureAs, w.cmdCut, w.cmdSplit, w.cmdCancel, w.btnConfigureVideoCodec,
                                    w.cmdHelp, w.cmdExit, w.cmdOptAVI, w.cmdOptMPEG, w.cmdOptWMV})
            places.push_back(ButtonPlace(button, button->text()));
        // The play button shows either caption.
        for (const char* key : {"29", "30"}) places.push_back(ButtonPlace(w.cmdPlayStop, w.GetFromINI("frmMain", key)));
        for (QRadioButton* radio : {w.optPCM, w.optMP3, w.optGSM, w.optADPCM, w.optALAW, w.optULAW, w.rbMPEG1, w.rbMPEG2})
            places.push_back(RadioPlace(radio));
        for (SkinLabel* label : {w.lblVideoInfo, w.lblAudioInfo, w.lblLang, w.lblFrameRate, w.lblFrameRate2,
                                 w.lblVideoBitrate, w.lblChannels, w.lblChannels2, w.lblAudioBitrate, w.lblAVICodec,
                                 w.lblSldNo, w.SkinLabel1})
            places.push_back(LabelPlace(label, label->Caption()));
        // Composed labels, with numbers as long as a long input gives.
        for (const QString& line : {w.Messages[9] + "1#: 1234567", w.Messages[9] + "2#: 1234567",
                                    w.Messages[24] + " ~1"})
            places.push_back(LabelPlace(w.LabelS, line));
        for (const QString& line : {w.Messages[22], "12345678 " + w.Messages[8], w.Messages[23], QString("1234567")})
            places.push_back(LabelPlace(w.LabelT, line));
        for (int part : {5, 6}) places.push_back(LabelPlace(w.LabelPart, w.Messages[part]));
        for (int row = 0; row < w.cmbVideoSize->count(); ++row) places.push_back(ComboPlace(w.cmbVideoSize, row));
        for (int row = 0; row < w.LstLang->count(); ++row) places.push_back(ComboPlace(w.LstLang, row));
        return places;
    }
};

// Every caption of every shipped language is shown whole, at 96 dpi and at one and a half times
// that, and the information boxes show all six lines of an input's information.
TEST_F(CaptionFitTest, EveryShippedCaptionFitsItsControl) {
    frmMain& w = *window;
    ASSERT_GE(w.LstLang->count(), 5);
    for (int language = 0; language < w.LstLang->count(); ++language) {
        w.LstLang->setCurrentIndex(language);
        w.LstLang_Click();
        SCOPED_TRACE(w.CurLang.toStdString());
        for (const double scale : {1.0, 1.5})
            for (const CaptionPlace& place : Captions()) EXPECT_TRUE(Fits(place, scale));

        // Six lines of information in each box, with values as long as a real input gives.
        QStringList video, audio;
        for (int message : {10, 11, 12, 13, 14, 15}) video << w.Messages[message] + "\t1234567";
        for (int message : {10, 11, 12, 16, 17, 18}) audio << w.Messages[message] + "\t1234567";
        w.EdInfoVideo->SetText(video.join("\r\n"));
        w.EdInfoAudio->SetText(audio.join("\r\n"));
        QCoreApplication::processEvents();
        for (InfoBox* box : {w.EdInfoVideo, w.EdInfoAudio}) {
            EXPECT_EQ(box->verticalScrollBar()->maximum(), 0) << box->objectName().toStdString();
            const int margins = box->height() - box->viewport()->height() + 2 * int(box->document()->documentMargin());
            for (const double scale : {1.0, 1.5}) {
                QFont font = box->font();
                font.setPixelSize(qRound(QFontInfo(box->font()).pixelSize() * scale));
                EXPECT_LE(6 * QFontMetrics(font).lineSpacing() + margins * scale, box->height() * scale)
                    << box->objectName().toStdString() << " at scale " << scale;
            }
        }

        // The About window's texts.
        platform.onModal = [&](QDialog* dialog) {
            auto* about = qobject_cast<frmAbout*>(dialog);
            ASSERT_NE(about, nullptr);
            for (const double scale : {1.0, 1.5}) {
                EXPECT_TRUE(Fits(LabelPlace(about->Label1, about->Label1->Caption()), scale));
                EXPECT_TRUE(Fits(LabelPlace(about->Label4, about->Label4->Caption()), scale));
            }
            // The description wraps within its place.
            EXPECT_LE(about->Label3->heightForWidth(about->Label3->width()), about->Label3->height());
        };
        w.cmdHelp->click();
        platform.onModal = nullptr;
    }
}

// A codec name longer than the closed list is shown whole in the open list and as the closed
// list's tooltip.
TEST_F(CaptionFitTest, LongCodecNamesAreShownWholeInTheOpenListAndTheTooltip) {
    frmMain& w = *window;
    QComboBox* list = w.cmbAVICodecs;
    ASSERT_GT(list->count(), 0);
    int longest = 0;
    for (int row = 0; row < list->count(); ++row) {
        longest = std::max(longest, list->fontMetrics().horizontalAdvance(list->itemText(row)));
        w.SelectRow(list, row);
        EXPECT_EQ(list->toolTip(), list->itemText(row));
    }
    ASSERT_GT(longest, ComboPlace(list, 0).width) << "no codec name longer than the closed list";
    list->showPopup();
    QCoreApplication::processEvents();
    QAbstractItemView* view = list->view();
    EXPECT_GE(view->viewport()->width(), longest + 2 * view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin));
    list->hidePopup();
}

}  // namespace
}  // namespace trimora::test
