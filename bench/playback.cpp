// Playback as the user gets it: a real main window on the real engine plays a long-GOP H.264
// clip from its start with the real tick clock and a sound device, and we record how many frames
// it dropped, how far the picture is from the sound, and the CPU time it used. Run by hand:
//   bench_playback [seconds] [720p|1080p|camera|all]
// (camera: the 20 s camera-like clip of 70 Mbit/s, which costs what a camera's file costs to
// decode; it plays for at most 19 s.)
// The sound goes to SDL's disk driver (into a temporary file) unless SDL_AUDIODRIVER says
// otherwise; the window runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CpuTime.h"
#include "app/frmMain.h"
#include "engine/FrameBuffer.h"
#include "support/FakeEngine.h"
#include "support/TestClips.h"

namespace {

using namespace trimora;

// The desktop of the tests (message boxes are recorded, never shown) with the real clock.
class ClockPlatform : public test::FakePlatform {
public:
    ClockPlatform() { clock_.start(); }
    uint32_t TickCount() override { return static_cast<uint32_t>(clock_.elapsed()) + 1000; }

private:
    QElapsedTimer clock_;
};

using bench::CpuSeconds;
using bench::ThreadCpuSeconds;

struct Spread {
    double mean = 0, max = 0;  // max: the largest distance from 0 either way
    double over = 0;           // share of values farther from 0 than the limit
    void Of(const std::vector<double>& values, double limit) {
        for (double v : values) {
            mean += v;
            max = std::max(max, std::abs(v));
            if (std::abs(v) > limit) over += 1;
        }
        if (!values.empty()) {
            mean /= static_cast<double>(values.size());
            over /= static_cast<double>(values.size());
        }
    }
};

struct Result {
    int framesShown = 0;
    int framesDropped = 0;  // frames read and thrown away to catch up (the drop notifications' sum)
    std::vector<int> dropsAt;  // the frame shown after each drop
    Spread soundOffset;     // sound the device has taken minus the shown frame's time, ms
    Spread pictureLag;      // the tick clock (from the start position) minus the shown frame's time, ms
    double soundDrift = 0;  // at the end: the sound's position minus the tick clock's, ms
    double deviceRate = 1;  // how fast the device takes sound against the tick clock
    Spread steadyOffset;    // the sound offset with the device's own clock error taken out
    double limit = 0;       // a frame period plus a tick, ms
    double uiMsPerFrame = 0;  // UI-thread CPU time per shown frame, ms
    double cpuCores = 0;    // process CPU time / wall time
    double seconds = 0;
    int messages = 0;
};

Result Play(const std::string& clip, const QString& programFolder, int seconds) {
    ClockPlatform platform;
    const auto engine = CreateRealEngineFactory();
    frmMain window(*engine, platform, programFolder);
    window.Form_Load();
    if (window.NoAudioOutput) std::fprintf(stderr, "no sound device: pictures only\n");
    window.OpenInputFile(QString::fromStdString(clip));
    Result result;
    if (!window.FileLoaded) {
        result.messages = static_cast<int>(platform.messages.size());
        return result;
    }
    const double frameRate = window.VideoFileIn1->FrameRate();
    const double bytesPerMs = window.VideoFileIn1->SampleRate() * window.VideoFileIn1->Channels() * 2 / 1000.0;

    int lastNumber = 0;
    std::vector<double> soundOffsets, pictureLags, soundClocks, soundPositions, soundFrames;
    int32_t startMs = 0;
    double lastSoundMs = 0, lastClockMs = 0;
    // Runs right after each Timer1 tick of the window.
    QObject::connect(window.Timer1, &QTimer::timeout, &window, [&] {
        const auto frame = ViewFrame(window.FrameData_);
        if (!frame || frame->header.frameNumber == lastNumber) return;
        if (lastNumber > 0 && frame->header.frameNumber > lastNumber + 1) {
            result.framesDropped += frame->header.frameNumber - lastNumber - 1;
            result.dropsAt.push_back(frame->header.frameNumber);
        }
        lastNumber = frame->header.frameNumber;
        ++result.framesShown;
        const auto sinceStart = static_cast<int32_t>(platform.TickCount() - static_cast<uint32_t>(window.PlayStartTick));
        const double clockMs = startMs + static_cast<double>(sinceStart);
        pictureLags.push_back(clockMs - frame->header.timeMs);
        if (bytesPerMs > 0 && window.Playing) {
            const double soundMs = startMs + static_cast<double>(window.AudioPlayer_->PlayedCounter()) / bytesPerMs;
            soundOffsets.push_back(soundMs - frame->header.timeMs);
            soundClocks.push_back(clockMs);
            soundPositions.push_back(soundMs);
            soundFrames.push_back(frame->header.timeMs);
            lastSoundMs = soundMs;
            lastClockMs = clockMs;
        }
    });

    const double cpuBefore = CpuSeconds();
    const double uiBefore = ThreadCpuSeconds() * 1000.0;
    QElapsedTimer wall;
    wall.start();
    startMs = window.PlayPosition[1];
    lastNumber = window.SliderTimePosition1->Value();
    window.cmdPlayStop->click();
    while (window.Playing && wall.elapsed() < seconds * 1000LL) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (window.Playing) window.cmdPlayStop->click();
    result.seconds = static_cast<double>(wall.elapsed()) / 1000.0;
    result.cpuCores = (CpuSeconds() - cpuBefore) / result.seconds;
    if (result.framesShown > 0) result.uiMsPerFrame = (ThreadCpuSeconds() * 1000.0 - uiBefore) / result.framesShown;

    result.limit = 1000.0 / frameRate + window.Timer1->interval();
    result.soundOffset.Of(soundOffsets, result.limit);
    result.pictureLag.Of(pictureLags, result.limit);
    result.soundDrift = lastSoundMs - lastClockMs;
    // The disk and dummy drivers pace themselves with whole-millisecond sleeps, so their clock
    // runs off the tick clock by a steady rate (42 ms of sleep for 42.67 ms of sound); a real
    // device has its own small rate error. Taking the rate out leaves what playback controls.
    if (soundClocks.size() > 2 && soundClocks.back() > soundClocks.front()) {
        result.deviceRate =
            (soundPositions.back() - soundPositions.front()) / (soundClocks.back() - soundClocks.front());
        std::vector<double> steady;
        for (size_t i = 0; i < soundClocks.size(); ++i)
            steady.push_back(soundPositions[i] - (result.deviceRate - 1) * (soundClocks[i] - soundClocks.front()) -
                             soundFrames[i]);
        result.steadyOffset.Of(steady, result.limit);
    }
    result.messages = static_cast<int>(platform.messages.size());
    window.close();
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir temp;
    if (!std::getenv("SDL_AUDIODRIVER")) {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", (temp.path() + "/device.raw").toUtf8().constData(), 1);
    }
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    const std::string which = argc > 2 ? argv[2] : "all";

    const QString programFolder = temp.path() + "/program";
    QDir().mkpath(programFolder + "/Languages");
    for (const char* file : {"English.ini", "English.bmp"})
        QFile::copy(QString(TRIMORA_SOURCE_DIR) + "/resources/Languages/" + file, programFolder + "/Languages/" + file);
    setenv("TRIMORA_REGISTRY_DIR", (temp.path() + "/registry").toUtf8().constData(), 1);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, temp.path() + "/settings");

    struct Case {
        const char* name;
        int width, height;
        bool camera;
    };
    const Case cases[] = {{"720p", 1280, 720, false}, {"1080p", 1920, 1080, false}, {"camera", 1280, 720, true}};
    double load[1] = {0};
    getloadavg(load, 1);
    std::printf("load average at the start: %.2f\n", load[0]);
    for (const Case& c : cases) {
        if (which != "all" && which != c.name) continue;
        test::ClipSpec spec;
        spec.format = "mp4";  // H.264 and AAC
        spec.width = c.width;
        spec.height = c.height;
        spec.frames = (seconds + 1) * 25;
        spec.gop = 250;
        // BENCH_PLAYBACK_RATE=32000 gives the disk driver whole-millisecond buffers (1024 frames,
        // 32 ms), so its clock keeps time with the tick clock and the raw offset needs no
        // correction; at 48 kHz (the default) its buffers last 42.67 ms and it sleeps 42.
        if (const char* rate = std::getenv("BENCH_PLAYBACK_RATE")) spec.sampleRate = std::atoi(rate);
        std::fprintf(stderr, "making the %s clip...\n", c.name);
        if (c.camera) spec.sampleRate = 48000;
        const std::string clip = c.camera ? bench::MakeCameraClip() : test::MakeClip(spec);
        const Result r =
            Play(clip, programFolder, c.camera ? std::min(seconds, bench::kCameraSeconds - 1) : seconds);
        std::printf("%s, sound at %d Hz: %d frames shown in %.1f s, %d dropped%s\n", c.name, spec.sampleRate,
                    r.framesShown, r.seconds, r.framesDropped, r.messages ? " (the window reported an error)" : "");
        if (!r.dropsAt.empty()) {
            std::printf("  drops before frames:");
            for (int at : r.dropsAt) std::printf(" %d", at);
            std::printf("\n");
        }
        std::printf("  sound offset (device minus frame): mean %.1f ms, max %.1f ms, %.1f%% beyond %.0f ms\n",
                    r.soundOffset.mean, r.soundOffset.max, 100 * r.soundOffset.over, r.limit);
        std::printf("  picture lag (tick clock minus frame): mean %.1f ms, max %.1f ms, %.1f%% beyond %.0f ms\n",
                    r.pictureLag.mean, r.pictureLag.max, 100 * r.pictureLag.over, r.limit);
        std::printf("  sound position minus tick clock at the end: %.1f ms (device clock rate %.4f)\n",
                    r.soundDrift, r.deviceRate);
        std::printf("  sound offset without the device's rate error: mean %.1f ms, max %.1f ms, %.1f%% beyond %.0f ms\n",
                    r.steadyOffset.mean, r.steadyOffset.max, 100 * r.steadyOffset.over, r.limit);
        std::printf("  CPU: %.2f cores for the process, %.2f ms on the UI thread per shown frame\n", r.cpuCores,
                    r.uiMsPerFrame);
        std::fflush(stdout);
    }
    return 0;
}
