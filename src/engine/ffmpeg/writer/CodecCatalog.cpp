#include "engine/ffmpeg/writer/CodecCatalog.h"

#include <algorithm>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include "engine/FfmpegUtil.h"

namespace trimora {

const std::vector<AviCodecEntry>& AviCodecCandidates() {
    // Lowest number first: the list shows the last entry on top and selects it, so the order
    // runs from the least to the most generally useful choice.
    static const std::vector<AviCodecEntry> candidates = {
        {"cinepak", "Cinepak (slow to encode)", 4, AV_PIX_FMT_NONE, QualityScale::None, false},
        {"msvideo1", "Microsoft Video 1", 4, AV_PIX_FMT_NONE, QualityScale::None, false},
        {"rawvideo", "Uncompressed RGB (very large files)", 1, AV_PIX_FMT_BGR24, QualityScale::None, true},
        {"h263p", "H.263+ (H.263 version 2)", 4, AV_PIX_FMT_NONE, QualityScale::QScale, false},
        {"flv", "Sorenson Spark (FLV1)", 2, AV_PIX_FMT_NONE, QualityScale::QScale, false},
        {"wmv2", "Windows Media Video 8", 2, AV_PIX_FMT_NONE, QualityScale::QScale, false},
        {"msmpeg4v2", "Microsoft MPEG-4 version 2", 2, AV_PIX_FMT_NONE, QualityScale::QScale, false},
        {"msmpeg4", "Microsoft MPEG-4 version 3 (DivX 3 compatible)", 2, AV_PIX_FMT_NONE, QualityScale::QScale, false},
        {"ffv1", "FFV1 (lossless)", 1, AV_PIX_FMT_YUV420P, QualityScale::None, true},
        {"utvideo", "Ut Video (lossless)", 2, AV_PIX_FMT_YUV420P, QualityScale::None, true},
        {"ffvhuff", "HuffYUV, FFmpeg variant (lossless)", 2, AV_PIX_FMT_YUV420P, QualityScale::None, true},
        {"huffyuv", "HuffYUV (lossless)", 2, AV_PIX_FMT_YUV422P, QualityScale::None, true},
        {"mjpeg", "Motion JPEG", 2, AV_PIX_FMT_YUVJ420P, QualityScale::QScale, false},
        {"libx264", "H.264 (x264)", 2, AV_PIX_FMT_YUV420P, QualityScale::Crf, false},
        {"libxvid", "Xvid (MPEG-4 Part 2)", 2, AV_PIX_FMT_YUV420P, QualityScale::QScale, false},
        {"mpeg4", "MPEG-4 Part 2 (DivX/Xvid compatible)", 2, AV_PIX_FMT_YUV420P, QualityScale::QScale, false},
    };
    return candidates;
}

AVPixelFormat EncoderPixelFormat(const AVCodec* codec, const AviCodecEntry& entry) {
    const AVPixelFormat* formats = codec->pix_fmts;
    if (!formats) return entry.preferredFormat != AV_PIX_FMT_NONE ? entry.preferredFormat : AV_PIX_FMT_YUV420P;
    if (entry.preferredFormat != AV_PIX_FMT_NONE) {
        for (const AVPixelFormat* f = formats; *f != AV_PIX_FMT_NONE; ++f)
            if (*f == entry.preferredFormat) return *f;
    }
    return avcodec_find_best_pix_fmt_of_list(formats, AV_PIX_FMT_YUV420P, 0, nullptr);
}

int AlignedDimension(int size, int multiple, int chromaShift) {
    const int step = std::max(multiple, 1 << chromaShift);
    size = std::max(size, 1);
    return (size + step - 1) / step * step;
}

bool ProbeAviCodec(const AviCodecEntry& entry) {
    const AVCodec* codec = avcodec_find_encoder_by_name(entry.encoderName.c_str());
    if (!codec || codec->type != AVMEDIA_TYPE_VIDEO) return false;
    if (codec->capabilities & AV_CODEC_CAP_HARDWARE) return false;
    const AVOutputFormat* avi = av_guess_format("avi", nullptr, nullptr);
    if (!avi || avformat_query_codec(avi, codec->id, FF_COMPLIANCE_NORMAL) != 1) return false;

    ff::CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) return false;
    const AVPixelFormat format = EncoderPixelFormat(codec, entry);
    context->width = 64;
    context->height = 48;
    context->pix_fmt = format;
    context->time_base = AVRational{1, 25};
    context->framerate = AVRational{25, 1};
    context->thread_count = 1;
    context->strict_std_compliance = FF_COMPLIANCE_NORMAL;
    AVDictionary* options = nullptr;
    if (entry.encoderName == "libx264") av_dict_set(&options, "preset", "ultrafast", 0);
    const int opened = avcodec_open2(context.get(), codec, &options);
    av_dict_free(&options);
    if (opened < 0) return false;

    ff::FramePtr frame = ff::MakeFrame();
    frame->format = format;
    frame->width = context->width;
    frame->height = context->height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return false;
    // A plain mid-grey picture: every plane of every format takes it.
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    for (int plane = 0; plane < 4 && frame->data[plane]; ++plane) {
        const int rows = (plane == 1 || plane == 2) ? AV_CEIL_RSHIFT(frame->height, descriptor->log2_chroma_h)
                                                    : frame->height;
        std::fill(frame->data[plane], frame->data[plane] + static_cast<size_t>(frame->linesize[plane]) * rows,
                  uint8_t{0x80});
    }
    frame->pts = 0;
    if (avcodec_send_frame(context.get(), frame.get()) < 0) return false;
    if (avcodec_send_frame(context.get(), nullptr) < 0) return false;
    ff::PacketPtr packet = ff::MakePacket();
    bool gotPacket = false;
    while (avcodec_receive_packet(context.get(), packet.get()) >= 0) {
        gotPacket = gotPacket || packet->size > 0;
        av_packet_unref(packet.get());
    }
    return gotPacket;
}

const std::vector<AviCodecEntry>& AviCodecs() {
    static const std::vector<AviCodecEntry> available = [] {
        std::vector<AviCodecEntry> result;
        for (const AviCodecEntry& entry : AviCodecCandidates())
            if (ProbeAviCodec(entry)) result.push_back(entry);
        return result;
    }();
    return available;
}

}  // namespace trimora
