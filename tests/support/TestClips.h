#pragma once
// Test media made on the fly: clips in every input container whose pictures carry their frame
// number as a stamp (two rows of eight black/white blocks at the top, robust to lossy codecs and
// to scaling) and whose sound is a known pattern (a chirp with a loud click at every whole
// second), plus helpers to read stamps and sound back from any file.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/FrameBuffer.h"
#include "engine/MediaTypes.h"

namespace trimora::test {

struct ClipSpec {
    // "avi" (MPEG-4 Part 2 + PCM), "avi-h264" (H.264 with B-frames + PCM), "mpeg1" (MPEG-1
    // system stream, .mpg), "mpeg2" (MPEG-2 program stream, .mpeg), "ts" (MPEG-2 transport
    // stream), "asf" (WMV2 + WMA2, .wmv), "mov" and "mp4" (H.264 + AAC), "mkv" (H.264 + Vorbis),
    // "h264" and "hevc" (the bare video stream as the encoder gives it: no container, no times,
    // no sound; set `audio` to false).
    std::string format = "avi";
    std::string videoCodec;   // FFmpeg encoder name; empty: the format's default above
    std::string audioCodec;   // FFmpeg encoder name; empty: the format's default above
    int width = 176;
    int height = 144;
    std::string frameRate = "25";  // as FFmpeg reads it: "25", "30000/1001"
    int frames = 50;
    int gop = 12;             // keyframe interval
    bool bFrames = true;      // allow B-frames where the codec has them
    bool audio = true;
    int sampleRate = 48000;
    int channels = 2;
    std::string extraArgs;    // more ffmpeg output options
    int firstStamp = 1;       // stamp of the first picture; the sound pattern starts where that frame lies
};

// Makes the clip (once per distinct spec in this test process) and returns its path.
std::string MakeClip(const ClipSpec& spec);

// The file cached for `key` (any text naming its content), made by `make(path)` the first time
// it is asked for; `extension` ends its name (".avi").
std::string CachedMedia(const std::string& key, const std::string& extension,
                        const std::function<void(const std::string& path)>& make);

// The raw material of clips made by other programs: the stamped pictures 1..frames as a
// YUV4MPEG2 file (4:2:0) and the sound pattern from its first sample as a 16-bit WAV file.
void WriteStampedY4m(const std::string& path, int width, int height, int frameRate, int frames);
void WritePatternWav(const std::string& path, int sampleRate, int channels, int64_t sampleFrames);

// A recording as they come from recorders and copies, made from stamped clips with the ffmpeg
// command and plain byte surgery (made once per process):
//   "joined-ts", "joined-mpg": two clips of 80 frames (stamps 1-80 and 81-160, the sound pattern
//       running on) joined byte for byte as a transport and a program stream: the clock restarts;
//   "joined-formats-ts": the same as a transport stream whose second clip has pictures of another
//       size and sound of another rate (352x288 and 44.1 kHz mono after 176x144 and 48 kHz stereo);
//   "ts-cut-start": a transport stream whose first bytes are gone (cut at a packet boundary), so
//       that it starts in the middle of a group;
//   "ts-cut-start-high-rate": the same at 12 Mbit/s in groups of 150 frames, so that the first
//       keyframe comes 8 MB after the start;
//   "programme-change-ts": three transport streams joined (stamps 1-60, 61-120, 121-160), each
//       one's streams under other packet identifiers (the second in the first one's programme,
//       the third in a programme of its own): H.264 and AAC, MPEG-2 and MP2, H.264 and AAC;
//   "lossy-ts": a transport stream of 100 frames, one sound frame to a packet, of which two
//       (numbered 62 and 104 from 0, between the clicks) were lost as in a reception dropout;
//   "remuxed-mpg": a program stream the ffmpeg command muxed from the elementary streams of an
//       MPEG-2 clip, as after taking a DVD apart: no reference picture carries a time;
//   "untimed-mpg": the pictures of an MPEG-2 clip (no sound) that GStreamer put into a program
//       stream straight from the elementary stream: no packet carries a time;
//   "avi-cut-end": an AVI of 100 frames cut off at 60 % of its bytes, in the middle of the
//       picture stored there (no index);
//   "damaged": an MP4 (H.264, 2048x1152) of 40 frames whose 17th video packet is garbage;
//   "damaged-b-avi": an AVI of 100 H.264 frames with B-frames whose picture stamped 42 (a
//       B-picture) is zeroed.
std::string MakeRecording(const std::string& kind);

// The folder for this test process's files; removed when the process ends.
std::string TempDir();
// A fresh path in TempDir() with the given file name ending (".avi").
std::string TempPath(const std::string& suffix);

// Draws / reads the frame-number stamp on an 8-bit luma plane. ReadStamp gives -1 when the
// blocks cannot be read as a stamp.
void DrawStamp(uint8_t* luma, int linesize, int width, int height, int number);
int ReadStamp(const uint8_t* luma, int linesize, int width, int height);
// Reads the stamp from a frame's picture (any YUV or gray format).
int ReadStamp(const FrameData& frame);

// A frame with a picture of its own (made by no reader) carrying the stamp of `number`, for
// feeding the writer, the preview or the picture writer without a reader. pixelFormat is an
// AVPixelFormat; -1 means yuv420p.
FrameData MakeStampedFrame(int width, int height, int number, int timeMs, int pixelFormat = -1);
// A copy of `frame` in a picture of its own, its header changed by `change`.
FrameData WithHeader(const FrameData& frame, const std::function<void(FrameHeader&)>& change);
// A frame whose picture is in no pixel format anyone knows: what a damaged frame looks like.
FrameData UnreadableFrame();
// `sampleFrames` sample frames of the sound pattern, starting at sample frame `first`, as an
// AudioBlock (interleaved s16).
AudioBlock MakePatternBlock(int64_t first, int sampleFrames, int sampleRate, int channels);

// The sound pattern the generator writes: sample `index` of channel `channel`.
int16_t PatternSample(int64_t index, int channel, int sampleRate);

// Decodes every video frame of a file with the ffmpeg command and reads their stamps, in order.
// `constantRate`: one picture for every frame period, as a player shows them (a picture that
// cannot be decoded leaves the one before on screen).
std::vector<int> DecodeStamps(const std::string& path, bool constantRate = false);
// Decodes the first audio stream with the ffmpeg command to interleaved s16 at its own rate and
// channel count (reported through the pointers when given).
std::vector<int16_t> DecodeAudio(const std::string& path, int* sampleRate = nullptr, int* channels = nullptr);
// Times in seconds of the clicks in decoded sound (first sample of each click).
std::vector<double> FindClicks(const std::vector<int16_t>& interleaved, int channels, int sampleRate);

// A file's decoded sound placed against its pictures as a player places both, by their
// timestamps. Times in seconds from the start of the first picture.
struct SoundPlacement {
    int sampleRate = 0, channels = 0;
    double start = 0;             // the first decoded sample
    int64_t samples = 0;          // decoded sample frames
    std::vector<double> clicks;   // the first sample of each click
    double pictureEnd = 0;        // the end of the last picture
    double End() const { return sampleRate > 0 ? start + static_cast<double>(samples) / sampleRate : start; }
};
SoundPlacement PlaceSound(const std::string& path);

struct ProbeInfo {
    std::string formatName;      // ffprobe's format_name, e.g. "avi", "mpeg", "asf"
    std::string videoCodec;      // codec_name of the first video stream, "" if none
    std::string audioCodec;      // codec_name of the first audio stream, "" if none
    int width = 0, height = 0;
    int sampleRate = 0, channels = 0;
    double videoDuration = 0;    // seconds
    double frameRate = 0;        // the video stream's frame rate
    double audioDuration = 0;    // seconds
    int decodeErrors = 0;        // lines ffmpeg printed at error level while decoding everything
};
ProbeInfo Probe(const std::string& path);

// Runs a shell command; returns its exit status and (optionally) what it wrote to stdout.
int RunCommand(const std::string& command, std::string* output = nullptr);
// Quotes a path for the shell.
std::string ShellQuote(const std::string& text);

}  // namespace trimora::test
