#include "jobs/JobProgress.h"

#include <algorithm>
#include <limits>

#include "app/Arithmetic.h"

namespace trimora {

namespace {
template <typename Int>
Int SaturatingRound(double value) {
    const double low = std::numeric_limits<Int>::min();
    const double high = std::numeric_limits<Int>::max();
    return RoundTo<Int>(std::clamp(value, low, high));
}
}  // namespace

int16_t Percentage(int64_t done, int64_t total) {
    return SaturatingRound<int16_t>(Divide(static_cast<double>(done) * 100.0, static_cast<double>(total)));
}

int32_t SliderValueFor(int64_t position, int64_t duration, int32_t max) {
    return SaturatingRound<int32_t>(Divide(static_cast<double>(position), static_cast<double>(duration)) * max);
}

void CopyOneCycle(MediaFile& in, MediaFile& out, VideoView& preview, FrameData& frame, AudioBlock& audio,
                  CopyState& state) {
    if ((in.CurrentVideoPosition() <= in.CurrentAudioPosition() || state.audioFinished) && !state.videoFinished) {
        in.ReadNextVideoFrame(frame);
        if (frame.empty()) {
            state.videoFinished = true;
        } else {
            preview.ShowFrame(frame);
            out.AppendVideoFrame(frame);
        }
    }
    if ((in.CurrentVideoPosition() > in.CurrentAudioPosition() || state.videoFinished) && !state.audioFinished) {
        in.ReadNextAudioBlock(kJobAudioBlockSize, audio);
        if (audio.empty())
            state.audioFinished = true;
        else
            out.AppendAudioBlock(audio);
    }
}

void CopySoundToThePicture(MediaFile& in, MediaFile& out, AudioBlock& audio, CopyState& state) {
    // Both positions are rounded to whole milliseconds: only a sound position past the
    // picture's is sure to have reached it.
    while (!state.audioFinished && in.CurrentAudioPosition() <= in.CurrentVideoPosition()) {
        in.ReadNextAudioBlock(kJobAudioBlockSize, audio);
        if (audio.empty())
            state.audioFinished = true;
        else
            out.AppendAudioBlock(audio);
    }
}

}  // namespace trimora
