// The two marks: thumb drags in twips, the region bar, the frame shown for a mark and the step
// buttons, on the scripted engine.
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QTest>

#include "support/WindowFixture.h"

namespace trimora::test {
namespace {

class MarksTest : public WindowFixture {
protected:
    frmMain& LoadAndOpen(int frames = 100) {
        engine.setUpFile = [frames](FakeMediaFile& f) {
            f.numberOfFrames = frames;
            f.videoDuration = frames * 40;
        };
        Load();
        Open();
        return *window;
    }
    // Drags mark 1's thumb: press at 60 twips inside it, then moves by the given steps.
    void DragThumb1(std::initializer_list<float> moves) {
        window->sldThum_MouseDown(1, 0, 60, 80);
        for (float dx : moves) window->sldThum_MouseMove(1, 0, 60 + dx, 80);
    }
};

// What a change of a mark leaves on screen and in the state playback starts from.
struct MarkOutcome {
    int value;
    float thumbLeft;
    QString label, tooltip;
    QRect region;
    int32_t playPosition, shownFrame;
    bool operator==(const MarkOutcome&) const = default;
};

// A screen reader sets a slider's value through the accessibility interface: the mark moves
// exactly as a drag of its thumb moves it, and not while the thumb could not be dragged.
TEST_F(MarksTest, AValueSetThroughAccessibilityMovesTheMarkAsADragDoes) {
    const auto outcome = [this](int mark) {
        frmMain& w = *window;
        PictureBox* thumb = mark == 1 ? w.sldThum : w.sldThum2;
        Slider* slider = mark == 1 ? w.SliderTimePosition1 : w.SliderTimePosition2;
        return MarkOutcome{slider->Value(), thumb->Left(), w.LabelS->Caption(), thumb->toolTip(),
                           w.lblreg->geometry(), w.PlayPosition[static_cast<size_t>(mark)], engine.view->shown.back()};
    };
    const auto setByAccessibility = [](Slider* slider, int value) {
        QAccessibleInterface* access = QAccessible::queryAccessibleInterface(slider);
        ASSERT_NE(access, nullptr);
        ASSERT_NE(access->valueInterface(), nullptr);
        access->valueInterface()->setCurrentValue(value);
    };
    frmMain& dragged = LoadAndOpen();
    DragThumb1({567});
    dragged.sldThum_MouseUp(1, 0, 627, 80);
    const MarkOutcome byDrag = outcome(1);
    ASSERT_EQ(byDrag.value, 11);
    window->sldThum2_MouseDown(1, 0, 60, 80);
    window->sldThum2_MouseMove(1, 0, 60 + 2834, 80);
    window->sldThum2_MouseUp(1, 0, 60 + 2834, 80);
    const MarkOutcome byDrag2 = outcome(2);

    window->close();
    frmMain& w = LoadAndOpen();
    setByAccessibility(w.SliderTimePosition1, byDrag.value);
    EXPECT_EQ(outcome(1), byDrag);
    setByAccessibility(w.SliderTimePosition2, byDrag2.value);
    EXPECT_EQ(outcome(2), byDrag2);
    EXPECT_EQ(w.SliderTimePosition2->value(), byDrag2.value);

    // While playing the thumbs are locked: the value stays, on the slider too.
    w.cmdPlayStop->click();
    ASSERT_TRUE(w.Playing);
    ASSERT_FALSE(w.sldThum->isEnabled());
    setByAccessibility(w.SliderTimePosition1, 70);
    EXPECT_EQ(w.SliderTimePosition1->Value(), 11);
    EXPECT_EQ(w.SliderTimePosition1->value(), 11);
}

TEST_F(MarksTest, DraggingFarLeftGivesOneAndFarRightGivesTheMaximum) {
    frmMain& w = LoadAndOpen();
    DragThumb1({3000, 9000});
    EXPECT_EQ(w.SliderTimePosition1->Value(), 100);
    EXPECT_FLOAT_EQ(w.sldThum->Left(), w.sldBack->Left() + w.sldBack->Width() - w.sldThum->Width());
    DragThumb1({-2000, -9000});
    EXPECT_EQ(w.SliderTimePosition1->Value(), 1);
    EXPECT_FLOAT_EQ(w.sldThum->Left(), w.sldBack->Left());
}

TEST_F(MarksTest, PullingPastAnEndPinsTheThumbAndEndsTheDrag) {
    frmMain& w = LoadAndOpen();
    DragThumb1({9000});
    EXPECT_FALSE(w.MoveShape);
    EXPECT_TRUE(w.sldThum->isEnabled());
    const int before = w.SliderTimePosition1->Value();
    w.sldThum_MouseMove(1, 0, -5000, 80);  // button still held, but the drag has ended
    EXPECT_EQ(w.SliderTimePosition1->Value(), before);
}

TEST_F(MarksTest, ReleasingAThumbNeverMovesItsMark) {
    frmMain& w = LoadAndOpen();
    for (int mark : {2, 37, 50, 51, 99}) {
        w.SliderTimePosition1->SetValue(mark);
        w.sldThum_MouseDown(1, 0, 60, 80);
        w.sldThum_MouseUp(1, 0, 60, 80);
        EXPECT_EQ(w.SliderTimePosition1->Value(), mark);
        w.SliderTimePosition2->SetValue(mark);
        w.sldThum2_MouseDown(1, 0, 60, 80);
        w.sldThum2_MouseUp(1, 0, 60, 80);
        EXPECT_EQ(w.SliderTimePosition2->Value(), mark);
    }
}

TEST_F(MarksTest, ADragStepMovesTheMarkBySlidingDistance) {
    frmMain& w = LoadAndOpen();
    // A travel of 5610 twips for 99 steps: 56.67 twips a frame.
    DragThumb1({567});
    EXPECT_EQ(w.SliderTimePosition1->Value(), 11);
    EXPECT_EQ(engine.view->shown.back(), 11);
    EXPECT_EQ(w.PlayPosition[1], reader().CurrentVideoPosition());
}

TEST_F(MarksTest, RegionBarSpansTheThumbCentresOnTheDesignGeometry) {
    frmMain& w = LoadAndOpen();
    w.SliderTimePosition2->SetValue(100);
    EXPECT_FLOAT_EQ(w.lblreg->Left(), 277.5f);
    EXPECT_FLOAT_EQ(w.lblreg->Width(), 5640.0f);
    // Reversed marks: the bar still runs between the two centres.
    w.SliderTimePosition1->SetValue(100);
    w.SliderTimePosition2->SetValue(1);
    EXPECT_FLOAT_EQ(w.lblreg->Left(), 240 + 67.5f);
    EXPECT_FLOAT_EQ(w.lblreg->Width(), (210 + 67.5f + 5610) - (240 + 67.5f));
    // Equal centres give a bar of width 0.
    w.sldBack2->SetLeft(210);
    w.SliderTimePosition2->SetValue(100);
    EXPECT_FLOAT_EQ(w.lblreg->Width(), 0.0f);
}

TEST_F(MarksTest, EveryMarkChangeShowsTheFrameTheMarkNames) {
    frmMain& w = LoadAndOpen();
    EXPECT_EQ(engine.view->shown.back(), 1);
    for (int mark : {57, 100, 2}) {
        w.SliderTimePosition2->SetValue(mark);
        EXPECT_EQ(engine.view->shown.back(), mark);
        EXPECT_EQ(w.EndFrame, mark);
        EXPECT_EQ(FrameNumberOf(w.FrameData_), mark);
    }
    w.SliderTimePosition1->SetValue(100);
    EXPECT_EQ(engine.view->shown.back(), 100);
}

TEST_F(MarksTest, MarkLabelNamesTheMarkThatChanged) {
    frmMain& w = LoadAndOpen();
    w.SliderTimePosition2->SetValue(30);
    const QString body = w.Messages[9] + "1#: 1\r" + w.Messages[9] + "2#: 30\r" + w.Messages[24];
    EXPECT_EQ(w.LabelS->Caption(), body + " ~2");
    EXPECT_EQ(w.sldThum2->toolTip(), w.Messages[9] + ":30");
    w.ShowCurrentFrame();
    EXPECT_EQ(w.LabelS->Caption(), body + " ~1");
}

TEST_F(MarksTest, ProgramMovesLeaveTheReaderAlone) {
    frmMain& w = LoadAndOpen();
    engine.log.Clear();
    w.UpdatingSliders = true;
    w.SliderTimePosition1->SetValue(60);
    w.UpdatingSliders = false;
    EXPECT_EQ(engine.log.Count("in.SeekToFrame"), 0);
    EXPECT_FLOAT_EQ(w.sldThum->Left(), static_cast<float>(210 + 59.0 / 99.0 * 5610));
}

TEST_F(MarksTest, ShowingThePastTheLastFrameStartsAgainFromTheStart) {
    frmMain& w = LoadAndOpen(10);
    w.SliderTimePosition1->SetValue(10);
    EXPECT_EQ(engine.view->shown.back(), 10);
    w.ShowCurrentFrame();
    EXPECT_TRUE(engine.log.Has("in.SeekToPosition(0)"));
    EXPECT_EQ(engine.view->shown.back(), 1);
}

TEST_F(MarksTest, NoFrameDeliveredClearsThePreviewAndSaysSo) {
    frmMain& w = LoadAndOpen();
    reader().deliverNoFrames = true;
    w.PlaySlider = 2;
    w.ShowCurrentFrame();
    EXPECT_EQ(w.LabelS->Caption(), w.Messages[7]);
    EXPECT_EQ(w.PlayPosition[2], 1);
    EXPECT_TRUE(engine.log.Has("view.Clear()"));
}

TEST_F(MarksTest, StepButtonsWrapAtBothEnds) {
    frmMain& w = LoadAndOpen();
    QTest::mouseClick(w.cmdPrevFrame, Qt::LeftButton);
    EXPECT_EQ(w.SliderTimePosition1->Value(), 100);
    QTest::mouseClick(w.cmdNextFrame, Qt::LeftButton);
    EXPECT_EQ(w.SliderTimePosition1->Value(), 1);
    QTest::mouseClick(w.cmdNextFrame2, Qt::LeftButton);
    EXPECT_EQ(w.SliderTimePosition2->Value(), 2);
    EXPECT_EQ(engine.view->shown.back(), 2);
    QTest::mouseClick(w.cmdPrevFrame2, Qt::LeftButton);
    QTest::mouseClick(w.cmdPrevFrame2, Qt::LeftButton);
    EXPECT_EQ(w.SliderTimePosition2->Value(), 100);
    // Steps do not change where playback of a mark starts; only a drag does.
    EXPECT_EQ(w.PlayPosition[2], 1);
    w.sldThum->setFocus();
    QTest::keyClick(w.sldThum, Qt::Key_Right);
    EXPECT_EQ(w.SliderTimePosition1->Value(), 2);
}

TEST_F(MarksTest, StepButtonsDoNothingWithoutAnInput) {
    frmMain& w = Load();
    engine.log.Clear();
    w.cmdNextFrame_Click();
    w.cmdPrevFrame_Click();
    w.cmdNextFrame2_Click();
    w.cmdPrevFrame2_Click();
    EXPECT_EQ(w.SliderTimePosition1->Value(), 1);
    EXPECT_EQ(w.SliderTimePosition2->Value(), 1);
    EXPECT_TRUE(engine.log.calls.empty());
}

TEST_F(MarksTest, RealMouseDragOnTheThumbMovesTheMark) {
    frmMain& w = LoadAndOpen();
    w.show();
    QTest::mousePress(w.sldThum, Qt::LeftButton, {}, QPoint(4, 5));
    QMouseEvent move(QEvent::MouseMove, QPointF(4 + 190, 5), w.sldThum->mapToGlobal(QPointF(4 + 190, 5)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.sldThum, &move);
    EXPECT_GT(w.SliderTimePosition1->Value(), 40);
    EXPECT_LT(w.SliderTimePosition1->Value(), 60);
}

}  // namespace
}  // namespace trimora::test
