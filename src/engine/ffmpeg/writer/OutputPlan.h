#pragma once
// The writer's settings as the program sets them, and what they become when a file is created:
// which muxer, which encoders with which exact parameters. Building the plan is pure logic and
// decides every conversion (picture size, frame rate, sample rate, channels) up front.
#include <cstdint>
#include <map>
#include <optional>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "engine/ffmpeg/writer/CodecSettings.h"

namespace trimora {

enum class AviAudioCodec { Pcm, Alaw, Mulaw, Adpcm, Mp3, Gsm };

struct WriterSettings {
    // Layout of what will be appended.
    int inputWidth = 0, inputHeight = 0;
    double inputFrameRate = 0;
    int inputSampleRate = 0, inputChannels = 0;
    bool hasVideo = false, hasAudio = false;

    // AVI.
    int aviCodecNumber = 0;            // 1-based number in AviCodecs()
    CodecSettings aviCodecSettings;
    AviAudioCodec aviAudio = AviAudioCodec::Pcm;
    bool aviAudioSet = false;
    int aviSampleRate = 0, aviChannels = 0, pcmBits = 16, mp3Kbps = 128;
    bool aviVideoSet = false;
    int aviWidth = 0, aviHeight = 0;
    double aviFrameRate = 0;

    // MPEG.
    bool mpegVideoSet = false;
    int mpegVersion = 1, mpegVideoKbps = 1150, mpegWidth = 0, mpegHeight = 0;
    double mpegFrameRate = 29.97;
    bool mpegAudioSet = false;
    int mpegAudioKbps = 128, mpegSampleRate = 0, mpegChannels = 2;

    // Windows Media.
    int wmvProfileNumber = 0;          // 1-based number in WindowsMediaProfiles()
};

struct VideoPlan {
    std::string encoderName;
    int width = 0, height = 0;
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
    AVRational frameRate{25, 1};
    int64_t bitRate = 0;               // bit/s; 0 keeps the encoder's default
    int64_t rcBufferSize = 0;          // bits; 0 keeps the encoder's default
    int64_t rcMaxRate = 0;             // bit/s; set together with rcBufferSize
    int gopSize = -1;                  // -1 keeps the encoder's default
    int maxBFrames = -1;               // -1 keeps the encoder's default
    int qscale = 0;                    // > 0: constant quantiser on the 1..31 scale
    std::map<std::string, std::string> options;  // the encoder's own options
    double inputFramePeriodMs = 40;    // how long the last appended frame lasts
};

struct AudioPlan {
    std::string encoderName;
    int sampleRate = 0;
    int channels = 0;
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_NONE;
    int64_t bitRate = 0;               // bit/s; 0 for codecs without a bit rate
};

struct OutputPlan {
    std::string muxerName;             // "avi", "mpeg", "vob", "asf"
    std::optional<VideoPlan> video;
    std::optional<AudioPlan> audio;
    int inputSampleRate = 0, inputChannels = 0;  // layout of the appended sound
};

// Throws EngineError with a readable description when the settings cannot make a file.
OutputPlan BuildOutputPlan(const WriterSettings& settings, int32_t containerKind);

// The audio encoder's parameters for a wanted rate and channel count: the nearest the encoder
// takes (exact when it can). Throws EngineError when the encoder is missing.
AudioPlan PlanAudio(const std::string& encoderName, int sampleRate, int channels, int64_t bitRate);

// MPEG audio layer II bit rates depend on the sample rate's family; the nearest allowed one.
int NearestLayer2BitRate(int kbps, int sampleRate);

}  // namespace trimora
