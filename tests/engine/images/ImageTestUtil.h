#pragma once
// Reading saved pictures back with programs that share no code with the writer.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/MediaTypes.h"
#include "engine/ffmpeg/images/RgbConversion.h"

namespace trimora::test {

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A new empty folder inside the test process's temporary folder.
std::string MakeScratchFolder();
// The names of the entries of a folder, sorted.
std::vector<std::string> FolderEntries(const std::string& folder);

struct ImageProbe {
    std::string formatName;  // ffprobe's format_name
    std::string codecName;   // codec_name of the picture's stream
    int width = 0;
    int height = 0;
};
// ffprobe on a picture file.
ImageProbe ProbeImage(const std::string& path);

// ffmpeg's decode of the first picture in the file as packed `pixelFormat` ("rgb24", "gray").
// Width and height are 0 when it could not be decoded.
struct DecodedImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};
DecodedImage DecodeImage(const std::string& path, const std::string& pixelFormat);

// The frame-number stamp of a decoded gray picture; -1 when there is none.
int ReadStampFromGray(const DecodedImage& gray);
// The stamp read from the luma of an RGB picture (BT.601 weights).
int ReadStampFromRgb(const RgbImage& image);

struct PixelDifference {
    double meanAbsolute = 0;  // over all samples
    int maxAbsolute = 0;
};
PixelDifference Compare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

// A frame whose header says the colours are in `colorSpace` / `colorRange` (AVColorSpace,
// AVColorRange values).
FrameData WithColourTags(FrameData frame, int colorSpace, int colorRange);

}  // namespace trimora::test
