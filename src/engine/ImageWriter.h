#pragma once
// The still-picture writer: each operation writes one picture file under exactly `path`.
#include <string>

#include "engine/MediaTypes.h"

namespace trimora {

class ImageWriter {
public:
    virtual ~ImageWriter() = default;
    virtual void SaveAsBmp(const FrameData& frame, const std::string& path) = 0;
    virtual void SaveAsGif(const FrameData& frame, const std::string& path) = 0;
    virtual void SaveAsJpeg(const FrameData& frame, const std::string& path) = 0;
    virtual void SaveAsPng(const FrameData& frame, const std::string& path) = 0;
    virtual void SaveAsTiff(const FrameData& frame, const std::string& path) = 0;
    virtual void SaveAsWmf(const FrameData& frame, const std::string& path) = 0;
    virtual void SaveAsEmf(const FrameData& frame, const std::string& path) = 0;
    virtual void SaveAsPcx(const FrameData& frame, const std::string& path) = 0;
    virtual void SaveAsTga(const FrameData& frame, const std::string& path) = 0;
    virtual void SaveAsRas(const FrameData& frame, const std::string& path) = 0;
    virtual void SaveAsJpeg2000(const FrameData& frame, const std::string& path) = 0;
};

}  // namespace trimora
