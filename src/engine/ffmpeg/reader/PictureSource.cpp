#include "engine/ffmpeg/reader/PictureSource.h"

#include <algorithm>
#include <utility>

#include "engine/EngineError.h"

namespace trimora {

namespace {

// Enough for a few seconds of 1080p pictures; together with the decoder's own frames it keeps
// the reader well inside a few hundred megabytes.
// The frames reached by the latest seeks (the marks' frames, as they are shown when set) are
// kept apart from the frames read since: going back to a mark after reading on, as the end
// of a job does, costs no decoding from the keyframe.
constexpr size_t kLandingBytes = 16u << 20;
// Decoding this many frames forward is taken to cost about as much as a seek.
constexpr int32_t kSeekCostFrames = 8;
// Frames before a seek's target kept for later: a few after a jump, as many as fit while the
// user steps backwards (each step back would otherwise decode from the keyframe again).
constexpr int32_t kFramesKeptAfterJump = 2;
// Frames read in order are kept only for a step or two back. Keeping more would hold on to the
// decoder's pictures, so that its pool grows by a new picture for every frame read (a cut or a
// playback would cycle through a hundred megabytes instead of a few pictures that stay in the
// processor's cache); stepping back further decodes from the keyframe once and keeps the frames
// on the way in the cache.
constexpr size_t kRecentFrames = 4;

}  // namespace

PictureSource::PictureSource(size_t cacheBytes, Publish publish)
    : publish_(std::move(publish)), cache_(cacheBytes), recent_(cacheBytes, kRecentFrames), landings_(kLandingBytes) {}

void PictureSource::Open(ff::InputContextPtr input, int streamIndex, const FrameIndex* index, size_t pictureBytes) {
    Close();
    index_ = index;
    pictureBytes_ = pictureBytes;
    video_.Open(std::move(input), streamIndex, index);
}

void PictureSource::Close() {
    video_.Close();
    cache_.Clear();
    recent_.Clear();
    landings_.Clear();
    held_.reset();
    lastDelivered_ = 0;
}

bool PictureSource::TakeKept(int32_t wanted, bool landing, FrameData* out) {
    const AVFrame* kept = cache_.Find(wanted);
    if (!kept) kept = recent_.Find(wanted);
    if (kept && landing && !landings_.Find(wanted)) landings_.Store(wanted, *kept);
    if (!kept) kept = landings_.Find(wanted);
    if (!kept) return false;
    if (out) *out = publish_(*kept, wanted);
    lastDelivered_ = wanted;
    return true;
}

void PictureSource::Adopt(int32_t number, const AVFrame& picture, double cpuSeconds) {
    FrameData handedOut;
    Deliver(number, picture, false, &handedOut);
    if (!video_.Started()) video_.NoteFirstPicture(cpuSeconds);
}

bool PictureSource::DecodeForwardIsCheaper(int32_t wanted) const {
    if (!video_.Started()) return false;
    const int32_t next = video_.ExpectedNext();
    if (next > wanted) return false;
    // The picture wanted is decoded already.
    if (next == wanted && video_.PictureWaiting()) return true;
    const int32_t groupStart = std::max(1, index_->FrameOfPacket(index_->StartPacketFor(wanted)));
    // A decoder that has found its pictures worth its threads starts again with them where that
    // costs no more than a seek (a file read on from its first frame would never start again).
    if (video_.WantsThreads() && wanted - groupStart <= kSeekCostFrames) return false;
    return wanted - next <= wanted - groupStart + kSeekCostFrames;
}

int32_t PictureSource::DecodeUntil(int32_t wanted, bool dropping, bool landing, FrameData* out) {
    if (!DecodeForwardIsCheaper(wanted)) StartDecodingAt(index_->StartPacketFor(wanted));
    // Frames decoded on the way to the target are kept in the cache: stepping back from the
    // target asks for them next.
    const bool steppingBack = wanted < lastDelivered_ && wanted >= lastDelivered_ - 3;
    const int32_t keep = steppingBack ? static_cast<int32_t>(std::min<size_t>(cache_.Capacity(pictureBytes_), 100000))
                                      : kFramesKeptAfterJump;
    // Pictures before the ones kept are neither shown nor kept: the decoder may skip those that
    // nothing else refers to (a drop has announced its own range already).
    if (!dropping) video_.SkipDisposableUpTo(std::max(0, wanted - keep - 1));
    for (int restarts = 0;;) {
        int32_t number = 0;
        const AVFrame* picture = video_.Next(number);
        if (!picture) {
            // The last pictures could not be decoded: their slots keep the picture before.
            if (!held_ || wanted > index_->FrameCount()) return 0;
            Deliver(wanted, *held_, landing, out);
            return wanted;
        }
        if (number < wanted) {
            if (!dropping && number + keep >= wanted && !cache_.Find(number)) cache_.Store(number, *picture);
            Hold(*picture);
            continue;
        }
        if (number > wanted && dropping) {
            // Skipped by the decoder as nothing refers to it, and thrown away anyway; the
            // caller still gets a picture rather than the end-of-stream signal.
            if (out && out->empty()) *out = publish_(*picture, number);
            video_.PutBack();
            return wanted;
        }
        if (number > wanted) {
            // The wanted picture could not be decoded: its slot keeps the picture before it, so
            // the frames after keep their numbers and their place beside the sound.
            if (!held_ && restarts < 3) {
                // Nothing before it came out in this run: start a group earlier.
                const int32_t groupFirst = std::max(1, index_->FrameOfPacket(video_.StartPacket()));
                const int64_t earlier = index_->StartPacketFor(std::max(1, std::min(groupFirst, wanted) - 1));
                if (earlier < video_.StartPacket()) {
                    ++restarts;
                    StartDecodingAt(earlier);
                    continue;
                }
            }
            video_.PutBack();
            // Only at the very start of a stream is there no picture before: the next one stands in.
            Deliver(wanted, held_ ? *held_ : *picture, landing, out);
            return wanted;
        }
        Hold(*picture);
        Deliver(number, *picture, landing, out);
        return number;
    }
}

void PictureSource::StartDecodingAt(int64_t decodeIndex) {
    video_.StartAt(decodeIndex);
    held_.reset();
}

void PictureSource::Hold(const AVFrame& picture) {
    if (!held_) held_ = ff::MakeFrame();
    if (!held_) throw EngineError("Out of memory while decoding the video.");
    av_frame_unref(held_.get());
    ff::Check(av_frame_ref(held_.get(), &picture), "Out of memory while decoding the video");
}

void PictureSource::Deliver(int32_t number, const AVFrame& picture, bool landing, FrameData* out) {
    if (out) {
        *out = publish_(picture, number);
        recent_.Store(number, picture);
        if (landing) landings_.Store(number, picture);
    }
    lastDelivered_ = number;
}

}  // namespace trimora
