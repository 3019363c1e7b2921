#include "engine/ffmpeg/reader/FrameCache.h"

namespace trimora {

const FrameData* FrameCache::Find(int32_t frameNumber) {
    const auto it = byNumber_.find(frameNumber);
    if (it == byNumber_.end()) return nullptr;
    entries_.splice(entries_.begin(), entries_, it->second);
    return &it->second->frame;
}

void FrameCache::Store(int32_t frameNumber, FrameData frame) {
    if (frame.empty() || frame.size() > budget_) return;
    if (const auto it = byNumber_.find(frameNumber); it != byNumber_.end()) {
        bytes_ -= it->second->frame.size();
        entries_.erase(it->second);
        byNumber_.erase(it);
    }
    bytes_ += frame.size();
    entries_.push_front(Entry{frameNumber, std::move(frame)});
    byNumber_[frameNumber] = entries_.begin();
    while (bytes_ > budget_) {
        const Entry& oldest = entries_.back();
        bytes_ -= oldest.frame.size();
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
