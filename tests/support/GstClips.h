#pragma once
// Test clips written by a second, independent muxer: GStreamer's gst-launch-1.0 with its own
// AVI, MPEG program stream, ASF and QuickTime muxers. They carry the same stamped pictures and
// sound pattern as the clips of TestClips.h (25 frames a second, the sound from time zero).
#include <string>

namespace trimora::test {

struct GstClipSpec {
    // "avi" (avimux), "mpeg" (mpegpsmux), "ts" (mpegtsmux), "asf" (asfmux), "mov" (qtmux);
    // "asf_straight": asfmux fed straight from the encoders, as a GStreamer pipeline that writes
    // WMV does it: its pictures are stamped 1000 hours after its sound (see Generate).
    std::string container = "avi";
    std::string video = "mjpeg";    // "mjpeg", "h264", "h264b" (with B-frames), "mpeg4" (Part 2), "wmv2"
    std::string audio = "pcm";      // "pcm" (16-bit), "mp3", "mp2", "wma" (WMA 2)
    int width = 176;
    int height = 144;
    int frames = 50;
    int sampleRate = 48000;
    int channels = 2;
};

// Makes the clip (cached like MakeClip's) and returns its path.
std::string MakeGstClip(const GstClipSpec& spec);
// A short name for the clip, usable as a test name ("avi_mjpeg_pcm_48000x2").
std::string GstClipName(const GstClipSpec& spec);

}  // namespace trimora::test
