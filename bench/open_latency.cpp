// Time to open an input with the reader (which indexes every packet) beside the plain FFmpeg
// open (probe the streams and decode the first picture) and a plain packet scan (probe, then
// read every packet once, nothing else: the cost of reading the file once), for 60-second clips
// and hour-long files in several containers. The hour-long files are made cheaply: a small
// 60-second clip copied sixty times over without re-encoding.
// Then what the window suffers: a real main window (offscreen) opens the hour-long files and a
// large file (the camera-like clip copied to about 2.4 GB of MPEG-TS) as the Open dialog's answer
// does, while a 2 ms timer on the window's thread records the longest gap between its ticks.
//
//   bench_open_latency            (BENCH_OPEN_BIG=0 skips the large file)
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
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

#include "BenchSupport.h"
#include "app/frmMain.h"
#include "engine/ffmpeg/reader/FfmpegReader.h"
#include "support/FakeEngine.h"
#include "support/TestClips.h"

using trimora::FfmpegReader;
namespace test = trimora::test;
namespace bench = trimora::bench;

namespace {

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// `before` runs ahead of each timed run, untimed.
double MedianMs(const std::function<void()>& work, int runs = 3, const std::function<void()>& before = {}) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        if (before) before();
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return Median(times);
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

// Probes the streams, then reads every packet once without decoding.
void PacketScan(const std::string& path) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return;
    avformat_find_stream_info(format, nullptr);
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(format, packet) >= 0) av_packet_unref(packet);
    av_packet_free(&packet);
    avformat_close_input(&format);
}

// `source` copied `copies` times over without re-encoding into one file of `muxer`.
std::string Concatenate(const std::string& source, int copies, const char* extension, const char* muxer) {
    const std::string list = test::TempPath(".txt");
    {
        std::ofstream out(list);
        for (int i = 0; i < copies; ++i) out << "file " << test::ShellQuote(source) << "\n";
    }
    const std::string path = test::TempPath(extension);
    const std::string command = "ffmpeg -v error -nostdin -y -f concat -safe 0 -i " + test::ShellQuote(list) +
                                " -c copy -f " + muxer + " " + test::ShellQuote(path);
    if (test::RunCommand(command) != 0) std::fprintf(stderr, "could not make %s\n", path.c_str());
    return path;
}

std::string MakeHour(const test::ClipSpec& minute, const char* extension, const char* muxer) {
    return Concatenate(test::MakeClip(minute), 60, extension, muxer);
}

void Measure(const char* name, const std::string& path, int runs = 3) {
    FfmpegReader reader;
    // Each open starts from a closed reader, as a file chosen some time after the last one does:
    // the last open's sound demuxer, still opening in the background, is done with first.
    const double ours = MedianMs([&] { reader.OpenForReading(path); }, runs, [&] { reader.Close(); });
    const double plain = MedianMs([&] { PlainOpen(path); }, runs);
    const double scan = MedianMs([&] { PacketScan(path); }, runs);
    const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
    std::printf("| %s | %.0f MB | %d | %.1f ms | %.1f ms | %.1f ms | %.1f | %.2f |\n", name, megabytes,
                reader.NumberOfFrames(), ours, plain, scan, plain > 0 ? ours / plain : 0, scan > 0 ? ours / scan : 0);
    std::fflush(stdout);
}

struct WindowOpen {
    double readyMs = -1;
    double longestGapMs = 0;
    bool ok = false;
};

// Opens `path` in a real main window as the Open dialog's answer does, from the window's event
// loop, and waits until the window is ready (the input loaded, its frame count known and the first
// frame shown); meanwhile a 2 ms timer on the window's thread records the longest gap between its
// ticks.
WindowOpen OpenInWindow(const std::string& path, const QString& programFolder) {
    trimora::test::FakePlatform platform;  // message boxes are recorded, never shown
    const auto engine = trimora::CreateRealEngineFactory();
    trimora::frmMain window(*engine, platform, programFolder);
    window.Form_Load();
    window.show();
    QCoreApplication::processEvents();
    platform.messages.clear();

    QElapsedTimer clock;
    qint64 lastTick = 0, longestGap = 0, ready = -1;
    bool returned = false;
    QEventLoop loop;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(2);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
        const bool loaded = window.FileLoaded && !window.OpenRunning && window.VideoFileIn1->NumberOfFrames() > 0;
        if (ready < 0 && returned && (loaded || !window.FileLoaded)) ready = now;  // ready, or failed
        // A few ticks after ready, so that a stall right after the open counts as well.
        if (ready >= 0 && now - ready > 50'000'000) loop.quit();
        if (now > 600'000'000'000LL) loop.quit();
    });
    QTimer::singleShot(0, &window, [&] {
        window.OpenChosenFile(QString::fromStdString(path));
        returned = true;
    });
    clock.start();
    tick.start();
    loop.exec();
    tick.stop();
    WindowOpen result;
    result.readyMs = static_cast<double>(ready) / 1e6;
    result.longestGapMs = static_cast<double>(longestGap) / 1e6;
    result.ok = window.FileLoaded && platform.messages.empty();
    for (const auto& message : platform.messages) std::fprintf(stderr, "  message: %s\n", qPrintable(message.first));
    window.close();
    return result;
}

// Opens `path` in `runs` new windows, each as a program just started would: the first run's time,
// the median of all, and the longest gap seen in any.
void MeasureWindow(const char* name, const std::string& path, const QString& programFolder, int runs = 5) {
    std::vector<double> times;
    double longestGap = 0;
    bool ok = true;
    for (int run = 0; run < runs; ++run) {
        const WindowOpen open = OpenInWindow(path, programFolder);
        times.push_back(open.readyMs);
        longestGap = std::max(longestGap, open.longestGapMs);
        ok = ok && open.ok;
    }
    std::printf("| %s | %.0f ms | %.0f ms | %.1f ms |%s\n", name, Median(times), times.front(), longestGap,
                ok ? "" : " (open failed)");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    bench::DefaultToOffscreen();
    QApplication app(argc, argv);
    QTemporaryDir temp;
    const QString programFolder = bench::PrepareProgramFolder(temp);
    av_log_set_level(AV_LOG_ERROR);
    std::printf("open and index (median of 3, of 5 for the hour-long files; file in the page cache)\n\n"
                "| file | size | frames | reader open | plain open | packet scan | reader / plain | reader / scan |\n"
                "|---|---|---|---|---|---|---|---|\n");
    if (const char* only = std::getenv("BENCH_OPEN_FILE")) {
        // One given file: its open beside the plain ones, then through the window.
        Measure(only, only);
        std::printf("\n| file | time to ready (median) | first run | longest gap between 2 ms ticks |\n|---|---|---|---|\n");
        MeasureWindow(only, only, programFolder);
        return 0;
    }
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
    std::vector<std::pair<std::string, std::string>> large;  // name, path
    for (const Hour& h : {Hour{"mp4", ".mp4", "mp4"}, Hour{"mpeg2", ".mpeg", "vob"}, Hour{"mkv", ".mkv", "matroska"},
                          Hour{"avi", ".avi", "avi"}, Hour{"ts", ".ts", "mpegts"}}) {
        test::ClipSpec minute;
        minute.format = h.format;
        minute.width = 160;
        minute.height = 120;
        minute.frames = 1500;
        minute.gop = 250;
        minute.extraArgs = std::string(h.format) == "mp4" || std::string(h.format) == "mkv" ? "-b:a 64k" : "";
        large.emplace_back(std::string("1 hour 160x120 ") + h.format, MakeHour(minute, h.extension, h.muxer));
        Measure(large.back().first.c_str(), large.back().second, 5);
    }
    std::string big, bigAvi;
    if (!std::getenv("BENCH_OPEN_BIG") || std::string(std::getenv("BENCH_OPEN_BIG")) != "0") {
        // 14 copies of the 20 s 70 Mbit/s clip: about 2.4 GB, 4 min 40 s.
        big = Concatenate(bench::MakeCameraClip(), 14, ".ts", "mpegts");
        large.emplace_back("4 min 40 s 1280x720 70 Mbit/s ts", big);
        Measure(large.back().first.c_str(), big);
        // An AVI file beyond a gigabyte: two RIFF parts, indexed by OpenDML indexes (about 1.5 GB).
        bigAvi = test::TempPath(".avi");
        const std::string command =
            "ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=1280x720:rate=25:duration=60 -f lavfi -i "
            "sine=sample_rate=48000:duration=60 -vf noise=alls=30:allf=t -c:v mpeg4 -q:v 2 -bf 2 -g 250 -c:a pcm_s16le "
            "-ac 2 " + test::ShellQuote(bigAvi);
        if (test::RunCommand(command) != 0) std::fprintf(stderr, "could not make %s\n", bigAvi.c_str());
        large.emplace_back("60 s 1280x720 MPEG-4 AVI in two RIFF parts", bigAvi);
        Measure(large.back().first.c_str(), bigAvi);
    }

    std::printf("\nopening in the window (the reader's open on its own thread, the window's thread answering)\n\n"
                "| file | time to ready (median) | first run | longest gap between 2 ms ticks |\n|---|---|---|---|\n");
    for (const auto& [name, path] : large) MeasureWindow(name.c_str(), path, programFolder);
    if (!big.empty()) std::filesystem::remove(big);
    if (!bigAvi.empty()) std::filesystem::remove(bigAvi);
    return 0;
}
