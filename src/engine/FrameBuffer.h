#pragma once
// Layout of FrameData: a fixed header followed by the picture planes exactly as the decoder
// produced them, packed without padding between rows (av_image_copy_to_buffer with alignment
// 1), then kFrameTailPadding spare bytes.
// The reader fills it; the preview, the writer and the still-picture writer read it.
#include <cstdint>
#include <optional>

#include "engine/MediaTypes.h"

namespace trimora {

struct FrameHeader {
    static constexpr uint32_t kMagic = 0x464d5254;  // "TRMF"
    uint32_t magic = kMagic;
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
    int32_t payloadSize = 0;       // bytes of plane data after the header
    // Which opening of which input the frame comes from, unique in the process (0: unknown).
    // Two frames with the same source and frame number hold the same picture, which spares
    // comparing their bytes.
    uint32_t source = 0;
};

// A new value for FrameHeader::source, never 0.
uint32_t NewFrameSource();

// True when the headers name the same numbered frame of the same known source (which makes
// them the same picture); false when either source is unknown.
bool SameSourceFrame(const FrameHeader& a, const FrameHeader& b);

// True when `a` and `b` are certainly the same frame: the same numbered frame of the same
// source, or equal bytes.
bool SameFrame(const FrameData& a, const FrameData& b);

// Bytes after the planes of a packed frame: swscale's vector code reads a little past the end
// of the last row of a plane it converts.
constexpr size_t kFrameTailPadding = 64;

// Wraps planes into a FrameData. `planes`/`linesizes` as in AVFrame.
FrameData PackFrame(const FrameHeader& header, const uint8_t* const planes[4], const int linesizes[4]);
// The same into `out`, reusing its storage: a buffer that held a frame of the same size takes the
// next one without a new allocation. `out` is emptied when the layout has no size.
void PackFrameInto(FrameData& out, const FrameHeader& header, const uint8_t* const planes[4],
                   const int linesizes[4]);

// A view of a FrameData: the header and the plane pointers into the vector's storage.
struct FrameView {
    FrameHeader header;
    const uint8_t* planes[4] = {nullptr, nullptr, nullptr, nullptr};
    int linesizes[4] = {0, 0, 0, 0};
};

// Returns nothing when the data is empty or not a frame of this layout.
std::optional<FrameView> UnpackFrame(const FrameData& data);

}  // namespace trimora
