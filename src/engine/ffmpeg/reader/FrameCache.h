#pragma once
// Recently delivered and decoded frames, ready to hand out again, so that stepping back by a
// frame or dragging over frames seen a moment ago needs no decoding from the
// previous keyframe. Bounded by bytes; the least recently used frame goes first. The frames are
// references to the decoder's own pictures, which are never written to once decoded: keeping
// one costs no copy, and the decoder reuses its memory once the cache lets it go.
#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>

#include "engine/FfmpegUtil.h"

namespace trimora {

class FrameCache {
public:
    // At most `budgetBytes` of pictures and `maxFrames` frames.
    explicit FrameCache(size_t budgetBytes, size_t maxFrames = SIZE_MAX) : budget_(budgetBytes), maxFrames_(maxFrames) {}

    // The picture, or nullptr; a hit makes it the most recently used.
    const AVFrame* Find(int32_t frameNumber);
    // Keeps a reference to `picture`.
    void Store(int32_t frameNumber, const AVFrame& picture);
    void Store(int32_t frameNumber, ff::FramePtr picture);
    void Clear();
    // How many frames of `frameBytes` fit.
    size_t Capacity(size_t frameBytes) const { return frameBytes ? budget_ / frameBytes : 0; }
    size_t Bytes() const { return bytes_; }
    size_t Count() const { return entries_.size(); }

private:
    struct Entry {
        int32_t frameNumber;
        ff::FramePtr picture;
        size_t bytes;
    };
    size_t budget_;
    size_t maxFrames_;
    size_t bytes_ = 0;
    std::list<Entry> entries_;  // most recently used first
    std::unordered_map<int32_t, std::list<Entry>::iterator> byNumber_;
};

}  // namespace trimora
