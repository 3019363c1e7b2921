#pragma once
// The engine's preview object: a PreviewWidget placed in the main window.
#include <QPointer>

#include "engine/VideoView.h"
#include "engine/view/PreviewWidget.h"

namespace trimora {

class QtVideoView : public VideoView {
public:
    // The widget becomes a child of `parent` (named "VideoView1", the preview's control name).
    explicit QtVideoView(QWidget* parent = nullptr);
    // Removes the widget from its window unless the window has already destroyed it.
    ~QtVideoView() override;

    QWidget* Widget() override;
    PreviewWidget* Preview() const { return widget_.data(); }

    void ShowFrame(const FrameData& frame) override;
    void Repaint() override;
    void LimitToScreenRate(bool on) override;
    void Clear() override;
    void PrepareForPlayback(int32_t width, int32_t height) override;
    void PlaybackEnded() override;
    void SetSizeMode(int32_t mode) override;
    int32_t SizeMode() const override;

private:
    PreviewWidget& Live() const;

    QPointer<PreviewWidget> widget_;
    int32_t sizeMode_ = -1;
};

}  // namespace trimora
