#include "engine/FrameBuffer.h"

#include <atomic>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace trimora {

FrameData PackFrame(const FrameHeader& header, const uint8_t* const planes[4], const int linesizes[4]) {
    FrameData data;
    PackFrameInto(data, header, planes, linesizes);
    return data;
}

void PackFrameInto(FrameData& out, const FrameHeader& header, const uint8_t* const planes[4],
                   const int linesizes[4]) {
    const auto format = static_cast<AVPixelFormat>(header.pixelFormat);
    const int size = av_image_get_buffer_size(format, header.width, header.height, 1);
    if (size <= 0) {
        out.clear();
        return;
    }
    out.resize(sizeof(FrameHeader) + static_cast<size_t>(size) + kFrameTailPadding);
    FrameHeader h = header;
    h.magic = FrameHeader::kMagic;
    h.payloadSize = size;
    std::memcpy(out.data(), &h, sizeof h);
    av_image_copy_to_buffer(out.data() + sizeof h, size, planes, linesizes, format, header.width, header.height, 1);
}

uint32_t NewFrameSource() {
    static std::atomic<uint32_t> last{0};
    uint32_t value = ++last;
    while (value == 0) value = ++last;  // after a wrap
    return value;
}

bool SameSourceFrame(const FrameHeader& a, const FrameHeader& b) {
    return a.source != 0 && a.source == b.source && a.frameNumber == b.frameNumber && a.payloadSize == b.payloadSize;
}

bool SameFrame(const FrameData& a, const FrameData& b) {
    if (a.size() != b.size()) return false;
    if (a.size() < sizeof(FrameHeader)) return a == b;
    FrameHeader ha, hb;
    std::memcpy(&ha, a.data(), sizeof ha);
    std::memcpy(&hb, b.data(), sizeof hb);
    return SameSourceFrame(ha, hb) || std::memcmp(a.data(), b.data(), a.size()) == 0;
}

std::optional<FrameView> UnpackFrame(const FrameData& data) {
    if (data.size() < sizeof(FrameHeader)) return std::nullopt;
    FrameView view;
    std::memcpy(&view.header, data.data(), sizeof(FrameHeader));
    const FrameHeader& h = view.header;
    if (h.magic != FrameHeader::kMagic || h.width <= 0 || h.height <= 0) return std::nullopt;
    const auto format = static_cast<AVPixelFormat>(h.pixelFormat);
    if (!av_pix_fmt_desc_get(format)) return std::nullopt;
    const int size = av_image_get_buffer_size(format, h.width, h.height, 1);
    if (size <= 0 || size != h.payloadSize || data.size() < sizeof(FrameHeader) + static_cast<size_t>(size))
        return std::nullopt;
    uint8_t* planes[4] = {nullptr, nullptr, nullptr, nullptr};
    av_image_fill_arrays(planes, view.linesizes, data.data() + sizeof(FrameHeader), format, h.width,
                         h.height, 1);
    for (int i = 0; i < 4; ++i) view.planes[i] = planes[i];
    return view;
}

}  // namespace trimora
