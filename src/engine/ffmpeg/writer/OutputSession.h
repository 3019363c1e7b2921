#pragma once
// One output file being written: the muxer, the encoders, and the conversions in front of them
// (picture scaling and pixel format, frame-rate conversion by timestamps, sound resampling and
// re-framing). Created on the caller's thread so that a file that cannot be made is refused at
// once; fed and finished from the writer's encoding thread, one call at a time.
#include <memory>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

#include "engine/FfmpegUtil.h"
#include "engine/MediaTypes.h"
#include "engine/ffmpeg/writer/OutputPlan.h"

namespace trimora {

// Where an appended picture lies on the input's time line, in seconds; end <= start when not
// known (the picture's pts in milliseconds and the input frame rate tell then).
struct PictureSpan {
    double startSeconds = 0;
    double endSeconds = 0;
};

class OutputSession {
public:
    // Opens the encoders, then the file at `diskPath` (a plain path, opened through the file
    // protocol only), and writes the header. Messages call the file `name`. Throws EngineError.
    OutputSession(const OutputPlan& plan, const std::string& name, const std::string& diskPath);
    ~OutputSession();
    OutputSession(const OutputSession&) = delete;
    OutputSession& operator=(const OutputSession&) = delete;

    bool HasVideo() const;
    bool HasAudio() const;

    // A picture whose pts is its time in milliseconds: the first picture added is time 0 and
    // output frames are repeated or left out so that each output frame shows the input picture
    // on screen at the middle of its period; every picture keeps its whole duration, so the
    // file holds round(duration x output rate) frames. A picture in the encoder's format and
    // size goes to the encoder as it is, without a copy.
    void AddVideo(ff::FramePtr picture, PictureSpan span = {});
    // Interleaved s16 at the plan's input rate and channels; the first block starts with the
    // first picture. With pictures in the file the sound ends with the last one, to the sample:
    // what runs past it is left out, a short shortfall is filled with silence.
    void AddAudio(const AudioBlock& block);

    // Drains the encoders, writes the trailer and closes the file; the file is finished as far
    // as possible even when a step fails, and the first failure is thrown. Later calls do nothing.
    void Finish();

    // Output frames written so far (after Finish: all of them).
    int64_t VideoFramesWritten() const;

private:
    struct VideoStage;
    struct AudioStage;
    void OpenVideo(const VideoPlan& plan);
    void OpenAudio(const AudioPlan& plan, int inputRate, int inputChannels);
    // Writes the file's start once: with the first picture's aspect where there are pictures.
    void WriteHeader(const AVFrame* firstPicture);
    void WritePacket(AVPacket* packet, AVStream* stream, AVRational encoderTimeBase);
    void Encode(AVCodecContext* encoder, AVStream* stream, const AVFrame* frame);
    void EmitPendingFrameBefore(double limitSeconds);
    // The picture itself when the encoder takes it as it is, else a converted copy.
    ff::FramePtr ConvertForEncoder(ff::FramePtr picture);
    void EncodeAudioFromFifo(bool final);
    // Input sample frames the sound may hold: up to the end of the last picture so far.
    int64_t SoundLimit() const;
    void ReleaseSound(int64_t limit);
    void ConvertSound(const uint8_t* interleaved, int sampleFrames);

    std::string path_;
    struct Muxer;
    std::unique_ptr<Muxer> muxer_;
    std::unique_ptr<VideoStage> video_;
    std::unique_ptr<AudioStage> audio_;
    bool finished_ = false;
};

}  // namespace trimora
