#pragma once
// The AVI video codecs the writer offers: FFmpeg encoders that the AVI muxer accepts and that
// really encode on this build, each with a name a user can read. Numbered from 1; the last
// number is the best general default and is what the window shows first.
#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace trimora {

// How an encoder expresses "constant quality" in its settings dialog.
enum class QualityScale {
    None,     // lossless or fixed-quality codecs: no quality setting
    QScale,   // the mpegvideo family and friends: 1 (best) .. 31 (worst)
    Crf,      // x264: constant rate factor 0 (best) .. 51 (worst)
};

struct AviCodecEntry {
    std::string encoderName;   // FFmpeg's encoder name ("mpeg4", "libx264")
    std::string displayName;   // shown in the codec list
    int sizeMultiple = 1;      // width and height must be multiples of this
    AVPixelFormat preferredFormat = AV_PIX_FMT_NONE;  // NONE: the encoder's best match for yuv420p
    QualityScale quality = QualityScale::QScale;
    bool lossless = false;     // no bit rate to choose
};

// Every encoder we know how to name, in catalog order; whether each one works here is decided
// by AviCodecs().
const std::vector<AviCodecEntry>& AviCodecCandidates();

// The candidates that the AVI muxer accepts and that encode a small test picture on this build.
// Probed once per process (a few tens of milliseconds in all) and cached.
const std::vector<AviCodecEntry>& AviCodecs();

// True when `entry` encodes a real picture into something the AVI muxer takes.
bool ProbeAviCodec(const AviCodecEntry& entry);

// The pixel format the writer feeds this encoder.
AVPixelFormat EncoderPixelFormat(const AVCodec* codec, const AviCodecEntry& entry);

// `size` rounded up to the encoder's size multiple and to the chroma subsampling of `format`
// (so odd sizes and sizes a block codec refuses still encode).
int AlignedDimension(int size, int multiple, int chromaShift);

}  // namespace trimora
