#pragma once
// The preview surface. It is a widget of the main window; the engine draws FrameData into it.
#include <cstdint>

#include "engine/MediaTypes.h"

class QWidget;

namespace trimora {

class VideoView {
public:
    virtual ~VideoView() = default;
    virtual QWidget* Widget() = 0;
    virtual void ShowFrame(const FrameData& frame) = 0;
    // Draws the frame shown last again (the window's repaint).
    virtual void Repaint() = 0;
    // While on (a cut or a split runs), frames that come faster than the screen refreshes are
    // drawn at the screen's rate: each is handed over, the newest is drawn at the next refresh.
    virtual void LimitToScreenRate(bool on) = 0;
    virtual void Clear() = 0;
    virtual void PrepareForPlayback(int32_t width, int32_t height) = 0;
    virtual void PlaybackEnded() = 0;
    virtual void SetSizeMode(int32_t mode) = 0;  // -1 zoom to fit, 0 shrink to fit, n scale by n
    virtual int32_t SizeMode() const = 0;
};

}  // namespace trimora
