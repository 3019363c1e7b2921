#pragma once
// What the window benchmarks share: a program folder for a real main window (its language file
// and skin, settings and registry kept in a temporary folder), the camera-like clip, and a busy
// loop standing for another program on the machine.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/TestClips.h"

namespace trimora::bench {

// The window runs offscreen and plays into the dummy sound driver unless the environment says
// otherwise; called before the application object is made.
inline void DefaultToOffscreen() {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!std::getenv("SDL_AUDIODRIVER")) setenv("SDL_AUDIODRIVER", "dummy", 1);
}

// Points the settings and the registry into `temp` and gives a program folder holding the
// English language file and the skin.
inline QString PrepareProgramFolder(const QTemporaryDir& temp) {
    setenv("TRIMORA_REGISTRY_DIR", (temp.path() + "/registry").toUtf8().constData(), 1);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, temp.path() + "/settings");
    const QString programFolder = temp.path() + "/program";
    QDir().mkpath(programFolder + "/Languages");
    QFile::copy(QString(TRIMORA_SOURCE_DIR) + "/resources/Languages/English.ini",
                programFolder + "/Languages/English.ini");
    QFile::copy(QString(TRIMORA_BIN_DIR) + "/trimora.skn", programFolder + "/trimora.skn");
    return programFolder;
}

// The whole-file bit rate ffprobe reports, in Mbit/s (0 when it cannot tell).
inline double BitRateMbps(const std::string& path) {
    std::string output;
    test::RunCommand("ffprobe -v error -show_entries format=bit_rate -of csv=p=0 " + test::ShellQuote(path), &output);
    return std::atof(output.c_str()) / 1e6;
}

constexpr int kCameraSeconds = 20;
constexpr int kCameraFps = 25;

// A clip that costs as much to decode as a camera's: 20 s of 1280x720 25 fps H.264 at about
// 70 Mbit/s, the bit rate spent on picture noise that changes in every frame, 250-frame groups
// with the B-frames x264 chooses, AAC stereo 48 kHz in MP4. Made once and kept in the clip cache.
// `stamped`: the pictures are the test clip generator's stamped ones under the same noise (the
// stamps stay readable), so that a bench can check every frame it is given.
inline std::string MakeCameraClip(bool stamped = false) {
    const std::string pictures = stamped ? test::TempPath(".y4m") : std::string();
    const std::string source = stamped ? "-i " + test::ShellQuote(pictures) + " "
                                       : "-f lavfi -i testsrc2=size=1280x720:rate=25:duration=20 ";
    const std::string command =
        "ffmpeg -v error -nostdin -y " + source +
        "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=20 -vf noise=alls=40:allf=t "
        "-c:v libx264 -preset veryfast -b:v 70M -maxrate 70M -bufsize 70M -g 250 -keyint_min 250 "
        "-sc_threshold 0 -pix_fmt yuv420p -c:a aac -ac 2 -b:a 192k -f mp4 ";
    const std::string key = std::string(stamped ? "bench stamped camera clip|" : "bench camera clip|") +
                            (stamped ? command.substr(command.find("-f lavfi -i sine")) : command);
    const std::string clip = test::CachedMedia(key, ".mp4", [&](const std::string& path) {
        std::fprintf(stderr, "making the 20 s 720p camera-like clip (70 Mbit/s)...\n");
        if (stamped) test::WriteStampedY4m(pictures, 1280, 720, kCameraFps, kCameraSeconds * kCameraFps);
        if (test::RunCommand(command + test::ShellQuote(path)) != 0)
            std::fprintf(stderr, "could not make the camera clip\n");
        if (stamped) std::remove(pictures.c_str());
    });
    const double mbps = BitRateMbps(clip);
    std::fprintf(stderr, "camera clip %s: %.1f Mbit/s%s\n", clip.c_str(), mbps,
                 mbps < 60 || mbps > 80 ? " (OUTSIDE 60-80 Mbit/s)" : "");
    return clip;
}

// One process spinning on a core from Start until Stop (or the end of the scope).
class BusyLoop {
public:
    explicit BusyLoop(bool wanted) {
        if (!wanted) return;
        child_ = fork();
        if (child_ == 0) {
            volatile unsigned long spin = 0;
            for (;;) spin = spin + 1;
        }
    }
    ~BusyLoop() {
        if (child_ <= 0) return;
        kill(child_, SIGKILL);
        waitpid(child_, nullptr, 0);
    }
    BusyLoop(const BusyLoop&) = delete;
    BusyLoop& operator=(const BusyLoop&) = delete;

private:
    pid_t child_ = -1;
};

}  // namespace trimora::bench
