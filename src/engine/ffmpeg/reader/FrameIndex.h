#pragma once
// The video index of an open input: every video packet in decode order, and from it the
// frames in presentation order with their start times. Frame numbers count from 1 in
// presentation order; "decode index" counts packets from 0 in file order.
//
// Containers differ in what they tell: Matroska, MP4 and transport streams give every packet a
// presentation time; program streams leave some reference pictures without one; AVI gives only
// the decode slot of each chunk. Build() fills the gaps so that every frame has a place and a
// time, and the rest of the reader never has to care which container it came from.
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace trimora {

struct PacketEntry {
    static constexpr int64_t kNoTime = INT64_MIN;  // same value as AV_NOPTS_VALUE
    int64_t pts = kNoTime;
    int64_t dts = kNoTime;
    int64_t pos = -1;        // byte position as the demuxer reports it, -1 unknown
    int64_t duration = 0;    // in the stream time base, 0 unknown
    bool key = false;
    bool discard = false;    // decoded for reference but never shown (edit lists)
};

class FrameIndex {
public:
    // `timeBase` and `frameRate` as num/den pairs; frameRate is the nominal rate used for the
    // duration of the last frame and wherever times are missing altogether.
    void Build(std::vector<PacketEntry> packets, int timeBaseNum, int timeBaseDen, int frameRateNum,
               int frameRateDen);
    void Clear();

    int32_t FrameCount() const { return static_cast<int32_t>(presentation_.size()); }
    int64_t PacketCount() const { return static_cast<int64_t>(packets_.size()); }
    const PacketEntry& Packet(int64_t decodeIndex) const { return packets_[static_cast<size_t>(decodeIndex)]; }

    // Frame number shown by a packet, 0 when it shows none.
    int32_t FrameOfPacket(int64_t decodeIndex) const;
    int64_t PacketOfFrame(int32_t frame) const { return presentation_[static_cast<size_t>(frame - 1)]; }

    // Times in milliseconds from the start of the first frame.
    int32_t StartMs(int32_t frame) const;
    int32_t EndMs(int32_t frame) const;
    int32_t DurationMs() const;
    // Start time of a frame in seconds from the start of the first frame (exact, for audio).
    double StartSeconds(int32_t frame) const;
    // The frame whose display interval holds `timeMs`; 1 for negative times, FrameCount() + 1
    // at or past the end.
    int32_t FrameAtMs(int64_t timeMs) const;
    // Presentation time of the first frame in the stream time base (the input's time zero).
    int64_t ZeroTime() const { return zero_; }

    // Decode index of the packet to start decoding from so that `frame` comes out right:
    // the last keyframe at or before it in both decode and presentation order.
    int64_t StartPacketFor(int32_t frame) const;
    // Which packet a packet read after a seek is, recognised among keyframes (and the first
    // packet) by byte position, or by its times where the position is unknown (a program
    // stream read from a new position).
    std::optional<int64_t> Recognise(int64_t pos, int64_t dts, int64_t pts, bool key) const;

private:
    void InferMissingTimes(std::vector<int64_t>& order, std::vector<int64_t>& times) const;

    std::vector<PacketEntry> packets_;
    std::vector<int64_t> presentation_;     // frame - 1 -> decode index
    std::vector<int32_t> frameOfPacket_;    // decode index -> frame (0: none)
    std::vector<int64_t> frameTimes_;       // frame - 1 -> start in time base ticks
    std::vector<int32_t> startMs_;          // frame - 1 -> start in ms from zero
    std::vector<int64_t> orderKey_;         // decode index -> presentation sort key
    std::vector<int64_t> keyPackets_;       // decode indexes of keyframes, ascending
    std::unordered_map<int64_t, int64_t> keyByPos_;
    std::unordered_map<int64_t, int64_t> keyByDts_;
    std::unordered_map<int64_t, int64_t> keyByPts_;
    double tick_ = 0;                       // seconds per time base tick
    double frameSeconds_ = 0.04;
    int64_t zero_ = 0;
    int32_t durationMs_ = 0;
};

}  // namespace trimora
