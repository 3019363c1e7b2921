// The window as the real skin draws it, where the program paints parts itself to spare repaints
// during a job: the marks label and the marks' tracks must look as the skin says.
#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QImage>

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

}  // namespace
}  // namespace trimora::test
