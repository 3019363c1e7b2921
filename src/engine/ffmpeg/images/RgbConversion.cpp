#include "engine/ffmpeg/images/RgbConversion.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace trimora {

namespace {

// The yuvj formats are their yuv twins with full range implied; the scaler wants the twin and
// the range said explicitly.
AVPixelFormat WithoutImpliedRange(AVPixelFormat format) {
    switch (format) {
        case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P: return AV_PIX_FMT_YUV440P;
        case AV_PIX_FMT_YUVJ411P: return AV_PIX_FMT_YUV411P;
        default: return format;
    }
}

bool IsFullRangeFormat(AVPixelFormat format) { return WithoutImpliedRange(format) != format; }

}  // namespace

ColourConversion ColourConversionFor(const FrameHeader& header) {
    ColourConversion conversion;
    switch (header.colorSpace) {
        case AVCOL_SPC_BT709:
            conversion.swsColorspace = SWS_CS_ITU709;
            break;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
            conversion.swsColorspace = SWS_CS_ITU601;
            break;
        case AVCOL_SPC_FCC:
            conversion.swsColorspace = SWS_CS_FCC;
            break;
        case AVCOL_SPC_SMPTE240M:
            conversion.swsColorspace = SWS_CS_SMPTE240M;
            break;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            conversion.swsColorspace = SWS_CS_BT2020;
            break;
        default:
            // Untagged video: high-definition sizes are BT.709, everything smaller BT.601.
            conversion.swsColorspace = header.height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
            break;
    }
    if (header.colorRange == AVCOL_RANGE_JPEG)
        conversion.fullRange = true;
    else if (header.colorRange == AVCOL_RANGE_MPEG)
        conversion.fullRange = false;
    else
        conversion.fullRange = IsFullRangeFormat(static_cast<AVPixelFormat>(header.pixelFormat));
    return conversion;
}

RgbImage FrameToRgbConverter::Convert(const FrameData& frame) {
    if (frame.empty()) throw EngineError("There is no picture to save: no frame has been read.");
    const std::optional<FrameView> view = ViewFrame(frame);
    if (!view) throw EngineError("The frame holds no picture that can be saved.");
    const FrameHeader& header = view->header;
    const auto format = WithoutImpliedRange(static_cast<AVPixelFormat>(header.pixelFormat));
    if (!sws_isSupportedInput(format))
        throw EngineError(std::string("Pictures in the pixel format ") + av_get_pix_fmt_name(format) +
                          " cannot be converted.");

    // Accurate rounding and full chroma interpolation: the saved picture is what the frame
    // holds, not an approximation of it.
    const int flags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP;
    SwsContext* scaler = sws_getCachedContext(scaler_.release(), header.width, header.height, format, header.width,
                                              header.height, AV_PIX_FMT_RGB24, flags, nullptr, nullptr, nullptr);
    scaler_.reset(scaler);
    if (!scaler) throw EngineError("The picture converter could not be set up for this frame.");

    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    if (!(descriptor->flags & AV_PIX_FMT_FLAG_RGB)) {
        const ColourConversion conversion = ColourConversionFor(header);
        const int* coefficients = sws_getCoefficients(conversion.swsColorspace);
        // brightness 0, contrast and saturation 1.0 in 16.16 fixed point
        if (sws_setColorspaceDetails(scaler, coefficients, conversion.fullRange ? 1 : 0,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16) < 0)
            throw EngineError("The picture converter does not accept this frame's colours.");
    }

    RgbImage image;
    image.width = header.width;
    image.height = header.height;
    image.pixels.resize(static_cast<size_t>(header.width) * header.height * 3);
    uint8_t* destination[4] = {image.pixels.data(), nullptr, nullptr, nullptr};
    const int destinationLines[4] = {header.width * 3, 0, 0, 0};
    const int rows = sws_scale(scaler, view->planes, view->linesizes, 0, header.height, destination, destinationLines);
    if (rows != header.height) throw EngineError("The frame could not be converted to a picture.");
    return image;
}

RgbImage ConvertFrameToRgb24(const FrameData& frame) {
    FrameToRgbConverter converter;
    return converter.Convert(frame);
}

}  // namespace trimora
