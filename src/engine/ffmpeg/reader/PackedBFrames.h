#pragma once
// MPEG-4 Part 2 video with "packed" B-frames, the way DivX and Xvid store them in AVI files: a
// chunk holds a reference picture followed by the B-picture shown before it, and a later chunk
// holds a not-coded placeholder of a few bytes where the reference is shown. The decoder is given
// the pictures one a packet, as FFmpeg's unpacking filter (mpeg4_unpack_bframes) hands them on:
// each chunk gives the picture decoded in its place, with the chunk's own position and times.
// The index then describes those packets, so each one names the picture the decoder makes of it.
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/FfmpegUtil.h"
#include "engine/ffmpeg/reader/FrameIndex.h"

extern "C" {
#include <libavcodec/bsf.h>
}

namespace trimora {

// A chunk this small holds a not-coded placeholder picture at most; packed streams have them.
constexpr int kLargestPlaceholder = 19;

// The pictures (VOPs) a chunk holds, as the unpacking filter counts them.
struct ChunkVops {
    uint8_t count = 0;   // 0, 1, or 2 for two or more
    uint8_t first = 0;   // kind of the first and of the second: 0 I, 1 P, 2 B, 3 S
    uint8_t second = 0;
    bool placeholder = false;  // small enough to be a not-coded picture only
};

ChunkVops ReadChunkVops(const uint8_t* data, int size);

// Whether a stream's headers (or a chunk's, before its first picture) mark it as packed: user data
// ending in 'p', as DivX writes it ("DivX503b1393p"). `size` bytes at `data`.
bool MarkedPacked(const uint8_t* data, int size);

// Turns the demuxer's entries of an AVI stream's chunks into those of the packets the unpacking
// filter gives, where some chunk holds two pictures: each keeps its chunk's position and decode
// time; B-pictures are shown at their decode time and the others get their presentation time
// from the index's ordering of references, as the demuxer times an unpacked stream; a keyframe
// is a packet that gives an I-picture. A chunk that gives no packet is marked discarded. Returns
// whether the stream is packed (nothing changes otherwise).
bool UnpackBFrames(std::vector<PacketEntry>& packets, const std::vector<ChunkVops>& chunks);

// The unpacking filter between demuxer and decoder, started afresh at each positioning (it holds
// the B-picture of the chunk read last).
class BFrameUnpacker {
public:
    // Throws EngineError where FFmpeg has no such filter.
    void Open(const AVCodecParameters* codec, AVRational timeBase);
    bool IsOpen() const { return filter_ != nullptr; }
    // The stream's parameters as the decoder is to be set up with them.
    const AVCodecParameters* Parameters() const;
    // Starts again with nothing held.
    void Restart();
    // Replaces `packet` (a chunk) with the one to decode in its place; false where the chunk
    // gives none, `packet` then empty.
    bool Filter(AVPacket* packet);

private:
    struct FilterDeleter {
        void operator()(AVBSFContext* filter) const { av_bsf_free(&filter); }
    };
    struct ParametersDeleter {
        void operator()(AVCodecParameters* codec) const { avcodec_parameters_free(&codec); }
    };
    std::unique_ptr<AVBSFContext, FilterDeleter> filter_;
    std::unique_ptr<AVCodecParameters, ParametersDeleter> codec_;
    AVRational timeBase_{1, 1};
};

}  // namespace trimora
