#include "engine/ffmpeg/reader/PacketScan.h"

#include <algorithm>
#include <cmath>

#include "engine/EngineError.h"

namespace trimora {

namespace {

// Tells progress how far the demuxer has read; stops the open when it answers false.
void Report(const OpenProgress& progress, AVFormatContext* input) {
    if (!progress) return;
    double share = 0;
    if (input->pb) {
        const int64_t size = avio_size(input->pb);
        const int64_t at = avio_tell(input->pb);
        if (size > 0 && at > 0) share = std::min(1.0, static_cast<double>(at) / static_cast<double>(size));
    }
    if (!progress(share)) throw OpenCancelled();
}

}  // namespace

ScanResult Scan(AVFormatContext* input, int videoIndex, int audioIndex, const OpenProgress& progress) {
    // Often enough for a bar that moves and a cancel that is felt at once, rarely enough to cost
    // nothing beside reading the packets.
    constexpr unsigned kPacketsPerReport = 64;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const int n = static_cast<int>(i);
        input->streams[i]->discard = n == videoIndex || n == audioIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    ScanResult result;
    ff::PacketPtr packet = ff::MakePacket();
    if (!packet) throw EngineError("Out of memory while reading the file.");
    AVPacket* p = packet.get();
    Report(progress, input);
    for (unsigned count = 1; av_read_frame(input, p) >= 0; ++count) {
        if (count % kPacketsPerReport == 0) Report(progress, input);
        if (p->stream_index == videoIndex && p->size > 0) {
            PacketEntry e;
            e.pts = p->pts;
            e.dts = p->dts;
            e.pos = p->pos;
            e.duration = p->duration;
            e.key = (p->flags & AV_PKT_FLAG_KEY) != 0;
            e.discard = (p->flags & AV_PKT_FLAG_DISCARD) != 0;
            result.video.push_back(e);
            result.videoBytes += p->size;
        } else if (p->stream_index == audioIndex && p->size > 0) {
            const int64_t t = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
            if (t != AV_NOPTS_VALUE) result.audio.push_back(SoundPacket{t, p->pos, std::max<int64_t>(p->duration, 0)});
            result.audioBytes += p->size;
        }
        av_packet_unref(p);
    }
    // The end of what can be read is where an interrupted file ends; a failing disk is not.
    if (input->pb && input->pb->error < 0 && input->pb->error != AVERROR_EOF)
        throw EngineError("The file cannot be read: " + ff::ErrorText(input->pb->error));
    Report(progress, input);
    return result;
}

void PlaceSoundSpan(ScanResult& scan, const AVStream* audio, const AVStream* video, const FrameIndex* index) {
    const bool mapped = video && index && index->Segments().size() > 1;
    int64_t expected = AV_NOPTS_VALUE;
    for (const SoundPacket& packet : scan.audio) {
        int64_t t = packet.time;
        if (mapped) {
            const int64_t inVideo = av_rescale_q(t, audio->time_base, video->time_base);
            const int64_t line = index->ToTimeLine(inVideo, packet.pos, expected);
            expected = line;
            t = av_rescale_q(line, video->time_base, audio->time_base);
        }
        if (scan.audioFirst == AV_NOPTS_VALUE || t < scan.audioFirst) scan.audioFirst = t;
        const int64_t end = t + packet.duration;
        if (scan.audioEnd == AV_NOPTS_VALUE || end > scan.audioEnd) scan.audioEnd = end;
    }
}

AVRational StatedFrameRate(const AVStream* stream) {
    for (AVRational r : {stream->avg_frame_rate, stream->r_frame_rate})
        if (r.num > 0 && r.den > 0 && av_q2d(r) >= 0.1 && av_q2d(r) <= 1000) return r;
    return AVRational{25, 1};
}

AVRational ChooseFrameRate(const AVStream* stream, const FrameIndex& index) {
    double measured = 0;
    if (index.FrameCount() >= 2) {
        const double span = index.StartSeconds(index.FrameCount());
        if (span > 0) measured = static_cast<double>(index.FrameCount() - 1) / span;
    }
    if (measured > 1000) measured = 0;
    const auto agrees = [&](AVRational r) {
        if (r.num <= 0 || r.den <= 0) return false;
        return measured <= 0 || std::abs(av_q2d(r) - measured) <= 0.05 * measured;
    };
    if (agrees(stream->avg_frame_rate)) return stream->avg_frame_rate;
    if (agrees(stream->r_frame_rate)) return stream->r_frame_rate;
    if (measured > 0) return av_d2q(measured, 1000000);
    return AVRational{25, 1};
}

}  // namespace trimora
