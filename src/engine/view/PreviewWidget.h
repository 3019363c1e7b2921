#pragma once
// The preview surface: shows one frame at the size the size mode asks for, centred on the
// widget's background, and repaints it from its own copy until the next frame or a clear.
#include <QElapsedTimer>
#include <QImage>
#include <QPointF>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <optional>

#include "engine/FrameBuffer.h"
#include "engine/MediaTypes.h"
#include "engine/view/FrameScaler.h"

namespace trimora {

class PreviewWidget : public QWidget {
    Q_OBJECT

public:
    explicit PreviewWidget(QWidget* parent = nullptr);

    // Converts the frame for the current size and mode and schedules the repaint. An empty
    // FrameData clears the preview; a picture it cannot read throws EngineError and leaves the
    // previous picture in place.
    void ShowFrame(const FrameData& frame);
    // While on, frames that come faster than the screen refreshes (a cut runs at hundreds of
    // frames a second) are not all converted: a frame like the one on screen that arrives within
    // one refresh of the last paint waits for the next refresh, and a newer frame replaces it
    // meanwhile. A paint before then (an expose, a grab) draws the newest frame. Off (playback,
    // stepping), every frame is converted when it is shown.
    void LimitToScreenRate(bool on) { limitToScreenRate_ = on; }
    // Paints the frame again; while a newer frame waits for the screen's next refresh, that
    // paint is the one already due.
    void Repaint();
    void Clear();
    bool HasFrame() const { return !lastFrame_.empty(); }

    // -1 (or any negative) zoom to fit, 0 shrink to fit, n > 0 scale by n.
    void SetSizeMode(int32_t mode);
    int32_t SizeMode() const { return sizeMode_; }

    // Builds the converter for frames of the input's size before the first one arrives, so that
    // playback's first frames cost no more than the rest.
    void PrepareForPlayback(int32_t width, int32_t height);
    // Lets go of the converter; the picture on screen stays.
    void PlaybackEnded();
    bool HoldsConverter() const { return scaler_.HasContext(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Everything besides the frame's bytes that decides how the frame looks on screen.
    struct RenderKey {
        int width = 0;
        int height = 0;
        double pixelRatio = 1.0;
        int32_t sizeMode = -1;
        friend bool operator==(const RenderKey&, const RenderKey&) = default;
    };

    RenderKey CurrentKey() const;
    view::PlacementInput LayoutFor(const FrameHeader& header, const RenderKey& key) const;
    void Render(const FrameView& frame);
    void RenderLastFrame();
    // Whether a new frame shown now would come within one screen refresh of the last paint of a
    // picture; `wait` is then what is left of that refresh.
    bool TooSoonAfterPaint(int* waitMs) const;
    // Whether `frame` is the frame shown last.
    bool IsLastFrame(const FrameData& frame, const FrameHeader& header) const;

    int32_t sizeMode_ = -1;
    // The frame shown last (sharing its picture), kept to draw it again at another size.
    FrameData lastFrame_;
    FrameHeader lastHeader_;
    RenderKey renderedFor_;
    QImage image_;
    QPointF imagePosition_;
    view::FrameScaler scaler_;
    // lastFrame_ is newer than image_ and is drawn at the next paint, which deferredPaint_ brings
    // at the screen's next refresh.
    bool limitToScreenRate_ = false;
    bool renderPending_ = false;
    QTimer deferredPaint_;
    QElapsedTimer sincePaint_;  // since the last paint that drew a picture
};

}  // namespace trimora
