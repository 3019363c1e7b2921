#pragma once
// The still-picture writer: nine raster formats through FFmpeg's image encoders and two
// metafile formats written directly. Every picture is first converted to RGB exactly as the
// preview converts it (RgbConversion.h), then to what the format stores.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ImageWriter.h"
#include "engine/ffmpeg/images/ImageEncoder.h"
#include "engine/ffmpeg/images/RgbConversion.h"

namespace trimora {

class FfmpegImageWriter : public ImageWriter {
public:
    void SaveAsBmp(const FrameData& frame, const std::string& path) override;
    void SaveAsGif(const FrameData& frame, const std::string& path) override;
    void SaveAsJpeg(const FrameData& frame, const std::string& path) override;
    void SaveAsPng(const FrameData& frame, const std::string& path) override;
    void SaveAsTiff(const FrameData& frame, const std::string& path) override;
    void SaveAsWmf(const FrameData& frame, const std::string& path) override;
    void SaveAsEmf(const FrameData& frame, const std::string& path) override;
    void SaveAsPcx(const FrameData& frame, const std::string& path) override;
    void SaveAsTga(const FrameData& frame, const std::string& path) override;
    void SaveAsRas(const FrameData& frame, const std::string& path) override;
    void SaveAsJpeg2000(const FrameData& frame, const std::string& path) override;

private:
    RgbImage ToRgb(const FrameData& frame);
    // Checks the name, then encodes the frame in one of the raster formats and saves it whole.
    void SaveRaster(const FrameData& frame, const std::string& path, RasterFormat format);

    FrameToRgbConverter converter_;
};

}  // namespace trimora
