#include "engine/FrameBuffer.h"

#include <atomic>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace trimora {

namespace {
// Rows start on this boundary, which the scalers' and encoders' vector code prefers.
constexpr int kRowAlignment = 64;
}  // namespace

uint32_t NewFrameSource() {
    static std::atomic<uint32_t> last{0};
    uint32_t value = ++last;
    while (value == 0) value = ++last;  // after a wrap
    return value;
}

bool SameSourceFrame(const FrameHeader& a, const FrameHeader& b) {
    return a.source != 0 && a.source == b.source && a.frameNumber == b.frameNumber && a.width == b.width &&
           a.height == b.height && a.pixelFormat == b.pixelFormat;
}

std::optional<FrameView> ViewFrame(const FrameData& frame) {
    const AVFrame* picture = frame.Picture();
    if (!picture || picture->width <= 0 || picture->height <= 0 || !picture->data[0]) return std::nullopt;
    if (!av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format))) return std::nullopt;
    FrameView view;
    FrameHeader& h = view.header;
    h.width = picture->width;
    h.height = picture->height;
    h.pixelFormat = picture->format;
    h.colorSpace = picture->colorspace;
    h.colorRange = picture->color_range;
    const AVRational aspect = picture->sample_aspect_ratio;
    h.sampleAspectNum = aspect.num > 0 && aspect.den > 0 ? aspect.num : 0;
    h.sampleAspectDen = aspect.num > 0 && aspect.den > 0 ? aspect.den : 1;
    h.timeMs = frame.TimeMs();
    h.startSeconds = frame.StartSeconds();
    h.endSeconds = frame.EndSeconds();
    h.frameNumber = frame.FrameNumber();
    h.source = frame.Source();
    for (int p = 0; p < 4; ++p) {
        view.planes[p] = picture->data[p];
        view.linesizes[p] = picture->linesize[p];
    }
    return view;
}

FrameData WrapPicture(ff::FramePtr picture, int32_t timeMs, int32_t frameNumber, uint32_t source) {
    if (!picture || !picture->data[0]) return {};
    return FrameData(std::shared_ptr<const AVFrame>(picture.release(), ff::FrameDeleter()), timeMs, frameNumber,
                     source);
}

FrameData FrameFromPlanes(const FrameHeader& header, const uint8_t* const planes[4], const int linesizes[4]) {
    const auto format = static_cast<AVPixelFormat>(header.pixelFormat);
    if (av_image_get_buffer_size(format, header.width, header.height, 1) <= 0) return {};
    ff::FramePtr picture = ff::MakeFrame();
    if (!picture) throw EngineError("Out of memory for a picture");
    picture->format = format;
    picture->width = header.width;
    picture->height = header.height;
    ff::Check(av_frame_get_buffer(picture.get(), kRowAlignment), "Out of memory for a picture");
    av_image_copy(picture->data, picture->linesize, const_cast<const uint8_t**>(planes), linesizes, format,
                  header.width, header.height);
    picture->colorspace = static_cast<AVColorSpace>(header.colorSpace);
    picture->color_range = static_cast<AVColorRange>(header.colorRange);
    if (header.sampleAspectNum > 0 && header.sampleAspectDen > 0)
        picture->sample_aspect_ratio = AVRational{header.sampleAspectNum, header.sampleAspectDen};
    FrameData frame = WrapPicture(std::move(picture), header.timeMs, header.frameNumber, header.source);
    frame.SetSpan(header.startSeconds, header.endSeconds);
    return frame;
}

ff::FramePtr ReferencePicture(const FrameData& frame) {
    if (frame.empty()) throw EngineError("There is no picture in the frame");
    ff::FramePtr reference(av_frame_clone(frame.Picture()));
    if (!reference) throw EngineError("Out of memory for a picture");
    reference->pts = frame.TimeMs();
    return reference;
}

}  // namespace trimora
