#include "engine/view/FrameScaler.h"

#include <cstring>
#include <string>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
}

namespace trimora::view {

namespace {

// Native-endian 0xAARRGGBB, the layout of QImage::Format_RGB32 and Format_ARGB32.
constexpr AVPixelFormat kTargetFormat = AV_PIX_FMT_RGB32;

bool IsJpegStyle(AVPixelFormat format) {
    switch (format) {
    case AV_PIX_FMT_YUVJ411P:
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ444P:
        return true;
    default:
        return false;
    }
}

bool IsGrey(const AVPixFmtDescriptor* desc) {
    return desc->nb_components <= 2 && !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL));
}

}  // namespace

ColourChoice ChooseColour(const FrameHeader& header) {
    ColourChoice choice;
    switch (static_cast<AVColorSpace>(header.colorSpace)) {
    case AVCOL_SPC_BT709:
        choice.matrix = SWS_CS_ITU709;
        break;
    case AVCOL_SPC_FCC:
        choice.matrix = SWS_CS_FCC;
        break;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
        choice.matrix = SWS_CS_ITU601;
        break;
    case AVCOL_SPC_SMPTE240M:
        choice.matrix = SWS_CS_SMPTE240M;
        break;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        choice.matrix = SWS_CS_BT2020;
        break;
    default:
        choice.matrix = header.height < 720 ? SWS_CS_ITU601 : SWS_CS_ITU709;
        break;
    }

    switch (static_cast<AVColorRange>(header.colorRange)) {
    case AVCOL_RANGE_JPEG:
        choice.fullRange = true;
        break;
    case AVCOL_RANGE_MPEG:
        choice.fullRange = false;
        break;
    default: {
        const auto format = static_cast<AVPixelFormat>(header.pixelFormat);
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
        choice.fullRange = IsJpegStyle(format) || (desc && IsGrey(desc));
        break;
    }
    }
    return choice;
}

void CropAlignment(int pixelFormat, int* alignX, int* alignY) {
    *alignX = 1;
    *alignY = 1;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(pixelFormat));
    if (!desc) return;
    *alignX = 1 << desc->log2_chroma_w;
    *alignY = 1 << desc->log2_chroma_h;
    if (desc->flags & AV_PIX_FMT_FLAG_BITSTREAM) *alignX = std::max(*alignX, 8);
    if (desc->flags & AV_PIX_FMT_FLAG_BAYER) {
        *alignX = std::max(*alignX, 2);
        *alignY = std::max(*alignY, 2);
    }
}

void FrameScaler::FreeIntermediate() {
    av_freep(&intermediate_[0]);
    for (int p = 0; p < 4; ++p) {
        intermediate_[p] = nullptr;
        intermediateLinesizes_[p] = 0;
    }
}

namespace {

// Planar YUV (or grey) that swscale can scale within its own format.
bool ScalesWithinFormat(const AVPixFmtDescriptor* desc) {
    const auto flags = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                       AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BAYER | AV_PIX_FMT_FLAG_FLOAT;
    return (desc->flags & AV_PIX_FMT_FLAG_PLANAR) && !(desc->flags & flags) && desc->nb_components >= 3;
}

ff::SwsPtr MakeContext(int sourceWidth, int sourceHeight, AVPixelFormat sourceFormat, int targetWidth,
                       int targetHeight, AVPixelFormat targetFormat, int flags) {
    ff::SwsPtr context(sws_getContext(sourceWidth, sourceHeight, sourceFormat, targetWidth, targetHeight,
                                      targetFormat, flags, nullptr, nullptr, nullptr));
    if (!context) {
        const char* name = av_get_pix_fmt_name(sourceFormat);
        throw EngineError(std::string("The preview cannot show frames in pixel format ") +
                          (name ? name : std::to_string(static_cast<int>(sourceFormat))) + ".");
    }
    return context;
}

// swscale's vector colour converters write whole groups of 16 pixels, past the end of a row
// whose width is not a multiple of 16: every row gets room for that, and the last one too.
// One spare row below the picture takes the row a conversion of an even number of rows adds.
QImage PaddedImage(int width, int height, QImage::Format format) {
    constexpr int kGroup = 16;
    constexpr size_t kTail = 64;
    const qsizetype stride = static_cast<qsizetype>((width + kGroup - 1) / kGroup * kGroup) * 4;
    const size_t bytes = static_cast<size_t>(stride) * static_cast<size_t>(height + 1) + kTail;
    auto* buffer = static_cast<uchar*>(av_malloc(bytes));
    if (!buffer) return QImage();
    return QImage(buffer, width, height, stride, format, [](void* data) { av_free(data); }, buffer);
}

}  // namespace

void FrameScaler::MakeContexts(const Key& key) {
    if (context_ && key == key_) return;
    Release();
    const auto format = static_cast<AVPixelFormat>(key.pixelFormat);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    // Shrinking, which every frame of a job or playback goes through, takes the fast filter:
    // cheaper per frame and alike on screen. Enlarging keeps the exact one.
    const bool shrinking = key.targetWidth <= key.sourceWidth && key.targetHeight <= key.sourceHeight;
    const bool resized = key.targetWidth != key.sourceWidth || key.targetHeight != key.sourceHeight;
    int convertFromWidth = key.sourceWidth, convertFromHeight = key.sourceHeight;
    int convertToHeight = key.targetHeight;
    if (shrinking && resized && desc && ScalesWithinFormat(desc)) {
        shrink_ = MakeContext(key.sourceWidth, key.sourceHeight, format, key.targetWidth, key.targetHeight, format,
                              SWS_FAST_BILINEAR);
        // swscale converts YUV to RGB on its fast path only for an even number of rows (an odd
        // one costs ten times as much): an odd picture gets a blank row below it, converted
        // into the image's spare row and never shown. Each RGB row comes from its own luma row.
        convertToHeight = key.targetHeight + key.targetHeight % 2;
        const int bytes =
            av_image_alloc(intermediate_, intermediateLinesizes_, key.targetWidth, convertToHeight, format, 64);
        if (bytes < 0) {
            Release();
            throw EngineError("Not enough memory for the preview picture.");
        }
        std::memset(intermediate_[0], 0, static_cast<size_t>(bytes));
        convertFromWidth = key.targetWidth;
        convertFromHeight = convertToHeight;
    }
    context_ = MakeContext(convertFromWidth, convertFromHeight, format, key.targetWidth, convertToHeight, kTargetFormat,
                           shrinking ? SWS_FAST_BILINEAR : SWS_BILINEAR);
    // RGB sources have no matrix; swscale refuses the call for them and that is fine.
    sws_setColorspaceDetails(context_.get(), sws_getCoefficients(key.colour.matrix), key.colour.fullRange ? 1 : 0,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    key_ = key;
}

void FrameScaler::Prepare(int pixelFormat, const ColourChoice& colour, int sourceWidth, int sourceHeight,
                          int targetWidth, int targetHeight) {
    MakeContexts({pixelFormat, colour, sourceWidth, sourceHeight, targetWidth, targetHeight});
}

void FrameScaler::Convert(const FrameView& frame, const Rect& source, int targetWidth, int targetHeight,
                          QImage* image) {
    const FrameHeader& header = frame.header;
    const auto format = static_cast<AVPixelFormat>(header.pixelFormat);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc || source.IsEmpty() || targetWidth <= 0 || targetHeight <= 0) return;

    MakeContexts({header.pixelFormat, ChooseColour(header), source.width, source.height, targetWidth, targetHeight});

    // Point every plane at the crop's corner; a palette is not an image plane.
    const uint8_t* planes[4] = {nullptr, nullptr, nullptr, nullptr};
    for (int p = 0; p < 4; ++p) {
        if (!frame.planes[p]) continue;
        if (p == 1 && (desc->flags & AV_PIX_FMT_FLAG_PAL)) {
            planes[p] = frame.planes[p];
            continue;
        }
        const bool chroma = p == 1 || p == 2;
        const int row = chroma ? source.y >> desc->log2_chroma_h : source.y;
        const int columnBytes = source.x ? av_image_get_linesize(format, source.x, p) : 0;
        planes[p] = frame.planes[p] + static_cast<ptrdiff_t>(row) * frame.linesizes[p] + std::max(columnBytes, 0);
    }

    const QImage::Format imageFormat =
        (desc->flags & AV_PIX_FMT_FLAG_ALPHA) ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    // Only a picture made here has the padding and the spare row the conversion writes to.
    if (image->width() != targetWidth || image->height() != targetHeight || image->format() != imageFormat ||
        !image->isDetached() || image->constBits() != imageBuffer_) {
        *image = PaddedImage(targetWidth, targetHeight, imageFormat);
        imageBuffer_ = image->constBits();
    }
    if (image->isNull()) throw EngineError("Not enough memory for the preview picture.");

    uint8_t* destination[4] = {image->bits(), nullptr, nullptr, nullptr};
    const int destinationStrides[4] = {static_cast<int>(image->bytesPerLine()), 0, 0, 0};
    if (shrink_) {
        ff::Check(sws_scale(shrink_.get(), planes, frame.linesizes, 0, source.height, intermediate_,
                            intermediateLinesizes_),
                  "Drawing the preview");
        ff::Check(sws_scale(context_.get(), intermediate_, intermediateLinesizes_, 0, ConvertedRows(),
                            destination, destinationStrides),
                  "Drawing the preview");
    } else {
        ff::Check(sws_scale(context_.get(), planes, frame.linesizes, 0, source.height, destination,
                            destinationStrides),
                  "Drawing the preview");
    }
}

void FrameScaler::Release() {
    shrink_.reset();
    context_.reset();
    FreeIntermediate();
    key_ = {};
}

}  // namespace trimora::view
