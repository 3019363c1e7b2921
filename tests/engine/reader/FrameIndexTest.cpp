// The index on its own: presentation order and times from what each container tells.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/ffmpeg/reader/FrameIndex.h"

namespace trimora {
namespace {

constexpr int64_t kNone = PacketEntry::kNoTime;

PacketEntry Packet(int64_t pts, int64_t dts, bool key = false, int64_t pos = -1) {
    PacketEntry e;
    e.pts = pts;
    e.dts = dts;
    e.key = key;
    e.pos = pos;
    return e;
}

// Frame number shown by each packet, in decode order.
std::vector<int32_t> Shows(const FrameIndex& index) {
    std::vector<int32_t> shows;
    for (int64_t i = 0; i < index.PacketCount(); ++i) shows.push_back(index.FrameOfPacket(i));
    return shows;
}

TEST(FrameIndex, DecodeSlotsOnlyWithBPicturesAsAviStoresThem) {
    // I P B B P B B | I P B B: references carry no time, B-pictures the slot as their time.
    FrameIndex index;
    index.Build({Packet(kNone, 0, true, 100), Packet(kNone, 1), Packet(2, 2), Packet(3, 3), Packet(kNone, 4),
                 Packet(5, 5), Packet(6, 6), Packet(kNone, 7, true, 900), Packet(kNone, 8), Packet(9, 9),
                 Packet(10, 10)},
                1, 25, 25, 1, true);
    ASSERT_EQ(index.FrameCount(), 11);
    EXPECT_EQ(Shows(index), (std::vector<int32_t>{1, 4, 2, 3, 7, 5, 6, 8, 11, 9, 10}));
    // The first frame starts at the start, frames follow every 40 ms.
    for (int f = 1; f <= 11; ++f) EXPECT_EQ(index.StartMs(f), (f - 1) * 40);
    EXPECT_EQ(index.DurationMs(), 440);
    EXPECT_EQ(index.StartPacketFor(6), 0);
    EXPECT_EQ(index.StartPacketFor(8), 7);
    EXPECT_EQ(index.StartPacketFor(11), 7);
    EXPECT_EQ(index.Recognise(900, kNone, kNone, true), 7);
    EXPECT_EQ(index.Recognise(900, kNone, kNone, false), std::nullopt);
    EXPECT_EQ(index.Recognise(100, kNone, kNone, true), 0);
    // Without a position, by decode time.
    EXPECT_EQ(index.Recognise(-1, 7, kNone, true), 7);
}

TEST(FrameIndex, BPictureTimesAreTheirOwnWhereNoReferencePictureHasOne) {
    // A program stream muxed from an elementary stream of film with 3:2 pulldown: pictures last
    // three and two fields (one tick each), only the B-pictures carry a time. Decode order
    // I0 P3 B1 B2 P6 B4 B5; shown at fields 0, 3, 5, 8, 10, 13.
    const std::vector<PacketEntry> packets{Packet(kNone, -2, true), Packet(kNone, 0), Packet(3, 3),  Packet(5, 5),
                                           Packet(kNone, 8),        Packet(10, 10),  Packet(13, 13)};
    FrameIndex index;
    index.Build(packets, 1, 60, 24, 1);
    EXPECT_EQ(Shows(index), (std::vector<int32_t>{1, 4, 2, 3, 7, 5, 6}));
    const std::vector<int32_t> shownAt{0, 50, 83, 133, 167, 217};
    for (int f = 1; f <= 6; ++f) EXPECT_EQ(index.StartMs(f), shownAt[static_cast<size_t>(f - 1)]) << f;
    EXPECT_EQ(index.ZeroTime(), 0);
    // Stored in an AVI, the same times are slots the B-pictures were given: frames take them in turn.
    index.Build(packets, 1, 60, 24, 1, true);
    const std::vector<int32_t> slots{0, 33, 83, 117, 167, 200};
    for (int f = 1; f <= 6; ++f) EXPECT_EQ(index.StartMs(f), slots[static_cast<size_t>(f - 1)]) << f;
}

TEST(FrameIndex, ProgramStreamGapsAndAnOpenGroup) {
    // 90 kHz, 3600 ticks a frame. The second I-picture's group is open: the two B-pictures
    // after it in decode order are shown before it and need the group before.
    FrameIndex index;
    const int64_t t = 3600;
    // Decode order I1 P4 B2 B3 I7 B5 B6 P10 B8 B9; P4, I7 and P10 came without a time.
    index.Build({Packet(1 * t, 0, true, 0), Packet(kNone, 1 * t), Packet(2 * t, 2 * t), Packet(3 * t, 3 * t),
                 Packet(kNone, 4 * t, true, 5000), Packet(5 * t, 5 * t), Packet(6 * t, 6 * t),
                 Packet(kNone, 7 * t), Packet(8 * t, 8 * t), Packet(9 * t, 9 * t)},
                1, 90000, 25, 1);
    // Pictures without times are placed at the next reference's
    // decode time, B-pictures at their own.
    EXPECT_EQ(Shows(index), (std::vector<int32_t>{1, 4, 2, 3, 7, 5, 6, 10, 8, 9}));
    EXPECT_EQ(index.StartMs(1), 0);
    EXPECT_EQ(index.StartMs(4), 120);
    // Frames 5 and 6 are the leading pictures of the second group: start from the first.
    EXPECT_EQ(index.StartPacketFor(5), 0);
    EXPECT_EQ(index.StartPacketFor(6), 0);
    EXPECT_EQ(index.StartPacketFor(7), 4);
    EXPECT_EQ(index.StartPacketFor(10), 4);
    // A program stream read from a new byte position gives the keyframe neither a position nor
    // a decode time, only its presentation time.
    EXPECT_EQ(index.Recognise(-1, kNone, 1 * t, true), 0);
    EXPECT_EQ(index.Recognise(-1, kNone, 2 * t, true), std::nullopt);
}

TEST(FrameIndex, FramesFarOutOfDecodeOrderAreShownInTimeOrderTiesInDecodeOrder) {
    // 288 packets in runs of 24 stored in reverse time order (as deep as a reordering goes
    // within a second), two packets to each time.
    std::vector<int64_t> times;
    for (int64_t i = 0; i < 288; ++i) times.push_back(i / 24 * 12 + (23 - i % 24) / 2);
    std::vector<PacketEntry> packets;
    for (int64_t t : times) packets.push_back(Packet(t, kNone, packets.empty()));
    FrameIndex index;
    index.Build(packets, 1, 25, 25, 1);
    ASSERT_EQ(index.FrameCount(), 288);
    const std::vector<int32_t> shows = Shows(index);
    for (size_t i = 0; i < times.size(); ++i) {
        // Frames 2t+1 and 2t+2 show time t, the one decoded first before the other.
        const size_t twin = std::find(times.begin(), times.end(), times[i]) - times.begin();
        EXPECT_EQ(shows[i], 2 * times[i] + (twin == i ? 1 : 2)) << "packet " << i;
    }
}

TEST(FrameIndex, TimesAtTheEdgesOfFrames) {
    FrameIndex index;
    std::vector<PacketEntry> packets;
    for (int i = 0; i < 10; ++i) packets.push_back(Packet(1001 * i + 5005, 1001 * i + 5005, i % 5 == 0));
    index.Build(packets, 1, 30000, 30000, 1001);
    EXPECT_EQ(index.FrameCount(), 10);
    EXPECT_EQ(index.DurationMs(), 334);
    EXPECT_EQ(index.StartMs(2), 33);
    EXPECT_EQ(index.EndMs(10), 334);
    EXPECT_EQ(index.FrameAtMs(-1), 1);
    EXPECT_EQ(index.FrameAtMs(32), 1);
    EXPECT_EQ(index.FrameAtMs(33), 2);
    EXPECT_EQ(index.FrameAtMs(333), 10);
    EXPECT_EQ(index.FrameAtMs(334), 11);
    EXPECT_DOUBLE_EQ(index.StartSeconds(3), 2002.0 / 30000);
}

TEST(FrameIndex, DiscardedPacketsAreDecodedButNotCounted) {
    FrameIndex index;
    std::vector<PacketEntry> packets = {Packet(-2, -2, true), Packet(-1, -1), Packet(0, 0), Packet(1, 1)};
    packets[0].discard = packets[1].discard = true;
    index.Build(packets, 1, 25, 25, 1);
    EXPECT_EQ(index.FrameCount(), 2);
    EXPECT_EQ(Shows(index), (std::vector<int32_t>{0, 0, 1, 2}));
    EXPECT_EQ(index.StartPacketFor(2), 0);
    EXPECT_EQ(index.StartMs(2), 40);
}

TEST(FrameIndex, AClockThatRestartsOrJumpsRunsOnFromTheFrameBefore) {
    // 90 kHz, 3600 ticks a frame: three frames, the clock restarts at 0 (two recordings joined),
    // three frames, then it jumps an hour ahead, two frames.
    const int64_t t = 3600, late = int64_t{3600} * 90000;
    FrameIndex index;
    index.Build({Packet(90000, 90000, true, 0), Packet(90000 + t, 90000 + t, false, 100),
                 Packet(90000 + 2 * t, 90000 + 2 * t, false, 200), Packet(0, 0, true, 300), Packet(t, t, false, 400),
                 Packet(2 * t, 2 * t, false, 500), Packet(late, late, true, 600), Packet(late + t, late + t, false, 700)},
                1, 90000, 25, 1);
    EXPECT_EQ(Shows(index), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    for (int f = 1; f <= 8; ++f) EXPECT_EQ(index.StartMs(f), (f - 1) * 40) << f;
    EXPECT_EQ(index.DurationMs(), 320);
    EXPECT_EQ(index.StartPacketFor(5), 3);
    EXPECT_EQ(index.StartPacketFor(8), 6);
    ASSERT_EQ(index.Segments().size(), 3u);
    // The sound's stamps go through the same segments, told apart by byte position, or without
    // one by the time expected.
    EXPECT_EQ(index.ToTimeLine(90000 + t, 150, kNone), 90000 + t);
    EXPECT_EQ(index.ToTimeLine(t, 450, kNone), 90000 + 4 * t);
    EXPECT_EQ(index.ToTimeLine(t, -1, 90000 + 4 * t), 90000 + 4 * t);
    EXPECT_EQ(index.ToTimeLine(late + t, 650, kNone), 90000 + 7 * t);
    EXPECT_EQ(index.ToStamp(90000 + 4 * t), t);
    EXPECT_EQ(index.PositionBefore(90000 + 4 * t), 400);
}

}  // namespace
}  // namespace trimora
