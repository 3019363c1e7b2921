// The two marks: dragging their thumbs, the sliders' change handling, the region bar between the
// thumbs and showing the frame at the reader's position.
#include <QCoreApplication>

#include "app/Arithmetic.h"
#include "app/frmMain.h"
#include "editor/TwipsGeometry.h"

namespace trimora {

namespace {
// The pieces of one mark.
struct Mark {
    PictureBox* thumb;
    PictureBox* track;
    Slider* slider;
};

void PlaceThumb(const Mark& m) {
    m.thumb->SetLeft(ThumbLeft(m.track->Left(), m.track->Width(), m.thumb->Width(), m.slider->Value(), m.slider->Max()));
}

int32_t ValueOfThumb(const Mark& m) {
    return ThumbValue(m.thumb->Left(), m.track->Left(), m.track->Width(), m.thumb->Width(), m.slider->Max());
}

// One step of a thumb drag: the thumb follows the mouse, is pinned at either end of its track
// (which ends the drag), and its place becomes the mark. Returns the grab point to keep.
template <typename Release>
int16_t DragStep(frmMain& window, const Mark& m, float x, int16_t grabX, Release release) {
    const float dx = x - grabX;
    QCoreApplication::processEvents();
    m.thumb->SetLeft(m.thumb->Left() + dx);
    window.RepaintWindow();
    if (m.thumb->Left() < m.track->Left()) {
        m.thumb->SetLeft(m.track->Left());
        m.thumb->setEnabled(false);
        release();
    }
    const float limit = m.track->Left() + m.track->Width() - m.thumb->Width();
    if (limit < m.thumb->Left()) {
        m.thumb->SetLeft(limit);
        m.thumb->setEnabled(false);
        release();
    }
    m.slider->SetValue(ValueOfThumb(m));
    return RoundToInt16(x - dx);
}
}  // namespace

QString frmMain::MarksLabelText(const char* suffix) {
    return Messages[9] + "1#: " + QString::number(SliderTimePosition1->Value()) + '\r' + Messages[9] + "2#: " +
           QString::number(SliderTimePosition2->Value()) + '\r' + Messages[24] + QString::fromLatin1(suffix);
}

// ---- thumb drags ---------------------------------------------------------------------------

void frmMain::sldThum_MouseDown(int, int, float x, float) {
    MoveShapeXOld = RoundToInt16(x);
    MoveShape = true;
}

void frmMain::sldThum2_MouseDown(int, int, float x, float) {
    MoveShapeXOld2 = RoundToInt16(x);
    MoveShape2 = true;
}

void frmMain::sldThum_MouseMove(int button, int shift, float x, float) {
    if (!MoveShape) return;
    MoveShapeXOld = DragStep(*this, {sldThum, sldBack, SliderTimePosition1}, x, MoveShapeXOld,
                             [&] { sldThum_MouseUp(button, shift, 0, 0); });
    PlayPosition[1] = VideoFileIn1->CurrentVideoPosition();
}

void frmMain::sldThum2_MouseMove(int button, int shift, float x, float) {
    if (!MoveShape2) return;
    MoveShapeXOld2 = DragStep(*this, {sldThum2, sldBack2, SliderTimePosition2}, x, MoveShapeXOld2,
                              [&] { sldThum2_MouseUp(button, shift, 0, 0); });
    PlayPosition[2] = VideoFileIn1->CurrentVideoPosition();
}

void frmMain::sldThum_MouseUp(int, int, float, float) {
    MoveShape = false;
    SliderTimePosition1->SetValue(ValueOfThumb({sldThum, sldBack, SliderTimePosition1}));
    if (!JobRunning && !Playing) sldThum->setEnabled(true);
}

void frmMain::sldThum2_MouseUp(int, int, float, float) {
    MoveShape2 = false;
    SliderTimePosition2->SetValue(ValueOfThumb({sldThum2, sldBack2, SliderTimePosition2}));
    if (!JobRunning && !Playing) sldThum2->setEnabled(true);
}

// ---- value changes ---------------------------------------------------------------------------

void frmMain::SliderTimePosition1_Change() {
    if (!FileLoaded) return;
    if (!UpdatingSliders) {
        VideoFileIn1->SeekToFrame(SliderTimePosition1->Value());
        ShowCurrentFrame();
    }
    PlaceThumb({sldThum, sldBack, SliderTimePosition1});
    LabelS->SetCaption(MarksLabelText(" ~1"));
    RepaintWindow();
    sldThum->setToolTip(Messages[9] + ":" + QString::number(SliderTimePosition1->Value()));
    Calc_Reg();
}

void frmMain::SliderTimePosition2_Change() {
    if (!FileLoaded) return;
    if (!UpdatingSliders) {
        VideoFileIn1->SeekToFrame(SliderTimePosition2->Value());
        ShowCurrentFrame();
        EndFrame = SliderTimePosition2->Value();
    }
    PlaceThumb({sldThum2, sldBack2, SliderTimePosition2});
    LabelS->SetCaption(MarksLabelText(" ~2"));
    RepaintWindow();
    sldThum2->setToolTip(Messages[9] + ":" + QString::number(SliderTimePosition2->Value()));
    Calc_Reg();
}

void frmMain::Calc_Reg() {
    const double x1 = RegionCentre(sldBack->Left(), sldBack->Width(), sldThum->Width(), SliderTimePosition1->Value(),
                                   SliderTimePosition1->Max());
    const double x2 = RegionCentre(sldBack2->Left(), sldBack2->Width(), sldThum2->Width(),
                                   SliderTimePosition2->Value(), SliderTimePosition2->Max());
    if (x1 < x2) {
        lblreg->SetWidth(static_cast<float>(x2 - x1));
        lblreg->SetLeft(static_cast<float>(x1));
    } else {
        lblreg->SetWidth(static_cast<float>(x1 - x2));
        lblreg->SetLeft(static_cast<float>(x2));
    }
}

void frmMain::ShowCurrentFrame() {
    if (!FileLoaded) return;
    if (VideoFileIn1->CurrentFrameNumber() == VideoFileIn1->NumberOfFrames()) VideoFileIn1->SeekToPosition(0);
    VideoFileIn1->ReadNextVideoFrame(FrameData_);
    if (FrameData_.empty()) {
        LabelS->SetCaption(Messages[7]);
        RepaintWindow();
        VideoView1->Clear();
        if (Playing) cmdPlayStop_Click();
        PlayPosition.at(static_cast<size_t>(PlaySlider)) = 1;
        return;
    }
    LabelS->SetCaption(MarksLabelText(" ~1"));
    RepaintWindow();
    VideoView1->ShowFrame(FrameData_);
}

}  // namespace trimora
