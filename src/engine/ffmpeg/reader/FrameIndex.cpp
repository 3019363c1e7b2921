#include "engine/ffmpeg/reader/FrameIndex.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace trimora {

namespace {
constexpr int64_t kNoTime = PacketEntry::kNoTime;
}

void FrameIndex::Clear() { *this = FrameIndex(); }

void FrameIndex::Build(std::vector<PacketEntry> packets, int timeBaseNum, int timeBaseDen, int frameRateNum,
                       int frameRateDen) {
    Clear();
    packets_ = std::move(packets);
    tick_ = timeBaseDen > 0 ? static_cast<double>(timeBaseNum) / timeBaseDen : 0.001;
    if (frameRateNum > 0 && frameRateDen > 0) frameSeconds_ = static_cast<double>(frameRateDen) / frameRateNum;

    std::vector<int64_t> order;  // presentation sort key of each packet
    std::vector<int64_t> times;  // display time of each frame, filled below
    InferMissingTimes(order, times);

    std::vector<int64_t> shown;
    shown.reserve(packets_.size());
    for (size_t i = 0; i < packets_.size(); ++i)
        if (!packets_[i].discard) shown.push_back(static_cast<int64_t>(i));
    std::stable_sort(shown.begin(), shown.end(),
                     [&](int64_t a, int64_t b) { return order[static_cast<size_t>(a)] < order[static_cast<size_t>(b)]; });
    presentation_ = shown;

    frameOfPacket_.assign(packets_.size(), 0);
    for (size_t f = 0; f < presentation_.size(); ++f)
        frameOfPacket_[static_cast<size_t>(presentation_[f])] = static_cast<int32_t>(f + 1);

    if (times.empty()) {
        for (int64_t p : presentation_) frameTimes_.push_back(order[static_cast<size_t>(p)]);
    } else {
        frameTimes_ = std::move(times);
    }
    zero_ = frameTimes_.empty() ? 0 : frameTimes_.front();
    startMs_.reserve(frameTimes_.size());
    for (int64_t t : frameTimes_) startMs_.push_back(static_cast<int32_t>(std::llround((t - zero_) * tick_ * 1000)));
    if (!frameTimes_.empty())
        durationMs_ = static_cast<int32_t>(std::llround(((frameTimes_.back() - zero_) * tick_ + frameSeconds_) * 1000));

    orderKey_ = std::move(order);
    std::unordered_map<int64_t, int> posUses, dtsUses, ptsUses;
    for (size_t i = 0; i < packets_.size(); ++i) {
        if (!packets_[i].key) continue;
        keyPackets_.push_back(static_cast<int64_t>(i));
        if (packets_[i].pos >= 0) ++posUses[packets_[i].pos];
        if (packets_[i].dts != kNoTime) ++dtsUses[packets_[i].dts];
        if (packets_[i].pts != kNoTime) ++ptsUses[packets_[i].pts];
    }
    for (int64_t k : keyPackets_) {
        const PacketEntry& e = Packet(k);
        if (e.pos >= 0 && posUses[e.pos] == 1) keyByPos_[e.pos] = k;
        if (e.dts != kNoTime && dtsUses[e.dts] == 1) keyByDts_[e.dts] = k;
        if (e.pts != kNoTime && ptsUses[e.pts] == 1) keyByPts_[e.pts] = k;
    }
}

// Fills `order` with a presentation sort key per packet. Leaves `times` empty when the keys are
// the display times themselves, or fills it with the display time of each frame in presentation
// order when the container gives decode slots only.
void FrameIndex::InferMissingTimes(std::vector<int64_t>& order, std::vector<int64_t>& times) const {
    const size_t n = packets_.size();
    order.assign(n, kNoTime);
    bool missingPts = false, missingDts = false, reordered = false;
    for (const PacketEntry& e : packets_) {
        missingPts |= e.pts == kNoTime;
        missingDts |= e.dts == kNoTime;
        reordered |= e.pts != kNoTime && e.dts != kNoTime && e.pts != e.dts;
    }
    const int64_t periodTicks = std::max<int64_t>(1, std::llround(frameSeconds_ / tick_));
    if (!missingPts) {
        for (size_t i = 0; i < n; ++i) order[i] = packets_[i].pts;
        return;
    }
    if (missingDts) {
        // Too little to go on: decode order, evenly spaced from the first time known.
        int64_t base = 0;
        for (const PacketEntry& e : packets_) {
            if (e.pts != kNoTime) { base = e.pts; break; }
            if (e.dts != kNoTime) { base = e.dts; break; }
        }
        for (size_t i = 0; i < n; ++i) order[i] = base + static_cast<int64_t>(i) * periodTicks;
        return;
    }
    // MPEG-style reordering: a picture without a presentation time is a reference picture, shown
    // when the next reference picture is decoded; pictures shown at once (B-pictures) carry
    // pts == dts. Walk backwards remembering the decode time of the next reference picture.
    int64_t nextReferenceDts = packets_.back().dts + std::max(packets_.back().duration, periodTicks);
    for (size_t i = n; i-- > 0;) {
        const PacketEntry& e = packets_[i];
        order[i] = e.pts != kNoTime ? e.pts : nextReferenceDts;
        if (e.pts == kNoTime || e.pts != e.dts) nextReferenceDts = e.dts;
    }
    if (!reordered) {
        // The container stores decode slots only (AVI): the k-th frame shown takes the k-th slot,
        // so the first frame starts where the stream starts.
        std::vector<int64_t> slots;
        for (const PacketEntry& e : packets_)
            if (!e.discard) slots.push_back(e.dts);
        std::sort(slots.begin(), slots.end());
        times = std::move(slots);
    }
}

int32_t FrameIndex::FrameOfPacket(int64_t decodeIndex) const {
    if (decodeIndex < 0 || decodeIndex >= PacketCount()) return 0;
    return frameOfPacket_[static_cast<size_t>(decodeIndex)];
}

int32_t FrameIndex::StartMs(int32_t frame) const {
    if (frame < 1 || startMs_.empty()) return 0;
    if (frame > FrameCount()) return durationMs_;
    return startMs_[static_cast<size_t>(frame - 1)];
}

int32_t FrameIndex::EndMs(int32_t frame) const {
    if (frame < 1) return 0;
    return frame >= FrameCount() ? durationMs_ : StartMs(frame + 1);
}

int32_t FrameIndex::DurationMs() const { return durationMs_; }

double FrameIndex::StartSeconds(int32_t frame) const {
    if (frame < 1 || frameTimes_.empty()) return 0;
    if (frame > FrameCount()) return durationMs_ / 1000.0;
    return (frameTimes_[static_cast<size_t>(frame - 1)] - zero_) * tick_;
}

int32_t FrameIndex::FrameAtMs(int64_t timeMs) const {
    if (startMs_.empty() || timeMs < 0) return 1;
    if (timeMs >= durationMs_) return FrameCount() + 1;
    const auto it = std::upper_bound(startMs_.begin(), startMs_.end(), timeMs);
    return std::max<int32_t>(1, static_cast<int32_t>(it - startMs_.begin()));
}

int64_t FrameIndex::StartPacketFor(int32_t frame) const {
    if (frame < 1 || frame > FrameCount()) return 0;
    const int64_t target = PacketOfFrame(frame);
    const int64_t targetKey = orderKey_[static_cast<size_t>(target)];
    auto it = std::upper_bound(keyPackets_.begin(), keyPackets_.end(), target);
    // A keyframe shown after the target (an open GOP's leading pictures) cannot be the start:
    // those pictures need the previous group.
    while (it != keyPackets_.begin()) {
        --it;
        if (orderKey_[static_cast<size_t>(*it)] <= targetKey) return *it;
    }
    return 0;
}

std::optional<int64_t> FrameIndex::Recognise(int64_t pos, int64_t dts, int64_t pts, bool key) const {
    if (packets_.empty()) return std::nullopt;
    if (key) {
        if (pos >= 0) {
            if (auto it = keyByPos_.find(pos); it != keyByPos_.end()) return it->second;
        } else if (dts != kNoTime) {
            if (auto it = keyByDts_.find(dts); it != keyByDts_.end()) return it->second;
        } else if (pts != kNoTime) {
            if (auto it = keyByPts_.find(pts); it != keyByPts_.end()) return it->second;
        }
    }
    if (pos >= 0 && pos == packets_.front().pos) return 0;
    return std::nullopt;
}

}  // namespace trimora
