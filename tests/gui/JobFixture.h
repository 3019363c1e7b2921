#pragma once
// A window with an input open on the scripted engine, plus ways to act in the middle of a job
// (between two of its cycles, as a user's click would) and to watch the sliders move.
#include <QCoreApplication>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "support/WindowFixture.h"

namespace trimora::test {

class JobFixture : public WindowFixture {
protected:
    // Starts the window and opens an input of `frames` frames lasting `durationMs`.
    void LoadAndOpen(int frames = 100, int durationMs = 4000, bool audio = true) {
        engine.setUpFile = [=](FakeMediaFile& file) {
            file.numberOfFrames = frames;
            file.videoDuration = durationMs;
            file.hasAudio = audio;
            file.audioDuration = audio ? durationMs : 0;
            file.sampleRate = audio ? 48000 : 0;
            file.channels = audio ? 2 : 0;
            file.audioFormatName = audio ? "Fake PCM" : "";
        };
        Load();
        Open();
        ASSERT_TRUE(window->FileLoaded);
        platform.messages.clear();
    }

    // An input of about three hours (11,000,000 ms) in `frames` frames: positions in ms and their
    // sums pass what 32-bit arithmetic times 100 can hold. Long sound blocks keep the job short.
    void UseThreeHourInput(int frames) {
        engine.setUpFile = [frames](FakeMediaFile& file) {
            file.numberOfFrames = frames;
            file.videoDuration = 11000000;
            file.audioDuration = 11000000;
            file.sampleRate = 8;
            file.channels = 1;
        };
    }

    // Puts the marks where the user would have dragged them.
    void SetMarks(int mark1, int mark2) {
        window->SliderTimePosition1->SetValue(mark1);
        window->SliderTimePosition2->SetValue(mark2);
    }

    // Runs `action` once between two cycles of the job that is about to start, as soon as `when`
    // holds.
    void During(std::function<bool()> when, std::function<void()> action) {
        auto timer = std::make_shared<QTimer>();
        timer->setInterval(0);
        QObject::connect(timer.get(), &QTimer::timeout, [this, t = timer.get(), when, action] {
            if (!when()) return;
            t->stop();
            action();
        });
        timer->start();
        timers_.push_back(timer);
    }
    // Cancels the job once the reader has delivered frame `frame`.
    void CancelAtFrame(int frame) {
        During([this, frame] { return reader().currentFrame >= frame; }, [this] { window->cmdCancel->click(); });
    }

    // Records every value a slider takes (its change handler still runs).
    std::vector<int>& Watch(Slider* slider) {
        auto values = std::make_shared<std::vector<int>>();
        auto original = slider->OnChange;
        slider->OnChange = [slider, values, original] {
            values->push_back(slider->Value());
            if (original) original();
        };
        watched_.push_back(values);
        return *values;
    }

    // The frames appended to the writer, split at each CreateOutputFile: one list per file.
    std::vector<std::vector<int>> FramesPerFile() const {
        std::vector<std::vector<int>> files;
        for (const auto& call : engine.log.calls) {
            if (call.rfind("out.CreateOutputFile(", 0) == 0) files.emplace_back();
            const std::string append = "out.AppendVideoFrame(";
            if (call.rfind(append, 0) == 0 && !files.empty())
                files.back().push_back(std::stoi(call.substr(append.size())));
        }
        return files;
    }

    static std::vector<int> Range(int first, int last) {
        std::vector<int> frames;
        for (int i = first; i <= last; ++i) frames.push_back(i);
        return frames;
    }

    QString Message(int index) const { return window->Messages[static_cast<size_t>(index)]; }

    void TearDown() override {
        timers_.clear();
        WindowFixture::TearDown();
    }

private:
    std::vector<std::shared_ptr<QTimer>> timers_;
    std::vector<std::shared_ptr<std::vector<int>>> watched_;
};

}  // namespace trimora::test
