// Time to open an input with the reader (which indexes every packet) beside the plain FFmpeg
// open (probe the streams and decode the first picture), for a 60-second clip and an hour-long
// file, in several containers. The hour-long files are made cheaply: a small 60-second clip
// copied sixty times over without re-encoding.
//
//   bench_open_latency
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "engine/ffmpeg/reader/FfmpegReader.h"
#include "support/TestClips.h"

using trimora::FfmpegReader;
namespace test = trimora::test;

namespace {

double MedianMs(const std::function<void()>& work, int runs = 3) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void PlainOpen(const std::string& path) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return;
    avformat_find_stream_info(format, nullptr);
    const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec* codec = avcodec_find_decoder(format->streams[stream]->codecpar->codec_id);
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, format->streams[stream]->codecpar);
    decoder->thread_count = 0;
    avcodec_open2(decoder, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool got = false;
    while (!got && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream) {
            avcodec_send_packet(decoder, packet);
            got = avcodec_receive_frame(decoder, frame) == 0;
        }
        av_packet_unref(packet);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
}

std::string MakeHour(const test::ClipSpec& minute, const char* extension, const char* muxer) {
    const std::string source = test::MakeClip(minute);
    const std::string list = test::TempPath(".txt");
    {
        std::ofstream out(list);
        for (int i = 0; i < 60; ++i) out << "file " << test::ShellQuote(source) << "\n";
    }
    const std::string path = test::TempPath(extension);
    const std::string command = "ffmpeg -v error -nostdin -y -f concat -safe 0 -i " + test::ShellQuote(list) +
                                " -c copy -f " + muxer + " " + test::ShellQuote(path);
    if (test::RunCommand(command) != 0) std::fprintf(stderr, "could not make %s\n", path.c_str());
    return path;
}

void Measure(const char* name, const std::string& path) {
    FfmpegReader reader;
    const double ours = MedianMs([&] { reader.OpenForReading(path); });
    const double plain = MedianMs([&] { PlainOpen(path); });
    const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
    std::printf("  %-28s %6.0f MB %7d frames  reader %8.1f ms | plain %7.1f ms | ratio %.1f\n", name, megabytes,
                reader.NumberOfFrames(), ours, plain, plain > 0 ? ours / plain : 0);
}

}  // namespace

int main() {
    av_log_set_level(AV_LOG_ERROR);
    std::printf("open and index (median of 3, file in the page cache)\n");
    for (const char* format : {"mp4", "mpeg2", "mkv", "avi"}) {
        test::ClipSpec minute;
        minute.format = format;
        minute.width = 640;
        minute.height = 360;
        minute.frames = 1500;
        minute.gop = 50;
        Measure((std::string("60 s 640x360 ") + format).c_str(), test::MakeClip(minute));
    }
    struct Hour {
        const char* format;
        const char* extension;
        const char* muxer;
    };
    for (const Hour& h : {Hour{"mp4", ".mp4", "mp4"}, Hour{"mpeg2", ".mpeg", "vob"}, Hour{"mkv", ".mkv", "matroska"},
                          Hour{"avi", ".avi", "avi"}}) {
        test::ClipSpec minute;
        minute.format = h.format;
        minute.width = 160;
        minute.height = 120;
        minute.frames = 1500;
        minute.gop = 250;
        minute.extraArgs = std::string(h.format) == "mp4" || std::string(h.format) == "mkv" ? "-b:a 64k" : "";
        Measure((std::string("1 hour 160x120 ") + h.format).c_str(), MakeHour(minute, h.extension, h.muxer));
    }
    return 0;
}
