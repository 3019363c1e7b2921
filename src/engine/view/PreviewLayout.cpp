#include "engine/view/PreviewLayout.h"

#include <algorithm>
#include <cmath>

namespace trimora::view {

namespace {

// Keeps every coordinate far inside int range whatever factor the size mode asks for.
constexpr double kMaxSide = 1 << 22;

int RoundSide(double value) {
    return static_cast<int>(std::clamp(std::lround(value), 1L, static_cast<long>(kMaxSide)));
}

int AlignDown(int value, int alignment) { return value - value % alignment; }

int AlignUp(int value, int alignment, int limit) {
    const int rest = value % alignment;
    return std::min(rest ? value + alignment - rest : value, limit);
}

}  // namespace

void ShownSize(const PlacementInput& in, int* width, int* height) {
    double displayWidth = in.sourceWidth;
    const double displayHeight = in.sourceHeight;
    if (in.sampleAspectNum > 0 && in.sampleAspectDen > 0)
        displayWidth = displayWidth * in.sampleAspectNum / in.sampleAspectDen;

    double scale = 1.0;
    const double fit = std::min(in.widgetWidth / displayWidth, in.widgetHeight / displayHeight);
    if (in.sizeMode < 0) {
        scale = fit;
    } else if (in.sizeMode == 0) {
        scale = std::min(1.0, fit);
    } else {
        scale = in.sizeMode;
    }
    scale = std::min(scale, kMaxSide / std::max(displayWidth, displayHeight));
    *width = RoundSide(displayWidth * scale);
    *height = RoundSide(displayHeight * scale);
}

Placement PlacePicture(const PlacementInput& in) {
    Placement placement;
    if (in.sourceWidth <= 0 || in.sourceHeight <= 0 || in.widgetWidth <= 0 || in.widgetHeight <= 0)
        return placement;

    Rect& picture = placement.picture;
    ShownSize(in, &picture.width, &picture.height);
    // Centred; when the picture is larger than the widget the offset is negative and the
    // widget shows the middle of it.
    picture.x = static_cast<int>(std::floor((in.widgetWidth - picture.width) / 2.0));
    picture.y = static_cast<int>(std::floor((in.widgetHeight - picture.height) / 2.0));

    const int visibleLeft = std::max(picture.x, 0);
    const int visibleTop = std::max(picture.y, 0);
    const int visibleRight = std::min(picture.Right(), in.widgetWidth);
    const int visibleBottom = std::min(picture.Bottom(), in.widgetHeight);
    if (visibleRight <= visibleLeft || visibleBottom <= visibleTop) return placement;

    if (visibleLeft == picture.x && visibleTop == picture.y && visibleRight == picture.Right() &&
        visibleBottom == picture.Bottom()) {
        placement.source = {0, 0, in.sourceWidth, in.sourceHeight};
        placement.target = picture;
        return placement;
    }

    // Converting only the visible part keeps large factors cheap: at scale 8 a full HD frame
    // would otherwise become a 15360x8640 image of which the widget shows a small window.
    const double perSourceX = static_cast<double>(picture.width) / in.sourceWidth;
    const double perSourceY = static_cast<double>(picture.height) / in.sourceHeight;
    const int alignX = std::max(in.alignX, 1);
    const int alignY = std::max(in.alignY, 1);
    const int left = AlignDown(static_cast<int>(std::floor((visibleLeft - picture.x) / perSourceX)), alignX);
    const int top = AlignDown(static_cast<int>(std::floor((visibleTop - picture.y) / perSourceY)), alignY);
    const int right =
        AlignUp(static_cast<int>(std::ceil((visibleRight - picture.x) / perSourceX)), alignX, in.sourceWidth);
    const int bottom =
        AlignUp(static_cast<int>(std::ceil((visibleBottom - picture.y) / perSourceY)), alignY, in.sourceHeight);
    placement.source = {left, top, right - left, bottom - top};

    const int targetLeft = picture.x + static_cast<int>(std::lround(left * perSourceX));
    const int targetTop = picture.y + static_cast<int>(std::lround(top * perSourceY));
    const int targetRight = picture.x + static_cast<int>(std::lround(right * perSourceX));
    const int targetBottom = picture.y + static_cast<int>(std::lround(bottom * perSourceY));
    placement.target = {targetLeft, targetTop, std::max(targetRight - targetLeft, 1),
                        std::max(targetBottom - targetTop, 1)};
    return placement;
}

}  // namespace trimora::view
