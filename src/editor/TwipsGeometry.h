#pragma once
// Where a thumb sits for a mark and which mark a thumb position means, in twips. The value rule
// is the exact inverse of the placement rule, so releasing a thumb never moves its mark. A track
// for a single frame puts every thumb at the track's left end.
#include <cstdint>

namespace trimora {

// Left edge of a thumb for mark `value` of `maximum` on a track.
float ThumbLeft(double trackLeft, double trackWidth, double thumbWidth, int32_t value, int32_t maximum);

// The mark a thumb's left edge stands for (before the slider clamps it to 1..maximum).
int32_t ThumbValue(double thumbLeft, double trackLeft, double trackWidth, double thumbWidth, int32_t maximum);

// Horizontal centre of a thumb placed for `value`: where the region bar meets it.
double RegionCentre(double trackLeft, double trackWidth, double thumbWidth, int32_t value, int32_t maximum);

}  // namespace trimora
