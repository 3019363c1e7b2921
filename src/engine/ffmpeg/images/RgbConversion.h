#pragma once
// Turns a frame's picture into packed 8-bit RGB, with the colour conversion the
// whole program shares: the preview and every saved picture show the same colours.
//
// The frame's own colour description decides the matrix and the range:
//   matrix: BT.709, BT.601 (BT.470BG, SMPTE 170M), FCC, SMPTE 240M or BT.2020 as the frame says;
//           unspecified: BT.601 for pictures below 720 lines, BT.709 from 720 lines up;
//   range:  limited or full as the frame says; unspecified: limited (full for the yuvj formats).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/FfmpegUtil.h"
#include "engine/FrameBuffer.h"
#include "engine/MediaTypes.h"

namespace trimora {

// A picture as packed 8-bit RGB: rows from top to bottom, 3 * width bytes each, no padding.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;

    const uint8_t* Row(int y) const { return pixels.data() + static_cast<size_t>(y) * width * 3; }
    uint8_t* Row(int y) { return pixels.data() + static_cast<size_t>(y) * width * 3; }
};

// The YUV-to-RGB conversion a frame asks for.
struct ColourConversion {
    int swsColorspace = 0;  // SWS_CS_* value
    bool fullRange = false;
};
ColourConversion ColourConversionFor(const FrameHeader& header);

// Converts frames to RGB, keeping its scaler between calls of the same size and format.
class FrameToRgbConverter {
public:
    // Throws EngineError when the data holds no frame or one that cannot be converted.
    RgbImage Convert(const FrameData& frame);

private:
    ff::SwsPtr scaler_;
};

// One-off conversion, the same as FrameToRgbConverter::Convert.
RgbImage ConvertFrameToRgb24(const FrameData& frame);

}  // namespace trimora
