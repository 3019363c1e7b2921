#include "engine/DeliveredPictures.h"

#include <array>
#include <mutex>

namespace trimora::delivered {

namespace {

struct Entry {
    uint32_t source = 0;
    int32_t frameNumber = 0;
    ff::FramePtr picture;
};

struct Registry {
    std::mutex mutex;
    std::array<Entry, kKept> entries;
    size_t next = 0;  // the slot the next picture takes: the oldest
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

void Publish(uint32_t source, int32_t frameNumber, const AVFrame& picture) {
    if (source == 0) return;
    ff::FramePtr reference(av_frame_clone(&picture));
    if (!reference) return;  // out of memory: the frame's data gets copied instead
    Registry& r = TheRegistry();
    ff::FramePtr replaced;  // freed outside the lock
    std::lock_guard lock(r.mutex);
    for (Entry& e : r.entries)
        if (e.source == source && e.frameNumber == frameNumber) {
            replaced = std::move(e.picture);
            e.picture = std::move(reference);
            return;
        }
    Entry& slot = r.entries[r.next];
    r.next = (r.next + 1) % r.entries.size();
    replaced = std::move(slot.picture);
    slot = Entry{source, frameNumber, std::move(reference)};
}

ff::FramePtr Find(const FrameHeader& header) {
    if (header.source == 0) return nullptr;
    Registry& r = TheRegistry();
    ff::FramePtr found;
    {
        std::lock_guard lock(r.mutex);
        for (const Entry& e : r.entries)
            if (e.picture && e.source == header.source && e.frameNumber == header.frameNumber) {
                found.reset(av_frame_clone(e.picture.get()));
                break;
            }
    }
    if (!found || found->width != header.width || found->height != header.height ||
        found->format != header.pixelFormat)
        return nullptr;
    TakeHeaderDescription(*found, header);
    return found;
}

void Forget(uint32_t source) {
    Registry& r = TheRegistry();
    std::array<ff::FramePtr, kKept> released;  // freed outside the lock
    std::lock_guard lock(r.mutex);
    for (size_t i = 0; i < r.entries.size(); ++i)
        if (r.entries[i].source == source) {
            released[i] = std::move(r.entries[i].picture);
            r.entries[i] = Entry{};
        }
}

}  // namespace trimora::delivered

namespace trimora {

void TakeHeaderDescription(AVFrame& picture, const FrameHeader& header) {
    picture.pts = header.timeMs;
    picture.colorspace = static_cast<AVColorSpace>(header.colorSpace);
    picture.color_range = static_cast<AVColorRange>(header.colorRange);
    picture.sample_aspect_ratio = header.sampleAspectNum > 0 && header.sampleAspectDen > 0
                                      ? AVRational{header.sampleAspectNum, header.sampleAspectDen}
                                      : AVRational{0, 1};
}

}  // namespace trimora
