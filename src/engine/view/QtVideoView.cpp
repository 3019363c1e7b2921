#include "engine/view/QtVideoView.h"

#include "engine/EngineError.h"

namespace trimora {

QtVideoView::QtVideoView(QWidget* parent) : widget_(new PreviewWidget(parent)) {
    widget_->setObjectName("VideoView1");
}

QtVideoView::~QtVideoView() { delete widget_.data(); }

QWidget* QtVideoView::Widget() { return widget_.data(); }

PreviewWidget& QtVideoView::Live() const {
    if (!widget_) throw EngineError("The preview window no longer exists.");
    return *widget_;
}

void QtVideoView::ShowFrame(const FrameData& frame) { Live().ShowFrame(frame); }

void QtVideoView::Repaint() {
    if (widget_) widget_->Repaint();
}

void QtVideoView::LimitToScreenRate(bool on) {
    if (widget_) widget_->LimitToScreenRate(on);
}

void QtVideoView::Clear() {
    if (widget_) widget_->Clear();
}

void QtVideoView::PrepareForPlayback(int32_t width, int32_t height) { Live().PrepareForPlayback(width, height); }

void QtVideoView::PlaybackEnded() {
    if (widget_) widget_->PlaybackEnded();
}

void QtVideoView::SetSizeMode(int32_t mode) {
    sizeMode_ = mode;
    if (widget_) widget_->SetSizeMode(mode);
}

int32_t QtVideoView::SizeMode() const { return sizeMode_; }

}  // namespace trimora
