#pragma once
// Copies the frames handed to the writer into reference-counted pictures for the encoding
// thread. The copy is the only one between the caller's buffer and the encoder: a picture that
// needs no conversion goes to the encoder as it is. The memory comes from a pool and goes back
// to it when the encoder and the muxer are done with a picture, so a job allocates nothing per
// frame.
#include <cstddef>

#include "engine/FfmpegUtil.h"
#include "engine/FrameBuffer.h"

namespace trimora {

class PicturePool {
public:
    // A picture holding the frame's planes, its format, size, colours and sample aspect; its pts
    // is the frame's time in milliseconds. Throws EngineError when memory runs out.
    ff::FramePtr Copy(const FrameView& frame);

private:
    ff::BufferPoolPtr pool_;
    size_t bufferSize_ = 0;
};

}  // namespace trimora
