#pragma once
// The progress arithmetic of the cut and the split. Sums and products are formed in 64 bits,
// so inputs of many hours never overflow; a total of zero is an error, as for any division.
#include <cstdint>

namespace trimora {

// done × 100 ÷ total, rounded to the nearest integer with halves to even. Results beyond the
// 16-bit range saturate (the callers clamp to 0..100 anyway).
int16_t Percentage(int64_t done, int64_t total);

// The value that shows `position` of `duration` on a slider whose maximum is `max`, rounded
// halves to even (saturating at the 32-bit range).
int32_t SliderValueFor(int64_t position, int64_t duration, int32_t max);

}  // namespace trimora
