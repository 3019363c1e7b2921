// The GIF palette: exact for pictures with few colours, close for rich ones, and every pixel
// takes its nearest palette colour without dithering.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "ImageTestUtil.h"
#include "engine/ffmpeg/images/Palette.h"
#include "support/TestClips.h"

namespace trimora::test {
namespace {

RgbImage MakeImage(int width, int height, const std::function<RgbColour(int, int)>& colourAt) {
    RgbImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const RgbColour c = colourAt(x, y);
            std::copy(c.begin(), c.end(), image.Row(y) + x * 3);
        }
    return image;
}

std::vector<uint8_t> Expand(const PalettePicture& quantized) {
    std::vector<uint8_t> pixels;
    for (uint8_t index : quantized.indices) {
        const RgbColour& c = quantized.palette.at(index);
        pixels.insert(pixels.end(), c.begin(), c.end());
    }
    return pixels;
}

TEST(Palette, FewColoursAreKeptExactly) {
    const RgbImage image = MakeImage(64, 40, [](int x, int y) {
        return RgbColour{static_cast<uint8_t>((x / 8) * 31), static_cast<uint8_t>((y / 8) * 50), 77};
    });  // 8 x 5 = 40 colours
    const PalettePicture quantized = QuantizeToPalette(image);
    EXPECT_EQ(quantized.palette.size(), 40u);
    EXPECT_EQ(Expand(quantized), image.pixels);
}

TEST(Palette, ExactlyOneColourTooManyIsReducedToTheLimit) {
    const RgbImage image = MakeImage(257, 2, [](int x, int) {
        return RgbColour{static_cast<uint8_t>(x), static_cast<uint8_t>(x == 256 ? 1 : 0), 0};
    });
    const PalettePicture quantized = QuantizeToPalette(image);
    EXPECT_EQ(quantized.palette.size(), 256u);
    EXPECT_LE(Compare(Expand(quantized), image.pixels).maxAbsolute, 1);
}

TEST(Palette, RichPictureIsCloseOnAverageAndFlatAreasStayFlat) {
    // A smooth colour field with a flat grey band across the middle.
    const RgbImage image = MakeImage(320, 240, [](int x, int y) {
        if (y >= 100 && y < 140) return RgbColour{128, 128, 128};
        return RgbColour{static_cast<uint8_t>(x * 255 / 319), static_cast<uint8_t>(y * 255 / 239),
                         static_cast<uint8_t>((x + y) * 255 / 558)};
    });
    const PalettePicture quantized = QuantizeToPalette(image);
    EXPECT_EQ(quantized.palette.size(), 256u);
    const PixelDifference difference = Compare(Expand(quantized), image.pixels);
    EXPECT_LT(difference.meanAbsolute, 4.0);
    EXPECT_LT(difference.maxAbsolute, 40);
    // No dithering: the flat band is one palette colour, and that colour is the grey itself
    // (the band is the most common colour of the picture).
    std::set<uint8_t> bandIndices;
    for (int y = 100; y < 140; ++y)
        for (int x = 0; x < 320; ++x) bandIndices.insert(quantized.indices[static_cast<size_t>(y) * 320 + x]);
    ASSERT_EQ(bandIndices.size(), 1u);
    const RgbColour grey = quantized.palette[*bandIndices.begin()];
    for (uint8_t c : grey) EXPECT_NEAR(c, 128, 1);
}

TEST(Palette, EveryPixelTakesTheNearestColour) {
    std::mt19937 random(7);
    const RgbImage image = MakeImage(97, 53, [&](int, int) {
        return RgbColour{static_cast<uint8_t>(random()), static_cast<uint8_t>(random()), static_cast<uint8_t>(random())};
    });
    const std::vector<RgbColour> palette = BuildPalette(image, 64);
    ASSERT_EQ(palette.size(), 64u);
    const std::vector<uint8_t> indices = MapToPalette(image, palette);
    for (size_t i = 0; i < indices.size(); ++i) {
        const uint8_t* p = &image.pixels[i * 3];
        auto distance = [&](const RgbColour& c) {
            int d = 0;
            for (int k = 0; k < 3; ++k) d += (c[static_cast<size_t>(k)] - p[k]) * (c[static_cast<size_t>(k)] - p[k]);
            return d;
        };
        int best = 1 << 30;
        for (const RgbColour& c : palette) best = std::min(best, distance(c));
        ASSERT_EQ(distance(palette[indices[i]]), best) << "pixel " << i;
    }
}

TEST(Palette, StampedFrameKeepsItsStamp) {
    const RgbImage image = ConvertFrameToRgb24(MakeStampedFrame(176, 144, 0xBEEF, 0));
    const PalettePicture quantized = QuantizeToPalette(image);
    RgbImage mapped = image;
    mapped.pixels = Expand(quantized);
    EXPECT_EQ(ReadStampFromRgb(mapped), 0xBEEF);
}

}  // namespace
}  // namespace trimora::test
