#pragma once
// Pictures stored on their side: a phone that films upright stores its pictures as the sensor
// lies and names the turn in the container (a display matrix). The reader hands such pictures
// out turned, as every player shows them, so the preview, the cut and a saved picture stand
// upright and the file's size reads as it is seen.
extern "C" {
#include <libavformat/avformat.h>
}

#include "engine/FfmpegUtil.h"

namespace trimora {

// How far the stream's pictures are to be turned clockwise to be seen as meant: 0, 90, 180 or
// 270. A turn by another angle, or one with a mirror, gives 0 (the pictures as stored).
int ClockwiseTurn(const AVStream& stream);

// `picture` turned clockwise by `degrees` (90, 180 or 270) into a new picture with the same
// properties; a quarter turn swaps its width and height and its pixels' aspect. Throws
// EngineError when memory runs out.
ff::FramePtr TurnPicture(const AVFrame& picture, int degrees);

}  // namespace trimora
