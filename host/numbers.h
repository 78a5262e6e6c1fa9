// Checked integer conversions. Every narrowing that can leave the range of a
// 16-bit or 32-bit field goes through here and fails with the overflow error.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "flipreel/host/errors.h"

namespace flipreel {

inline int16_t CheckedInt16(int64_t v) {
  if (v < INT16_MIN || v > INT16_MAX) Raise(err::kOverflow);
  return static_cast<int16_t>(v);
}

inline int32_t CheckedInt32(int64_t v) {
  if (v < INT32_MIN || v > INT32_MAX) Raise(err::kOverflow);
  return static_cast<int32_t>(v);
}

// Rounds to the nearest whole number, halves to the even neighbour, as every
// conversion of a fractional value to an integer field does.
inline double RoundHalfEven(double v) {
  return std::nearbyint(v);
}

inline int16_t RoundToInt16(double v) {
  if (std::isnan(v)) Raise(err::kOverflow);
  const double r = RoundHalfEven(v);
  if (r < INT16_MIN || r > INT16_MAX) Raise(err::kOverflow);
  return static_cast<int16_t>(r);
}

inline int32_t RoundToInt32(double v) {
  if (std::isnan(v)) Raise(err::kOverflow);
  const double r = RoundHalfEven(v);
  if (r < INT32_MIN || r > INT32_MAX) Raise(err::kOverflow);
  return static_cast<int32_t>(r);
}

inline float CheckedSingle(double v) {
  if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<float>::max()) Raise(err::kOverflow);
  return static_cast<float>(v);
}

inline int32_t CheckedAdd32(int32_t a, int32_t b) {
  return CheckedInt32(static_cast<int64_t>(a) + b);
}

// Booleans cross the interface as 16-bit values.
inline constexpr int16_t kTrue = -1;
inline constexpr int16_t kFalse = 0;

}  // namespace flipreel
