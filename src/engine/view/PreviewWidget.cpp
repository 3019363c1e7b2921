#include "engine/view/PreviewWidget.h"

#include <QPainter>
#include <QRegion>
#include <QResizeEvent>
#include <QScreen>
#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "engine/EngineError.h"

namespace trimora {

namespace {

// Frames that convert alike: same size, pixel layout, colours and pixel shape.
bool SameLayout(const FrameHeader& a, const FrameHeader& b) {
    return a.width == b.width && a.height == b.height && a.pixelFormat == b.pixelFormat &&
           a.colorSpace == b.colorSpace && a.colorRange == b.colorRange && a.sampleAspectNum == b.sampleAspectNum &&
           a.sampleAspectDen == b.sampleAspectDen;
}

}  // namespace

PreviewWidget::PreviewWidget(QWidget* parent) : QWidget(parent) {
    // Every pixel is painted here, so the window beneath never needs repainting for us; that
    // also keeps a window whose paint handler shows the frame again from repainting in a loop.
    setAttribute(Qt::WA_OpaquePaintEvent);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    deferredPaint_.setSingleShot(true);
    connect(&deferredPaint_, &QTimer::timeout, this, [this] { update(); });
}

PreviewWidget::RenderKey PreviewWidget::CurrentKey() const {
    const double ratio = devicePixelRatioF();
    return {static_cast<int>(std::lround(width() * ratio)), static_cast<int>(std::lround(height() * ratio)), ratio,
            sizeMode_};
}

view::PlacementInput PreviewWidget::LayoutFor(const FrameHeader& header, const RenderKey& key) const {
    view::PlacementInput in;
    in.sourceWidth = header.width;
    in.sourceHeight = header.height;
    in.sampleAspectNum = header.sampleAspectNum;
    in.sampleAspectDen = header.sampleAspectDen;
    in.sizeMode = key.sizeMode;
    in.widgetWidth = key.width;
    in.widgetHeight = key.height;
    view::CropAlignment(header.pixelFormat, &in.alignX, &in.alignY);
    return in;
}

void PreviewWidget::Render(const FrameView& frame) {
    const RenderKey key = CurrentKey();
    const view::Placement placement = view::PlacePicture(LayoutFor(frame.header, key));
    if (placement.target.IsEmpty()) {
        image_ = QImage();
    } else {
        scaler_.Convert(frame, placement.source, placement.target.width, placement.target.height, &image_);
        image_.setDevicePixelRatio(key.pixelRatio);
        imagePosition_ = QPointF(placement.target.x / key.pixelRatio, placement.target.y / key.pixelRatio);
    }
    renderedFor_ = key;
}

bool PreviewWidget::IsLastFrame(const FrameData& frame, const FrameHeader& header) const {
    return HasFrame() && (frame.SharesPictureWith(lastFrame_) || SameSourceFrame(header, lastHeader_));
}

bool PreviewWidget::TooSoonAfterPaint(int* waitMs) const {
    if (!sincePaint_.isValid()) return false;
    const QScreen* shown = screen();
    const double rate = std::clamp(shown ? shown->refreshRate() : 60.0, 24.0, 240.0);
    const auto refreshNs = static_cast<qint64>(1e9 / rate);
    const qint64 since = sincePaint_.nsecsElapsed();
    if (since >= refreshNs) return false;
    *waitMs = static_cast<int>((refreshNs - since + 999'999) / 1'000'000);
    return true;
}

void PreviewWidget::ShowFrame(const FrameData& frame) {
    if (frame.empty()) {
        Clear();
        return;
    }
    const std::optional<FrameView> view = ViewFrame(frame);
    if (!view) throw EngineError("The preview was given a frame whose picture it cannot read.");
    // The window's paint handler hands the same frame over again on every repaint; when
    // nothing changed the converted picture is still right.
    const bool sameFrame = IsLastFrame(frame, view->header);
    if (sameFrame && (renderPending_ || renderedFor_ == CurrentKey())) return;  // on screen, or due to be
    // Only a frame the converter already takes waits: one it cannot convert fails here, at once.
    int waitMs = 0;
    if (limitToScreenRate_ && !sameFrame && HasFrame() && !image_.isNull() && renderedFor_ == CurrentKey() &&
        SameLayout(view->header, lastHeader_) && TooSoonAfterPaint(&waitMs)) {
        lastFrame_ = frame;
        lastHeader_ = view->header;
        renderPending_ = true;
        if (!deferredPaint_.isActive()) deferredPaint_.start(waitMs);
        return;
    }
    Render(*view);
    if (!sameFrame) {
        lastFrame_ = frame;
        lastHeader_ = view->header;
    }
    update();
}

void PreviewWidget::Repaint() {
    if (!renderPending_) update();
}

void PreviewWidget::RenderLastFrame() {
    // Whatever waited is drawn now: the refresh it waited for has nothing left to bring.
    renderPending_ = false;
    deferredPaint_.stop();
    const std::optional<FrameView> view = ViewFrame(lastFrame_);
    if (!view) return;
    try {
        Render(*view);
    } catch (const EngineError&) {
        // Only reached from Qt's events (resize, mode change of a frame that was shown before):
        // an empty preview is the honest result, an exception may not cross the event loop.
        image_ = QImage();
    }
}

void PreviewWidget::Clear() {
    renderPending_ = false;
    deferredPaint_.stop();
    lastFrame_.clear();
    image_ = QImage();
    update();
}

void PreviewWidget::SetSizeMode(int32_t mode) {
    if (mode == sizeMode_) return;
    sizeMode_ = mode;
    RenderLastFrame();
    update();
}

void PreviewWidget::PrepareForPlayback(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return;
    // Frames of the input usually look like the one on screen; without one, assume the most
    // common decoder output.
    FrameHeader header;
    header.width = width;
    header.height = height;
    header.pixelFormat = AV_PIX_FMT_YUV420P;
    if (HasFrame() && lastHeader_.width == width && lastHeader_.height == height) header = lastHeader_;
    const view::Placement placement = view::PlacePicture(LayoutFor(header, CurrentKey()));
    if (placement.target.IsEmpty()) return;
    scaler_.Prepare(header.pixelFormat, view::ChooseColour(header), placement.source.width, placement.source.height,
                    placement.target.width, placement.target.height);
}

void PreviewWidget::PlaybackEnded() { scaler_.Release(); }

void PreviewWidget::paintEvent(QPaintEvent*) {
    // Moving to a screen with another pixel ratio changes the size in device pixels without a
    // resize event.
    if (HasFrame() && (renderPending_ || renderedFor_ != CurrentKey())) RenderLastFrame();
    QPainter painter(this);
    // The background only where the picture leaves it showing: filling under the picture too
    // would paint every pixel twice for each frame.
    QRegion background(rect());
    if (!image_.isNull() && !image_.hasAlphaChannel()) {
        // Only the pixels the picture covers entirely (its edges may fall inside a pixel).
        const QRectF covered(imagePosition_, image_.deviceIndependentSize());
        const QPoint topLeft(static_cast<int>(std::ceil(covered.left())), static_cast<int>(std::ceil(covered.top())));
        const QPoint end(static_cast<int>(std::floor(covered.right())), static_cast<int>(std::floor(covered.bottom())));
        if (end.x() > topLeft.x() && end.y() > topLeft.y()) background -= QRect(topLeft, end - QPoint(1, 1));
    }
    for (const QRect& part : background) painter.fillRect(part, palette().color(backgroundRole()));
    if (!image_.isNull()) {
        painter.drawImage(imagePosition_, image_);
        sincePaint_.start();
    }
}

void PreviewWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    RenderLastFrame();
}

}  // namespace trimora
