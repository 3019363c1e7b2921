#include "engine/ffmpeg/reader/FrameCache.h"

#include <utility>

extern "C" {
#include <libavutil/imgutils.h>
}

namespace trimora {

namespace {

// The memory a picture holds on to: its buffers, padding included.
size_t BytesHeld(const AVFrame& picture) {
    size_t bytes = 0;
    for (const AVBufferRef* buffer : picture.buf)
        if (buffer) bytes += buffer->size;
    if (bytes == 0) {
        const int size = av_image_get_buffer_size(static_cast<AVPixelFormat>(picture.format), picture.width,
                                                  picture.height, 1);
        bytes = size > 0 ? static_cast<size_t>(size) : 0;
    }
    return bytes;
}

}  // namespace

const AVFrame* FrameCache::Find(int32_t frameNumber) {
    const auto it = byNumber_.find(frameNumber);
    if (it == byNumber_.end()) return nullptr;
    entries_.splice(entries_.begin(), entries_, it->second);
    return it->second->picture.get();
}

void FrameCache::Store(int32_t frameNumber, const AVFrame& picture) {
    Store(frameNumber, ff::FramePtr(av_frame_clone(&picture)));
}

void FrameCache::Store(int32_t frameNumber, ff::FramePtr picture) {
    if (!picture || !picture->data[0]) return;  // out of memory: the frame is decoded again if asked for
    const size_t bytes = BytesHeld(*picture);
    if (bytes == 0 || bytes > budget_ || maxFrames_ == 0) return;
    if (const auto it = byNumber_.find(frameNumber); it != byNumber_.end()) {
        bytes_ -= it->second->bytes;
        entries_.erase(it->second);
        byNumber_.erase(it);
    }
    bytes_ += bytes;
    entries_.push_front(Entry{frameNumber, std::move(picture), bytes});
    byNumber_[frameNumber] = entries_.begin();
    while (bytes_ > budget_ || entries_.size() > maxFrames_) {
        const Entry& oldest = entries_.back();
        bytes_ -= oldest.bytes;
        byNumber_.erase(oldest.frameNumber);
        entries_.pop_back();
    }
}

void FrameCache::Clear() {
    entries_.clear();
    byNumber_.clear();
    bytes_ = 0;
}

}  // namespace trimora
