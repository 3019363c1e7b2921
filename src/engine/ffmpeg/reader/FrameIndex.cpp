#include "engine/ffmpeg/reader/FrameIndex.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>

namespace trimora {

namespace {

// Sorts `values` stably. Frames come nearly in order (reordered by a picture or two at most), so
// they are sorted by insertion, which takes a single pass over them then; a sequence much out of
// order goes to a merge sort.
template <typename Less>
void SortNearlySorted(std::vector<int64_t>& values, Less less) {
    const size_t mostMoves = 8 * values.size() + 64;
    size_t moves = 0;
    for (size_t i = 1; i < values.size(); ++i) {
        const int64_t value = values[i];
        size_t j = i;
        for (; j > 0 && less(value, values[j - 1]); --j) {
            values[j] = values[j - 1];
            if (++moves > mostMoves) {
                values[j - 1] = value;  // nothing lost: the rest is sorted below
                std::stable_sort(values.begin(), values.end(), less);
                return;
            }
        }
        values[j] = value;
    }
}
constexpr int64_t kNoTime = PacketEntry::kNoTime;
// Stamps beyond this are damage, not time: treated as missing, so no sum below can overflow.
constexpr int64_t kLargestStamp = int64_t{1} << 56;
// A clock that goes this much further than the frame before has restarted (or is broken): the
// picture is not held for that long, the time line goes on from the frame before.
constexpr double kLongestGapSeconds = 10;

int32_t ClampedMs(double seconds) {
    return static_cast<int32_t>(std::clamp(std::llround(seconds * 1000), 0LL, static_cast<long long>(INT32_MAX)));
}
}  // namespace

void FrameIndex::Clear() { *this = FrameIndex(); }

void FrameIndex::Build(std::vector<PacketEntry> packets, int timeBaseNum, int timeBaseDen, int frameRateNum,
                       int frameRateDen, bool decodeSlots) {
    Clear();
    packets_ = std::move(packets);
    decodeSlots_ = decodeSlots;
    timeBaseNum_ = timeBaseNum;
    timeBaseDen_ = timeBaseDen;
    frameRateNum_ = frameRateNum;
    frameRateDen_ = frameRateDen;
    tick_ = timeBaseNum > 0 && timeBaseDen > 0 ? static_cast<double>(timeBaseNum) / timeBaseDen : 0.001;
    if (frameRateNum > 0 && frameRateDen > 0) frameSeconds_ = static_cast<double>(frameRateDen) / frameRateNum;
    frameSeconds_ = std::clamp(frameSeconds_, 0.001, 10.0);

    std::vector<int64_t> order;  // presentation sort key of each packet
    std::vector<int64_t> times;  // display time of each frame, filled below
    InferMissingTimes(PlaceOnTimeLine(), order, times);

    std::vector<int64_t> shown;
    shown.reserve(packets_.size());
    for (size_t i = 0; i < packets_.size(); ++i)
        if (!packets_[i].discard) shown.push_back(static_cast<int64_t>(i));
    SortNearlySorted(shown, [&](int64_t a, int64_t b) { return order[static_cast<size_t>(a)] < order[static_cast<size_t>(b)]; });
    presentation_ = std::move(shown);

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
    for (int64_t t : frameTimes_) startMs_.push_back(ClampedMs(static_cast<double>(t - zero_) * tick_));
    if (!frameTimes_.empty())
        durationMs_ = ClampedMs(static_cast<double>(frameTimes_.back() - zero_) * tick_ + frameSeconds_);

    orderKey_ = std::move(order);
    KeyLookup byPos, byDts, byPts;
    for (size_t i = 0; i < packets_.size(); ++i) {
        const PacketEntry& e = packets_[i];
        if (!e.key) continue;
        const auto k = static_cast<int64_t>(i);
        keyPackets_.push_back(k);
        if (e.pos >= 0) byPos.emplace_back(e.pos, k);
        if (e.dts != kNoTime) byDts.emplace_back(e.dts, k);
        if (e.pts != kNoTime) byPts.emplace_back(e.pts, k);
    }
    keyByPos_ = UniqueKeys(std::move(byPos));
    keyByDts_ = UniqueKeys(std::move(byDts));
    keyByPts_ = UniqueKeys(std::move(byPts));
}

FrameIndex::KeyLookup FrameIndex::UniqueKeys(KeyLookup keys) {
    std::sort(keys.begin(), keys.end());
    KeyLookup unique;
    unique.reserve(keys.size());
    for (size_t i = 0; i < keys.size();) {
        size_t next = i + 1;
        while (next < keys.size() && keys[next].first == keys[i].first) ++next;
        if (next == i + 1) unique.push_back(keys[i]);
        i = next;
    }
    return unique;
}

std::optional<int64_t> FrameIndex::FindKey(const KeyLookup& keys, int64_t value) {
    const auto it = std::lower_bound(keys.begin(), keys.end(), value,
                                     [](const std::pair<int64_t, int64_t>& k, int64_t v) { return k.first < v; });
    if (it == keys.end() || it->first != value) return std::nullopt;
    return it->second;
}

// Fills `order` with a presentation sort key per packet. Leaves `times` empty when the keys are
// the display times themselves, or fills it with the display time of each frame in presentation
// order when the container gives decode slots only.
void FrameIndex::InferMissingTimes(const std::vector<PacketEntry>& timed, std::vector<int64_t>& order,
                                   std::vector<int64_t>& times) const {
    const size_t n = timed.size();
    order.assign(n, kNoTime);
    bool missingPts = false, missingDts = false, anyPts = false, reordered = false;
    for (const PacketEntry& e : timed) {
        missingPts |= e.pts == kNoTime;
        missingDts |= e.dts == kNoTime;
        anyPts |= e.pts != kNoTime;
        reordered |= e.pts != kNoTime && e.dts != kNoTime && e.pts != e.dts;
    }
    const int64_t periodTicks = PeriodTicks();
    if (n == 0) return;
    if (!missingPts) {
        for (size_t i = 0; i < n; ++i) order[i] = timed[i].pts;
        return;
    }
    if (missingDts) {
        // Too little to go on: decode order, evenly spaced from the first time known.
        int64_t base = 0;
        for (const PacketEntry& e : timed) {
            if (e.pts != kNoTime) { base = e.pts; break; }
            if (e.dts != kNoTime) { base = e.dts; break; }
        }
        for (size_t i = 0; i < n; ++i) order[i] = base + static_cast<int64_t>(i) * periodTicks;
        return;
    }
    // MPEG-style reordering: a picture without a presentation time is a reference picture, shown
    // when the next reference picture is decoded; pictures shown at once (B-pictures) carry
    // pts == dts. Walk backwards remembering the decode time of the next reference picture. A
    // program stream muxed from an elementary stream may give no reference picture a time at
    // all: its B-pictures' times are still their own, and where the pictures last two or three
    // fields (film on NTSC DVDs) only these keys give each picture its own span.
    int64_t nextReferenceDts = timed.back().dts + std::clamp(timed.back().duration, periodTicks, 10 * periodTicks);
    for (size_t i = n; i-- > 0;) {
        const PacketEntry& e = timed[i];
        order[i] = e.pts != kNoTime ? e.pts : nextReferenceDts;
        if (e.pts == kNoTime || e.pts != e.dts) nextReferenceDts = e.dts;
    }
    if (!anyPts || (decodeSlots_ && !reordered)) {
        // The decode slots are all there is to go by: the k-th frame shown takes the k-th slot,
        // so the first frame starts where the stream starts.
        std::vector<int64_t> slots;
        for (const PacketEntry& e : timed)
            if (!e.discard) slots.push_back(e.dts);
        SortNearlySorted(slots, std::less<int64_t>());
        times = std::move(slots);
    }
}

int64_t FrameIndex::PeriodTicks() const { return std::max<int64_t>(1, std::llround(frameSeconds_ / tick_)); }

std::vector<PacketEntry> FrameIndex::PlaceOnTimeLine() {
    std::vector<PacketEntry> timed = packets_;
    segments_.clear();
    const int64_t period = PeriodTicks();
    const int64_t second = std::max<int64_t>(1, std::llround(1 / tick_));
    const int64_t longestGap = std::max<int64_t>(period, std::llround(kLongestGapSeconds / tick_));
    TimeSegment current;
    current.pos = timed.empty() ? -1 : timed.front().pos;
    bool ranged = false;
    // The latest decode and presentation times so far, on the time line.
    int64_t latestDts = kNoTime, latestPts = kNoTime;
    const auto later = [](int64_t a, int64_t b) { return a == kNoTime ? b : b == kNoTime ? a : std::max(a, b); };
    for (size_t i = 0; i < timed.size(); ++i) {
        PacketEntry& e = timed[i];
        for (int64_t* stamp : {&e.pts, &e.dts})
            if (*stamp != kNoTime && (*stamp > kLargestStamp || *stamp < -kLargestStamp)) *stamp = kNoTime;
        // Decode times never go back; presentation times go back by the reordering depth only.
        const bool byDts = e.dts != kNoTime;
        const int64_t stamp = byDts ? e.dts : e.pts;
        const int64_t previous = byDts ? latestDts : latestPts;
        const int64_t latest = later(latestDts, latestPts);
        if (stamp != kNoTime && latest != kNoTime) {
            const int64_t t = stamp + current.offset;
            const int64_t slack = byDts ? period / 2 : std::max(second, 16 * period);
            bool back = previous != kNoTime && t < previous - slack;
            // A decode time behind the one before while the presentation time stays within the
            // reordering of the pictures before is the muxer's mistake, not a new clock
            // (GStreamer's program streams start so).
            if (back && byDts && e.pts != kNoTime && latestPts != kNoTime &&
                e.pts + current.offset >= latestPts - 16 * period)
                back = false;
            if (back || t > latest + longestGap) {
                segments_.push_back(current);
                current = TimeSegment{};
                current.firstPacket = static_cast<int64_t>(i);
                current.pos = e.pos;
                current.offset = (previous != kNoTime ? previous : latest) + period - stamp;
                ranged = false;
            }
        }
        for (int64_t* value : {&e.pts, &e.dts}) {
            if (*value == kNoTime) continue;
            current.firstStamp = ranged ? std::min(current.firstStamp, *value) : *value;
            current.lastStamp = ranged ? std::max(current.lastStamp, *value) : *value;
            ranged = true;
            *value += current.offset;
        }
        if (e.pts != kNoTime || e.dts != kNoTime)
            current.lineStart = std::min(current.lineStart, e.pts != kNoTime ? e.pts : e.dts);
        latestDts = later(latestDts, e.dts);
        latestPts = later(latestPts, e.pts);
    }
    segments_.push_back(current);
    // Each part's first picture is shown where the part before ends (its last picture's end):
    // parts whose pictures wait differently long between decoding and showing (a programme
    // change from MPEG-2 to H.264 with B-frames) would otherwise leave a gap or overlap there.
    // Where a part's pictures do not all tell when they are shown, its decode times place it.
    const auto allShown = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            if (timed[i].pts == kNoTime) return false;
        return from < to;
    };
    for (size_t k = 1; k < segments_.size(); ++k) {
        const auto first = static_cast<size_t>(segments_[k].firstPacket);
        const auto before = static_cast<size_t>(segments_[k - 1].firstPacket);
        const auto next = k + 1 < segments_.size() ? static_cast<size_t>(segments_[k + 1].firstPacket) : timed.size();
        if (!allShown(before, first) || !allShown(first, next)) continue;
        int64_t end = kNoTime;
        for (size_t i = before; i < first; ++i) end = later(end, timed[i].pts + period);
        const int64_t shift = end - segments_[k].lineStart;
        if (shift == 0) continue;
        for (size_t i = first; i < timed.size(); ++i)
            for (int64_t* value : {&timed[i].pts, &timed[i].dts})
                if (*value != kNoTime) *value += shift;
        for (size_t j = k; j < segments_.size(); ++j) {
            segments_[j].offset += shift;
            segments_[j].lineStart += shift;
        }
    }
    // A segment whose first packet came without a position is found by its next one that has one.
    for (size_t k = 0; k < segments_.size(); ++k) {
        const int64_t end = k + 1 < segments_.size() ? segments_[k + 1].firstPacket : PacketCount();
        for (int64_t i = segments_[k].firstPacket; segments_[k].pos < 0 && i < end; ++i)
            segments_[k].pos = packets_[static_cast<size_t>(i)].pos;
    }
    return timed;
}

bool FrameIndex::HideBefore(int64_t decodeIndex) {
    if (decodeIndex < 0 || decodeIndex >= PacketCount()) return false;
    const int64_t first = orderKey_[static_cast<size_t>(decodeIndex)];
    std::vector<PacketEntry> packets = packets_;
    bool changed = false;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (packets[i].discard || orderKey_[i] >= first) continue;
        packets[i].discard = true;
        changed = true;
    }
    if (changed) {
        // The same packets: unpacked as they were.
        const bool unpacked = unpackedBFrames_;
        Build(std::move(packets), timeBaseNum_, timeBaseDen_, frameRateNum_, frameRateDen_, decodeSlots_);
        unpackedBFrames_ = unpacked;
    }
    return changed;
}

size_t FrameIndex::SegmentOf(int64_t stamp, int64_t pos, int64_t expected) const {
    if (segments_.size() <= 1) return 0;
    // Sound is stored up to a second or two away from the pictures of the same time.
    const int64_t margin = std::llround(2 / tick_);
    const auto holds = [&](size_t k) {
        return stamp >= segments_[k].firstStamp - margin && stamp <= segments_[k].lastStamp + margin;
    };
    size_t chosen = 0;
    if (pos >= 0) {
        for (size_t k = 0; k < segments_.size(); ++k)
            if (segments_[k].pos >= 0 && segments_[k].pos <= pos) chosen = k;
        if (!holds(chosen)) {
            if (chosen > 0 && holds(chosen - 1)) --chosen;
            else if (chosen + 1 < segments_.size() && holds(chosen + 1)) ++chosen;
        }
        return chosen;
    }
    bool found = false;
    for (size_t k = 0; k < segments_.size(); ++k) {
        if (!holds(k)) continue;
        const auto distance = [&](size_t j) {
            return expected == kNoTime ? 0 : std::abs(stamp + segments_[j].offset - expected);
        };
        if (!found || distance(k) < distance(chosen)) chosen = k;
        found = true;
    }
    return chosen;
}

FrameIndex::Placed FrameIndex::Place(int64_t stamp, int64_t pos, int64_t expected) const {
    if (segments_.empty()) return {stamp, INT64_MAX};
    const size_t k = SegmentOf(stamp, pos, expected);
    return {stamp + segments_[k].offset, k + 1 < segments_.size() ? segments_[k + 1].lineStart : INT64_MAX};
}

const TimeSegment& FrameIndex::SegmentAt(int64_t timeLine) const {
    static const TimeSegment none;
    if (segments_.empty()) return none;
    size_t chosen = 0;
    for (size_t k = 1; k < segments_.size(); ++k)
        if (segments_[k].firstStamp + segments_[k].offset <= timeLine) chosen = k;
    return segments_[chosen];
}

int64_t FrameIndex::ToStamp(int64_t timeLine) const { return timeLine - SegmentAt(timeLine).offset; }

int64_t FrameIndex::PositionBefore(int64_t timeLine) const {
    // Any packet does: the reader that asks wants a place in the file, not a picture.
    int64_t pos = packets_.empty() ? -1 : packets_.front().pos;
    for (size_t i = 0; i < packets_.size() && orderKey_[i] <= timeLine; ++i)
        if (packets_[i].pos >= 0) pos = packets_[i].pos;
    return pos;
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
            if (const auto k = FindKey(keyByPos_, pos)) return k;
        } else if (dts != kNoTime) {
            if (const auto k = FindKey(keyByDts_, dts)) return k;
        } else if (pts != kNoTime) {
            if (const auto k = FindKey(keyByPts_, pts)) return k;
        }
    }
    if (pos >= 0 && pos == packets_.front().pos) return 0;
    return std::nullopt;
}

}  // namespace trimora
