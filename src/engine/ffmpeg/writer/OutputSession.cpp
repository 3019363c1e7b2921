#include "engine/ffmpeg/writer/OutputSession.h"

#include <cstring>
#include <optional>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "engine/EngineError.h"
#include "engine/FfmpegUtil.h"
#include "engine/FrameBuffer.h"

namespace trimora {
namespace {

struct AudioFifoDeleter {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

struct DictionaryDeleter {
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};

std::string EncoderLabel(const AVCodec* codec) {
    return codec->long_name ? std::string(codec->long_name) : std::string(codec->name);
}

bool IsFullRangeFormat(AVPixelFormat format) {
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P ||
           format == AV_PIX_FMT_YUVJ440P || format == AV_PIX_FMT_YUVJ411P;
}

// What the encoder says about its stream beyond the parameters (the MPEG encoders' buffer
// sizes and peak rate, which the program-stream muxer sizes its packets by).
void CopyCodedSideData(const AVCodecContext* encoder, AVStream* stream) {
    for (int i = 0; i < encoder->nb_coded_side_data; ++i) {
        const AVPacketSideData& side = encoder->coded_side_data[i];
        uint8_t* copy = av_stream_new_side_data(stream, side.type, side.size);
        if (!copy) throw EngineError("Out of memory while preparing a stream");
        std::memcpy(copy, side.data, side.size);
    }
}

// Sample frames per packet for encoders without a frame size of their own (PCM and the like).
constexpr int kPcmChunk = 1024;

}  // namespace

struct OutputSession::Muxer {
    ff::OutputContextPtr context;
    bool headerWritten = false;
};

struct OutputSession::VideoStage {
    VideoPlan plan;
    ff::CodecContextPtr encoder;
    AVStream* stream = nullptr;
    ff::SwsPtr scaler;
    // The last picture added, not yet written for all the output times it covers; it is
    // converted only once it turns out to be shown at all.
    ff::FramePtr pending;
    bool hasPending = false;
    ff::FramePtr converted;
    // The input time line, in seconds: where the first picture starts and the last one ends.
    std::optional<double> firstStart;
    double lastEnd = 0;
    int64_t nextSlot = 0;

    // The middle of an output frame's period, in seconds from the first picture's start.
    double SlotMiddle(int64_t slot) const {
        return (static_cast<double>(slot) + 0.5) * plan.frameRate.den / plan.frameRate.num;
    }
};

struct OutputSession::AudioStage {
    AudioPlan plan;
    ff::CodecContextPtr encoder;
    AVStream* stream = nullptr;
    ff::SwrPtr resampler;
    AudioFifoPtr fifo;
    int frameSize = 0;
    bool takesShortLastFrame = false;
    int64_t nextPts = 0;
    int inputRate = 0;
    int inputChannels = 0;
    // Appended sound not yet converted: what lies past the last picture so far waits here until
    // a picture covers it or the file ends (and then is left out).
    std::vector<uint8_t> held;
    int64_t released = 0;  // input sample frames converted so far
};

OutputSession::OutputSession(const OutputPlan& plan, const std::string& name, const std::string& diskPath)
    : path_(name) {
    if (diskPath.empty()) throw EngineError("No name was given for the output file");
    // The file protocol takes the rest literally: no colon in a name is read as a protocol.
    const std::string url = "file:" + diskPath;
    muxer_ = std::make_unique<Muxer>();
    AVFormatContext* raw = nullptr;
    ff::Check(avformat_alloc_output_context2(&raw, nullptr, plan.muxerName.c_str(), url.c_str()),
              "Cannot prepare a " + plan.muxerName + " file");
    muxer_->context.reset(raw);

    // Encoders first: a setting the encoder refuses must not leave an empty file behind.
    if (plan.video) OpenVideo(*plan.video);
    if (plan.audio) OpenAudio(*plan.audio, plan.inputSampleRate, plan.inputChannels);

    AVFormatContext* context = muxer_->context.get();
    if (!(context->oformat->flags & AVFMT_NOFILE)) {
        constexpr int kWriteBuffer = 256 << 10;
        context->pb = ff::OpenFileWriter(diskPath, kWriteBuffer);
        if (!context->pb)
            throw EngineError("Cannot create the output file \"" + path_ + "\": " + ff::ErrorText(AVERROR(errno)));
        context->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    // With pictures, the file's start is written with the first of them, which tells their shape.
    if (!video_) WriteHeader(nullptr);
}

void OutputSession::WriteHeader(const AVFrame* firstPicture) {
    if (muxer_->headerWritten) return;
    if (video_ && firstPicture) {
        // Pictures whose pixels are not square (anamorphic widescreen from DV, HDV or DVD) keep
        // the shape they are seen in: the file says how wide a pixel is, at the size written.
        // Without it a 16:9 picture stored in 1440x1080 was shown squeezed to 4:3.
        const AVRational aspect = firstPicture->sample_aspect_ratio;
        VideoStage& v = *video_;
        if (aspect.num > 0 && aspect.den > 0 && firstPicture->width > 0 && firstPicture->height > 0) {
            AVRational written{1, 1};
            av_reduce(&written.num, &written.den,
                      static_cast<int64_t>(aspect.num) * firstPicture->width * v.plan.height,
                      static_cast<int64_t>(aspect.den) * firstPicture->height * v.plan.width, 255);
            if (written.num > 0 && written.den > 0) {
                v.encoder->sample_aspect_ratio = written;
                v.stream->sample_aspect_ratio = written;
                v.stream->codecpar->sample_aspect_ratio = written;
            }
        }
    }
    ff::Check(avformat_write_header(muxer_->context.get(), nullptr), "Cannot write the start of \"" + path_ + "\"");
    muxer_->headerWritten = true;
}

OutputSession::~OutputSession() = default;

bool OutputSession::HasVideo() const { return video_ != nullptr; }
bool OutputSession::HasAudio() const { return audio_ != nullptr; }
int64_t OutputSession::VideoFramesWritten() const { return video_ ? video_->nextSlot : 0; }

void OutputSession::OpenVideo(const VideoPlan& plan) {
    const AVCodec* codec = avcodec_find_encoder_by_name(plan.encoderName.c_str());
    if (!codec) throw EngineError("The video encoder \"" + plan.encoderName + "\" is not available");
    auto stage = std::make_unique<VideoStage>();
    stage->plan = plan;
    stage->encoder.reset(avcodec_alloc_context3(codec));
    if (!stage->encoder) throw EngineError("Out of memory while preparing the video encoder");
    AVCodecContext* c = stage->encoder.get();
    c->width = plan.width;
    c->height = plan.height;
    c->pix_fmt = plan.pixelFormat;
    c->framerate = plan.frameRate;
    c->time_base = av_inv_q(plan.frameRate);
    c->sample_aspect_ratio = AVRational{1, 1};
    if (plan.bitRate > 0) c->bit_rate = plan.bitRate;
    if (plan.rcBufferSize > 0) c->rc_buffer_size = static_cast<int>(plan.rcBufferSize);
    if (plan.rcMaxRate > 0) c->rc_max_rate = plan.rcMaxRate;
    if (plan.gopSize >= 0) c->gop_size = plan.gopSize;
    if (plan.maxBFrames >= 0) c->max_b_frames = plan.maxBFrames;
    if (plan.qscale > 0) {
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = plan.qscale * FF_QP2LAMBDA;
    }
    if (IsFullRangeFormat(plan.pixelFormat)) c->color_range = AVCOL_RANGE_JPEG;
    c->thread_count = 0;  // the encoder's own threads, as many as it finds useful
    if (muxer_->context->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    AVDictionary* rawOptions = nullptr;
    for (const auto& [name, value] : plan.options) av_dict_set(&rawOptions, name.c_str(), value.c_str(), 0);
    const int opened = avcodec_open2(c, codec, &rawOptions);
    const std::unique_ptr<AVDictionary, DictionaryDeleter> options(rawOptions);  // what the encoder did not use
    if (opened < 0)
        throw EngineError("The video encoder " + EncoderLabel(codec) + " cannot work with these settings (" +
                          std::to_string(plan.width) + "x" + std::to_string(plan.height) + "): " +
                          ff::ErrorText(opened));
    if (const AVDictionaryEntry* unknown = av_dict_get(options.get(), "", nullptr, AV_DICT_IGNORE_SUFFIX))
        throw EngineError("The video encoder " + EncoderLabel(codec) + " has no option \"" + unknown->key + "\"");

    stage->stream = avformat_new_stream(muxer_->context.get(), nullptr);
    if (!stage->stream) throw EngineError("Out of memory while preparing the video stream");
    ff::Check(avcodec_parameters_from_context(stage->stream->codecpar, c), "Cannot describe the video stream");
    CopyCodedSideData(c, stage->stream);
    stage->stream->time_base = c->time_base;
    stage->stream->avg_frame_rate = plan.frameRate;
    stage->stream->r_frame_rate = plan.frameRate;
    stage->stream->sample_aspect_ratio = c->sample_aspect_ratio;
    video_ = std::move(stage);
}

void OutputSession::OpenAudio(const AudioPlan& plan, int inputRate, int inputChannels) {
    const AVCodec* codec = avcodec_find_encoder_by_name(plan.encoderName.c_str());
    if (!codec) throw EngineError("The audio encoder \"" + plan.encoderName + "\" is not available");
    auto stage = std::make_unique<AudioStage>();
    stage->plan = plan;
    stage->inputRate = inputRate;
    stage->inputChannels = inputChannels;
    stage->encoder.reset(avcodec_alloc_context3(codec));
    if (!stage->encoder) throw EngineError("Out of memory while preparing the audio encoder");
    AVCodecContext* c = stage->encoder.get();
    c->sample_rate = plan.sampleRate;
    c->sample_fmt = plan.sampleFormat;
    av_channel_layout_default(&c->ch_layout, plan.channels);
    if (plan.bitRate > 0) c->bit_rate = plan.bitRate;
    c->time_base = AVRational{1, plan.sampleRate};
    if (muxer_->context->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int opened = avcodec_open2(c, codec, nullptr);
    if (opened < 0)
        throw EngineError("The audio encoder " + EncoderLabel(codec) + " cannot work at " +
                          std::to_string(plan.sampleRate) + " Hz, " + std::to_string(plan.channels) +
                          " channels, " + std::to_string(plan.bitRate / 1000) + " kbit/s: " + ff::ErrorText(opened));
    stage->frameSize = c->frame_size > 0 ? c->frame_size : kPcmChunk;
    stage->takesShortLastFrame =
        c->frame_size == 0 ||
        (codec->capabilities & (AV_CODEC_CAP_VARIABLE_FRAME_SIZE | AV_CODEC_CAP_SMALL_LAST_FRAME));

    AVChannelLayout inputLayout;
    av_channel_layout_default(&inputLayout, inputChannels);
    SwrContext* resampler = nullptr;
    const int made = swr_alloc_set_opts2(&resampler, &c->ch_layout, c->sample_fmt, c->sample_rate, &inputLayout,
                                         AV_SAMPLE_FMT_S16, inputRate, 0, nullptr);
    av_channel_layout_uninit(&inputLayout);
    stage->resampler.reset(resampler);
    ff::Check(made, "Cannot convert the sound");
    // A mono sound written as stereo keeps its level: both channels take every sample as it is.
    // The resampler's own mix lowers each channel by 3 dB, which made the copy quieter than the
    // original played on the same two speakers.
    if (inputChannels == 1 && plan.channels == 2) {
        const double both[2] = {1.0, 1.0};
        ff::Check(swr_set_matrix(resampler, both, 1), "Cannot convert the sound");
    }
    ff::Check(swr_init(resampler), "Cannot convert the sound from " + std::to_string(inputRate) + " Hz, " +
                                       std::to_string(inputChannels) + " channels");
    stage->fifo.reset(av_audio_fifo_alloc(c->sample_fmt, plan.channels, stage->frameSize * 4));
    if (!stage->fifo) throw EngineError("Out of memory while preparing the sound buffer");
    // The Windows Media Audio decoder swallows the encoder's first frame of output: a frame of
    // silence in front keeps the sound's beginning. The silence is dated before time 0, so the
    // real sound keeps time 0 (the encoder's own dating back covers only its delay).
    if (c->initial_padding > 0 && (plan.encoderName == "wmav2" || plan.encoderName == "wmav1")) {
        ff::FramePtr silence = ff::MakeFrame();
        silence->format = c->sample_fmt;
        silence->nb_samples = c->initial_padding;
        ff::Check(av_channel_layout_copy(&silence->ch_layout, &c->ch_layout), "Cannot prepare the sound");
        ff::Check(av_frame_get_buffer(silence.get(), 0), "Out of memory for sound");
        av_samples_set_silence(silence->data, 0, silence->nb_samples, plan.channels, c->sample_fmt);
        ff::Check(av_audio_fifo_write(stage->fifo.get(), reinterpret_cast<void**>(silence->data), silence->nb_samples),
                  "Out of memory for sound");
        stage->nextPts = -silence->nb_samples;
    }

    stage->stream = avformat_new_stream(muxer_->context.get(), nullptr);
    if (!stage->stream) throw EngineError("Out of memory while preparing the audio stream");
    ff::Check(avcodec_parameters_from_context(stage->stream->codecpar, c), "Cannot describe the audio stream");
    stage->stream->time_base = c->time_base;
    audio_ = std::move(stage);
}

void OutputSession::WritePacket(AVPacket* packet, AVStream* stream, AVRational encoderTimeBase) {
    av_packet_rescale_ts(packet, encoderTimeBase, stream->time_base);
    packet->stream_index = stream->index;
    ff::Check(av_interleaved_write_frame(muxer_->context.get(), packet), "Cannot write to \"" + path_ + "\"");
}

void OutputSession::Encode(AVCodecContext* encoder, AVStream* stream, const AVFrame* frame) {
    ff::Check(avcodec_send_frame(encoder, frame), "The encoder failed");
    ff::PacketPtr packet = ff::MakePacket();
    for (;;) {
        const int received = avcodec_receive_packet(encoder, packet.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return;
        ff::Check(received, "The encoder failed");
        WritePacket(packet.get(), stream, encoder->time_base);
    }
}

// ---- video ---------------------------------------------------------------------------------

void OutputSession::AddVideo(ff::FramePtr picture, PictureSpan span) {
    if (!video_ || finished_ || !picture) return;
    WriteHeader(picture.get());
    VideoStage& v = *video_;
    if (span.endSeconds <= span.startSeconds) {
        span.startSeconds = static_cast<double>(picture->pts) / 1000.0;
        span.endSeconds = span.startSeconds + v.plan.inputFramePeriodMs / 1000.0;
    }
    if (!v.firstStart) v.firstStart = span.startSeconds;
    // The pending picture is on screen until this one starts: it owns every output frame whose
    // middle falls before that.
    if (v.hasPending) EmitPendingFrameBefore(span.startSeconds - *v.firstStart);
    v.pending = std::move(picture);
    v.hasPending = true;
    v.lastEnd = std::max(v.lastEnd, span.endSeconds);
    v.converted.reset();
    if (audio_) ReleaseSound(SoundLimit());
}

ff::FramePtr OutputSession::ConvertForEncoder(ff::FramePtr picture) {
    VideoStage& v = *video_;
    const auto source = static_cast<AVPixelFormat>(picture->format);
    const bool sourceFull = picture->color_range == AVCOL_RANGE_JPEG || IsFullRangeFormat(source);
    const bool targetFull = IsFullRangeFormat(v.plan.pixelFormat);
    if (source == v.plan.pixelFormat && picture->width == v.plan.width && picture->height == v.plan.height &&
        sourceFull == targetFull)
        return picture;

    v.scaler.reset(sws_getCachedContext(v.scaler.release(), picture->width, picture->height, source, v.plan.width,
                                        v.plan.height, v.plan.pixelFormat, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!v.scaler)
        throw EngineError(std::string("Cannot convert pictures from ") +
                          (av_get_pix_fmt_name(source) ? av_get_pix_fmt_name(source) : "an unknown format"));
    const int matrix = picture->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    sws_setColorspaceDetails(v.scaler.get(), sws_getCoefficients(matrix), sourceFull ? 1 : 0,
                             sws_getCoefficients(matrix), targetFull ? 1 : 0, 0, 1 << 16, 1 << 16);
    ff::FramePtr converted = ff::MakeFrame();
    if (!converted) throw EngineError("Out of memory for a picture");
    converted->format = v.plan.pixelFormat;
    converted->width = v.plan.width;
    converted->height = v.plan.height;
    ff::Check(av_frame_get_buffer(converted.get(), 0), "Out of memory for a picture");
    sws_scale(v.scaler.get(), picture->data, picture->linesize, 0, picture->height, converted->data,
              converted->linesize);
    return converted;
}

void OutputSession::EmitPendingFrameBefore(double limitSeconds) {
    VideoStage& v = *video_;
    while (v.SlotMiddle(v.nextSlot) < limitSeconds) {
        if (!v.converted) {
            if (!v.pending) return;  // lost to a failed conversion: the file ends where it broke
            v.converted = ConvertForEncoder(std::move(v.pending));
        }
        // The encoder may keep a reference to what it is given, so each output frame is its own
        // reference to the shared picture.
        ff::FramePtr output(av_frame_clone(v.converted.get()));
        if (!output) throw EngineError("Out of memory for a picture");
        output->pts = v.nextSlot++;  // counted before encoding: a failed slot is never sent twice
        output->pict_type = AV_PICTURE_TYPE_NONE;
        // The stream's aspect and colours are the encoder's settings; what the input picture
        // says about its own must not override them.
        output->sample_aspect_ratio = AVRational{0, 1};
        output->colorspace = AVCOL_SPC_UNSPECIFIED;
        output->color_range = AVCOL_RANGE_UNSPECIFIED;
        // A fixed quantiser is read from each picture, not from the encoder's settings.
        if (v.plan.qscale > 0) output->quality = v.encoder->global_quality;
        Encode(v.encoder.get(), v.stream, output.get());
    }
}

// ---- audio ---------------------------------------------------------------------------------

void OutputSession::AddAudio(const AudioBlock& block) {
    if (!audio_ || finished_ || block.empty()) return;
    AudioStage& a = *audio_;
    a.held.insert(a.held.end(), block.begin(), block.end());
    ReleaseSound(SoundLimit());
}

int64_t OutputSession::SoundLimit() const {
    if (!video_) return INT64_MAX;
    if (!video_->firstStart) return 0;
    // The reader places sound by the same rounding, so a split's two files meet exactly.
    const double rate = audio_->inputRate;
    return std::llround(video_->lastEnd * rate) - std::llround(*video_->firstStart * rate);
}

void OutputSession::ReleaseSound(int64_t limit) {
    AudioStage& a = *audio_;
    const size_t frameBytes = 2 * static_cast<size_t>(a.inputChannels);
    const int64_t held = static_cast<int64_t>(a.held.size() / frameBytes);
    const int64_t count = std::min(held, limit - a.released);
    if (count <= 0) return;
    ConvertSound(a.held.data(), static_cast<int>(count));
    a.held.erase(a.held.begin(), a.held.begin() + static_cast<ptrdiff_t>(count * static_cast<int64_t>(frameBytes)));
    a.released += count;
    EncodeAudioFromFifo(false);
}

void OutputSession::ConvertSound(const uint8_t* data, int samples) {
    AudioStage& a = *audio_;
    const int capacity = swr_get_out_samples(a.resampler.get(), samples);
    ff::FramePtr converted = ff::MakeFrame();
    converted->format = a.encoder->sample_fmt;
    converted->nb_samples = std::max(capacity, 1);
    ff::Check(av_channel_layout_copy(&converted->ch_layout, &a.encoder->ch_layout), "Cannot convert the sound");
    ff::Check(av_frame_get_buffer(converted.get(), 0), "Out of memory for sound");
    const uint8_t* input[1] = {data};
    const int produced = ff::Check(
        swr_convert(a.resampler.get(), converted->data, converted->nb_samples, input, samples), "Cannot convert the sound");
    if (produced > 0)
        ff::Check(av_audio_fifo_write(a.fifo.get(), reinterpret_cast<void**>(converted->data), produced),
                  "Out of memory for sound");
}

void OutputSession::EncodeAudioFromFifo(bool final) {
    AudioStage& a = *audio_;
    for (;;) {
        const int available = av_audio_fifo_size(a.fifo.get());
        if (available <= 0 || (available < a.frameSize && !final)) return;
        const int take = std::min(available, a.frameSize);
        ff::FramePtr frame = ff::MakeFrame();
        frame->format = a.encoder->sample_fmt;
        frame->sample_rate = a.encoder->sample_rate;
        frame->nb_samples = take < a.frameSize && !a.takesShortLastFrame ? a.frameSize : take;
        ff::Check(av_channel_layout_copy(&frame->ch_layout, &a.encoder->ch_layout), "Cannot encode the sound");
        ff::Check(av_frame_get_buffer(frame.get(), 0), "Out of memory for sound");
        if (frame->nb_samples > take)
            av_samples_set_silence(frame->data, take, frame->nb_samples - take, a.plan.channels, a.encoder->sample_fmt);
        ff::Check(av_audio_fifo_read(a.fifo.get(), reinterpret_cast<void**>(frame->data), take),
                  "Cannot encode the sound");
        frame->pts = a.nextPts;
        a.nextPts += frame->nb_samples;
        Encode(a.encoder.get(), a.stream, frame.get());
    }
}

// ---- finishing -----------------------------------------------------------------------------

void OutputSession::Finish() {
    if (finished_) return;
    finished_ = true;
    std::exception_ptr failure;
    auto step = [&failure](auto&& action) {
        try {
            action();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    };
    // A file that got no picture is still a whole file. Where even its start cannot be written,
    // nothing can be put after it: the file is only closed.
    step([this] { WriteHeader(nullptr); });
    if (video_ && muxer_->headerWritten) {
        step([this] {
            VideoStage& v = *video_;
            if (v.hasPending && v.firstStart) EmitPendingFrameBefore(v.lastEnd - *v.firstStart);
            v.hasPending = false;
        });
        step([this] { Encode(video_->encoder.get(), video_->stream, nullptr); });
    }
    if (audio_ && muxer_->headerWritten) {
        step([this] {
            AudioStage& a = *audio_;
            const bool pictures = video_ && video_->firstStart;
            const int64_t limit = pictures ? SoundLimit() : INT64_MAX;
            ReleaseSound(limit);
            // A shortfall this small is the job's end test in whole milliseconds, or the input's
            // last sound frame ending a little before its last picture: silence fills it. Sound
            // that really ends earlier stays as it is.
            const int64_t shortfall = pictures ? limit - a.released : 0;
            if (shortfall > 0 && shortfall <= a.inputRate / 10) {
                const std::vector<uint8_t> silence(static_cast<size_t>(shortfall) * 2 * a.inputChannels, 0);
                ConvertSound(silence.data(), static_cast<int>(shortfall));
                a.released += shortfall;
            }
            a.held.clear();
            const int remaining = swr_get_out_samples(a.resampler.get(), 0);
            if (remaining > 0) {
                ff::FramePtr tail = ff::MakeFrame();
                tail->format = a.encoder->sample_fmt;
                tail->nb_samples = remaining;
                ff::Check(av_channel_layout_copy(&tail->ch_layout, &a.encoder->ch_layout), "Cannot convert the sound");
                ff::Check(av_frame_get_buffer(tail.get(), 0), "Out of memory for sound");
                const int produced = ff::Check(swr_convert(a.resampler.get(), tail->data, remaining, nullptr, 0),
                                               "Cannot convert the sound");
                if (produced > 0)
                    ff::Check(av_audio_fifo_write(a.fifo.get(), reinterpret_cast<void**>(tail->data), produced),
                              "Out of memory for sound");
            }
            EncodeAudioFromFifo(true);
        });
        step([this] { Encode(audio_->encoder.get(), audio_->stream, nullptr); });
    }
    AVFormatContext* context = muxer_->context.get();
    if (muxer_->headerWritten)
        step([&] { ff::Check(av_write_trailer(context), "Cannot finish \"" + path_ + "\""); });
    if (context->pb && !(context->oformat->flags & AVFMT_NOFILE))
        step([&] { ff::Check(ff::CloseFileWriter(&context->pb), "Cannot close \"" + path_ + "\""); });
    if (failure) std::rethrow_exception(failure);
}

}  // namespace trimora
