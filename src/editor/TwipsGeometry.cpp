#include "editor/TwipsGeometry.h"

#include "app/Arithmetic.h"

namespace trimora {

namespace {
double Fraction(int32_t value, int32_t maximum) {
    if (maximum <= 1) return 0.0;
    return (static_cast<double>(value) - 1.0) / (static_cast<double>(maximum) - 1.0);
}
}  // namespace

float ThumbLeft(double trackLeft, double trackWidth, double thumbWidth, int32_t value, int32_t maximum) {
    return static_cast<float>(trackLeft + Fraction(value, maximum) * (trackWidth - thumbWidth));
}

int32_t ThumbValue(double thumbLeft, double trackLeft, double trackWidth, double thumbWidth, int32_t maximum) {
    const double travel = trackWidth - thumbWidth;
    if (travel <= 0 || maximum <= 1) return 1;
    return RoundToInt32(1.0 + (thumbLeft - trackLeft) * (static_cast<double>(maximum) - 1.0) / travel);
}

double RegionCentre(double trackLeft, double trackWidth, double thumbWidth, int32_t value, int32_t maximum) {
    return trackLeft + thumbWidth * 0.5 + Fraction(value, maximum) * (trackWidth - thumbWidth);
}

}  // namespace trimora
