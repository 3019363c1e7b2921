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
    // nearest to its own time. A picture in the encoder's format and size goes to the encoder
    // as it is, without a copy.
    void AddVideo(ff::FramePtr picture);
    // Interleaved s16 at the plan's input rate and channels; the first block starts at time 0.
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
    void WritePacket(AVPacket* packet, AVStream* stream, AVRational encoderTimeBase);
    void Encode(AVCodecContext* encoder, AVStream* stream, const AVFrame* frame);
    void EmitPendingFrameBefore(double limitMs);
    // The picture itself when the encoder takes it as it is, else a converted copy.
    ff::FramePtr ConvertForEncoder(ff::FramePtr picture);
    void EncodeAudioFromFifo(bool final);

    std::string path_;
    struct Muxer;
    std::unique_ptr<Muxer> muxer_;
    std::unique_ptr<VideoStage> video_;
    std::unique_ptr<AudioStage> audio_;
    bool finished_ = false;
};

}  // namespace trimora
