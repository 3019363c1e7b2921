// Where the preview puts a picture for each size mode, before any pixel is touched.
#include <gtest/gtest.h>

#include "engine/view/PreviewLayout.h"

namespace trimora::view {
namespace {

PlacementInput Input(int sourceWidth, int sourceHeight, int32_t mode, int widgetWidth, int widgetHeight) {
    PlacementInput in;
    in.sourceWidth = sourceWidth;
    in.sourceHeight = sourceHeight;
    in.sizeMode = mode;
    in.widgetWidth = widgetWidth;
    in.widgetHeight = widgetHeight;
    in.alignX = 2;
    in.alignY = 2;
    return in;
}

// The visible part of a cropped picture: the converted source must lie in the frame, start on
// the alignment, and its target must cover the widget exactly where the picture would be.
void ExpectConsistentCrop(const PlacementInput& in, const Placement& p) {
    ASSERT_FALSE(p.source.IsEmpty());
    EXPECT_GE(p.source.x, 0);
    EXPECT_GE(p.source.y, 0);
    EXPECT_LE(p.source.Right(), in.sourceWidth);
    EXPECT_LE(p.source.Bottom(), in.sourceHeight);
    EXPECT_EQ(p.source.x % in.alignX, 0);
    EXPECT_EQ(p.source.y % in.alignY, 0);
    EXPECT_LE(p.target.x, std::max(p.picture.x, 0));
    EXPECT_LE(p.target.y, std::max(p.picture.y, 0));
    EXPECT_GE(p.target.Right(), std::min(p.picture.Right(), in.widgetWidth));
    EXPECT_GE(p.target.Bottom(), std::min(p.picture.Bottom(), in.widgetHeight));
    const double perSourceX = static_cast<double>(p.picture.width) / in.sourceWidth;
    EXPECT_NEAR(p.target.x, p.picture.x + p.source.x * perSourceX, 1.0);
    EXPECT_NEAR(p.target.width, p.source.width * perSourceX, 1.0);
}

// The common shapes are checked on real pixels in PreviewWidgetTest; these are the edges.
TEST(PreviewLayout, EdgeShapesAndModes) {
    // Any negative mode zooms to fit.
    EXPECT_EQ(PlacePicture(Input(1920, 1080, -7, 640, 480)).picture, (Rect{0, 60, 640, 360}));
    // Shrinking a picture that is too tall only: the height decides.
    EXPECT_EQ(PlacePicture(Input(200, 600, 0, 400, 300)).picture, (Rect{150, 0, 100, 300}));
    // Exactly the widget's size stays as it is, and is converted whole.
    const Placement exact = PlacePicture(Input(400, 300, 0, 400, 300));
    EXPECT_EQ(exact.picture, (Rect{0, 0, 400, 300}));
    EXPECT_EQ(exact.source, (Rect{0, 0, 400, 300}));
    EXPECT_EQ(exact.target, exact.picture);

    // Nonsense aspects mean square pixels.
    PlacementInput in = Input(720, 576, 1, 1100, 600);
    in.sampleAspectNum = 5;
    in.sampleAspectDen = 0;
    EXPECT_EQ(PlacePicture(in).picture, (Rect{190, 12, 720, 576}));
    in.sampleAspectNum = -4;
    in.sampleAspectDen = 3;
    EXPECT_EQ(PlacePicture(in).picture, (Rect{190, 12, 720, 576}));
}

TEST(PreviewLayout, ALargePictureIsCroppedToWhatTheWidgetShows) {
    // Scale 8 of full HD in a small widget: only the middle is converted.
    const PlacementInput in = Input(1920, 1080, 8, 640, 360);
    const Placement p = PlacePicture(in);
    EXPECT_EQ(p.picture, (Rect{-7360, -4140, 15360, 8640}));
    ExpectConsistentCrop(in, p);
    EXPECT_LE(p.source.width, 640 / 8 + 2 * in.alignX);
    EXPECT_LE(p.source.height, 360 / 8 + 2 * in.alignY);
    // The source column under the widget's left edge is 7360 / 8 = 920.
    EXPECT_EQ(p.source.x, 920);

    // Scale 1 of a frame just larger than the widget, with 4:2:0 alignment at odd offsets.
    const PlacementInput odd = Input(645, 363, 1, 640, 360);
    ExpectConsistentCrop(odd, PlacePicture(odd));

    // Zoomed in with anamorphic pixels.
    PlacementInput wide = Input(720, 576, 3, 700, 500);
    wide.sampleAspectNum = 64;
    wide.sampleAspectDen = 45;
    ExpectConsistentCrop(wide, PlacePicture(wide));

    // Cropped in one direction only.
    const PlacementInput tall = Input(100, 400, 1, 300, 200);
    const Placement t = PlacePicture(tall);
    ExpectConsistentCrop(tall, t);
    EXPECT_EQ(t.source.x, 0);
    EXPECT_EQ(t.source.width, 100);
}

TEST(PreviewLayout, DegenerateSizesPlaceNothingAndHugeFactorsStayInRange) {
    EXPECT_TRUE(PlacePicture(Input(160, 120, -1, 0, 200)).target.IsEmpty());
    EXPECT_TRUE(PlacePicture(Input(160, 120, -1, 400, 0)).target.IsEmpty());
    EXPECT_TRUE(PlacePicture(Input(0, 120, -1, 400, 200)).target.IsEmpty());

    // A factor far beyond anything sensible must neither overflow nor convert a huge area.
    const PlacementInput in = Input(1920, 1080, 2000000000, 640, 360);
    const Placement p = PlacePicture(in);
    EXPECT_GT(p.picture.width, 640);
    EXPECT_NEAR(static_cast<double>(p.picture.width) / p.picture.height, 1920.0 / 1080.0, 0.01);
    ASSERT_FALSE(p.source.IsEmpty());
    EXPECT_LE(p.source.Right(), 1920);
    EXPECT_LE(p.source.Bottom(), 1080);
    EXPECT_LE(p.source.width, 4);
    EXPECT_LT(p.target.width, 1 << 23);
}

}  // namespace
}  // namespace trimora::view
