#pragma once
// The video index of an open input: every video packet in decode order, and from it the
// frames in presentation order with their start times. Frame numbers count from 1 in
// presentation order; "decode index" counts packets from 0 in file order.
//
// Containers differ in what they tell: Matroska, MP4 and transport streams give every packet a
// presentation time; program streams leave some reference pictures without one; AVI gives only
// the decode slot of each chunk. Build() fills the gaps so that every frame has a place and a
// time, and the rest of the reader never has to care which container it came from.
//
// Recordings joined into one file, and broadcasts, restart their clock: the times jump back (or
// far ahead) in the middle of the stream. Frames keep the stream's order there and the time line
// goes on from the frame before, the way players show them; each stretch between two such jumps
// is a segment, and the sound maps its own times through the same segments.
#include <cstdint>
#include <optional>
#include <utility>
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

// A stretch of the stream whose times run on from the frame before: time line = stamp + offset.
struct TimeSegment {
    int64_t firstPacket = 0;     // decode index where it begins
    int64_t pos = -1;            // byte position of that packet, -1 unknown
    int64_t firstStamp = 0;      // range of the stream's own times (decode and presentation) in it
    int64_t lastStamp = 0;
    int64_t offset = 0;          // added to its stamps to place them on the time line
    int64_t lineStart = INT64_MAX;  // where its first picture is shown on the time line
};

class FrameIndex {
public:
    // `timeBase` and `frameRate` as num/den pairs; frameRate is the nominal rate used for the
    // duration of the last frame and wherever times are missing altogether. `decodeSlots`: the
    // container tells only each packet's decode slot (AVI); any presentation time a packet
    // carries was guessed from it.
    void Build(std::vector<PacketEntry> packets, int timeBaseNum, int timeBaseDen, int frameRateNum,
               int frameRateDen, bool decodeSlots = false);
    // Pictures shown before the one of packet `decodeIndex` are not counted: the decoder cannot
    // show them (a stream that starts in the middle of a group, whose first picture out is
    // that one). Returns whether anything changed.
    bool HideBefore(int64_t decodeIndex);
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
    // Presentation time of the first frame on the time line, in the stream time base (the
    // input's time zero).
    int64_t ZeroTime() const { return zero_; }

    // The segments, in stream order; one when the clock never restarts.
    const std::vector<TimeSegment>& Segments() const { return segments_; }
    // Where a stamp of the stream's clock (any stream of the file, in this stream's time base)
    // lies on the time line. `pos`, its byte position where known, tells segments apart whose
    // stamps repeat; without it the segment placing the stamp nearest `expected` is taken.
    int64_t ToTimeLine(int64_t stamp, int64_t pos, int64_t expected) const { return Place(stamp, pos, expected).line; }
    // The same, and where the part of the time line that the stamp lies in ends: where the next
    // segment's first picture is shown (INT64_MAX for the last segment).
    struct Placed {
        int64_t line = 0;
        int64_t partEnd = INT64_MAX;
    };
    Placed Place(int64_t stamp, int64_t pos, int64_t expected) const;
    // The stamp of the stream's clock at a time on the time line, and the byte position of a
    // packet at or before it (-1 unknown): where to start reading to get there.
    int64_t ToStamp(int64_t timeLine) const;
    int64_t PositionBefore(int64_t timeLine) const;

    // Decode index of the packet to start decoding from so that `frame` comes out right:
    // the last keyframe at or before it in both decode and presentation order.
    int64_t StartPacketFor(int32_t frame) const;
    // Which packet a packet read after a seek is, recognised among keyframes (and the first
    // packet) by byte position, or by its times where the position is unknown (a program
    // stream read from a new position).
    std::optional<int64_t> Recognise(int64_t pos, int64_t dts, int64_t pts, bool key) const;

    // The packets are those of the B-frame unpacking (PackedBFrames.h): the decoder is to be
    // handed them through it. Set after Build(), which clears it; HideBefore() keeps it.
    void SetUnpackedBFrames(bool unpacked) { unpackedBFrames_ = unpacked; }
    bool UnpackedBFrames() const { return unpackedBFrames_; }

private:
    // `timed`: the packets with their times placed on the time line.
    void InferMissingTimes(const std::vector<PacketEntry>& timed, std::vector<int64_t>& order,
                           std::vector<int64_t>& times) const;
    std::vector<PacketEntry> PlaceOnTimeLine();
    // The segment a stamp lies in (see ToTimeLine).
    size_t SegmentOf(int64_t stamp, int64_t pos, int64_t expected) const;
    int64_t PeriodTicks() const;
    const TimeSegment& SegmentAt(int64_t timeLine) const;

    int timeBaseNum_ = 1, timeBaseDen_ = 25, frameRateNum_ = 25, frameRateDen_ = 1;
    bool decodeSlots_ = false;
    std::vector<TimeSegment> segments_;

    std::vector<PacketEntry> packets_;
    std::vector<int64_t> presentation_;     // frame - 1 -> decode index
    std::vector<int32_t> frameOfPacket_;    // decode index -> frame (0: none)
    std::vector<int64_t> frameTimes_;       // frame - 1 -> start in time base ticks
    std::vector<int32_t> startMs_;          // frame - 1 -> start in ms from zero
    std::vector<int64_t> orderKey_;         // decode index -> presentation sort key
    std::vector<int64_t> keyPackets_;       // decode indexes of keyframes, ascending
    // Keyframes by their position or time (value, decode index), sorted by value; a value two
    // keyframes share names neither.
    using KeyLookup = std::vector<std::pair<int64_t, int64_t>>;
    static KeyLookup UniqueKeys(KeyLookup keys);
    static std::optional<int64_t> FindKey(const KeyLookup& keys, int64_t value);
    KeyLookup keyByPos_;
    KeyLookup keyByDts_;
    KeyLookup keyByPts_;
    double tick_ = 0;                       // seconds per time base tick
    double frameSeconds_ = 0.04;
    int64_t zero_ = 0;
    int32_t durationMs_ = 0;
    bool unpackedBFrames_ = false;
};

}  // namespace trimora
