// The nine raster formats: each saved file is read back by FFmpeg's command-line tools, which
// must recognise its format from its content, and must find the frame in it: the frame-number
// stamp, and (for the lossless formats) exactly the pixels of the program's RGB conversion.
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "ImageTestUtil.h"
#include "engine/ffmpeg/images/FfmpegImageWriter.h"
#include "support/TestClips.h"

namespace trimora::test {
namespace {

using SaveFunction = void (ImageWriter::*)(const FrameData&, const std::string&);

enum class Fidelity { Exact, Palette, Lossy };

struct RasterCase {
    const char* name;
    SaveFunction save;
    std::string formatName;   // how ffprobe names the container read from the content
    std::string codecName;
    std::string readerSuffix;  // a format without a signature is read through a copy named so
    std::vector<uint8_t> leadingBytes;
    std::string trailingText;
    Fidelity fidelity;
};

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> bytes;
    for (int v : values) bytes.push_back(static_cast<uint8_t>(v));
    return bytes;
}

const std::vector<RasterCase>& RasterCases() {
    static const std::vector<RasterCase> cases = {
        {"Bmp", &ImageWriter::SaveAsBmp, "bmp_pipe", "bmp", "", Bytes({'B', 'M'}), "", Fidelity::Exact},
        {"Jpeg", &ImageWriter::SaveAsJpeg, "jpeg_pipe", "mjpeg", "", Bytes({0xFF, 0xD8, 0xFF}), "", Fidelity::Lossy},
        {"Gif", &ImageWriter::SaveAsGif, "gif", "gif", "", Bytes({'G', 'I', 'F', '8', '9', 'a'}), ";",
         Fidelity::Palette},
        {"Tiff", &ImageWriter::SaveAsTiff, "tiff_pipe", "tiff", "", Bytes({'I', 'I', 42, 0}), "", Fidelity::Exact},
        {"Pcx", &ImageWriter::SaveAsPcx, "pcx_pipe", "pcx", "", Bytes({0x0A, 5, 1, 8}), "", Fidelity::Exact},
        {"Tga", &ImageWriter::SaveAsTga, "image2", "targa", ".tga", {}, std::string("TRUEVISION-XFILE.") + '\0',
         Fidelity::Exact},
        {"Png", &ImageWriter::SaveAsPng, "png_pipe", "png", "", Bytes({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}),
         "", Fidelity::Exact},
        {"Ras", &ImageWriter::SaveAsRas, "sunrast_pipe", "sunrast", "", Bytes({0x59, 0xA6, 0x6A, 0x95}), "",
         Fidelity::Exact},
        {"Jpeg2000", &ImageWriter::SaveAsJpeg2000, "j2k_pipe", "jpeg2000", "", Bytes({0xFF, 0x4F, 0xFF, 0x51}), "",
         Fidelity::Exact},
    };
    return cases;
}

struct FrameCase {
    const char* name;
    int width, height, pixelFormat;
};

void PrintTo(const RasterCase& format, std::ostream* out) { *out << format.name; }
void PrintTo(const FrameCase& frame, std::ostream* out) { *out << frame.name; }

// A common small picture, one with odd sides (row padding, chroma rounding), one with another
// chroma layout, and one whose colours arrive as RGB.
const FrameCase kFrames[] = {
    {"Yuv420", 176, 144, AV_PIX_FMT_YUV420P},
    {"OddSizeYuv422", 175, 143, AV_PIX_FMT_YUV422P},
    {"Rgb", 160, 120, AV_PIX_FMT_RGB24},
};

class RasterFormatTest : public testing::TestWithParam<std::tuple<RasterCase, FrameCase>> {};

TEST_P(RasterFormatTest, FileIsItsFormatAndHoldsTheFrame) {
    const auto& [format, frameCase] = GetParam();
    const int number = 0x5A3 + frameCase.width;  // a pattern of set and clear bits
    const FrameData frame = MakeStampedFrame(frameCase.width, frameCase.height, number, 4000, frameCase.pixelFormat);
    ASSERT_FALSE(frame.empty());
    // No extension: the readers must recognise the file by what it holds.
    const std::string path = MakeScratchFolder() + "/clip Frame" + std::to_string(number);

    FfmpegImageWriter writer;
    (writer.*format.save)(frame, path);

    const std::vector<uint8_t> bytes = ReadBytes(path);
    ASSERT_GT(bytes.size(), format.leadingBytes.size() + format.trailingText.size());
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(format.leadingBytes.size())),
              format.leadingBytes);
    EXPECT_EQ(std::string(bytes.end() - static_cast<ptrdiff_t>(format.trailingText.size()), bytes.end()),
              format.trailingText);

    std::string readerPath = path;
    if (!format.readerSuffix.empty()) {
        readerPath = path + format.readerSuffix;
        std::filesystem::copy_file(path, readerPath);
    }
    const ImageProbe probe = ProbeImage(readerPath);
    EXPECT_EQ(probe.formatName, format.formatName);
    EXPECT_EQ(probe.codecName, format.codecName);
    EXPECT_EQ(probe.width, frameCase.width);
    EXPECT_EQ(probe.height, frameCase.height);

    const DecodedImage gray = DecodeImage(readerPath, "gray");
    EXPECT_EQ(ReadStampFromGray(gray), number);

    const DecodedImage rgb = DecodeImage(readerPath, "rgb24");
    ASSERT_EQ(rgb.width, frameCase.width);
    ASSERT_EQ(rgb.height, frameCase.height);
    const RgbImage expected = ConvertFrameToRgb24(frame);
    const PixelDifference difference = Compare(rgb.pixels, expected.pixels);
    switch (format.fidelity) {
        case Fidelity::Exact:
            EXPECT_EQ(difference.maxAbsolute, 0) << "mean difference " << difference.meanAbsolute;
            break;
        case Fidelity::Palette:
            // 256 colours for a picture of thousands: close on average, no colour far off.
            EXPECT_LT(difference.meanAbsolute, 2.5);
            EXPECT_LT(difference.maxAbsolute, 48);
            break;
        case Fidelity::Lossy:
            // Quality 2 JPEG, decoded and converted back to RGB by another implementation.
            EXPECT_LT(difference.meanAbsolute, 2.0);
            EXPECT_LT(difference.maxAbsolute, 64);
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(AllRasterFormats, RasterFormatTest,
                         testing::Combine(testing::ValuesIn(RasterCases()), testing::ValuesIn(kFrames)),
                         [](const testing::TestParamInfo<RasterFormatTest::ParamType>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

// The chosen operation decides the format; the name's extension plays no part.
TEST(PictureFormatChoice, PngWrittenUnderBmpNameIsPng) {
    const FrameData frame = MakeStampedFrame(176, 144, 321, 0);
    const std::string path = MakeScratchFolder() + "/shot.bmp";
    FfmpegImageWriter writer;
    writer.SaveAsPng(frame, path);
    const ImageProbe probe = ProbeImage(path);
    EXPECT_EQ(probe.codecName, "png");
    EXPECT_EQ(probe.formatName, "png_pipe");
    EXPECT_EQ(ReadStampFromGray(DecodeImage(path, "gray")), 321);
}

TEST(PictureFormatChoice, NameIsKeptExactlyWithoutAddingAnExtension) {
    const std::string folder = MakeScratchFolder();
    const FrameData frame = MakeStampedFrame(176, 144, 9, 0);
    FfmpegImageWriter writer;
    writer.SaveAsJpeg(frame, folder + "/clip. Frame57");
    writer.SaveAsTiff(frame, folder + "/picture.cpt");
    EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"clip. Frame57", "picture.cpt"}));
}

// A high-definition frame goes through the same path (and the BT.709 default of its size).
TEST(PictureFormatChoice, HighDefinitionFrameSavesExactly) {
    const FrameData frame = MakeStampedFrame(1280, 720, 4660, 0);
    const std::string path = MakeScratchFolder() + "/hd.png";
    FfmpegImageWriter writer;
    writer.SaveAsPng(frame, path);
    const DecodedImage rgb = DecodeImage(path, "rgb24");
    EXPECT_EQ(Compare(rgb.pixels, ConvertFrameToRgb24(frame).pixels).maxAbsolute, 0);
    EXPECT_EQ(ReadStampFromGray(DecodeImage(path, "gray")), 4660);
}

}  // namespace
}  // namespace trimora::test
