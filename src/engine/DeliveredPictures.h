#pragma once
// The decoded pictures behind the frames the reader handed out last. A frame's data is a copy
// of its picture; the writer and the preview, given such a frame, take a reference to the
// picture itself instead of copying the frame's bytes once more. Frames are recognised by their
// source and number (FrameHeader::source), which name one picture; frames without a source are
// never matched. Safe to use from any thread.
#include <cstdint>

#include "engine/FfmpegUtil.h"
#include "engine/FrameBuffer.h"

namespace trimora::delivered {

// How many of the latest pictures are kept.
constexpr int kKept = 4;

// Keeps a reference to `picture`, the frame `frameNumber` of `source`; the oldest one goes.
void Publish(uint32_t source, int32_t frameNumber, const AVFrame& picture);

// A new reference to the picture of the frame `header` describes, or nullptr. Its pts, colours
// and sample aspect are the header's.
ff::FramePtr Find(const FrameHeader& header);

// Lets go of every picture of `source` (its input was closed).
void Forget(uint32_t source);

}  // namespace trimora::delivered

namespace trimora {

// Gives `picture` the time (as pts, in ms), colours and sample aspect `header` states.
void TakeHeaderDescription(AVFrame& picture, const FrameHeader& header);

}  // namespace trimora
