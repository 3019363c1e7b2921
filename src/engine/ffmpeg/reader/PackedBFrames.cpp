#include "engine/ffmpeg/reader/PackedBFrames.h"

#include <algorithm>
#include <cstring>

#include "engine/ffmpeg/reader/StartCodes.h"

namespace trimora {

namespace {

constexpr uint32_t kUserDataStart = 0x1B2;
constexpr uint32_t kPictureStart = 0x1B6;
constexpr uint8_t kI = 0, kB = 2;

}  // namespace

ChunkVops ReadChunkVops(const uint8_t* data, int size) {
    ChunkVops vops;
    vops.placeholder = size <= kLargestPlaceholder;
    // Every chunk of the file is looked through while it is read for the index: the 0x01 bytes
    // are found by memchr, and those that end a start code prefix (00 00 01) looked at.
    const auto* end = data + size;
    for (const uint8_t* at = data + std::min(size, 2); at < end;) {
        const auto* one = static_cast<const uint8_t*>(std::memchr(at, 0x01, static_cast<size_t>(end - at)));
        if (!one) break;
        at = one + 1;
        if (one[-1] != 0 || one[-2] != 0 || at >= end || *at != (kPictureStart & 0xFF)) continue;
        const uint8_t kind = at + 1 < end ? static_cast<uint8_t>(at[1] >> 6) : 0;
        if (vops.count == 0) vops.first = kind;
        else if (vops.count == 1) vops.second = kind;
        if (vops.count < 2) ++vops.count;
        ++at;
    }
    return vops;
}

bool MarkedPacked(const uint8_t* data, int size) {
    for (int pos = 0; pos < size;) {
        if (NextStartCode(data, size, pos) != kUserDataStart) continue;
        for (int i = 0; i < 255 && pos + i + 1 < size; ++i)
            if (data[pos + i] == 'p' && data[pos + i + 1] == '\0') return true;
    }
    return false;
}

bool UnpackBFrames(std::vector<PacketEntry>& packets, const std::vector<ChunkVops>& chunks) {
    if (chunks.size() != packets.size() ||
        std::none_of(chunks.begin(), chunks.end(), [](const ChunkVops& c) { return c.count >= 2; }))
        return false;
    // Timed as AVI chunks are: a decode time each, a presentation time only on B-pictures.
    for (const PacketEntry& p : packets)
        if (p.dts == PacketEntry::kNoTime || (p.pts != PacketEntry::kNoTime && p.pts != p.dts)) return false;
    bool held = false;  // the filter holds a picture for the next chunk
    uint8_t heldKind = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        const ChunkVops& c = chunks[i];
        PacketEntry& p = packets[i];
        int kind = -1;  // a chunk without a picture start is passed on as it is
        if (c.count >= 2) {
            // Its first picture; the second is held (one held before is lost).
            kind = c.first;
            held = true;
            heldKind = c.second;
        } else if (c.count == 1 && held) {
            // The picture held comes in its place; this one is held next, unless a placeholder.
            kind = heldKind;
            held = !c.placeholder;
            heldKind = c.first;
        } else if (c.count == 1) {
            kind = c.first;
            // A placeholder with nothing held decodes to no picture.
            if (c.placeholder) p.discard = true;
        }
        if (kind < 0) continue;
        p.key = kind == kI;
        p.pts = kind == kB ? p.dts : PacketEntry::kNoTime;
    }
    return true;
}

void BFrameUnpacker::Open(const AVCodecParameters* codec, AVRational timeBase) {
    codec_.reset(avcodec_parameters_alloc());
    if (!codec_ || avcodec_parameters_copy(codec_.get(), codec) < 0)
        throw EngineError("Out of memory while opening the video decoder.");
    timeBase_ = timeBase;
    Restart();
}

const AVCodecParameters* BFrameUnpacker::Parameters() const { return filter_->par_out; }

void BFrameUnpacker::Restart() {
    // Made anew: flushing it may leave the picture it holds.
    filter_.reset();
    const AVBitStreamFilter* unpacking = av_bsf_get_by_name("mpeg4_unpack_bframes");
    if (!unpacking) throw EngineError("This FFmpeg cannot read MPEG-4 video with packed B-frames.");
    AVBSFContext* filter = nullptr;
    ff::Check(av_bsf_alloc(unpacking, &filter), "Cannot set up the video decoder");
    filter_.reset(filter);
    ff::Check(avcodec_parameters_copy(filter->par_in, codec_.get()), "Cannot set up the video decoder");
    filter->time_base_in = timeBase_;
    ff::Check(av_bsf_init(filter), "Cannot set up the video decoder");
}

bool BFrameUnpacker::Filter(AVPacket* packet) {
    const int sent = av_bsf_send_packet(filter_.get(), packet);
    if (sent < 0) {
        av_packet_unref(packet);
        if (sent == AVERROR(ENOMEM)) throw EngineError("Out of memory while decoding the video.");
        return false;
    }
    const int received = av_bsf_receive_packet(filter_.get(), packet);
    if (received == AVERROR(ENOMEM)) throw EngineError("Out of memory while decoding the video.");
    return received >= 0;
}

}  // namespace trimora
