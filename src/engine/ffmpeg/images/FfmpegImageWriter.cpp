#include "engine/ffmpeg/images/FfmpegImageWriter.h"

#include "engine/AtomicFile.h"
#include "engine/EngineError.h"
#include "engine/ffmpeg/images/ImageEncoder.h"
#include "engine/ffmpeg/images/Metafile.h"

namespace trimora {

namespace {

void Save(const std::string& path, const std::vector<uint8_t>& bytes) {
    if (const std::string failure = SaveFileAtomically(path, bytes); !failure.empty())
        throw EngineError("The picture could not be saved to \"" + path + "\": " + failure + ".");
}

void CheckName(const std::string& path) {
    if (path.empty()) throw EngineError("The picture could not be saved: no file name was given.");
}

}  // namespace

RgbImage FfmpegImageWriter::ToRgb(const FrameData& frame) { return converter_.Convert(frame); }

void FfmpegImageWriter::SaveRaster(const FrameData& frame, const std::string& path, RasterFormat format) {
    CheckName(path);
    Save(path, EncodeRaster(ToRgb(frame), format));
}

// Each save checks the name before the (slower) conversion, and writes only a complete file.
void FfmpegImageWriter::SaveAsBmp(const FrameData& frame, const std::string& path) { SaveRaster(frame, path, RasterFormat::Bmp); }

void FfmpegImageWriter::SaveAsGif(const FrameData& frame, const std::string& path) { SaveRaster(frame, path, RasterFormat::Gif); }

void FfmpegImageWriter::SaveAsJpeg(const FrameData& frame, const std::string& path) { SaveRaster(frame, path, RasterFormat::Jpeg); }

void FfmpegImageWriter::SaveAsPng(const FrameData& frame, const std::string& path) { SaveRaster(frame, path, RasterFormat::Png); }

void FfmpegImageWriter::SaveAsTiff(const FrameData& frame, const std::string& path) { SaveRaster(frame, path, RasterFormat::Tiff); }

void FfmpegImageWriter::SaveAsWmf(const FrameData& frame, const std::string& path) {
    CheckName(path);
    Save(path, BuildPlaceableWmf(ToRgb(frame)));
}

void FfmpegImageWriter::SaveAsEmf(const FrameData& frame, const std::string& path) {
    CheckName(path);
    Save(path, BuildEmf(ToRgb(frame)));
}

void FfmpegImageWriter::SaveAsPcx(const FrameData& frame, const std::string& path) { SaveRaster(frame, path, RasterFormat::Pcx); }

void FfmpegImageWriter::SaveAsTga(const FrameData& frame, const std::string& path) { SaveRaster(frame, path, RasterFormat::Tga); }

void FfmpegImageWriter::SaveAsRas(const FrameData& frame, const std::string& path) { SaveRaster(frame, path, RasterFormat::SunRaster); }

void FfmpegImageWriter::SaveAsJpeg2000(const FrameData& frame, const std::string& path) { SaveRaster(frame, path, RasterFormat::Jpeg2000); }

}  // namespace trimora
