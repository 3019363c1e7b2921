// How long the preview takes to show one decoded frame: converting a full HD yuv420p frame to the
// preview's size and repainting the widget, as playback does for every frame. Run by hand:
//   bench_preview_draw [iterations]
#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "engine/view/PreviewWidget.h"
#include "support/TestClips.h"

namespace {

struct Figures {
    double median = 0;
    double p95 = 0;
};

Figures Measure(int iterations, const std::function<void(int)>& step) {
    for (int i = 0; i < 10; ++i) step(i);  // warm caches and the converter
    std::vector<double> ms;
    ms.reserve(static_cast<size_t>(iterations));
    for (int i = 0; i < iterations; ++i) {
        const auto start = std::chrono::steady_clock::now();
        step(i);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 95 / 100)]};
}

void Report(const char* what, const Figures& f) {
    std::printf("%-48s median %6.2f ms   p95 %6.2f ms\n", what, f.median, f.p95);
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int iterations = argc > 1 ? std::max(20, std::atoi(argv[1])) : 300;

    // Distinct frames, so that no frame is recognised as the one already on screen.
    std::vector<trimora::FrameData> frames;
    for (int i = 0; i < 8; ++i) frames.push_back(trimora::test::MakeStampedFrame(1920, 1080, i + 1, i * 40));

    trimora::PreviewWidget widget;
    widget.resize(640, 360);
    widget.show();
    QApplication::processEvents();

    auto showAndRepaint = [&](int i) {
        widget.ShowFrame(frames[static_cast<size_t>(i) % frames.size()]);
        widget.repaint();
    };

    std::printf("1920x1080 yuv420p into a 640x360 preview, %d iterations\n", iterations);
    widget.SetSizeMode(-1);
    Report("show + repaint, zoom to fit (640x360)", Measure(iterations, showAndRepaint));
    widget.PrepareForPlayback(1920, 1080);
    Report("show + repaint, zoom to fit, after prepare", Measure(iterations, showAndRepaint));
    widget.PlaybackEnded();
    widget.SetSizeMode(8);
    Report("show + repaint, scale 8 (cropped to 640x360)", Measure(iterations, showAndRepaint));
    widget.SetSizeMode(-1);
    Report("same frame again + repaint (window repaint)", Measure(iterations, [&](int) {
               widget.ShowFrame(frames[0]);
               widget.repaint();
           }));
    Report("first frame after playback ended (new converter)", Measure(iterations, [&](int i) {
               widget.PlaybackEnded();
               showAndRepaint(i);
           }));
    return 0;
}
