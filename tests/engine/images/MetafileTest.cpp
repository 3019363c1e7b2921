// WMF and EMF: the files are read record by record as a metafile player would, the bitmap they
// carry is taken out and compared with the frame, and libwmf's converters (which share nothing
// with the writer) must accept and render the WMF.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ImageTestUtil.h"
#include "engine/EngineError.h"
#include "engine/ffmpeg/images/FfmpegImageWriter.h"
#include "engine/ffmpeg/images/Metafile.h"
#include "support/TestClips.h"

namespace trimora::test {
namespace {

class Reader {
public:
    explicit Reader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    bool Has(size_t offset, size_t size) const { return offset <= bytes_.size() && size <= bytes_.size() - offset; }
    uint32_t U16(size_t offset) const { return Has(offset, 2) ? bytes_[offset] | bytes_[offset + 1] << 8 : 0xFFFFFFFF; }
    uint32_t U32(size_t offset) const {
        return Has(offset, 4) ? U16(offset) | U16(offset + 2) << 16 : 0xFFFFFFFF;
    }
    int32_t I32(size_t offset) const { return static_cast<int32_t>(U32(offset)); }
    int16_t I16(size_t offset) const { return static_cast<int16_t>(U16(offset)); }

private:
    const std::vector<uint8_t>& bytes_;
};

// Reads a packed 24-bit DIB (BITMAPINFOHEADER + rows) back into RGB, bottom-up or top-down.
RgbImage ReadDib(const std::vector<uint8_t>& bytes, size_t infoOffset, size_t bitsOffset, size_t bitsSize) {
    const Reader r(bytes);
    RgbImage image;
    if (r.U32(infoOffset) != 40 || r.U16(infoOffset + 12) != 1 || r.U16(infoOffset + 14) != 24 ||
        r.U32(infoOffset + 16) != 0)
        return image;
    const int width = r.I32(infoOffset + 4);
    const int signedHeight = r.I32(infoOffset + 8);
    const int height = std::abs(signedHeight);
    const size_t rowSize = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    if (width <= 0 || height == 0 || bitsSize < rowSize * height || !r.Has(bitsOffset, rowSize * height)) return image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const size_t fileRow = signedHeight > 0 ? static_cast<size_t>(height - 1 - y) : static_cast<size_t>(y);
        const uint8_t* source = &bytes[bitsOffset + fileRow * rowSize];
        for (int x = 0; x < width; ++x) {
            image.Row(y)[x * 3 + 0] = source[x * 3 + 2];
            image.Row(y)[x * 3 + 1] = source[x * 3 + 1];
            image.Row(y)[x * 3 + 2] = source[x * 3 + 0];
        }
    }
    return image;
}

struct MetafileCase {
    const char* name;
    int width, height;
};
void PrintTo(const MetafileCase& size, std::ostream* out) { *out << size.name; }
const MetafileCase kSizes[] = {{"Small", 176, 144}, {"OddSides", 175, 143}, {"Wide", 640, 360}};

class EmfTest : public testing::TestWithParam<MetafileCase> {};

TEST_P(EmfTest, RecordsDescribeTheFrameAndCarryItsPixels) {
    const auto [name, width, height] = GetParam();
    const FrameData frame = MakeStampedFrame(width, height, 2024, 80000);
    const std::string path = MakeScratchFolder() + "/frame.emf";
    FfmpegImageWriter writer;
    writer.SaveAsEmf(frame, path);
    const std::vector<uint8_t> bytes = ReadBytes(path);
    const Reader r(bytes);

    // EMR_HEADER
    ASSERT_TRUE(r.Has(0, 88));
    EXPECT_EQ(r.U32(0), 1u);
    const uint32_t headerSize = r.U32(4);
    EXPECT_GE(headerSize, 88u);
    EXPECT_EQ(headerSize % 4, 0u);
    EXPECT_EQ(r.I32(8), 0);  // bounds, inclusive, in pixels
    EXPECT_EQ(r.I32(12), 0);
    EXPECT_EQ(r.I32(16), width - 1);
    EXPECT_EQ(r.I32(20), height - 1);
    EXPECT_EQ(r.U32(40), 0x464D4520u);  // " EMF"
    EXPECT_EQ(r.U32(44), 0x00010000u);
    EXPECT_EQ(r.U32(48), bytes.size());
    EXPECT_EQ(r.U32(52), 3u);
    EXPECT_GE(r.U16(56), 1u);
    // The frame (0.01 mm, inclusive) is the bounds at the reference device's resolution.
    const int32_t devicePixelsX = r.I32(72), devicePixelsY = r.I32(76);
    const int32_t deviceMillimetresX = r.I32(80), deviceMillimetresY = r.I32(84);
    ASSERT_GT(devicePixelsX, 0);
    ASSERT_GT(deviceMillimetresX, 0);
    ASSERT_GT(devicePixelsY, 0);
    ASSERT_GT(deviceMillimetresY, 0);
    EXPECT_EQ(r.I32(24), 0);
    EXPECT_EQ(r.I32(28), 0);
    EXPECT_NEAR(r.I32(32) + 1, 100.0 * width * deviceMillimetresX / devicePixelsX, 1.0);
    EXPECT_NEAR(r.I32(36) + 1, 100.0 * height * deviceMillimetresY / devicePixelsY, 1.0);

    // The records: header, one stretched DIB, end of file; sizes chain up to the file's end.
    std::vector<uint32_t> types;
    size_t offset = 0, bitmapRecord = 0;
    while (offset < bytes.size()) {
        const uint32_t size = r.U32(offset + 4);
        ASSERT_TRUE(size >= 8 && size % 4 == 0 && r.Has(offset, size)) << "record at " << offset;
        types.push_back(r.U32(offset));
        if (types.back() == 81) bitmapRecord = offset;
        offset += size;
    }
    EXPECT_EQ(types, (std::vector<uint32_t>{1, 81, 14}));

    // EMR_STRETCHDIBITS
    const size_t s = bitmapRecord;
    EXPECT_EQ(r.I32(s + 8), 0);
    EXPECT_EQ(r.I32(s + 16), width - 1);
    EXPECT_EQ(r.I32(s + 20), height - 1);
    EXPECT_EQ(r.I32(s + 24), 0);  // destination
    EXPECT_EQ(r.I32(s + 28), 0);
    EXPECT_EQ(r.I32(s + 32), 0);  // source rectangle
    EXPECT_EQ(r.I32(s + 36), 0);
    EXPECT_EQ(r.I32(s + 40), width);
    EXPECT_EQ(r.I32(s + 44), height);
    EXPECT_EQ(r.U32(s + 64), 0u);            // DIB_RGB_COLORS
    EXPECT_EQ(r.U32(s + 68), 0x00CC0020u);   // SRCCOPY
    EXPECT_EQ(r.I32(s + 72), width);         // destination size
    EXPECT_EQ(r.I32(s + 76), height);
    const uint32_t infoOffset = r.U32(s + 48), infoSize = r.U32(s + 52);
    const uint32_t bitsOffset = r.U32(s + 56), bitsSize = r.U32(s + 60);
    EXPECT_GE(infoSize, 40u);
    EXPECT_LE(bitsOffset + bitsSize, r.U32(s + 4));
    const RgbImage picture = ReadDib(bytes, s + infoOffset, s + bitsOffset, bitsSize);
    ASSERT_EQ(picture.width, width);
    ASSERT_EQ(picture.height, height);
    EXPECT_EQ(picture.pixels, ConvertFrameToRgb24(frame).pixels);
    EXPECT_EQ(ReadStampFromRgb(picture), 2024);

    // EMR_EOF: no palette, its own size repeated as the last value.
    const size_t eof = bytes.size() - 20;
    EXPECT_EQ(r.U32(eof), 14u);
    EXPECT_EQ(r.U32(eof + 4), 20u);
    EXPECT_EQ(r.U32(eof + 8), 0u);
    EXPECT_EQ(r.U32(eof + 16), 20u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, EmfTest, testing::ValuesIn(kSizes),
                         [](const testing::TestParamInfo<MetafileCase>& info) { return info.param.name; });

class WmfTest : public testing::TestWithParam<MetafileCase> {};

TEST_P(WmfTest, PlaceableMetafileWithOneStretchedDib) {
    const auto [name, width, height] = GetParam();
    const FrameData frame = MakeStampedFrame(width, height, 777, 31000);
    const std::string path = MakeScratchFolder() + "/frame.wmf";
    FfmpegImageWriter writer;
    writer.SaveAsWmf(frame, path);
    const std::vector<uint8_t> bytes = ReadBytes(path);
    const Reader r(bytes);

    // Aldus placeable header with a valid checksum and the picture's box.
    ASSERT_TRUE(r.Has(0, 40));
    EXPECT_EQ(r.U32(0), 0x9AC6CDD7u);
    EXPECT_EQ(r.I16(6), 0);
    EXPECT_EQ(r.I16(8), 0);
    EXPECT_EQ(r.I16(10), width);
    EXPECT_EQ(r.I16(12), height);
    EXPECT_GT(r.U16(14), 0u);
    uint32_t checksum = 0;
    for (size_t i = 0; i < 20; i += 2) checksum ^= r.U16(i);
    EXPECT_EQ(r.U16(20), checksum);

    // META header
    constexpr size_t meta = 22;
    EXPECT_EQ(r.U16(meta), 1u);
    EXPECT_EQ(r.U16(meta + 2), 9u);
    EXPECT_EQ(r.U16(meta + 4), 0x0300u);
    EXPECT_EQ(r.U32(meta + 6) * 2, bytes.size() - meta);

    // Records chain to an EOF record at the very end.
    std::vector<uint32_t> functions;
    uint32_t largest = 0;
    size_t offset = meta + 18, stretch = 0, windowExtent = 0;
    while (offset < bytes.size()) {
        const uint32_t words = r.U32(offset);
        ASSERT_TRUE(words >= 3 && r.Has(offset, words * size_t{2})) << "record at " << offset;
        largest = std::max(largest, words);
        functions.push_back(r.U16(offset + 4));
        if (functions.back() == 0x0F43) stretch = offset;
        if (functions.back() == 0x020C) windowExtent = offset;
        offset += words * size_t{2};
    }
    EXPECT_EQ(offset, bytes.size());
    EXPECT_EQ(r.U32(meta + 12), largest);
    ASSERT_FALSE(functions.empty());
    EXPECT_EQ(functions.back(), 0x0000u);
    EXPECT_EQ(std::count(functions.begin(), functions.end(), 0x0F43u), 1);
    ASSERT_NE(windowExtent, 0u);
    EXPECT_EQ(r.I16(windowExtent + 6), height);
    EXPECT_EQ(r.I16(windowExtent + 8), width);

    // META_STRETCHDIB: the whole source onto the whole window.
    ASSERT_NE(stretch, 0u);
    EXPECT_EQ(r.U32(stretch + 6), 0x00CC0020u);
    EXPECT_EQ(r.U16(stretch + 10), 0u);
    EXPECT_EQ(r.I16(stretch + 12), height);
    EXPECT_EQ(r.I16(stretch + 14), width);
    EXPECT_EQ(r.I16(stretch + 20), height);
    EXPECT_EQ(r.I16(stretch + 22), width);
    const size_t dib = stretch + 28;
    const RgbImage picture = ReadDib(bytes, dib, dib + 40, r.U32(stretch) * size_t{2} - 28 - 40);
    ASSERT_EQ(picture.width, width);
    EXPECT_EQ(picture.pixels, ConvertFrameToRgb24(frame).pixels);
    EXPECT_EQ(ReadStampFromRgb(picture), 777);
}

INSTANTIATE_TEST_SUITE_P(Sizes, WmfTest, testing::ValuesIn(kSizes),
                         [](const testing::TestParamInfo<MetafileCase>& info) { return info.param.name; });

// libwmf needs the standard PostScript font names mapped to some font before it reads any
// metafile; the DejaVu fonts the setup installs stand in for them.
std::string WriteFontMap(const std::string& folder) {
    const std::string fonts = "/usr/share/fonts/truetype/dejavu/";
    const std::string path = folder + "/Fontmap";
    std::ofstream out(path);
    for (const char* family : {"Times-Roman", "Times-Italic", "Times-Bold", "Times-BoldItalic"})
        out << "/" << family << " (" << fonts << "DejaVuSerif.ttf) ;\n";
    for (const char* family : {"Helvetica", "Helvetica-Oblique", "Helvetica-Bold", "Helvetica-BoldOblique", "Symbol",
                               "ZapfDingbats"})
        out << "/" << family << " (" << fonts << "DejaVuSans.ttf) ;\n";
    for (const char* family : {"Courier", "Courier-Oblique", "Courier-Bold", "Courier-BoldOblique"})
        out << "/" << family << " (" << fonts << "DejaVuSansMono.ttf) ;\n";
    return path;
}

// libwmf plays the metafile: wmf2svg must find one bitmap of the frame's size and content, and
// wmf2gd's rendering (at its own resolution) must show the frame's stamp.
TEST(WmfReadByLibwmf, PlayersFindTheFrame) {
    ASSERT_TRUE(std::filesystem::exists("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"));
    const std::string folder = MakeScratchFolder();
    const std::string fontMap = WriteFontMap(folder);
    const FrameData frame = MakeStampedFrame(176, 144, 1234, 0);
    FfmpegImageWriter writer;
    writer.SaveAsWmf(frame, folder + "/frame.wmf");

    ASSERT_EQ(RunCommand("wmf2svg --wmf-gs-fontmap=" + ShellQuote(fontMap) + " --inline -o " +
                         ShellQuote(folder + "/frame.svg") + " " + ShellQuote(folder + "/frame.wmf") + " 2>&1"),
              0);
    const std::vector<uint8_t> svgBytes = ReadBytes(folder + "/frame.svg");
    const QString svg = QString::fromUtf8(reinterpret_cast<const char*>(svgBytes.data()),
                                          static_cast<qsizetype>(svgBytes.size()));
    EXPECT_TRUE(svg.contains(QRegularExpression(R"(<svg width="176" height="144")")));
    const QRegularExpression embedded(R"re(xlink:href="data:image/png;base64,([A-Za-z0-9+/=\s]+)")re");
    const auto images = embedded.globalMatch(svg);
    std::vector<QByteArray> pngs;
    for (auto it = images; it.hasNext();) pngs.push_back(QByteArray::fromBase64(it.next().captured(1).toLatin1()));
    ASSERT_EQ(pngs.size(), 1u);
    WriteBytes(folder + "/embedded.png", std::vector<uint8_t>(pngs[0].begin(), pngs[0].end()));
    const DecodedImage bitmap = DecodeImage(folder + "/embedded.png", "rgb24");
    ASSERT_EQ(bitmap.width, 176);
    ASSERT_EQ(bitmap.height, 144);
    EXPECT_EQ(Compare(bitmap.pixels, ConvertFrameToRgb24(frame).pixels).maxAbsolute, 0);

    ASSERT_EQ(RunCommand("wmf2gd --wmf-gs-fontmap=" + ShellQuote(fontMap) + " -t png -o " +
                         ShellQuote(folder + "/rendered.png") + " " + ShellQuote(folder + "/frame.wmf") + " 2>&1"),
              0);
    const DecodedImage rendered = DecodeImage(folder + "/rendered.png", "gray");
    ASSERT_GT(rendered.width, 0);
    // Rendered at the placeable header's size: 176 x 144 units at 96 per inch.
    EXPECT_NEAR(static_cast<double>(rendered.width) / rendered.height, 176.0 / 144.0, 0.02);
    EXPECT_EQ(ReadStampFromGray(rendered), 1234);
}

TEST(MetafileLimits, WmfRefusesSidesBeyondSixteenBitCoordinates) {
    RgbImage wide;
    wide.width = 40000;
    wide.height = 1;
    wide.pixels.assign(static_cast<size_t>(wide.width) * 3, 128);
    EXPECT_THROW(BuildPlaceableWmf(wide), EngineError);
    EXPECT_NO_THROW(BuildEmf(wide));
}

}  // namespace
}  // namespace trimora::test
