#pragma once
#include <cstdint>
#include <memory>
#include <vector>

struct AVFrame;

namespace trimora {

// One decoded video frame: a counted reference to the picture as the decoder produced it, with
// where the frame sits in its input. Copies share the picture, never copy its pixels, and no
// one writes to a picture once it is in a FrameData. Empty means no frame. The picture's size,
// pixel format and colours are its own (engine/FrameBuffer.h reads them).
class FrameData {
public:
    FrameData() = default;
    // `picture` is taken as it is; `source` names the opening of the input it comes from (0:
    // none, a frame not made by a reader).
    FrameData(std::shared_ptr<const AVFrame> picture, int32_t timeMs, int32_t frameNumber, uint32_t source)
        : picture_(std::move(picture)), timeMs_(timeMs), frameNumber_(frameNumber), source_(source) {}

    bool empty() const { return picture_ == nullptr; }
    void clear() { *this = FrameData(); }

    const AVFrame* Picture() const { return picture_.get(); }
    int32_t TimeMs() const { return timeMs_; }       // presentation time, from the start of the input
    int32_t FrameNumber() const { return frameNumber_; }  // counted from 1
    uint32_t Source() const { return source_; }

    // The frame's display interval on the input's time line in seconds, exact: the reader places
    // the sound's samples by the same times, so a writer can end the sound with the last frame to
    // the sample. Both 0 when not known (then TimeMs() and the frame rate tell).
    double StartSeconds() const { return startSeconds_; }
    double EndSeconds() const { return endSeconds_; }
    void SetSpan(double startSeconds, double endSeconds) {
        startSeconds_ = startSeconds;
        endSeconds_ = endSeconds;
    }

    // Whether both hold the very same picture (one is a copy of the other).
    bool SharesPictureWith(const FrameData& other) const { return picture_ && picture_ == other.picture_; }

private:
    std::shared_ptr<const AVFrame> picture_;
    int32_t timeMs_ = 0;
    int32_t frameNumber_ = 0;
    uint32_t source_ = 0;
    double startSeconds_ = 0;
    double endSeconds_ = 0;
};

// Interleaved signed 16-bit PCM at the input's sample rate and channel count, no header;
// empty means no more sound.
using AudioBlock = std::vector<uint8_t>;

// Container kinds passed to MediaFile::CreateOutputFile.
enum ContainerKind : int32_t { kContainerAvi = 1, kContainerMpeg = 2, kContainerWindowsMedia = 3 };

}  // namespace trimora
