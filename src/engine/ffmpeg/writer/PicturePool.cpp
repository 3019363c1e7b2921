#include "engine/ffmpeg/writer/PicturePool.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include "engine/DeliveredPictures.h"
#include "engine/EngineError.h"

namespace trimora {

namespace {
// Rows start on this boundary, which the encoders' vector code prefers.
constexpr int kRowAlignment = 64;
// Scalers and encoders may read a little past the last row.
constexpr size_t kTailPadding = 64;
}  // namespace

ff::FramePtr PicturePool::Copy(const FrameView& frame) {
    const FrameHeader& h = frame.header;
    const auto format = static_cast<AVPixelFormat>(h.pixelFormat);
    const int imageSize = av_image_get_buffer_size(format, h.width, h.height, kRowAlignment);
    if (imageSize <= 0) throw EngineError("The writer cannot hold pictures of this format and size");
    const size_t bufferSize = static_cast<size_t>(imageSize) + kTailPadding;
    if (bufferSize != bufferSize_ || !pool_) {
        pool_.reset(av_buffer_pool_init(bufferSize, av_buffer_alloc));
        if (!pool_) throw EngineError("Out of memory for a picture");
        bufferSize_ = bufferSize;
    }

    ff::FramePtr picture = ff::MakeFrame();
    if (!picture) throw EngineError("Out of memory for a picture");
    picture->buf[0] = av_buffer_pool_get(pool_.get());
    if (!picture->buf[0]) throw EngineError("Out of memory for a picture");
    ff::Check(av_image_fill_arrays(picture->data, picture->linesize, picture->buf[0]->data, format, h.width,
                                   h.height, kRowAlignment),
              "Cannot lay out a picture");
    av_image_copy(picture->data, picture->linesize, const_cast<const uint8_t**>(frame.planes), frame.linesizes,
                  format, h.width, h.height);
    picture->format = format;
    picture->width = h.width;
    picture->height = h.height;
    TakeHeaderDescription(*picture, h);
    return picture;
}

}  // namespace trimora
