#pragma once
// Integer arithmetic with the rules the window logic relies on: conversions of fractional values
// round halves to the even neighbour, and 16/32-bit results that do not fit raise "Overflow".
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace trimora {

class OverflowError : public std::overflow_error {
public:
    OverflowError() : std::overflow_error("Overflow") {}
};

class DivisionByZeroError : public std::domain_error {
public:
    DivisionByZeroError() : std::domain_error("Division by zero") {}
};

template <typename Int>
Int RoundTo(double value) {
    if (std::isnan(value)) throw OverflowError();
    const double rounded = std::nearbyint(value);  // default rounding mode: halves to even
    if (rounded < static_cast<double>(std::numeric_limits<Int>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<Int>::max()))
        throw OverflowError();
    return static_cast<Int>(rounded);
}

inline int32_t RoundToInt32(double value) { return RoundTo<int32_t>(value); }
inline int16_t RoundToInt16(double value) { return RoundTo<int16_t>(value); }

template <typename Int>
Int CheckedAdd(Int a, Int b) {
    Int r;
    if (__builtin_add_overflow(a, b, &r)) throw OverflowError();
    return r;
}
template <typename Int>
Int CheckedSub(Int a, Int b) {
    Int r;
    if (__builtin_sub_overflow(a, b, &r)) throw OverflowError();
    return r;
}
template <typename Int>
Int CheckedMul(Int a, Int b) {
    Int r;
    if (__builtin_mul_overflow(a, b, &r)) throw OverflowError();
    return r;
}

// A floating-point division whose divisor is zero is an error, as the jobs expect.
inline double Divide(double a, double b) {
    if (b == 0.0) throw DivisionByZeroError();
    return a / b;
}

template <typename Int>
Int NarrowChecked(int64_t value) {
    if (value < std::numeric_limits<Int>::min() || value > std::numeric_limits<Int>::max())
        throw OverflowError();
    return static_cast<Int>(value);
}

}  // namespace trimora
