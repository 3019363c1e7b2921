#include "engine/ffmpeg/writer/FrameRates.h"

#include <cmath>
#include <initializer_list>

namespace trimora {

AVRational StandardFrameRate(double framesPerSecond) {
    if (!std::isfinite(framesPerSecond) || framesPerSecond < 0.5 || framesPerSecond > 1000) return {25, 1};
    // NTSC-style rates are listed with two decimals; a hundredth of a frame separates them from
    // the whole rates next to them (23.976 vs 24).
    for (int whole : {24, 30, 48, 60, 120}) {
        const double ntsc = whole * 1000.0 / 1001.0;
        if (std::fabs(framesPerSecond - ntsc) < 0.01) return {whole * 1000, 1001};
    }
    const double rounded = std::round(framesPerSecond);
    if (std::fabs(framesPerSecond - rounded) < 0.001) return {static_cast<int>(rounded), 1};
    return av_d2q(framesPerSecond, 60000);
}

AVRational EncoderFrameRate(const AVCodec* codec, double framesPerSecond) {
    const AVRational wanted = StandardFrameRate(framesPerSecond);
    if (!codec || !codec->supported_framerates) return wanted;
    const int index = av_find_nearest_q_idx(wanted, codec->supported_framerates);
    return codec->supported_framerates[index];
}

}  // namespace trimora
