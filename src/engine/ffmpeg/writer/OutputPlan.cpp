#include "engine/ffmpeg/writer/OutputPlan.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "engine/EngineError.h"
#include "engine/ffmpeg/writer/CodecCatalog.h"
#include "engine/ffmpeg/writer/FrameRates.h"
#include "engine/ffmpeg/writer/WindowsMediaProfiles.h"

namespace trimora {
namespace {

const AVCodec* FindEncoder(const std::string& name) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (!codec) throw EngineError("The encoder \"" + name + "\" is not available in this FFmpeg build");
    return codec;
}

// Channels the encoder can take at most; the rest is mixed down.
int MaxChannels(const AVCodec* codec) {
    static const std::map<std::string, int> limits = {
        {"adpcm_ima_wav", 2}, {"adpcm_ms", 2}, {"libmp3lame", 2}, {"mp2", 2}, {"wmav2", 2}, {"libgsm_ms", 1},
    };
    const auto known = limits.find(codec->name);
    int limit = known != limits.end() ? known->second : 8;
    if (codec->ch_layouts) {
        int largest = 0;
        for (const AVChannelLayout* layout = codec->ch_layouts; layout->nb_channels; ++layout)
            largest = std::max(largest, layout->nb_channels);
        if (largest > 0) limit = std::min(limit, largest);
    }
    return limit;
}

int ChooseSampleRate(const AVCodec* codec, int wanted) {
    if (std::string(codec->name) == "libgsm_ms") return 8000;
    if (std::string(codec->name) == "wmav2") return std::min(wanted, 48000);
    if (!codec->supported_samplerates) return wanted;
    // The smallest supported rate at or above the wanted one keeps all of the sound; failing
    // that, the highest there is.
    int above = 0, highest = 0;
    for (const int* rate = codec->supported_samplerates; *rate; ++rate) {
        if (*rate == wanted) return wanted;
        if (*rate > wanted && (above == 0 || *rate < above)) above = *rate;
        highest = std::max(highest, *rate);
    }
    return above ? above : highest;
}

AVSampleFormat ChooseSampleFormat(const AVCodec* codec) {
    if (!codec->sample_fmts) return AV_SAMPLE_FMT_S16;
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == AV_SAMPLE_FMT_S16) return *f;
    return codec->sample_fmts[0];
}

double FramePeriodMs(double inputFrameRate, AVRational outputRate) {
    if (std::isfinite(inputFrameRate) && inputFrameRate >= 0.5 && inputFrameRate <= 1000) return 1000.0 / inputFrameRate;
    return 1000.0 * outputRate.den / outputRate.num;
}

void RequireSize(int width, int height) {
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384)
        throw EngineError("The picture size " + std::to_string(width) + "x" + std::to_string(height) +
                          " cannot be written");
}

int ChromaShiftW(AVPixelFormat format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    return d && !(d->flags & AV_PIX_FMT_FLAG_RGB) ? d->log2_chroma_w : 0;
}
int ChromaShiftH(AVPixelFormat format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    return d && !(d->flags & AV_PIX_FMT_FLAG_RGB) ? d->log2_chroma_h : 0;
}

VideoPlan PlanAviVideo(const WriterSettings& s) {
    const auto& codecs = AviCodecs();
    if (codecs.empty()) throw EngineError("No AVI video codec works in this FFmpeg build");
    const int number = s.aviCodecNumber >= 1 && s.aviCodecNumber <= static_cast<int>(codecs.size())
                           ? s.aviCodecNumber
                           : static_cast<int>(codecs.size());
    const AviCodecEntry& entry = codecs[number - 1];
    const AVCodec* codec = FindEncoder(entry.encoderName);

    VideoPlan plan;
    plan.encoderName = entry.encoderName;
    plan.pixelFormat = EncoderPixelFormat(codec, entry);
    const int width = s.aviVideoSet ? s.aviWidth : s.inputWidth;
    const int height = s.aviVideoSet ? s.aviHeight : s.inputHeight;
    RequireSize(width, height);
    plan.width = AlignedDimension(width, entry.sizeMultiple, ChromaShiftW(plan.pixelFormat));
    plan.height = AlignedDimension(height, entry.sizeMultiple, ChromaShiftH(plan.pixelFormat));
    plan.frameRate = EncoderFrameRate(codec, s.aviVideoSet ? s.aviFrameRate : s.inputFrameRate);
    plan.inputFramePeriodMs = FramePeriodMs(s.inputFrameRate, plan.frameRate);

    const CodecSettings& c = s.aviCodecSettings;
    if (c.keyframeInterval > 0) plan.gopSize = c.keyframeInterval;
    switch (c.rateControl) {
    case CodecSettings::RateControl::BitRate:
        if (!entry.lossless && c.bitRateKbps > 0) plan.bitRate = int64_t{c.bitRateKbps} * 1000;
        break;
    case CodecSettings::RateControl::Quality:
        if (entry.quality == QualityScale::QScale) plan.qscale = std::clamp(c.quality, 1, 31);
        if (entry.quality == QualityScale::Crf) plan.options["crf"] = std::to_string(std::clamp(c.quality, 0, 51));
        break;
    case CodecSettings::RateControl::EncoderDefault:
        // The mpegvideo encoders default to 200 kbit/s, which smears any real picture; a fixed
        // good quantiser is the better unattended choice.
        if (entry.quality == QualityScale::QScale) plan.qscale = 3;
        break;
    }
    for (const auto& [name, value] : c.privateOptions) plan.options[name] = value;
    return plan;
}

AudioPlan PlanAviAudio(const WriterSettings& s) {
    const int rate = s.aviAudioSet && s.aviSampleRate > 0 ? s.aviSampleRate : s.inputSampleRate;
    const int channels = s.aviAudioSet && s.aviChannels > 0 ? s.aviChannels : s.inputChannels;
    switch (s.aviAudioSet ? s.aviAudio : AviAudioCodec::Pcm) {
    case AviAudioCodec::Pcm: {
        const char* encoder = s.pcmBits == 8 ? "pcm_u8" : s.pcmBits == 24 ? "pcm_s24le" : s.pcmBits == 32 ? "pcm_s32le"
                                                                                                       : "pcm_s16le";
        return PlanAudio(encoder, rate, channels, 0);
    }
    case AviAudioCodec::Alaw: return PlanAudio("pcm_alaw", rate, channels, 0);
    case AviAudioCodec::Mulaw: return PlanAudio("pcm_mulaw", rate, channels, 0);
    case AviAudioCodec::Adpcm: return PlanAudio("adpcm_ima_wav", rate, channels, 0);
    case AviAudioCodec::Mp3:
        return PlanAudio("libmp3lame", rate, channels, int64_t{std::clamp(s.mp3Kbps, 8, 320)} * 1000);
    case AviAudioCodec::Gsm: return PlanAudio("libgsm_ms", rate, 1, 13000);
    }
    return PlanAudio("pcm_s16le", rate, channels, 0);
}

VideoPlan PlanMpegVideo(const WriterSettings& s) {
    VideoPlan plan;
    plan.encoderName = s.mpegVersion == 1 ? "mpeg1video" : "mpeg2video";
    const AVCodec* codec = FindEncoder(plan.encoderName);
    plan.pixelFormat = AV_PIX_FMT_YUV420P;
    const int width = s.mpegVideoSet && s.mpegWidth > 0 ? s.mpegWidth : s.inputWidth;
    const int height = s.mpegVideoSet && s.mpegHeight > 0 ? s.mpegHeight : s.inputHeight;
    RequireSize(width, height);
    if (s.mpegVersion == 1 && (width > 4095 || height > 4095))
        throw EngineError("MPEG-1 video is limited to 4095x4095 pixels");
    plan.width = AlignedDimension(width, 2, 1);
    plan.height = AlignedDimension(height, 2, 1);
    plan.frameRate = EncoderFrameRate(codec, s.mpegFrameRate);
    plan.inputFramePeriodMs = FramePeriodMs(s.inputFrameRate, plan.frameRate);
    const int kbps = std::clamp(s.mpegVideoKbps, 100, 80000);
    plan.bitRate = int64_t{kbps} * 1000;
    // Peaks of twice the average through a DVD-sized buffer: room for the keyframes.
    plan.rcMaxRate = plan.bitRate * 2;
    plan.rcBufferSize = 224 * 1024 * 8;
    plan.gopSize = 12;
    plan.maxBFrames = 2;
    return plan;
}

}  // namespace

int NearestLayer2BitRate(int kbps, int sampleRate) {
    static const int mpeg1[] = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
    static const int mpeg2[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    const int* table = sampleRate >= 32000 ? mpeg1 : mpeg2;
    int best = table[0];
    for (int i = 0; i < 14; ++i)
        if (std::abs(table[i] - kbps) < std::abs(best - kbps)) best = table[i];
    return best;
}

AudioPlan PlanAudio(const std::string& encoderName, int sampleRate, int channels, int64_t bitRate) {
    const AVCodec* codec = FindEncoder(encoderName);
    if (sampleRate <= 0 || sampleRate > 768000)
        throw EngineError("The sample rate " + std::to_string(sampleRate) + " Hz cannot be written");
    if (channels <= 0 || channels > 64)
        throw EngineError("Sound with " + std::to_string(channels) + " channels cannot be written");
    AudioPlan plan;
    plan.encoderName = encoderName;
    plan.sampleRate = ChooseSampleRate(codec, sampleRate);
    plan.channels = std::min(channels, MaxChannels(codec));
    plan.sampleFormat = ChooseSampleFormat(codec);
    plan.bitRate = bitRate;
    return plan;
}

OutputPlan BuildOutputPlan(const WriterSettings& s, int32_t containerKind) {
    OutputPlan plan;
    plan.inputSampleRate = s.inputSampleRate;
    plan.inputChannels = s.inputChannels;
    if (!s.hasVideo && !s.hasAudio) throw EngineError("The output would hold neither video nor sound");
    if (s.hasVideo && (s.inputWidth <= 0 || s.inputHeight <= 0))
        throw EngineError("The picture size of the video to write is not known");
    if (s.hasAudio && (s.inputSampleRate <= 0 || s.inputChannels <= 0))
        throw EngineError("The sound format to write is not known");

    switch (containerKind) {
    case 1:
        plan.muxerName = "avi";
        if (s.hasVideo) plan.video = PlanAviVideo(s);
        if (s.hasAudio) plan.audio = PlanAviAudio(s);
        break;
    case 2: {
        if (s.mpegVersion != 1 && s.mpegVersion != 2)
            throw EngineError("MPEG version " + std::to_string(s.mpegVersion) + " cannot be written");
        plan.muxerName = s.mpegVersion == 1 ? "mpeg" : "vob";
        if (s.hasVideo) plan.video = PlanMpegVideo(s);
        if (s.hasAudio) {
            const int wantedRate = s.mpegAudioSet && s.mpegSampleRate > 0 ? s.mpegSampleRate : s.inputSampleRate;
            const int channels = s.mpegAudioSet ? std::clamp(s.mpegChannels, 1, 2) : std::min(s.inputChannels, 2);
            plan.audio = PlanAudio("mp2", wantedRate, channels, 0);
            plan.audio->bitRate = int64_t{NearestLayer2BitRate(s.mpegAudioSet ? s.mpegAudioKbps : 128,
                                                               plan.audio->sampleRate)} * 1000;
        }
        break;
    }
    case 3: {
        const auto& profiles = WindowsMediaProfiles();
        const int number = s.wmvProfileNumber >= 1 && s.wmvProfileNumber <= static_cast<int>(profiles.size())
                               ? s.wmvProfileNumber
                               : static_cast<int>(profiles.size());
        const WindowsMediaProfile& profile = profiles[number - 1];
        plan.muxerName = "asf";
        if (s.hasVideo) {
            VideoPlan video;
            video.encoderName = "wmv2";
            FindEncoder(video.encoderName);
            video.pixelFormat = AV_PIX_FMT_YUV420P;
            ProfilePictureSize(profile, s.inputWidth, s.inputHeight, video.width, video.height);
            video.frameRate = StandardFrameRate(s.inputFrameRate);
            video.inputFramePeriodMs = FramePeriodMs(s.inputFrameRate, video.frameRate);
            video.bitRate = int64_t{profile.videoKbps} * 1000;
            video.gopSize = std::max(1, static_cast<int>(std::lround(av_q2d(video.frameRate) * 2)));
            plan.video = video;
        }
        if (s.hasAudio) {
            const int rate = profile.sampleRate > 0 ? profile.sampleRate : s.inputSampleRate;
            const int channels = profile.channels > 0 ? profile.channels : std::min(s.inputChannels, 2);
            plan.audio = PlanAudio("wmav2", rate, channels, int64_t{std::max(profile.audioKbps, 24)} * 1000);
        }
        break;
    }
    default:
        throw EngineError("Unknown kind of output file: " + std::to_string(containerKind));
    }
    return plan;
}

}  // namespace trimora
