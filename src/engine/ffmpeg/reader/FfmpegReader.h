#pragma once
// Reads an input through FFmpeg: the reading side of the media file object. The video and the
// sound each have their own demuxer, so either can be read far ahead of the other. The input is
// indexed when it is opened (one pass over its packets, no decoding), which makes the number of
// frames exact and every seek frame-exact in every container.
#include <cstdint>
#include <string>

#include "engine/MediaFile.h"
#include "engine/MediaTypes.h"
#include "engine/ffmpeg/reader/AudioDecoder.h"
#include "engine/ffmpeg/reader/BackgroundDecoder.h"
#include "engine/ffmpeg/reader/FrameCache.h"
#include "engine/ffmpeg/reader/FrameIndex.h"
#include "engine/ffmpeg/reader/VideoDecoder.h"

namespace trimora {

class FfmpegReader {
public:
    // The budget of recently read frames kept for stepping back (tests give a small one).
    static constexpr size_t kDefaultCacheBytes = 96u << 20;
    explicit FfmpegReader(size_t cacheBytes = kDefaultCacheBytes);
    ~FfmpegReader();
    FfmpegReader(const FfmpegReader&) = delete;
    FfmpegReader& operator=(const FfmpegReader&) = delete;

    // The index pass tells progress the share of the file read and stops when it answers false.
    void OpenForReading(const std::string& path, const OpenProgress& progress = {});
    void Close();

    bool HasVideo();
    bool HasAudio();
    std::string VideoCodecName();
    int32_t VideoDuration();
    int32_t VideoBitRate();
    double FrameRate();
    int32_t NumberOfFrames();
    int32_t Width();
    int32_t Height();
    std::string AudioFormatName();
    int32_t AudioDuration();
    int32_t AudioBitRate();
    int32_t SampleRate();
    int32_t BitsPerSample();
    int32_t Channels();

    void SeekToFrame(int32_t frameNumber);
    void SeekToPosition(int32_t timeMs);
    int32_t CurrentFrameNumber();
    int32_t CurrentVideoPosition();
    int32_t CurrentAudioPosition();
    void ReadNextVideoFrame(FrameData& frame);
    // While on, the video is decoded on the reader's own thread below normal priority, the
    // caller waiting for it: a job turns it on while it writes a file, so that the encoder's
    // threads take the cores first and decoding fills the moments they leave.
    void DecodeInBackground(bool on) { decodeInBackground_ = on; }
    // Whether the latest ReadNextVideoFrame ran on the background decoder (tests).
    bool LastReadInBackground() const { return lastReadInBackground_; }
    void ReadNextAudioBlock(int32_t blockSize, AudioBlock& block);
    void DropNotification(int32_t count);

    // Pictures the video decoder has put out since the reader was made: the decoding work done.
    int64_t PicturesDecoded() const { return video_.PicturesDecoded(); }

private:
    struct Info {
        bool open = false;
        std::string quotedPath;  // the file, as error messages name it
        bool hasVideo = false;
        bool hasAudio = false;
        std::string videoCodec;
        int32_t videoBitRate = 0;
        double frameRate = 0;
        int32_t width = 0;
        int32_t height = 0;
        std::string audioFormat;
        int32_t audioDuration = 0;
        int32_t audioBitRate = 0;
        int32_t sampleRate = 0;
        int32_t bitsPerSample = 0;
        int32_t channels = 0;
        int sampleAspectNum = 0;
        int sampleAspectDen = 1;
    };

    void RequireOpen() const;
    bool DecodeForwardIsCheaper(int32_t wanted) const;
    // Decodes until frame `wanted` comes out. Returns the number of the frame taken (which is
    // `wanted` unless the stream lacks it), 0 at the end. The picture is delivered into `out`
    // unless `out` is nullptr; `landing`: it is where a seek landed, kept among the landings.
    int32_t DecodeUntil(int32_t wanted, bool dropping, bool landing, FrameData* out);
    // ReadNextVideoFrame's work, on the thread it is called on.
    void ReadNextVideoFrameHere(FrameData& frame);
    // The frame holding a reference to the decoder's `picture` as frame `frameNumber`.
    FrameData FrameOf(const AVFrame& picture, int32_t frameNumber) const;
    // Hands `picture` out as frame `number` (into `out` unless it is nullptr).
    void Deliver(int32_t number, const AVFrame& picture, bool landing, FrameData* out);
    void StartDecodingAt(int64_t decodeIndex);
    // Keeps the latest picture decoded, to fill the place of one that cannot be decoded.
    void Hold(const AVFrame& picture);
    void SkipUndecodableStart(const std::string& path);
    // The sound's clock restarts where the video's does: its stamps go through the index.
    void FollowVideoClock(const AVStream* audio, const AVStream* video);
    void PlaceSound(int32_t frameNumber);

    Info info_;
    FrameIndex index_;
    VideoDecoder video_;
    AudioDecoder audio_;
    FrameCache cache_;           // frames decoded on the way to a seek's target
    FrameCache recent_;          // the latest frames read in order
    FrameCache landings_;        // the frames the latest seeks landed on
    ff::FramePtr held_;          // the latest picture of this decoding run, empty after a restart
    bool seekLanding_ = false;   // the next frame read is where a seek landed
    int32_t current_ = 0;        // the frame delivered last
    int32_t lastDelivered_ = 0;  // the frame handed out last, to tell steps back from jumps
    int32_t dropRemaining_ = 0;  // reads announced as thrown away
    int32_t audioPositionMs_ = 0;
    uint32_t source_ = 0;        // stamped into every frame of this opening
    bool decodeInBackground_ = false;
    bool lastReadInBackground_ = false;
    // Decodes the video while decodeInBackground_ is on; last, so its thread ends first.
    BackgroundDecoder background_;
};

}  // namespace trimora
