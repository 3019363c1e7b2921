#pragma once
#include <memory>

#include "engine/AudioPlayer.h"
#include "engine/ImageWriter.h"
#include "engine/MediaFile.h"
#include "engine/Skin.h"
#include "engine/VideoView.h"

class QWidget;

namespace trimora {

// Creates the engine objects the main window drives. main() passes the real factory; tests
// pass a scripted one.
class EngineFactory {
public:
    virtual ~EngineFactory() = default;
    virtual std::unique_ptr<MediaFile> CreateMediaFile() = 0;
    virtual std::unique_ptr<ImageWriter> CreateImageWriter() = 0;
    virtual std::unique_ptr<AudioPlayer> CreateAudioPlayer() = 0;
    virtual std::unique_ptr<VideoView> CreateVideoView(QWidget* parent) = 0;
    virtual std::unique_ptr<Skin> CreateSkin() = 0;
};

// The real engine: FFmpeg, SDL2 and Qt.
std::unique_ptr<EngineFactory> CreateRealEngineFactory();

}  // namespace trimora
