#pragma once
// Where a frame lands in the preview, worked out without touching any pixels: the size the
// picture is shown at for each size mode, its centred position, and which part of the source
// must be converted when the widget crops the picture.
#include <cstdint>

namespace trimora::view {

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool IsEmpty() const { return width <= 0 || height <= 0; }
    int Right() const { return x + width; }    // one past the last column
    int Bottom() const { return y + height; }  // one past the last row
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct PlacementInput {
    int sourceWidth = 0;
    int sourceHeight = 0;
    int sampleAspectNum = 0;  // 0 or a non-positive value: square pixels
    int sampleAspectDen = 1;
    int32_t sizeMode = -1;    // -1 (or any negative) zoom to fit, 0 shrink to fit, n > 0 scale by n
    int widgetWidth = 0;
    int widgetHeight = 0;
    // Crops of the source start and end on multiples of these (chroma subsampling, bit-packed
    // formats), so that plane pointers can be offset to the crop's corner.
    int alignX = 1;
    int alignY = 1;
};

struct Placement {
    // The whole picture at its shown size in widget pixels; it may reach past the widget.
    Rect picture;
    // The part of the source that is converted, and where the converted pixels go. Both are
    // empty when nothing of the picture is visible.
    Rect source;
    Rect target;
};

// The picture's shown size before it is placed: the frame's display size (width stretched by
// the sample aspect) fitted to, shrunk into or multiplied for the widget.
void ShownSize(const PlacementInput& in, int* width, int* height);

Placement PlacePicture(const PlacementInput& in);

}  // namespace trimora::view
