#pragma once
// The progress arithmetic of the cut and the split. Sums and products are formed in 64 bits,
// so inputs of many hours never overflow; a total of zero is an error, as for any division.
#include <cstdint>

#include "engine/MediaFile.h"
#include "engine/VideoView.h"

namespace trimora {

// The sound block size the jobs ask the reader for, in sample frames.
inline constexpr int32_t kJobAudioBlockSize = 2304;

// Where a job's copy stands: which streams have run out.
struct CopyState {
    bool videoFinished = false;
    bool audioFinished = false;
};

// One cycle of a job's copy: a video frame when the picture is not ahead of the sound (or the
// sound is finished), then a sound block when the picture is ahead (or finished). Each frame is
// shown in the preview before it is written. A stream that delivers nothing is finished.
void CopyOneCycle(MediaFile& in, MediaFile& out, VideoView& preview, FrameData& frame, AudioBlock& audio,
                  CopyState& state);

// Copies sound blocks until the sound has passed the end of the picture read last (the writer
// leaves out what runs past the picture's end), so a file closed now holds all of its sound.
void CopySoundToThePicture(MediaFile& in, MediaFile& out, AudioBlock& audio, CopyState& state);

// done × 100 ÷ total, rounded to the nearest integer with halves to even. Results beyond the
// 16-bit range saturate (the callers clamp to 0..100 anyway).
int16_t Percentage(int64_t done, int64_t total);

// The value that shows `position` of `duration` on a slider whose maximum is `max`, rounded
// halves to even (saturating at the 32-bit range).
int32_t SliderValueFor(int64_t position, int64_t duration, int32_t max);

}  // namespace trimora
