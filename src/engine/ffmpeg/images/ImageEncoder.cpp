#include "engine/ffmpeg/images/ImageEncoder.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/opt.h>
}

#include "engine/FfmpegUtil.h"
#include "engine/ffmpeg/images/Palette.h"

namespace trimora {

namespace {

struct EncoderChoice {
    const char* formatName;            // for messages
    std::vector<const char*> encoders;  // FFmpeg encoder names, best first
    AVPixelFormat pixelFormat;
};

EncoderChoice ChoiceFor(RasterFormat format) {
    switch (format) {
        case RasterFormat::Bmp: return {"BMP", {"bmp"}, AV_PIX_FMT_BGR24};
        case RasterFormat::Gif: return {"GIF", {"gif"}, AV_PIX_FMT_PAL8};
        case RasterFormat::Jpeg: return {"JPEG", {"mjpeg"}, AV_PIX_FMT_YUV444P};
        case RasterFormat::Png: return {"PNG", {"png"}, AV_PIX_FMT_RGB24};
        case RasterFormat::Tiff: return {"TIFF", {"tiff"}, AV_PIX_FMT_RGB24};
        case RasterFormat::Pcx: return {"PCX", {"pcx"}, AV_PIX_FMT_RGB24};
        case RasterFormat::Tga: return {"TGA", {"targa"}, AV_PIX_FMT_BGR24};
        case RasterFormat::SunRaster: return {"Sun raster", {"sunrast"}, AV_PIX_FMT_BGR24};
        case RasterFormat::Jpeg2000: return {"JPEG 2000", {"libopenjpeg", "jpeg2000"}, AV_PIX_FMT_RGB24};
    }
    throw EngineError("Unknown picture format.");
}

void CopyRgb(const RgbImage& image, AVFrame* frame, bool swapRedAndBlue) {
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* source = image.Row(y);
        uint8_t* destination = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
        if (!swapRedAndBlue) {
            std::memcpy(destination, source, static_cast<size_t>(image.width) * 3);
            continue;
        }
        for (int x = 0; x < image.width; ++x) {
            destination[x * 3 + 0] = source[x * 3 + 2];
            destination[x * 3 + 1] = source[x * 3 + 1];
            destination[x * 3 + 2] = source[x * 3 + 0];
        }
    }
}

void CopyPalette(const RgbImage& image, AVFrame* frame) {
    const PalettePicture quantized = QuantizeToPalette(image, 256);
    for (int y = 0; y < image.height; ++y)
        std::memcpy(frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0],
                    quantized.indices.data() + static_cast<size_t>(y) * image.width, static_cast<size_t>(image.width));
    auto* palette = reinterpret_cast<uint32_t*>(frame->data[1]);
    for (size_t i = 0; i < 256; ++i) {
        // Opaque entries: the encoder treats a transparent entry as "see through".
        const RgbColour c = i < quantized.palette.size() ? quantized.palette[i] : RgbColour{0, 0, 0};
        palette[i] = 0xFF000000u | (uint32_t{c[0]} << 16) | (uint32_t{c[1]} << 8) | c[2];
    }
}

// JPEG stores full-range BT.601 YCbCr (JFIF).
void ConvertToJpegYuv(const RgbImage& image, AVFrame* frame) {
    ff::SwsPtr scaler(sws_getContext(image.width, image.height, AV_PIX_FMT_RGB24, image.width, image.height,
                                     static_cast<AVPixelFormat>(frame->format),
                                     SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr));
    if (!scaler) throw EngineError("The picture converter for JPEG could not be set up.");
    const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(scaler.get(), bt601, 1, bt601, 1, 0, 1 << 16, 1 << 16);
    // swscale's vector code reads a little past the last row: give it spare bytes to read.
    std::vector<uint8_t> padded(image.pixels.size() + 64);
    std::copy(image.pixels.begin(), image.pixels.end(), padded.begin());
    const uint8_t* source[4] = {padded.data(), nullptr, nullptr, nullptr};
    const int sourceLines[4] = {image.width * 3, 0, 0, 0};
    sws_scale(scaler.get(), source, sourceLines, 0, image.height, frame->data, frame->linesize);
}

void SetOption(AVCodecContext* context, const char* name, const char* value) {
    // Every encoder offered here knows its options; a missing one only loses a refinement.
    av_opt_set(context->priv_data, name, value, 0);
}

}  // namespace

std::vector<uint8_t> EncodeRaster(const RgbImage& image, RasterFormat format) {
    const EncoderChoice choice = ChoiceFor(format);
    const std::string what = std::string("Writing the ") + choice.formatName + " picture";
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<size_t>(image.width) * image.height * 3)
        throw EngineError(what + ": there is no picture.");

    const AVCodec* codec = nullptr;
    for (const char* name : choice.encoders)
        if ((codec = avcodec_find_encoder_by_name(name))) break;
    if (!codec) throw EngineError(what + ": this system's FFmpeg has no " + choice.formatName + " encoder.");

    ff::CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) throw EngineError(what + ": out of memory.");
    context->width = image.width;
    context->height = image.height;
    context->pix_fmt = choice.pixelFormat;
    context->time_base = AVRational{1, 25};
    context->thread_count = 1;
    context->sample_aspect_ratio = AVRational{1, 1};

    switch (format) {
        case RasterFormat::Jpeg:
            // Fixed quantiser 2: visually lossless, the usual choice for stills.
            context->flags |= AV_CODEC_FLAG_QSCALE;
            context->global_quality = FF_QP2LAMBDA * 2;
            context->color_range = AVCOL_RANGE_JPEG;
            context->colorspace = AVCOL_SPC_BT470BG;
            break;
        case RasterFormat::Tiff:
            SetOption(context.get(), "compression_algo", "lzw");
            break;
        case RasterFormat::Jpeg2000:
            // A bare codestream, as .j2k files hold; libopenjpeg's default 5/3 wavelet is lossless.
            SetOption(context.get(), "format", "j2k");
            if (std::strcmp(codec->name, "jpeg2000") == 0) SetOption(context.get(), "pred", "dwt53");
            break;
        case RasterFormat::Gif:
            // One picture: no inter-frame optimisation, a global palette.
            SetOption(context.get(), "gifflags", "0");
            break;
        default:
            break;
    }

    ff::Check(avcodec_open2(context.get(), codec, nullptr), what);

    ff::FramePtr frame = ff::MakeFrame();
    ff::PacketPtr packet = ff::MakePacket();
    if (!frame || !packet) throw EngineError(what + ": out of memory.");
    frame->width = image.width;
    frame->height = image.height;
    frame->format = choice.pixelFormat;
    ff::Check(av_frame_get_buffer(frame.get(), 0), what);
    // Some encoders (PCX) write whole even-length rows: the byte past an odd width must be a
    // known one, not whatever the memory held.
    for (int plane = 0; plane < AV_NUM_DATA_POINTERS && frame->buf[plane]; ++plane)
        std::memset(frame->buf[plane]->data, 0, frame->buf[plane]->size);
    frame->pts = 0;
    frame->pict_type = AV_PICTURE_TYPE_I;
    frame->key_frame = 1;
    frame->quality = context->global_quality;
    frame->color_range = context->color_range;
    frame->colorspace = context->colorspace;
    frame->sample_aspect_ratio = context->sample_aspect_ratio;

    switch (choice.pixelFormat) {
        case AV_PIX_FMT_RGB24: CopyRgb(image, frame.get(), false); break;
        case AV_PIX_FMT_BGR24: CopyRgb(image, frame.get(), true); break;
        case AV_PIX_FMT_PAL8: CopyPalette(image, frame.get()); break;
        case AV_PIX_FMT_YUV444P: ConvertToJpegYuv(image, frame.get()); break;
        default: throw EngineError(what + ": no conversion to the encoder's pixel format.");
    }

    std::vector<uint8_t> bytes;
    ff::Check(avcodec_send_frame(context.get(), frame.get()), what);
    ff::Check(avcodec_send_frame(context.get(), nullptr), what);
    for (;;) {
        const int result = avcodec_receive_packet(context.get(), packet.get());
        if (result == AVERROR_EOF) break;
        ff::Check(result, what);
        bytes.insert(bytes.end(), packet->data, packet->data + packet->size);
        av_packet_unref(packet.get());
    }
    if (bytes.empty()) throw EngineError(what + ": the encoder produced no picture.");
    // FFmpeg's GIF encoder leaves the trailer to its muxer; a file needs it.
    if (format == RasterFormat::Gif) bytes.push_back(0x3B);
    return bytes;
}

}  // namespace trimora
