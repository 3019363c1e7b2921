#pragma once
// Windows metafiles holding one picture as a 24-bit device-independent bitmap (DIB), written
// byte by byte in little-endian order so they read the same on every system.
//
//   placeable WMF: Aldus placeable header, META header, SetMapMode(MM_ANISOTROPIC),
//                  SetWindowOrg, SetWindowExt, SetStretchBltMode, one StretchDIB, EOF;
//   EMF:           EMR_HEADER (bounds and frame from the picture size at 96 dpi),
//                  one EMR_STRETCHDIBITS, EMR_EOF.
#include <cstdint>
#include <vector>

#include "engine/ffmpeg/images/RgbConversion.h"

namespace trimora {

// The picture as a packed DIB: BITMAPINFOHEADER followed by bottom-up BGR rows padded to
// four bytes.
std::vector<uint8_t> BuildDib(const RgbImage& image);

// Throws EngineError for pictures a metafile cannot describe (a WMF's coordinates are 16-bit).
std::vector<uint8_t> BuildPlaceableWmf(const RgbImage& image);
std::vector<uint8_t> BuildEmf(const RgbImage& image);

}  // namespace trimora
