#pragma once
// Converts (part of) a frame to the size it is shown at, with the colour matrix and range the
// frame carries (see shrink_ below for how). The swscale context is kept while the source
// geometry, pixel format, colours and target size stay the same, which they do for every frame
// of a playback.
#include <QImage>

#include "engine/FfmpegUtil.h"
#include "engine/FrameBuffer.h"
#include "engine/view/PreviewLayout.h"

namespace trimora::view {

struct ColourChoice {
    int matrix = 0;         // SWS_CS_* of the frame's YUV matrix
    bool fullRange = false; // 0-255 rather than 16-235 luma
    friend bool operator==(const ColourChoice&, const ColourChoice&) = default;
};

// What the frame says, or the usual guess where it says nothing: standard definition pictures
// (below 720 lines) are BT.601, high definition ones BT.709; video is limited range except the
// JPEG-style and grey formats, which are full range.
ColourChoice ChooseColour(const FrameHeader& header);

// The crop alignment a pixel format needs so that every plane starts at a whole sample.
void CropAlignment(int pixelFormat, int* alignX, int* alignY);

class FrameScaler {
public:
    FrameScaler() = default;
    ~FrameScaler() { FreeIntermediate(); }
    FrameScaler(const FrameScaler&) = delete;
    FrameScaler& operator=(const FrameScaler&) = delete;

    // Converts `source` (in frame pixels, aligned as CropAlignment says) of the frame into
    // `image`, which ends up targetWidth x targetHeight; its buffer is reused when it already has
    // that size and format. Throws EngineError when swscale cannot handle the frame.
    void Convert(const FrameView& frame, const Rect& source, int targetWidth, int targetHeight, QImage* image);

    // Builds the context for this geometry ahead of the first frame that needs it.
    void Prepare(int pixelFormat, const ColourChoice& colour, int sourceWidth, int sourceHeight, int targetWidth,
                 int targetHeight);

    // Frees the context; the next conversion builds a new one.
    void Release();

    bool HasContext() const { return context_ != nullptr; }

private:
    struct Key {
        int pixelFormat = -1;
        ColourChoice colour;
        int sourceWidth = 0;
        int sourceHeight = 0;
        int targetWidth = 0;
        int targetHeight = 0;
        friend bool operator==(const Key&, const Key&) = default;
    };

    // Builds the contexts for `key` unless they are already there.
    void MakeContexts(const Key& key);

    Key key_;
    // Shrinking a YUV picture goes in two passes, each on vector code of swscale's own: first
    // scaled within the frame's format (into intermediate_), then the colours converted at
    // the shown size. One pass that does both costs a third more per frame. Otherwise shrink_
    // stays empty and context_ does everything.
    ff::SwsPtr shrink_;
    ff::SwsPtr context_;
    uint8_t* intermediate_[4] = {nullptr, nullptr, nullptr, nullptr};
    int intermediateLinesizes_[4] = {0, 0, 0, 0};
    // Rows the colour conversion writes after a shrink: an even number (see MakeContexts).
    int ConvertedRows() const { return key_.targetHeight + key_.targetHeight % 2; }
    // The buffer of the last picture made here, the only kind a conversion may write into.
    const uchar* imageBuffer_ = nullptr;
    void FreeIntermediate();
};

}  // namespace trimora::view
