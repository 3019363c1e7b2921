#include "GstClips.h"

#include <filesystem>
#include <map>
#include <stdexcept>

#include "TestClips.h"

namespace trimora::test {
namespace {

constexpr int kFrameRate = 25;
constexpr int kKeyframeInterval = 12;

const std::string& Lookup(const std::map<std::string, std::string>& table, const std::string& key) {
    const auto it = table.find(key);
    if (it == table.end()) throw std::invalid_argument("no GStreamer clip with " + key);
    return it->second;
}

void Generate(const GstClipSpec& spec, const std::string& path) {
    static const std::map<std::string, std::string> muxers = {
        {"avi", "avimux"}, {"mpeg", "mpegpsmux"}, {"ts", "mpegtsmux"}, {"asf", "asfmux"}, {"asf_straight", "asfmux"},
        {"mov", "qtmux"}};
    const std::string gop = std::to_string(kKeyframeInterval);
    const std::map<std::string, std::string> videoEncoders = {
        {"mjpeg", "jpegenc quality=90"},
        {"h264", "x264enc key-int-max=" + gop + " speed-preset=ultrafast bframes=0 ! h264parse"},
        {"h264b", "x264enc key-int-max=" + gop + " speed-preset=ultrafast bframes=2 b-adapt=false ! h264parse"},
        {"mpeg4", "avenc_mpeg4 gop-size=" + gop + " pass=quant quantizer=3"},
        {"wmv2", "avenc_wmv2 gop-size=" + gop + " bitrate=2000000"},
    };
    static const std::map<std::string, std::string> audioEncoders = {
        {"pcm", "audioconvert"},
        {"mp3", "audioconvert ! lamemp3enc target=bitrate bitrate=192 cbr=true"},
        {"mp2", "audioconvert ! avenc_mp2 bitrate=192000 ! mpegaudioparse"},
        {"wma", "audioconvert ! avenc_wmav2 bitrate=192000"},
    };
    const std::string pictures = path + ".y4m";
    const std::string sound = path + ".wav";
    WriteStampedY4m(pictures, spec.width, spec.height, kFrameRate, spec.frames);
    WritePatternWav(sound, spec.sampleRate, spec.channels,
                    static_cast<int64_t>(spec.frames) * spec.sampleRate / kFrameRate);
    std::string video = "filesrc location=" + ShellQuote(pictures) + " ! y4mdec ! videoconvert ! " +
                        Lookup(videoEncoders, spec.video);
    int status = 0;
    std::string command;
    const auto run = [&](const std::string& muxer, const std::string& target, const std::string& branches) {
        command = "gst-launch-1.0 -q " + muxer + " name=mux ! filesink location=" + ShellQuote(target) + " " +
                  branches + " >/dev/null 2>&1";
        if (status == 0) status = RunCommand(command);
    };
    const std::string videoOnly = path + ".video.wmv";
    if (spec.container == "asf") {
        // GStreamer's video encoders put their pictures 1000 hours into a segment, and asfmux
        // writes those times as they are: beside the sound the video would start 1000 hours
        // late. Muxed alone and demuxed again, the pictures start at zero.
        run("asfmux", videoOnly, video + " ! queue ! mux.");
        video = "filesrc location=" + ShellQuote(videoOnly) + " ! asfdemux name=demux demux.video_0";
    }
    // Pads asked for by name: a demuxer's pad appears too late for the muxer to pick one.
    const bool named = spec.container != "mpeg" && spec.container != "ts";
    run(Lookup(muxers, spec.container), path,
        video + " ! queue ! mux." + (named ? "video_0" : "") + " filesrc location=" + ShellQuote(sound) +
            " ! wavparse ! " + Lookup(audioEncoders, spec.audio) + " ! queue ! mux." + (named ? "audio_0" : ""));
    std::filesystem::remove(pictures);
    std::filesystem::remove(sound);
    std::filesystem::remove(videoOnly);
    if (status != 0 || !std::filesystem::exists(path) || std::filesystem::file_size(path) == 0)
        throw std::runtime_error("gst-launch-1.0 failed to make a clip: " + command);
}

}  // namespace

std::string GstClipName(const GstClipSpec& spec) {
    return spec.container + "_" + spec.video + "_" + spec.audio + "_" + std::to_string(spec.sampleRate) + "x" +
           std::to_string(spec.channels) + "_" + std::to_string(spec.width) + "x" + std::to_string(spec.height);
}

std::string MakeGstClip(const GstClipSpec& spec) {
    static const std::map<std::string, std::string> extensions = {
        {"avi", ".avi"}, {"mpeg", ".mpg"}, {"ts", ".ts"}, {"asf", ".wmv"}, {"asf_straight", ".wmv"}, {"mov", ".mov"}};
    // The name tells the generation apart from FFmpeg's clips; bump the number when the
    // pipelines change.
    return CachedMedia("gst2|" + GstClipName(spec) + "|" + std::to_string(spec.frames), Lookup(extensions, spec.container),
                       [&](const std::string& path) { Generate(spec, path); });
}

}  // namespace trimora::test
