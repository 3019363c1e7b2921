#pragma once
// Reads an input through FFmpeg: the reading side of the media file object. The video and the
// sound each have their own demuxer, so either can be read far ahead of the other. The input is
// indexed when it is opened (one pass over its packets, no decoding), which makes the number of
// frames exact and every seek frame-exact in every container.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

#include "engine/MediaFile.h"
#include "engine/MediaTypes.h"
#include "engine/ffmpeg/reader/AudioDecoder.h"
#include "engine/ffmpeg/reader/BackgroundDecoder.h"
#include "engine/ffmpeg/reader/FirstPicture.h"
#include "engine/ffmpeg/reader/FrameIndex.h"
#include "engine/ffmpeg/reader/Mpeg4Pictures.h"
#include "engine/ffmpeg/reader/PictureSource.h"

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
    // While on, the video and the sound are decoded on threads of the reader's own, a few frames
    // and a block ahead: a job turns it on while it writes a file, so that the next frames and
    // the next block are decoded while the window shows the current one and the encoder works
    // on the ones before (and goes on while the encoder holds the job back). Every call still
    // gives exactly what it gives with it off.
    void DecodeInBackground(bool on);
    // Whether the latest ReadNextVideoFrame ran on the background decoder (tests).
    bool LastReadInBackground() const { return lastReadInBackground_; }
    void ReadNextAudioBlock(int32_t blockSize, AudioBlock& block);
    void DropNotification(int32_t count);

    // Pictures the video decoder has put out since the reader was made: the decoding work done.
    int64_t PicturesDecoded();

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
        int turn = 0;  // clockwise, to stand upright: 0, 90, 180 or 270 (width and height are as turned)
    };

    void RequireOpen() const;
    // ReadNextVideoFrame's work, on the thread it is called on.
    void ReadNextVideoFrameHere(FrameData& frame);
    // Frame `wanted` into `out` (unless nullptr), kept or decoded; the number of the frame
    // taken. Throws when the file no longer holds it.
    int32_t Fetch(int32_t wanted, bool dropping, bool landing, FrameData* out);
    // The frame handed out for the decoder's `picture` as frame `frameNumber`.
    FrameData FrameOf(const AVFrame& picture, int32_t frameNumber) const;
    // Decoding ahead while a file is written: the next frames and the next sound block are read
    // on the background threads as soon as the current ones are handed out, and taken when
    // they are asked for. Anything else the caller asks first stops them (Settle), and a seek
    // or a drop lets them go.
    void StartVideoAhead();
    // The video thread's piece: reads frames from `next` on until there are enough ahead.
    void ReadVideoAhead(int32_t next);
    bool TakeVideoAhead(FrameData& frame);
    // Stops the reading ahead after the frame it is at; what it has read stays.
    void StopVideoAhead();
    void StartSoundAhead(int32_t blockSize);
    // Waits for the block read ahead and puts it before what is read next; throws its failure.
    void CollectSoundAhead();
    void Settle();
    void DiscardVideoAhead();
    // For a seek, which places the sound anew.
    void DiscardSoundAhead();
    void SkipUndecodableStart(const std::string& path, std::optional<FirstPicture::Result> early);
    // The sound's clock restarts where the video's does: its stamps go through the index.
    void FollowVideoClock(const AVStream* audio, const AVStream* video);
    void PlaceSound(int32_t frameNumber);

    Info info_;
    FrameIndex index_;
    PictureSource pictures_;
    AudioDecoder audio_;
    // An AVI file's chunk heads, read while the file opens; kept until the next open or close,
    // while its thread lets go of the file.
    std::unique_ptr<ChunkHeadsAhead> headsAhead_;
    bool seekLanding_ = false;   // the next frame read is where a seek landed
    int32_t current_ = 0;        // the frame delivered last
    int32_t dropRemaining_ = 0;  // reads announced as thrown away
    int32_t audioPositionMs_ = 0;
    uint32_t source_ = 0;        // stamped into every frame of this opening
    bool decodeInBackground_ = false;
    bool lastReadInBackground_ = false;

    // What the background threads read ahead. The frames, in order, are filled by the video
    // thread while it runs (aheadRunning_), up to aheadFrames_ of them.
    struct VideoAhead {
        int32_t wanted = 0;  // the frame asked for
        int32_t got = 0;     // the frame taken
        FrameData frame;
        std::exception_ptr failure;
    };
    std::mutex aheadMutex_;
    std::condition_variable aheadChanged_;
    std::deque<VideoAhead> videoAhead_;
    bool aheadRunning_ = false;
    bool aheadStop_ = false;
    size_t aheadFrames_ = 1;
    struct SoundAhead {
        bool started = false;
        AudioBlock block;
        std::exception_ptr failure;
    } soundAhead_;
    AudioBlock soundCarry_;  // samples read ahead, not yet handed out
    // Decode the video and the sound while decodeInBackground_ is on; last, so that their
    // threads end first.
    BackgroundDecoder videoThread_;
    BackgroundDecoder soundThread_;
};

}  // namespace trimora
