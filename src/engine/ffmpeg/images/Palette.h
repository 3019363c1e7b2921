#pragma once
// Reduces a true-colour picture to at most 256 colours for formats that need a palette (GIF).
// Pictures with few colours keep them exactly; others get a median-cut palette refined with a
// few rounds of k-means, and every pixel takes its nearest palette colour (no dithering, so
// flat areas stay flat).
#include <array>
#include <cstdint>
#include <vector>

#include "engine/ffmpeg/images/RgbConversion.h"

namespace trimora {

using RgbColour = std::array<uint8_t, 3>;

struct PalettePicture {
    std::vector<RgbColour> palette;  // 1 to 256 colours
    std::vector<uint8_t> indices;    // one per pixel, rows top to bottom
};

// Chooses up to `maxColours` (1 to 256) colours for the picture.
std::vector<RgbColour> BuildPalette(const RgbImage& image, int maxColours = 256);

// The index of the nearest palette colour (squared RGB distance) for every pixel.
std::vector<uint8_t> MapToPalette(const RgbImage& image, const std::vector<RgbColour>& palette);

// BuildPalette followed by MapToPalette.
PalettePicture QuantizeToPalette(const RgbImage& image, int maxColours = 256);

}  // namespace trimora
