#include "engine/ffmpeg/images/Metafile.h"

#include <limits>
#include <string>

#include "engine/EngineError.h"

namespace trimora {

namespace {

constexpr int kDotsPerInch = 96;
constexpr uint32_t kPixelsPerMetre = 3780;  // 96 dpi
constexpr uint32_t kSourceCopy = 0x00CC0020;  // SRCCOPY
constexpr uint16_t kColourOnColour = 3;       // STRETCH_DELETESCANS: plain pixel copies, no blending

// Appends little-endian values to a byte vector.
class LittleEndian {
public:
    explicit LittleEndian(std::vector<uint8_t>& out) : out_(out) {}
    void U16(uint32_t value) {
        out_.push_back(static_cast<uint8_t>(value));
        out_.push_back(static_cast<uint8_t>(value >> 8));
    }
    void U32(uint32_t value) {
        U16(value & 0xFFFF);
        U16(value >> 16);
    }
    void I16(int value) { U16(static_cast<uint16_t>(static_cast<int16_t>(value))); }
    void I32(int32_t value) { U32(static_cast<uint32_t>(value)); }
    void Bytes(const std::vector<uint8_t>& bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }

private:
    std::vector<uint8_t>& out_;
};

void PatchU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

size_t DibRowSize(int width) { return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3}; }

void CheckPicture(const RgbImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<size_t>(image.width) * image.height * 3)
        throw EngineError("There is no picture to write into the metafile.");
    // The DIB, and with it the record sizes, must fit in 32 bits.
    if (DibRowSize(image.width) * static_cast<size_t>(image.height) > (size_t{1} << 31))
        throw EngineError("The picture is too large for a metafile.");
}

}  // namespace

std::vector<uint8_t> BuildDib(const RgbImage& image) {
    CheckPicture(image);
    const size_t rowSize = DibRowSize(image.width);
    std::vector<uint8_t> dib;
    dib.reserve(40 + rowSize * static_cast<size_t>(image.height));
    LittleEndian out(dib);
    out.U32(40);                 // biSize
    out.I32(image.width);        // biWidth
    out.I32(image.height);       // biHeight: positive, rows bottom-up
    out.U16(1);                  // biPlanes
    out.U16(24);                 // biBitCount
    out.U32(0);                  // biCompression: BI_RGB
    out.U32(static_cast<uint32_t>(rowSize * static_cast<size_t>(image.height)));  // biSizeImage
    out.U32(kPixelsPerMetre);    // biXPelsPerMeter
    out.U32(kPixelsPerMetre);    // biYPelsPerMeter
    out.U32(0);                  // biClrUsed
    out.U32(0);                  // biClrImportant
    for (int y = image.height - 1; y >= 0; --y) {
        const uint8_t* row = image.Row(y);
        for (int x = 0; x < image.width; ++x) {
            dib.push_back(row[x * 3 + 2]);
            dib.push_back(row[x * 3 + 1]);
            dib.push_back(row[x * 3 + 0]);
        }
        dib.insert(dib.end(), rowSize - static_cast<size_t>(image.width) * 3, 0);
    }
    return dib;
}

std::vector<uint8_t> BuildPlaceableWmf(const RgbImage& image) {
    CheckPicture(image);
    if (image.width > std::numeric_limits<int16_t>::max() || image.height > std::numeric_limits<int16_t>::max())
        throw EngineError("The picture is too large for a WMF file (at most 32767 pixels on each side).");
    const std::vector<uint8_t> dib = BuildDib(image);

    std::vector<uint8_t> file;
    LittleEndian out(file);

    // Aldus placeable header: where the picture goes and how many units make an inch.
    out.U32(0x9AC6CDD7);  // key
    out.U16(0);           // handle
    out.I16(0);           // bounding box: left, top, right, bottom
    out.I16(0);
    out.I16(image.width);
    out.I16(image.height);
    out.U16(kDotsPerInch);
    out.U32(0);  // reserved
    uint16_t checksum = 0;
    for (size_t i = 0; i < 20; i += 2) checksum ^= static_cast<uint16_t>(file[i] | (file[i + 1] << 8));
    out.U16(checksum);

    const size_t metaStart = file.size();
    out.U16(1);       // type: memory metafile
    out.U16(9);       // header size in 16-bit words
    out.U16(0x0300);  // version
    const size_t sizeField = file.size();
    out.U32(0);  // file size in words, patched below
    out.U16(0);  // number of objects
    const size_t maxRecordField = file.size();
    out.U32(0);  // largest record in words, patched below
    out.U16(0);  // unused

    uint32_t largestRecord = 0;
    auto record = [&](uint32_t words, uint16_t function) {
        largestRecord = std::max(largestRecord, words);
        out.U32(words);
        out.U16(function);
    };
    record(4, 0x0103);  // META_SETMAPMODE
    out.U16(8);         // MM_ANISOTROPIC: the window below maps onto the placeable box
    record(5, 0x020B);  // META_SETWINDOWORG (y, x)
    out.I16(0);
    out.I16(0);
    record(5, 0x020C);  // META_SETWINDOWEXT (height, width)
    out.I16(image.height);
    out.I16(image.width);
    record(4, 0x0107);  // META_SETSTRETCHBLTMODE
    out.U16(kColourOnColour);

    const size_t stretchBytes = 6 + 4 + 2 + 8 * 2 + dib.size();
    record(static_cast<uint32_t>(stretchBytes / 2), 0x0F43);  // META_STRETCHDIB
    out.U32(kSourceCopy);
    out.U16(0);  // DIB_RGB_COLORS
    out.I16(image.height);  // source height, width, y, x
    out.I16(image.width);
    out.I16(0);
    out.I16(0);
    out.I16(image.height);  // destination height, width, y, x
    out.I16(image.width);
    out.I16(0);
    out.I16(0);
    out.Bytes(dib);

    record(3, 0x0000);  // META_EOF

    PatchU32(file, sizeField, static_cast<uint32_t>((file.size() - metaStart) / 2));
    PatchU32(file, maxRecordField, largestRecord);
    return file;
}

std::vector<uint8_t> BuildEmf(const RgbImage& image) {
    CheckPicture(image);
    const std::vector<uint8_t> dib = BuildDib(image);
    constexpr size_t kBitmapInfoSize = 40;

    // The reference device: a 96 dpi screen of 1920 x 1440 pixels, which measures a whole
    // number of millimetres (508 x 381), so one logical unit is one pixel on it and the frame
    // in 0.01 mm follows from the pixel size without rounding drift.
    constexpr int32_t kDeviceWidth = 1920, kDeviceHeight = 1440;
    constexpr int32_t kDeviceWidthMm = 508, kDeviceHeightMm = 381;
    const auto hundredthsOfMm = [](int pixels) { return static_cast<int32_t>((int64_t{pixels} * 2540 + 48) / 96); };

    const std::u16string description = std::u16string(u"Trimora") + u'\0' + u"Video frame" + u'\0' + u'\0';
    constexpr size_t kHeaderFixed = 108;  // EMR_HEADER with both extensions
    const size_t descriptionBytes = (description.size() * 2 + 3) & ~size_t{3};
    const size_t headerSize = kHeaderFixed + descriptionBytes;

    std::vector<uint8_t> file;
    LittleEndian out(file);

    out.U32(1);  // EMR_HEADER
    out.U32(static_cast<uint32_t>(headerSize));
    out.I32(0);  // bounds in device units, inclusive
    out.I32(0);
    out.I32(image.width - 1);
    out.I32(image.height - 1);
    out.I32(0);  // frame in 0.01 mm, inclusive
    out.I32(0);
    out.I32(hundredthsOfMm(image.width) - 1);
    out.I32(hundredthsOfMm(image.height) - 1);
    out.U32(0x464D4520);  // " EMF"
    out.U32(0x00010000);  // version
    const size_t bytesField = file.size();
    out.U32(0);  // file size, patched below
    out.U32(3);  // records
    out.U16(1);  // handles (entry zero is reserved)
    out.U16(0);  // reserved
    out.U32(static_cast<uint32_t>(description.size()));
    out.U32(static_cast<uint32_t>(kHeaderFixed));
    out.U32(0);  // palette entries
    out.I32(kDeviceWidth);  // reference device in pixels
    out.I32(kDeviceHeight);
    out.I32(kDeviceWidthMm);  // and in millimetres
    out.I32(kDeviceHeightMm);
    out.U32(0);  // no pixel format descriptor
    out.U32(0);
    out.U32(0);  // not OpenGL
    out.U32(kDeviceWidthMm * 1000);  // and in micrometres
    out.U32(kDeviceHeightMm * 1000);
    for (char16_t c : description) out.U16(c);
    file.resize(headerSize, 0);

    constexpr size_t kStretchFixed = 80;
    const size_t bitsSize = dib.size() - kBitmapInfoSize;
    out.U32(81);  // EMR_STRETCHDIBITS
    out.U32(static_cast<uint32_t>(kStretchFixed + dib.size()));
    out.I32(0);  // bounds
    out.I32(0);
    out.I32(image.width - 1);
    out.I32(image.height - 1);
    out.I32(0);  // destination x, y
    out.I32(0);
    out.I32(0);  // source x, y, width, height
    out.I32(0);
    out.I32(image.width);
    out.I32(image.height);
    out.U32(static_cast<uint32_t>(kStretchFixed));  // bitmap info: offset, size
    out.U32(static_cast<uint32_t>(kBitmapInfoSize));
    out.U32(static_cast<uint32_t>(kStretchFixed + kBitmapInfoSize));  // bits: offset, size
    out.U32(static_cast<uint32_t>(bitsSize));
    out.U32(0);  // DIB_RGB_COLORS
    out.U32(kSourceCopy);
    out.I32(image.width);  // destination width, height
    out.I32(image.height);
    out.Bytes(dib);

    out.U32(14);  // EMR_EOF
    out.U32(20);
    out.U32(0);   // palette entries
    out.U32(16);  // offset of the (empty) palette
    out.U32(20);  // size of this record, repeated last

    PatchU32(file, bytesField, static_cast<uint32_t>(file.size()));
    return file;
}

}  // namespace trimora
