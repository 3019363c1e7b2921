extern "C" {
#include <libavutil/log.h>
}

#include "engine/EngineFactory.h"
#include "engine/audio/SdlAudioPlayer.h"
#include "engine/ffmpeg/FfmpegMediaFile.h"
#include "engine/ffmpeg/images/FfmpegImageWriter.h"
#include "engine/skin/QtSkin.h"
#include "engine/view/QtVideoView.h"

namespace trimora {

namespace {
class RealEngineFactory : public EngineFactory {
public:
    std::unique_ptr<MediaFile> CreateMediaFile() override { return std::make_unique<FfmpegMediaFile>(); }
    std::unique_ptr<ImageWriter> CreateImageWriter() override { return std::make_unique<FfmpegImageWriter>(); }
    std::unique_ptr<AudioPlayer> CreateAudioPlayer() override { return std::make_unique<SdlAudioPlayer>(); }
    std::unique_ptr<VideoView> CreateVideoView(QWidget* parent) override {
        return std::make_unique<QtVideoView>(parent);
    }
    std::unique_ptr<Skin> CreateSkin() override { return std::make_unique<QtSkin>(); }
};
}  // namespace

std::unique_ptr<EngineFactory> CreateRealEngineFactory() {
    // FFmpeg reports only errors: encoder statistics on every close are noise to a user.
    av_log_set_level(AV_LOG_ERROR);
    return std::make_unique<RealEngineFactory>();
}

}  // namespace trimora
