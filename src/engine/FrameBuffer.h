#pragma once
// Reading a FrameData (see MediaTypes.h): its header and its planes, straight from the picture
// it holds; and making one from a picture or from planes.
#include <cstdint>
#include <optional>

#include "engine/FfmpegUtil.h"
#include "engine/MediaTypes.h"

namespace trimora {

struct FrameHeader {
    int32_t width = 0;
    int32_t height = 0;
    int32_t pixelFormat = -1;      // AVPixelFormat
    int32_t colorSpace = 2;        // AVColorSpace (2 = unspecified)
    int32_t colorRange = 0;        // AVColorRange (0 = unspecified, 1 = limited, 2 = full)
    int32_t sampleAspectNum = 0;   // 0 = unknown (square pixels assumed)
    int32_t sampleAspectDen = 1;
    int32_t timeMs = 0;            // presentation time of the frame, from the start of the input
    // The frame's display interval on the input's time line in seconds, exact: the reader places
    // the sound's samples by the same times, so a writer can end the sound with the last frame
    // to the sample. Both 0 when not known (then timeMs and the frame rate tell).
    double startSeconds = 0;
    double endSeconds = 0;
    int32_t frameNumber = 0;       // counted from 1
    // Which opening of which input the frame comes from, unique in the process (0: unknown).
    // Two frames with the same source and frame number hold the same picture.
    uint32_t source = 0;
};

// A new value for FrameHeader::source, never 0.
uint32_t NewFrameSource();

// True when the headers name the same numbered frame of the same known source (which makes
// them the same picture); false when either source is unknown.
bool SameSourceFrame(const FrameHeader& a, const FrameHeader& b);

// The header and the planes of a frame's picture.
struct FrameView {
    FrameHeader header;
    const uint8_t* planes[4] = {nullptr, nullptr, nullptr, nullptr};
    int linesizes[4] = {0, 0, 0, 0};
};

// Nothing when the frame is empty or its picture has no size or no known pixel format.
std::optional<FrameView> ViewFrame(const FrameData& frame);

// A frame holding `picture` itself (no copy). Empty when `picture` is null or holds no data.
FrameData WrapPicture(ff::FramePtr picture, int32_t timeMs, int32_t frameNumber, uint32_t source);

// A frame with a new picture holding a copy of `planes` (laid out as in AVFrame), described by
// `header`: for frames that no decoder made. Empty when the layout has no size.
FrameData FrameFromPlanes(const FrameHeader& header, const uint8_t* const planes[4], const int linesizes[4]);

// A new reference to the frame's picture whose pts is the frame's time in milliseconds.
// Throws EngineError when the frame is empty or out of memory.
ff::FramePtr ReferencePicture(const FrameData& frame);

}  // namespace trimora
