// Pure pieces of the window logic: thumb geometry, output names, list numbers, arithmetic.
#include <gtest/gtest.h>

#include "app/Arithmetic.h"
#include "app/LeadingNumber.h"
#include "editor/TwipsGeometry.h"
#include "output/OutputNames.h"

namespace trimora {
namespace {

TEST(ThumbGeometry, PlacementAndValueAreExactInversesOverTheWholeTrack) {
    for (int maximum : {2, 3, 100, 250, 7201, 200000}) {
        for (int value = 1; value <= maximum; value += std::max(1, maximum / 97)) {
            const float left = ThumbLeft(210, 5745, 135, value, maximum);
            EXPECT_EQ(ThumbValue(left, 210, 5745, 135, maximum), value) << maximum;
        }
        EXPECT_FLOAT_EQ(ThumbLeft(210, 5745, 135, maximum, maximum), 210 + 5610);
    }
}

TEST(ThumbGeometry, EndsOfTheTrackGiveTheEndMarks) {
    EXPECT_EQ(ThumbValue(210, 210, 5745, 135, 100), 1);
    EXPECT_EQ(ThumbValue(210 + 5610, 210, 5745, 135, 100), 100);
    EXPECT_LE(ThumbValue(0, 210, 5745, 135, 100), 1);  // the slider clamps to its minimum
}

TEST(ThumbGeometry, SingleFrameTrackKeepsEverythingAtTheLeftEnd) {
    EXPECT_FLOAT_EQ(ThumbLeft(210, 5745, 135, 1, 1), 210);
    EXPECT_EQ(ThumbValue(3000, 210, 5745, 135, 1), 1);
    EXPECT_DOUBLE_EQ(RegionCentre(240, 5745, 135, 1, 1), 307.5);
}

TEST(ThumbGeometry, RegionCentresOfTheDesignGeometry) {
    EXPECT_DOUBLE_EQ(RegionCentre(210, 5745, 135, 1, 100), 277.5);
    EXPECT_DOUBLE_EQ(RegionCentre(240, 5745, 135, 100, 100), 5917.5);
}

TEST(OutputNames, StemAndExtensionComeFromTheFileNameOnly) {
    EXPECT_EQ(PathStem("/home/ann.lee/clip.avi"), "/home/ann.lee/clip");
    EXPECT_EQ(PathStem("C:\\my.clips\\a.avi"), "C:\\my.clips\\a");
    EXPECT_EQ(PathStem("/home/ann.lee/noext"), "/home/ann.lee/noext");
    EXPECT_EQ(PathStem("/v/archive.tar.avi"), "/v/archive.tar");
    EXPECT_EQ(FileExtension("/home/ann.lee/clip.avi"), "avi");
    EXPECT_EQ(FileExtension("/home/ann.lee/clip"), "");
    EXPECT_EQ(FileExtension("/home/clip."), "");
}

TEST(OutputNames, ExtensionSwapTouchesOnlyTheFileNamesExtension) {
    EXPECT_EQ(ReplaceExtension("/home/ann.lee/clip.avi", "avi", "mpeg"), "/home/ann.lee/clip.mpeg");
    EXPECT_EQ(ReplaceExtension("C:\\avi\\clip.avi", "avi", "mpeg"), "C:\\avi\\clip.mpeg");
    EXPECT_EQ(ReplaceExtension("/v/clip", "avi", "mpeg"), "/v/clip");
    EXPECT_EQ(ReplaceExtension("/v/clip.", "", "mpeg"), "/v/clip.");
    EXPECT_EQ(ReplaceExtension("/v/b.mpg", "avi", "mpeg"), "/v/b.mpg");
    EXPECT_EQ(ReplaceExtension("/v/clip.avi", "avi", "avi"), "/v/clip.avi");
}

TEST(LeadingNumber, ReadsListTextsWhateverTheLocale) {
    EXPECT_DOUBLE_EQ(LeadingNumber("29.97"), 29.97);
    EXPECT_DOUBLE_EQ(LeadingNumber("-1 Zoom To Fit"), -1);
    EXPECT_DOUBLE_EQ(LeadingNumber("0  Shrink To Fit"), 0);
    EXPECT_DOUBLE_EQ(LeadingNumber("8"), 8);
    EXPECT_DOUBLE_EQ(LeadingNumber("Default"), 0);
    EXPECT_DOUBLE_EQ(LeadingNumber("1 150 kbit"), 1150);
    EXPECT_DOUBLE_EQ(LeadingNumber(""), 0);
}

TEST(Arithmetic, RoundsHalvesToEvenAndRaisesOnOverflow) {
    EXPECT_EQ(RoundToInt32(0.5), 0);
    EXPECT_EQ(RoundToInt32(1.5), 2);
    EXPECT_EQ(RoundToInt32(2.5), 2);
    EXPECT_EQ(RoundToInt32(-1.5), -2);
    EXPECT_EQ(RoundToInt16(49.94), 50);
    EXPECT_THROW(RoundToInt16(32767.5), OverflowError);
    EXPECT_THROW(RoundToInt32(3e9), OverflowError);
    EXPECT_THROW(CheckedMul<int32_t>(2147483647, 2), OverflowError);
    EXPECT_THROW(Divide(1, 0), DivisionByZeroError);
    EXPECT_EQ(CheckedAdd<int32_t>(2, 3), 5);
}

}  // namespace
}  // namespace trimora
