// The colour conversion every saved picture and the preview share: the matrix and the range
// follow the frame's tags, with the size-based default for untagged frames.
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <array>
#include <cmath>
#include <cstring>

#include "ImageTestUtil.h"
#include "engine/EngineError.h"
#include "engine/FrameBuffer.h"
#include "engine/ffmpeg/images/RgbConversion.h"
#include "support/TestClips.h"

namespace trimora::test {
namespace {

// A 4:4:4 frame of one colour.
FrameData UniformYuvFrame(int width, int height, uint8_t y, uint8_t u, uint8_t v, int colorSpace, int colorRange,
                          AVPixelFormat format = AV_PIX_FMT_YUV444P) {
    const size_t size = static_cast<size_t>(width) * height;
    std::vector<uint8_t> luma(size, y), blue(size, u), red(size, v);
    FrameHeader header;
    header.width = width;
    header.height = height;
    header.pixelFormat = format;
    header.colorSpace = colorSpace;
    header.colorRange = colorRange;
    const uint8_t* planes[4] = {luma.data(), blue.data(), red.data(), nullptr};
    const int lines[4] = {width, width, width, 0};
    return FrameFromPlanes(header, planes, lines);
}

// The textbook conversion for matrix coefficients kr, kb.
std::array<double, 3> ReferenceRgb(double y, double u, double v, double kr, double kb, bool fullRange) {
    const double luma = fullRange ? y / 255.0 : (y - 16) / 219.0;
    const double pb = fullRange ? (u - 128) / 255.0 : (u - 128) / 224.0;
    const double pr = fullRange ? (v - 128) / 255.0 : (v - 128) / 224.0;
    const double kg = 1 - kr - kb;
    const double r = luma + 2 * (1 - kr) * pr;
    const double b = luma + 2 * (1 - kb) * pb;
    const double g = (luma - kr * r - kb * b) / kg;
    auto clip = [](double c) { return std::clamp(c * 255.0, 0.0, 255.0); };
    return {clip(r), clip(g), clip(b)};
}

constexpr double kBt601[2] = {0.299, 0.114};
constexpr double kBt709[2] = {0.2126, 0.0722};

struct ConversionCase {
    const char* name;
    int width, height;
    int colorSpace, colorRange;
    AVPixelFormat format;
    const double* coefficients;
    bool fullRange;
};

void PrintTo(const ConversionCase& c, std::ostream* out) { *out << c.name; }

const ConversionCase kConversionCases[] = {
    {"TaggedBt601Limited", 176, 144, AVCOL_SPC_SMPTE170M, AVCOL_RANGE_MPEG, AV_PIX_FMT_YUV444P, kBt601, false},
    {"TaggedBt709Limited", 176, 144, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, AV_PIX_FMT_YUV444P, kBt709, false},
    {"TaggedBt601FullOnHd", 1280, 720, AVCOL_SPC_BT470BG, AVCOL_RANGE_JPEG, AV_PIX_FMT_YUV444P, kBt601, true},
    {"TaggedBt709Full", 176, 144, AVCOL_SPC_BT709, AVCOL_RANGE_JPEG, AV_PIX_FMT_YUV444P, kBt709, true},
    {"UntaggedBelow720IsBt601Limited", 720, 576, AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED, AV_PIX_FMT_YUV444P,
     kBt601, false},
    {"Untagged720IsBt709Limited", 1280, 720, AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED, AV_PIX_FMT_YUV444P,
     kBt709, false},
    {"UntaggedJpegFormatIsFullRange", 176, 144, AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED, AV_PIX_FMT_YUVJ444P,
     kBt601, true},
};

class ColourConversionTest : public testing::TestWithParam<ConversionCase> {};

TEST_P(ColourConversionTest, MatchesTheTextbookFormula) {
    const ConversionCase& c = GetParam();
    // Black, white, the primaries' neighbourhoods and a few mid tones.
    const std::array<std::array<uint8_t, 3>, 9> samples = {{{16, 128, 128},
                                                            {235, 128, 128},
                                                            {126, 128, 128},
                                                            {81, 90, 240},
                                                            {145, 54, 34},
                                                            {41, 240, 110},
                                                            {100, 150, 170},
                                                            {180, 100, 90},
                                                            {60, 140, 120}}};
    for (const auto& yuv : samples) {
        const RgbImage image =
            ConvertFrameToRgb24(UniformYuvFrame(c.width, c.height, yuv[0], yuv[1], yuv[2], c.colorSpace, c.colorRange, c.format));
        ASSERT_EQ(image.width, c.width);
        ASSERT_EQ(image.height, c.height);
        const auto expected = ReferenceRgb(yuv[0], yuv[1], yuv[2], c.coefficients[0], c.coefficients[1], c.fullRange);
        const uint8_t* middle = image.Row(c.height / 2) + (c.width / 2) * 3;
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_NEAR(middle[channel], expected[static_cast<size_t>(channel)], 1.6)
                << "Y=" << int{yuv[0]} << " U=" << int{yuv[1]} << " V=" << int{yuv[2]} << " channel " << channel;
    }
}

INSTANTIATE_TEST_SUITE_P(Tags, ColourConversionTest, testing::ValuesIn(kConversionCases),
                         [](const testing::TestParamInfo<ConversionCase>& info) { return info.param.name; });

TEST(ColourConversionRule, RangeAndMatrixFromHeader) {
    FrameHeader header;
    header.pixelFormat = AV_PIX_FMT_YUV420P;
    header.height = 719;
    EXPECT_EQ(ColourConversionFor(header).swsColorspace, SWS_CS_ITU601);
    EXPECT_FALSE(ColourConversionFor(header).fullRange);
    header.height = 720;
    EXPECT_EQ(ColourConversionFor(header).swsColorspace, SWS_CS_ITU709);
    header.height = 1080;
    header.colorSpace = AVCOL_SPC_SMPTE170M;
    EXPECT_EQ(ColourConversionFor(header).swsColorspace, SWS_CS_ITU601);
    header.colorRange = AVCOL_RANGE_JPEG;
    EXPECT_TRUE(ColourConversionFor(header).fullRange);
    // A tag of limited range wins over the yuvj format's implied full range.
    header.pixelFormat = AV_PIX_FMT_YUVJ420P;
    header.colorRange = AVCOL_RANGE_MPEG;
    EXPECT_FALSE(ColourConversionFor(header).fullRange);
}

TEST(ColourConversionInput, RgbFramesPassUnchanged) {
    const int width = 37, height = 11;
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 + i / 3);
    FrameHeader header;
    header.width = width;
    header.height = height;
    header.pixelFormat = AV_PIX_FMT_RGB24;
    header.colorSpace = AVCOL_SPC_BT709;  // tags of YUV mean nothing for RGB
    const uint8_t* planes[4] = {pixels.data(), nullptr, nullptr, nullptr};
    const int lines[4] = {width * 3, 0, 0, 0};
    EXPECT_EQ(ConvertFrameToRgb24(FrameFromPlanes(header, planes, lines)).pixels, pixels);
}

TEST(ColourConversionInput, StampSurvivesEveryDecoderLayout) {
    for (int format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV444P, AV_PIX_FMT_NV12, AV_PIX_FMT_GRAY8,
                       AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_BGR0}) {
        const FrameData frame = MakeStampedFrame(176, 144, 4321, 0, format);
        ASSERT_FALSE(frame.empty()) << format;
        EXPECT_EQ(ReadStampFromRgb(ConvertFrameToRgb24(frame)), 4321) << format;
    }
}

// The converter keeps its scaler between frames; a change of size or format must not reuse a
// scaler set up for another picture.
TEST(ColourConversionInput, ReusedConverterFollowsSizeAndFormatChanges) {
    FrameToRgbConverter converter;
    const FrameData small = MakeStampedFrame(176, 144, 1, 0);
    const FrameData hd = MakeStampedFrame(1280, 720, 2, 0, AV_PIX_FMT_YUV422P);
    const FrameData limitedTagged = WithColourTags(small, AVCOL_SPC_BT709, AVCOL_RANGE_JPEG);
    for (const FrameData* frame : {&small, &hd, &limitedTagged, &small}) {
        const RgbImage reused = converter.Convert(*frame);
        EXPECT_EQ(reused.pixels, ConvertFrameToRgb24(*frame).pixels);
    }
    EXPECT_NE(converter.Convert(limitedTagged).pixels, converter.Convert(small).pixels);
}

TEST(ColourConversionInput, EmptyOrDamagedDataIsRefused) {
    EXPECT_THROW(ConvertFrameToRgb24({}), EngineError);
    EXPECT_THROW(ConvertFrameToRgb24(UnreadableFrame()), EngineError);
    try {
        ConvertFrameToRgb24({});
    } catch (const EngineError& error) {
        EXPECT_GT(std::strlen(error.what()), 10u);
    }
}

}  // namespace
}  // namespace trimora::test
