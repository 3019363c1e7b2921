#pragma once
// Encodes one RGB picture with one of FFmpeg's image encoders into the bytes of a whole file.
#include <cstdint>
#include <vector>

#include "engine/ffmpeg/images/RgbConversion.h"

namespace trimora {

enum class RasterFormat { Bmp, Gif, Jpeg, Png, Tiff, Pcx, Tga, SunRaster, Jpeg2000 };

// Throws EngineError when the encoder is missing or refuses the picture.
std::vector<uint8_t> EncodeRaster(const RgbImage& image, RasterFormat format);

}  // namespace trimora
