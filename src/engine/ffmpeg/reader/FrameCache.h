#pragma once
// Recently delivered and decoded frames, ready to hand out again, so that stepping back by a
// frame or dragging over frames seen a moment ago costs a copy instead of a decode from the
// previous keyframe. Bounded by bytes; the least recently used frame goes first.
#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>

#include "engine/MediaTypes.h"

namespace trimora {

class FrameCache {
public:
    explicit FrameCache(size_t budgetBytes) : budget_(budgetBytes) {}

    // The frame, or nullptr; a hit makes it the most recently used.
    const FrameData* Find(int32_t frameNumber);
    void Store(int32_t frameNumber, FrameData frame);
    void Clear();
    // How many frames of `frameBytes` fit.
    size_t Capacity(size_t frameBytes) const { return frameBytes ? budget_ / frameBytes : 0; }
    size_t Bytes() const { return bytes_; }
    size_t Count() const { return entries_.size(); }

private:
    struct Entry {
        int32_t frameNumber;
        FrameData frame;
    };
    size_t budget_;
    size_t bytes_ = 0;
    std::list<Entry> entries_;  // most recently used first
    std::unordered_map<int32_t, std::list<Entry>::iterator> byNumber_;
};

}  // namespace trimora
