// The cut as the user runs it: a real main window on the real engine (offscreen, the preview
// drawn for every frame) cuts into AVI (MPEG-4 Part 2 + PCM), MPEG-2 and Windows Media, and the
// ffmpeg command re-encodes the same frames with the same codecs and bit rates in the same run.
// Two clips: a 20 s stretch of a stamped 720p H.264 clip, and the whole of a camera-like 720p
// clip at 70 Mbit/s. Prints each time, the ratio ffmpeg time / our time (above 1.0: we are
// faster), the CPU time and the peak memory of both. Run by hand:
//   bench_cut [stretch seconds]
//   bench_cut memory      (10 s of a 1080p clip to AVI: peak resident memory, ours and ffmpeg's)
// BENCH_CUT_CLIPS=stamped|camera runs one clip; BENCH_CUT_BUSY=1 keeps one core busy with a
// spinning process during every run, ours and ffmpeg's.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <utility>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CpuTime.h"
#include "app/frmMain.h"
#include "support/FakeEngine.h"
#include "support/TestClips.h"

namespace {

using namespace trimora;

constexpr int kFps = 25;
constexpr int kFirstFrame = 101;  // the stretch starts 4 s into the clip

// What is cut: the clip, the marks (frame numbers from 1), and the same as ffmpeg input options.
struct ClipCase {
    std::string label;
    std::string path;
    int first = 1, last = 1;
    std::string ffmpegInput;  // the options before and after -i that pick the same frames
};

bool Busy() { return std::getenv("BENCH_CUT_BUSY") && std::string(std::getenv("BENCH_CUT_BUSY")) != "0"; }

struct Target {
    const char* name;
    const char* extension;
    std::function<void(frmMain&)> choose;
    std::string ffmpegOptions;  // what the writer does for this choice, as ffmpeg options
};

using bench::BusyLoop;
using bench::CpuSeconds;
using bench::ThreadCpuSeconds;

// The machine's idle and total time so far (all cores, in clock ticks), from /proc/stat.
std::pair<long long, long long> MachineTicks() {
    FILE* stat = std::fopen("/proc/stat", "r");
    if (!stat) return {0, 0};
    long long v[8] = {};
    const int read = std::fscanf(stat, "cpu %lld %lld %lld %lld %lld %lld %lld %lld", &v[0], &v[1], &v[2], &v[3], &v[4],
                                 &v[5], &v[6], &v[7]);
    std::fclose(stat);
    if (read != 8) return {0, 0};
    long long total = 0;
    for (long long x : v) total += x;
    return {v[3] + v[4], total};
}

// The share of the machine's cores left idle between two readings.
double IdleShare(const std::pair<long long, long long>& before, const std::pair<long long, long long>& after) {
    const long long total = after.second - before.second;
    return total > 0 ? static_cast<double>(after.first - before.first) / static_cast<double>(total) : 0;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

long PeakKilobytes(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss;
}

// The process's peak resident memory since the last ResetPeak (VmHWM), in kB. The reset lowers
// getrusage's peak as well (both are the memory map's high-water mark until the process ends), so
// ProcessPeakKb keeps the largest of all.
long PeakSinceResetKb() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return PeakKilobytes(RUSAGE_SELF);
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmHWM: %ld", &kb) == 1) break;
    std::fclose(status);
    return kb;
}
long processPeakKb = 0;
long ProcessPeakKb() { return std::max(processPeakKb, PeakSinceResetKb()); }
void ResetPeak() {
    processPeakKb = ProcessPeakKb();
    if (FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
}

// The same copy without the window's share: the reader and the writer alone, interleaved as the
// job interleaves them, with no preview, marks, repaints or event processing.
double RunEngineOnly(const ClipCase& clip, const QString& programFolder, const Target& target,
                     const QString& output, double& cpu) {
    test::FakePlatform platform;
    const auto engine = CreateRealEngineFactory();
    frmMain window(*engine, platform, programFolder);
    window.Form_Load();
    window.OpenInputFile(QString::fromStdString(clip.path));
    if (!window.FileLoaded) return 0;
    target.choose(window);
    MediaFile& in = *window.VideoFileIn1;
    MediaFile& out = *window.VideoFileOut;
    const int last = clip.last;
    const double endTime = static_cast<double>(last) / in.NumberOfFrames() * in.VideoDuration();
    BusyLoop busy(Busy());
    QElapsedTimer clock;
    const double cpuBefore = CpuSeconds();
    const double threadBefore = ThreadCpuSeconds();
    clock.start();
    window.PrepareOutputFile(output);
    in.DecodeInBackground(true);  // as the job does
    in.SeekToFrame(clip.first);
    FrameData frame;
    AudioBlock audio;
    bool videoDone = false, audioDone = false;
    while (!(videoDone && audioDone)) {
        videoDone = videoDone || in.CurrentFrameNumber() >= last;
        audioDone = audioDone || in.CurrentAudioPosition() >= endTime;
        if (!videoDone && (in.CurrentVideoPosition() <= in.CurrentAudioPosition() || audioDone)) {
            in.ReadNextVideoFrame(frame);
            if (frame.empty()) videoDone = true;
            else out.AppendVideoFrame(frame);
        }
        if (!audioDone && (in.CurrentVideoPosition() > in.CurrentAudioPosition() || videoDone)) {
            in.ReadNextAudioBlock(2304, audio);
            if (audio.empty()) audioDone = true;
            else out.AppendAudioBlock(audio);
        }
    }
    out.Close();
    const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    cpu = CpuSeconds() - cpuBefore;
    std::fprintf(stderr, "  alone: calling thread's CPU %.2f s of %.2f s\n", ThreadCpuSeconds() - threadBefore, cpu);
    window.close();
    return elapsed;
}

// Where a cycle's time goes on the UI thread: the same steps as the job, each timed alone over
// `frames` frames of the stretch (reading, preview, repaints, moving the mark), without writing.
void Breakdown(const std::string& clip, const QString& programFolder, int frames) {
    test::FakePlatform platform;
    const auto engine = CreateRealEngineFactory();
    frmMain window(*engine, platform, programFolder);
    window.Form_Load();
    window.OpenInputFile(QString::fromStdString(clip));
    if (!window.FileLoaded) return;
    MediaFile& in = *window.VideoFileIn1;
    QElapsedTimer clock;
    auto measure = [&](const char* what, const std::function<void(int)>& step) {
        in.SeekToFrame(kFirstFrame);
        clock.start();
        for (int i = 0; i < frames; ++i) step(i);
        std::printf("| %s | %.2f ms |\n", what, static_cast<double>(clock.nsecsElapsed()) / 1e6 / frames);
    };
    std::printf("\n| step, per frame (%d frames) | time |\n|---|---|\n", frames);
    FrameData frame;
    AudioBlock audio;
    measure("read the next video frame", [&](int) { in.ReadNextVideoFrame(frame); });
    measure("read the next audio block (2304)", [&](int) { in.ReadNextAudioBlock(2304, audio); });
    in.ReadNextVideoFrame(window.FrameData_);
    measure("show the frame in the preview", [&](int) { window.VideoView1->ShowFrame(window.FrameData_); });
    measure("repaint the window", [&](int) { window.RepaintWindow(); });
    window.UpdatingSliders = true;
    measure("move the travelling mark (its handler repaints)",
            [&](int i) { window.SliderTimePosition1->SetValue(kFirstFrame + 1 + i); });
    window.UpdatingSliders = false;
    measure("process pending events", [&](int) { QCoreApplication::processEvents(); });
    window.close();
}

// Counts the paint events of each widget (by object name, else class) while it is installed.
class PaintCounter : public QObject {
public:
    std::map<std::string, int> counts;
    std::map<std::string, int> rects;  // of the widget BENCH_CUT_PAINT_RECTS names
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            const QString name = watched->objectName().isEmpty() ? QString(watched->metaObject()->className())
                                                                 : watched->objectName();
            ++counts[name.toStdString()];
            if (std::getenv("BENCH_CUT_PAINT_RECTS") && name == std::getenv("BENCH_CUT_PAINT_RECTS")) {
                const QRect r = static_cast<QPaintEvent*>(event)->rect();
                ++rects[std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
                        std::to_string(r.height())];
            }
        }
        return false;
    }
};

double RunOurs(const ClipCase& clip, const QString& programFolder, const Target& target, const QString& output,
               bool& ok, double& cpu) {
    test::FakePlatform platform;  // message boxes are recorded, never shown
    const auto engine = CreateRealEngineFactory();
    frmMain window(*engine, platform, programFolder);
    window.Form_Load();
    window.OpenInputFile(QString::fromStdString(clip.path));
    ok = window.FileLoaded;
    if (!ok) return 0;
    target.choose(window);
    window.SliderTimePosition1->SetValue(clip.first);
    window.SliderTimePosition2->SetValue(clip.last);
    window.EdOutFile->setText(output);
    platform.messages.clear();

    PaintCounter paints;
    if (std::getenv("BENCH_CUT_PAINTS")) qApp->installEventFilter(&paints);
    BusyLoop busy(Busy());
    QElapsedTimer clock;
    const double cpuBefore = CpuSeconds();
    const double threadBefore = ThreadCpuSeconds();
    const auto ticksBefore = MachineTicks();
    const bench::KernelShare kernelBefore = bench::KernelShareSoFar();
    clock.start();
    window.cmdCut->click();
    const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    cpu = CpuSeconds() - cpuBefore;
    const bench::KernelShare kernelAfter = bench::KernelShareSoFar();
    std::fprintf(stderr, "  ours: UI thread's CPU %.2f s of %.2f s (system %.2f s, %ld page faults), machine idle %.0f %%\n",
                 ThreadCpuSeconds() - threadBefore, cpu, kernelAfter.systemSeconds - kernelBefore.systemSeconds,
                 kernelAfter.faults - kernelBefore.faults, 100 * IdleShare(ticksBefore, MachineTicks()));
    qApp->removeEventFilter(&paints);
    for (const auto& [name, count] : paints.counts) std::fprintf(stderr, "  paints of %s: %d\n", name.c_str(), count);
    for (const auto& [rect, count] : paints.rects) std::fprintf(stderr, "    rect %s: %d\n", rect.c_str(), count);
    ok = platform.messages.size() == 1 && platform.messages[0].first == window.Messages[19];
    if (!ok)
        for (const auto& message : platform.messages) std::fprintf(stderr, "  message: %s\n", qPrintable(message.first));
    window.close();
    return elapsed;
}

// Runs the ffmpeg command under GNU time; gives its wall time, its peak memory (kB) and its CPU
// time (user + system, s).
double RunFfmpeg(const std::string& command, long& peakKb, double& cpu) {
    std::string output;
    BusyLoop busy(Busy());
    QElapsedTimer clock;
    clock.start();
    const int status = test::RunCommand("/usr/bin/time -f 'cpu %U %S peak %M faults %R' " + command + " 2>&1", &output);
    const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (status != 0) std::fprintf(stderr, "  ffmpeg failed (%d): %s\n%s", status, command.c_str(), output.c_str());
    const auto at = output.rfind("peak ");
    peakKb = at == std::string::npos ? 0 : std::atol(output.c_str() + at + 5);
    const auto cpuAt = output.rfind("cpu ");
    double user = 0, system = 0;
    if (cpuAt != std::string::npos) std::sscanf(output.c_str() + cpuAt, "cpu %lf %lf", &user, &system);
    cpu = user + system;
    const auto faultsAt = output.rfind("faults ");
    std::fprintf(stderr, "  ffmpeg: system %.2f s, %ld page faults\n", system,
                 faultsAt == std::string::npos ? 0L : std::atol(output.c_str() + faultsAt + 7));
    return elapsed;
}

const std::vector<Target>& Targets() {
    static const std::vector<Target> targets = {
        {"AVI (MPEG-4 Part 2 q3 + PCM)", "avi", [](frmMain&) {}, "-c:v mpeg4 -q:v 3 -c:a pcm_s16le -f avi"},
        {"MPEG-2 (1150 kbit/s + MP2 128 kbit/s)", "mpeg",
         [](frmMain& w) {
             w.cmdOptMPEG->click();
             w.rbMPEG2->setChecked(true);
             w.SelectRow(w.cmbFramerateMPEG, 2);  // 25.00, the clip's rate
         },
         "-c:v mpeg2video -b:v 1150k -maxrate 2300k -bufsize 1835008 -g 12 -bf 2 -c:a mp2 -b:a 128k -f vob"},
        {"Windows Media (WMV8 2000 kbit/s + WMA2 128 kbit/s)", "wmv", [](frmMain& w) { w.cmdOptWMV->click(); },
         "-c:v wmv2 -b:v 2000k -g 50 -c:a wmav2 -b:a 128k -f asf"},
    };
    return targets;
}

std::string FfmpegCommand(const ClipCase& clip, const Target& target, const std::string& output) {
    return "ffmpeg -v error -nostdin -y " + clip.ffmpegInput + " -r " + std::to_string(kFps) + " " +
           target.ffmpegOptions + " " + test::ShellQuote(output);
}

// Cuts `clip` into every target (or the one BENCH_CUT_TARGET names), ours and ffmpeg's taking
// turns, and prints the clip's table. False when a cut of ours failed.
bool RunClip(const ClipCase& clip, const QString& programFolder, const QString& tempPath, long& ffmpegPeak) {
    std::printf("\n%s: frames %d-%d\n\n", clip.label.c_str(), clip.first, clip.last);
    // The machine's other work moves single timings by 10 to 20 %: each figure is the median of
    // several runs, ours and ffmpeg's taking turns.
    const int runs = std::getenv("BENCH_CUT_RUNS") ? std::max(1, std::atoi(std::getenv("BENCH_CUT_RUNS"))) : 3;
    std::printf("median of %d runs each, taking turns%s\n\n", runs,
                Busy() ? ", one core kept busy by a spinning process during every run" : "");
    std::printf("| output | Trimora | ffmpeg | ratio (ffmpeg / Trimora) | reader + writer alone | CPU Trimora / ffmpeg / alone | peak memory Trimora / ffmpeg |\n"
                "|---|---|---|---|---|---|---|\n");
    bool allOk = true;
    const bool onlyOurs = std::getenv("BENCH_CUT_ONLY_OURS") != nullptr;
    const bool onlyEngine = std::getenv("BENCH_CUT_ONLY_ENGINE") != nullptr;
    const char* only = std::getenv("BENCH_CUT_TARGET");  // an extension: avi, mpeg or wmv
    for (const Target& target : Targets()) {
        if (only && std::string(only) != target.extension) continue;
        const QString ours = tempPath + "/ours." + target.extension;
        const QString engineOutput = tempPath + "/engine." + target.extension;
        const std::string command =
            FfmpegCommand(clip, target, tempPath.toStdString() + "/ffmpeg." + target.extension);
        std::vector<double> ourTimes, ourCpus, ffmpegTimes, ffmpegCpus, engineTimes, engineCpus, ratios;
        long ourPeak = 0, targetFfmpegPeak = 0;
        if (onlyEngine) {
            for (int run = 0; run < runs; ++run) {
                double engineCpu = 0;
                engineTimes.push_back(RunEngineOnly(clip, programFolder, target, engineOutput, engineCpu));
                engineCpus.push_back(engineCpu);
            }
            std::printf("| %s | reader + writer alone %.2f s (CPU %.2f s) |\n", target.name, Median(engineTimes),
                        Median(engineCpus));
            continue;
        }
        for (int run = 0; run < runs; ++run) {
            bool ok = false;
            double ourCpu = 0;
            ResetPeak();
            ourTimes.push_back(RunOurs(clip, programFolder, target, ours, ok, ourCpu));
            ourPeak = std::max(ourPeak, PeakSinceResetKb());
            ourCpus.push_back(ourCpu);
            allOk = allOk && ok;
            if (onlyOurs) continue;
            long ffmpegPeakKb = 0;
            double ffmpegCpu = 0;
            ffmpegTimes.push_back(RunFfmpeg(command, ffmpegPeakKb, ffmpegCpu));
            ffmpegCpus.push_back(ffmpegCpu);
            targetFfmpegPeak = std::max(targetFfmpegPeak, ffmpegPeakKb);
            ratios.push_back(ffmpegTimes.back() / ourTimes.back());
            double engineCpu = 0;
            engineTimes.push_back(RunEngineOnly(clip, programFolder, target, engineOutput, engineCpu));
            engineCpus.push_back(engineCpu);
        }
        ffmpegPeak = std::max(ffmpegPeak, targetFfmpegPeak);
        if (onlyOurs) {
            std::printf("| %s | %.2f s (CPU %.2f s, peak %.0f MB) |\n", target.name, Median(ourTimes),
                        Median(ourCpus), ourPeak / 1024.0);
            continue;
        }
        std::printf("| %s | %.2f s | %.2f s | %.2f | %.2f s | %.2f s / %.2f s / %.2f s | %.0f MB / %.0f MB |\n",
                    target.name, Median(ourTimes), Median(ffmpegTimes), Median(ratios), Median(engineTimes),
                    Median(ourCpus), Median(ffmpegCpus), Median(engineCpus), ourPeak / 1024.0,
                    targetFfmpegPeak / 1024.0);
        std::fprintf(stderr, "  %s\n  ratios:", command.c_str());
        for (double ratio : ratios) std::fprintf(stderr, " %.2f", ratio);
        std::fprintf(stderr, "\n");
        std::fflush(stdout);
    }
    return allOk;
}

// 10 s of a 1080p H.264 clip (250-frame groups) cut to AVI once by the window and once by
// ffmpeg, each alone: the peak resident memory of each process.
int MemoryMode(const QString& programFolder, const QString& tempPath) {
    test::ClipSpec spec;
    spec.format = "mp4";
    spec.width = 1920;
    spec.height = 1080;
    spec.frames = 14 * kFps;
    spec.gop = 250;
    std::fprintf(stderr, "making the 14 s 1080p H.264 clip...\n");
    const std::string path = test::MakeClip(spec);
    const ClipCase clip{"10 s of a 1920x1080 25 fps H.264 + AAC clip (group 250)", path, kFirstFrame,
                        kFirstFrame + 10 * kFps - 1,
                        "-ss " + std::to_string((kFirstFrame - 1) / kFps) + " -i " + test::ShellQuote(path) + " -t 10"};
    const Target& avi = Targets().front();
    const long before = PeakKilobytes(RUSAGE_SELF);
    bool ok = false;
    double cpu = 0, ffmpegCpu = 0;
    const double ours = RunOurs(clip, programFolder, avi, tempPath + "/memory.avi", ok, cpu);
    const long ourPeak = PeakKilobytes(RUSAGE_SELF);
    long ffmpegPeak = 0;
    const std::string command = FfmpegCommand(clip, avi, tempPath.toStdString() + "/memory-ffmpeg.avi");
    const double ffmpeg = RunFfmpeg(command, ffmpegPeak, ffmpegCpu);
    std::printf("%s (%.1f Mbit/s), frames %d-%d, to %s\n\n", clip.label.c_str(), bench::BitRateMbps(clip.path),
                clip.first, clip.last, avi.name);
    std::printf("| | peak resident memory | time | CPU |\n|---|---|---|---|\n");
    std::printf("| Trimora (getrusage; %.0f MB before the cut) | %.0f MB | %.2f s | %.2f s |\n", before / 1024.0,
                ourPeak / 1024.0, ours, cpu);
    std::printf("| ffmpeg (GNU time %%M) | %.0f MB | %.2f s | %.2f s |\n", ffmpegPeak / 1024.0, ffmpeg, ffmpegCpu);
    std::fprintf(stderr, "  %s\n", command.c_str());
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    bench::DefaultToOffscreen();
    QApplication app(argc, argv);
    QTemporaryDir temp;
    const QString programFolder = bench::PrepareProgramFolder(temp);
    if (argc > 1 && std::string(argv[1]) == "memory") return MemoryMode(programFolder, temp.path());
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const std::string clips = std::getenv("BENCH_CUT_CLIPS") ? std::getenv("BENCH_CUT_CLIPS") : "stamped,camera";

    std::vector<ClipCase> cases;
    std::string stamped;
    if (clips.find("stamped") != std::string::npos) {
        test::ClipSpec spec;
        spec.format = "mp4";  // H.264 + AAC
        spec.width = 1280;
        spec.height = 720;
        spec.frames = (seconds + 8) * kFps;
        spec.gop = 250;
        std::fprintf(stderr, "making the %d s 720p H.264 clip...\n", seconds + 8);
        stamped = test::MakeClip(spec);
        cases.push_back({"cut of " + std::to_string(seconds) + " s of a 1280x720 25 fps H.264 + AAC clip", stamped,
                         kFirstFrame, kFirstFrame + seconds * kFps - 1,
                         "-ss " + std::to_string((kFirstFrame - 1) / kFps) + " -i " + test::ShellQuote(stamped) +
                             " -t " + std::to_string(seconds)});
    }
    if (clips.find("camera") != std::string::npos) {
        const std::string camera = bench::MakeCameraClip();
        char label[160];
        std::snprintf(label, sizeof label,
                      "whole file: 20 s camera-like 1280x720 25 fps H.264 (%.0f Mbit/s, picture noise, group 250) + AAC",
                      bench::BitRateMbps(camera));
        cases.push_back({label, camera, 1, bench::kCameraSeconds * bench::kCameraFps,
                         "-i " + test::ShellQuote(camera)});
    }
    const long peakBeforeKb = PeakKilobytes(RUSAGE_SELF);

    bool allOk = true;
    long ffmpegPeak = 0;
    for (const ClipCase& clip : cases) allOk = RunClip(clip, programFolder, temp.path(), ffmpegPeak) && allOk;
    if (std::getenv("BENCH_CUT_BREAKDOWN") && !stamped.empty()) Breakdown(stamped, programFolder, 100);
    std::printf("\npeak memory: Trimora process %.0f MB (%.0f MB before the cuts), ffmpeg %.0f MB\n",
                ProcessPeakKb() / 1024.0, peakBeforeKb / 1024.0, ffmpegPeak / 1024.0);
    return allOk ? 0 : 1;
}
