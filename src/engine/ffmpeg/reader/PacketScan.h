#pragma once
// The opening pass over the input: the packets of the video and the sound stream read once,
// without decoding, for the index; and the choices made from what it found.
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/FfmpegUtil.h"
#include "engine/MediaFile.h"
#include "engine/ffmpeg/reader/FrameIndex.h"

namespace trimora {

struct SoundPacket {
    int64_t time = AV_NOPTS_VALUE;
    int64_t pos = -1;
    int64_t duration = 0;
};

struct ScanResult {
    std::vector<PacketEntry> video;
    int64_t videoBytes = 0;
    // The video entries describe the packets of the B-frame unpacking (PackedBFrames.h), not the
    // chunks as the demuxer gives them.
    bool unpackedBFrames = false;
    std::vector<SoundPacket> audio;       // in file order
    int64_t audioFirst = AV_NOPTS_VALUE;  // on the time line, filled once the video is indexed
    int64_t audioEnd = AV_NOPTS_VALUE;
    int64_t audioBytes = 0;
    // Where a transport stream's programme changes (recordings from different sources joined, or
    // a broadcaster that moves a programme to new packet identifiers), the video and the sound go
    // on in other streams: those, in the order they follow the chosen ones (stream indices of the
    // demuxer scanned). Their packets are among `video` and `audio`.
    std::vector<int> videoFollowers;
    std::vector<int> audioFollowers;
};

// Is handed each video packet the pass reads, with its decode index, until it answers false.
using VideoPacketTap = std::function<bool(const AVPacket& packet, int64_t decodeIndex)>;

// One pass over the packets of the video and the sound stream, without decoding. Tells
// `progress` the share of the file read; throws OpenCancelled when it answers false. Of the
// sound of a program or transport stream with video only the first and the last packets are
// read, unless `everySoundPacket`.
ScanResult Scan(AVFormatContext* input, int videoIndex, int audioIndex, const OpenProgress& progress,
                bool everySoundPacket = false, const VideoPacketTap& tap = {});
// The first and the end of the sound on the time line (its clock restarts where the video's
// does); `video` and `index` are nullptr for a file without video.
void PlaceSoundSpan(ScanResult& scan, const AVStream* audio, const AVStream* video, const FrameIndex* index);
// The rate the stream states, where it has a usable one.
AVRational StatedFrameRate(const AVStream* stream);
// The nominal frame rate: the stream's own where it agrees with the frames' timing on the time
// line, else what the frames show.
AVRational ChooseFrameRate(const AVStream* stream, const FrameIndex& index);

}  // namespace trimora
