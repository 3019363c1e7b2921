#pragma once
// Frame rates as the option lists show them ("23.97", "29.97") mapped onto the exact rates
// video is made at.
extern "C" {
#include <libavcodec/avcodec.h>
}

namespace trimora {

// 23.97 → 24000/1001, 29.97 → 30000/1001, 59.94 → 60000/1001, whole numbers stay whole; any
// other value keeps its own rational approximation. Zero, negative or absurd rates give 25.
AVRational StandardFrameRate(double framesPerSecond);

// The rate the encoder will actually take: the nearest of its supported rates when it has a
// fixed list (the MPEG video encoders do), else StandardFrameRate.
AVRational EncoderFrameRate(const AVCodec* codec, double framesPerSecond);

}  // namespace trimora
