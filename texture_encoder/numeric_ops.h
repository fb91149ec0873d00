// Small numeric operations of the block encoders: rounding a scaled value to
// a clamped integer code, clamping to a field width, absolute values and sums
// of 4-float vectors.
#pragma once
#include <algorithm>
#include <cstdint>

// truncate(x + 0.5) limited to 0..max (max >= 0): the code of a value already
// scaled to 0..max. NaN gives 0 and values beyond the 32-bit range give the
// nearer end, instead of an undefined conversion.
inline int32_t nearest_clamped(float x, int32_t max) {
  const float t = x + 0.5f;
  if (!(t >= 0.0f)) return 0;
  if (t >= 2147483648.0f) return max;
  return std::min(int32_t(t), max);
}

// Absolute value of a signed 64-bit value, unsigned so that the most negative
// value has one too (2^63).
inline uint64_t abs_i64(int64_t v) { return v < 0 ? 0 - uint64_t(v) : uint64_t(v); }

// v limited to the codes of an n-bit field: 0 when negative, 2^n - 1 when
// larger. From n = 31 on every non-negative v fits.
inline uint32_t clamp_to_bits(int32_t v, uint32_t n) {
  if (v < 0) return 0;
  const uint64_t top = (uint64_t(1) << std::min(n, 32u)) - 1;
  return uint32_t(std::min(uint64_t(v), top));
}

// Component-wise sum of two 4-float vectors; out may be a or b.
inline void add4(float out[4], const float a[4], const float b[4]) {
  for (int i = 0; i < 4; ++i) out[i] = a[i] + b[i];
}
// a += b, component-wise.
inline void add4_in_place(float a[4], const float b[4]) { add4(a, a, b); }

// Elements 8, 9 and 10 of values (0..1) as bytes, each nearest_clamped(x * 255, 255).
inline void floats_to_bytes3(const float* values, uint8_t out3[3]) {
  for (int i = 0; i < 3; ++i) out3[i] = uint8_t(nearest_clamped(values[8 + i] * 255.0f, 255));
}
