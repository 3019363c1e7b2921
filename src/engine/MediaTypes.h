#pragma once
#include <cstdint>
#include <vector>

namespace trimora {

// One decoded video frame as the reader delivers it (see FrameBuffer.h for the layout);
// empty means no frame was delivered.
using FrameData = std::vector<uint8_t>;

// Interleaved signed 16-bit PCM at the input's sample rate and channel count, no header;
// empty means no more sound.
using AudioBlock = std::vector<uint8_t>;

// Container kinds passed to MediaFile::CreateOutputFile.
enum ContainerKind : int32_t { kContainerAvi = 1, kContainerMpeg = 2, kContainerWindowsMedia = 3 };

}  // namespace trimora
