// Principal axis of a block's distinct colours and the projection of the
// colours on it, one member per colour count. Colours sit in lanes (colour k
// in lane k of the first 8-lane group, colour 8 + k in the second), so that
// each count's sums have a fixed grouping known at build time.
#include <immintrin.h>

#include <utility>

#include "texture_encoder/simd/cs_vector.h"

namespace {

// R, G and B of colours first .. first + 7 in lanes; colours at or past N are
// not read and give 0.0.
template <uint32_t N>
[[gnu::always_inline]] inline void load_channels(const float (*colours)[4], uint32_t first,
                                                 __m256 rgb[3]) {
  __m256 rows[4];
  for (uint32_t k = 0; k < 4; ++k) {
    const __m128 low = first + k < N ? _mm_loadu_ps(colours[first + k]) : _mm_setzero_ps();
    const __m128 high = first + k + 4 < N ? _mm_loadu_ps(colours[first + k + 4]) : _mm_setzero_ps();
    rows[k] = _mm256_set_m128(high, low);
  }
  const __m256 rg01 = _mm256_unpacklo_ps(rows[0], rows[1]);
  const __m256 rg23 = _mm256_unpacklo_ps(rows[2], rows[3]);
  const __m256 b01 = _mm256_unpackhi_ps(rows[0], rows[1]);
  const __m256 b23 = _mm256_unpackhi_ps(rows[2], rows[3]);
  rgb[0] = _mm256_shuffle_ps(rg01, rg23, 0x44);
  rgb[1] = _mm256_shuffle_ps(rg01, rg23, 0xEE);
  rgb[2] = _mm256_shuffle_ps(b01, b23, 0x44);
}

// (x0 + x1) + (x2 + x3).
float sum_of_pairs(__m128 x) {
  const __m128 pairs = _mm_hadd_ps(x, x);
  return _mm_cvtss_f32(_mm_hadd_ps(pairs, pairs));
}

// Sum of the per-colour terms t0 .. t(N-1) (t8.. in `high`) in the grouping of
// each count: up to 4 colours (t0 + t1) + (t2 + t3); 5 to 7 the same on
// t_k + t(k+4); 8 and above ((t0 + t1) + (t2 + t3)) + ((t4 + t5) + (t6 + t7))
// on t_k + t(k+8).
template <uint32_t N>
float lane_sum(__m256 low, __m256 high) {
  if constexpr (N <= 4) {
    return sum_of_pairs(_mm256_castps256_ps128(low));
  } else if constexpr (N < 8) {
    return sum_of_pairs(_mm_add_ps(_mm256_castps256_ps128(low), _mm256_extractf128_ps(low, 1)));
  } else {
    const __m256 v = N == 8 ? low : _mm256_add_ps(low, high);
    const __m256 pairs = _mm256_hadd_ps(v, v);
    const __m256 quads = _mm256_hadd_ps(pairs, pairs);
    return _mm_cvtss_f32(
        _mm_add_ss(_mm256_castps256_ps128(quads), _mm256_extractf128_ps(quads, 1)));
  }
}

constexpr uint32_t groups_of(uint32_t n) { return n > 8 ? 2 : 1; }

// The axis by four normalised power-iteration steps from (1, 1, 1) on the
// covariance (xx, xy, xz, yy, yz, zz). A step whose largest component is not a
// finite positive number, or an axis with a component that is not finite,
// leaves no direction: the axis is then the unit vector of the channel with the
// largest variance (the first of equal ones), as in the scalar kernels.
void solve_axis(float* axis3, const float m[6]) {
  const __m128 row_r = _mm_setr_ps(m[0], m[1], m[2], 0.0f);
  const __m128 row_g = _mm_setr_ps(m[1], m[3], m[4], 0.0f);
  const __m128 row_b = _mm_setr_ps(m[2], m[4], m[5], 0.0f);
  __m128 v = _mm_add_ps(_mm_add_ps(row_r, row_g), row_b);
  bool defined = true;
  for (int step = 0; step < 4; ++step) {
    const __m128 x = _mm_shuffle_ps(v, v, 0x00), y = _mm_shuffle_ps(v, v, 0x55),
                 z = _mm_shuffle_ps(v, v, 0xAA);
    const float largest = _mm_cvtss_f32(_mm_max_ps(_mm_max_ps(y, x), z));
    defined = defined && largest > 0.0f && largest <= 3.4028235e38f;
    v = _mm_mul_ps(v, _mm_set1_ps(1.0f / largest));
    if (step < 3) {
      v = _mm_add_ps(_mm_add_ps(_mm_mul_ps(row_r, _mm_shuffle_ps(v, v, 0x00)),
                                _mm_mul_ps(row_g, _mm_shuffle_ps(v, v, 0x55))),
                     _mm_mul_ps(row_b, _mm_shuffle_ps(v, v, 0xAA)));
    }
  }
  // x - x is 0 for finite x and NaN for infinities and NaN.
  const __m128 finite = _mm_cmpeq_ps(_mm_sub_ps(v, v), _mm_setzero_ps());
  defined = defined && (_mm_movemask_ps(finite) & 7) == 7;
  if (!defined) {
    const int widest = m[3] > m[0] ? (m[5] > m[3] ? 2 : 1) : (m[5] > m[0] ? 2 : 0);
    v = _mm_setr_ps(widest == 0 ? 1.0f : 0.0f, widest == 1 ? 1.0f : 0.0f, widest == 2 ? 1.0f : 0.0f,
                    0.0f);
  }
  _mm_storeu_ps(axis3, v);
}

}  // namespace

template <uint32_t N>
void cs_principal_axis_n_avx(float* axis3, const float (*colours)[4], const float* weights) {
  constexpr uint32_t groups = groups_of(N);
  constexpr bool unit_weights = N == 16;
  __m256 rgb[2][3] = {}, w[2] = {};
  for (uint32_t g = 0; g < groups; ++g) {
    load_channels<N>(colours, 8 * g, rgb[g]);
    if constexpr (!unit_weights) {
      // Colours past N weigh nothing whatever the weight array holds there.
      const __m256 lane = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
      const __m256 present = _mm256_cmp_ps(_mm256_add_ps(lane, _mm256_set1_ps(float(8 * g))),
                                           _mm256_set1_ps(float(N)), _CMP_LT_OQ);
      w[g] = _mm256_and_ps(_mm256_loadu_ps(weights + 8 * g), present);
    }
  }
  const auto weighted = [&](__m256 x, uint32_t g) {
    return unit_weights ? x : _mm256_mul_ps(w[g], x);
  };

  float total;
  if constexpr (N == 16)
    total = 16.0f;
  else if constexpr (N == 15)
    total = 15.414213f;  // 14 + sqrt 2: one of 15 colours in 16 pixels occurs twice
  else
    total = lane_sum<N>(w[0], w[1]);
  __m256 mean[3];
  for (int c = 0; c < 3; ++c) {
    const float sum = lane_sum<N>(weighted(rgb[0][c], 0), weighted(rgb[1][c], 1));
    mean[c] = _mm256_set1_ps(sum / total);
  }

  __m256 d[2][3];
  for (uint32_t g = 0; g < groups; ++g)
    for (int c = 0; c < 3; ++c) d[g][c] = _mm256_sub_ps(rgb[g][c], mean[c]);
  // (w * d_second) * d_first for the pairs xx, xy, xz, yy, yz, zz.
  const int pairs[6][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 2}};
  float covariance[6];
  for (int k = 0; k < 6; ++k) {
    __m256 terms[2] = {};
    for (uint32_t g = 0; g < groups; ++g)
      terms[g] = _mm256_mul_ps(weighted(d[g][pairs[k][1]], g), d[g][pairs[k][0]]);
    covariance[k] = lane_sum<N>(terms[0], terms[1]);
  }
  solve_axis(axis3, covariance);
}

template <uint32_t N>
void cs_project_on_axis_n_avx(float* keys, const float (*colours)[4], const float* axis3) {
  const __m256 ax = _mm256_set1_ps(axis3[0]), ay = _mm256_set1_ps(axis3[1]),
               az = _mm256_set1_ps(axis3[2]);
  for (uint32_t g = 0; g < groups_of(N); ++g) {
    __m256 rgb[3];
    load_channels<N>(colours, 8 * g, rgb);
    const __m256 key =
        _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(rgb[0], ax), _mm256_mul_ps(rgb[1], ay)),
                      _mm256_mul_ps(rgb[2], az));
    // Whole groups are written: 4 or 8 keys, and 1, 4 or 8 in the second group.
    const uint32_t written = g == 0 ? (N <= 4 ? 4 : 8) : (N == 9 ? 1 : N <= 12 ? 4 : 8);
    if (written == 8)
      _mm256_storeu_ps(keys + 8 * g, key);
    else if (written == 4)
      _mm_storeu_ps(keys + 8 * g, _mm256_castps256_ps128(key));
    else
      _mm_store_ss(keys + 8 * g, _mm256_castps256_ps128(key));
  }
}

namespace {

template <uint32_t... I>
constexpr Cs_Axis_Avx_Kernels make_table(std::integer_sequence<uint32_t, I...>) {
  return {{cs_principal_axis_n_avx<I + 2>...}, {cs_project_on_axis_n_avx<I + 2>...}};
}

}  // namespace

constinit const Cs_Axis_Avx_Kernels cs_axis_avx_kernels =
    make_table(std::make_integer_sequence<uint32_t, 15>{});
