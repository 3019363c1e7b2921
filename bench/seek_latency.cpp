// Seek latency of the reader beside the plain FFmpeg way (seek to the keyframe before, decode
// forward), on a 720p H.264 clip with 250-frame groups and B-frames, on a camera-like one (the
// same stamps under picture noise at 70 Mbit/s) and on an MPEG-2 program stream; and the peak
// memory of stepping back through a whole group of a 1080p clip.
//
//   bench_seek_latency            latency figures
//   bench_seek_latency memory     peak memory while stepping back (run on its own: the
//                                 figure is the process's peak)
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "BenchSupport.h"
#include "engine/ffmpeg/reader/FfmpegReader.h"
#include "support/TestClips.h"

using trimora::FfmpegReader;
using trimora::FrameData;
namespace test = trimora::test;
namespace bench = trimora::bench;

namespace {

double Ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Stats {
    double median = 0, p95 = 0;
};

Stats Summarise(std::vector<double> samples) {
    Stats s;
    if (samples.empty()) return s;
    std::sort(samples.begin(), samples.end());
    s.median = samples[samples.size() / 2];
    s.p95 = samples[std::min(samples.size() - 1, samples.size() * 95 / 100)];
    return s;
}

double TimeOnce(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return Ms(std::chrono::steady_clock::now() - start);
}

// The plain way: seek to the keyframe at or before the frame's time, decode forward to it.
// Demuxers without an index (program streams) land anywhere near the time asked for, so there
// it starts a group earlier and decodes from the first keyframe it meets.
class PlainSeeker {
public:
    PlainSeeker(const std::string& path, int marginFrames) : marginFrames_(marginFrames) {
        avformat_open_input(&format_, path.c_str(), nullptr, nullptr);
        avformat_find_stream_info(format_, nullptr);
        stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        AVStream* st = format_->streams[stream_];
        const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
        decoder_ = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(decoder_, st->codecpar);
        decoder_->thread_count = 0;
        avcodec_open2(decoder_, codec, nullptr);
        timeBase_ = st->time_base;
        start_ = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
        frameTicks_ = av_rescale_q(1, av_inv_q(st->avg_frame_rate), timeBase_);
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
    }
    ~PlainSeeker() {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&decoder_);
        avformat_close_input(&format_);
    }
    // Returns the stamp of the frame reached.
    int SeekTo(int frameNumber) {
        const int64_t target = start_ + (frameNumber - 1) * frameTicks_;
        av_seek_frame(format_, stream_, target - marginFrames_ * frameTicks_, AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(decoder_);
        bool keySeen = marginFrames_ == 0;
        while (Decode()) {
            keySeen |= frame_->key_frame != 0;
            if (keySeen && frame_->best_effort_timestamp >= target - frameTicks_ / 2) return Stamp();
        }
        return -1;
    }
    int Next() { return Decode() ? Stamp() : -1; }

private:
    bool Decode() {
        for (;;) {
            const int r = avcodec_receive_frame(decoder_, frame_);
            if (r == 0) return true;
            if (r == AVERROR_EOF) return false;
            if (av_read_frame(format_, packet_) < 0) {
                avcodec_send_packet(decoder_, nullptr);
                continue;
            }
            if (packet_->stream_index == stream_) avcodec_send_packet(decoder_, packet_);
            av_packet_unref(packet_);
        }
    }
    int Stamp() const { return test::ReadStamp(frame_->data[0], frame_->linesize[0], frame_->width, frame_->height); }

    AVFormatContext* format_ = nullptr;
    AVCodecContext* decoder_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    int stream_ = -1;
    AVRational timeBase_{1, 1};
    int64_t start_ = 0;
    int64_t frameTicks_ = 1;
    int marginFrames_ = 0;
};

int Stamp(const FrameData& frame) { return test::ReadStamp(frame); }

struct Clip {
    std::string path;
    int width, height, frames, gop;
};

void Latency(const char* name, const Clip& clip, int marginFrames) {
    const std::string& path = clip.path;
    const int frames = clip.frames;
    std::mt19937 random(5);
    std::vector<int> targets;
    for (int i = 0; i < 40; ++i) targets.push_back(std::uniform_int_distribution<int>(1, frames)(random));

    FfmpegReader reader;
    reader.OpenForReading(path);
    PlainSeeker plain(path, marginFrames);
    FrameData frame;
    int wrong = 0, plainWrong = 0;

    std::vector<double> seek, plainSeek;
    for (int target : targets) {
        seek.push_back(TimeOnce([&] {
            reader.SeekToFrame(target);
            reader.ReadNextVideoFrame(frame);
        }));
        wrong += Stamp(frame) != target;
        int got = 0;
        plainSeek.push_back(TimeOnce([&] { got = plain.SeekTo(target); }));
        plainWrong += got != target;
    }

    // Forward steps, as a frame-step button: seek to the next frame and show it.
    std::vector<double> forward, plainForward;
    const int from = frames / 3;
    reader.SeekToFrame(from);
    reader.ReadNextVideoFrame(frame);
    plain.SeekTo(from);
    for (int n = from + 1; n < from + 60; ++n) {
        forward.push_back(TimeOnce([&] {
            reader.SeekToFrame(n);
            reader.ReadNextVideoFrame(frame);
        }));
        wrong += Stamp(frame) != n;
        int got = 0;
        plainForward.push_back(TimeOnce([&] { got = plain.Next(); }));
        plainWrong += got != n;
    }

    // Backward steps from late in a group: the plain way decodes from the keyframe every time.
    std::vector<double> back, plainBack;
    const int top = std::min(frames, 240);
    reader.SeekToFrame(top);
    reader.ReadNextVideoFrame(frame);
    for (int n = top - 1; n > top - 100 && n >= 1; --n) {
        back.push_back(TimeOnce([&] {
            reader.SeekToFrame(n);
            reader.ReadNextVideoFrame(frame);
        }));
        wrong += Stamp(frame) != n;
        int got = 0;
        plainBack.push_back(TimeOnce([&] { got = plain.SeekTo(n); }));
        plainWrong += got != n;
    }

    const auto row = [](const char* what, const std::vector<double>& ours, const std::vector<double>& theirs) {
        const Stats a = Summarise(ours), b = Summarise(theirs);
        std::printf("  %-14s reader median %7.2f ms  p95 %7.2f ms | plain median %7.2f ms  p95 %7.2f ms | ratio p95 %.2f\n",
                    what, a.median, a.p95, b.median, b.p95, b.p95 > 0 ? a.p95 / b.p95 : 0);
    };
    std::printf("%s (%dx%d, %d frames, group %d)\n", name, clip.width, clip.height, frames, clip.gop);
    row("random seek", seek, plainSeek);
    row("step forward", forward, plainForward);
    row("step back", back, plainBack);
    std::printf("  wrong frames: reader %d, plain %d\n", wrong, plainWrong);
}

void Memory() {
    test::ClipSpec spec;
    spec.format = "mp4";
    spec.width = 1920;
    spec.height = 1080;
    spec.frames = 260;
    spec.gop = 250;
    spec.audio = false;
    const std::string path = test::MakeClip(spec);
    FfmpegReader reader;
    reader.OpenForReading(path);
    FrameData frame;
    int wrong = 0;
    std::vector<double> steps;
    for (int n = 250; n >= 1; --n) {
        steps.push_back(TimeOnce([&] {
            reader.SeekToFrame(n);
            reader.ReadNextVideoFrame(frame);
        }));
        wrong += Stamp(frame) != n;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const Stats s = Summarise(steps);
    std::printf("1080p H.264, stepping back from frame 250 to 1 (group 250): peak memory %.0f MB, "
                "step median %.2f ms p95 %.2f ms, wrong frames %d\n",
                usage.ru_maxrss / 1024.0, s.median, s.p95, wrong);
}

}  // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);
    if (argc > 1 && std::string(argv[1]) == "memory") {
        Memory();
        return 0;
    }
    test::ClipSpec h264;
    h264.format = "mp4";
    h264.width = 1280;
    h264.height = 720;
    h264.frames = 600;
    h264.gop = 250;
    Latency("H.264 in MP4", {test::MakeClip(h264), h264.width, h264.height, h264.frames, h264.gop}, 0);
    // What a camera's file costs to decode, with the same stamps.
    Latency("camera-like H.264 in MP4 (70 Mbit/s)",
            {bench::MakeCameraClip(true), 1280, 720, bench::kCameraSeconds * bench::kCameraFps, 250}, 0);
    test::ClipSpec mpeg2;
    mpeg2.format = "mpeg2";
    mpeg2.width = 1280;
    mpeg2.height = 720;
    mpeg2.frames = 600;
    mpeg2.gop = 15;
    Latency("MPEG-2 program stream", {test::MakeClip(mpeg2), mpeg2.width, mpeg2.height, mpeg2.frames, mpeg2.gop},
            mpeg2.gop);
    return 0;
}
