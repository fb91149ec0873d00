// AVX twins of the cluster-fit stages: every product and sum rounded on its
// own, grid levels rounded to nearest with ties to even. Also stage A, which
// the FMA set shares.
#include "texture_encoder/simd/cluster_fit_vector.h"
#include "texture_encoder/simd/cluster_fit_vector_stages.h"

namespace {

struct Avx_Level {
  static __m256 snap(__m256 x, __m256 levels, __m256 fraction) {
    const __m256 level = _mm256_round_ps(_mm256_mul_ps(clamp_unit(x), levels),
                                         _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    return _mm256_mul_ps(level, fraction);
  }
  static __m256 diff_of_products(__m256 p, __m256 x, __m256 y, __m256 c) {
    return _mm256_sub_ps(_mm256_mul_ps(p, x), _mm256_mul_ps(y, c));
  }
  static __m256 determinant(__m256 alpha2, __m256 beta2, __m256 cross) {
    return diff_of_products(alpha2, beta2, cross, cross);
  }
  // ((q0 q1) ab - q0 x) - q1 y doubled, plus (q1 q1) b2 + (q0 q0) a2.
  static __m256 partition_error(__m256 q0, __m256 q1, __m256 x, __m256 y, __m256 cross,
                                __m256 alpha2, __m256 beta2) {
    const __m256 t = _mm256_sub_ps(
        _mm256_sub_ps(_mm256_mul_ps(_mm256_mul_ps(q0, q1), cross), _mm256_mul_ps(q0, x)),
        _mm256_mul_ps(q1, y));
    const __m256 q = _mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(q1, q1), beta2),
                                   _mm256_mul_ps(_mm256_mul_ps(q0, q0), alpha2));
    return _mm256_add_ps(_mm256_add_ps(t, t), q);
  }
  // (-(x a) - y b) doubled, plus (wa a) a + (wb b) b.
  static __m256 mean_pair_error(__m256 a, __m256 b, __m256 x, __m256 y, __m256 wa, __m256 wb) {
    const __m256 l = _mm256_sub_ps(_mm256_xor_ps(_mm256_mul_ps(x, a), _mm256_set1_ps(-0.0f)),
                                   _mm256_mul_ps(y, b));
    const __m256 p = _mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(wa, a), a),
                                   _mm256_mul_ps(_mm256_mul_ps(wb, b), b));
    return _mm256_add_ps(_mm256_add_ps(l, l), p);
  }
  static __m256 mean_pair_error_n16(__m256 a, __m256 b, __m256 x, __m256 y, __m256 wa, __m256 wb) {
    return mean_pair_error(a, b, x, y, wa, wb);
  }
};

// ---- Stage A ---------------------------------------------------------------------

// Where the run [first, end) is split for its sum (or its cross weight): the
// run one shorter plus the last colour, except in the pairings below.
struct Run_Split {
  uint32_t first, end, middle;
};
template <uint32_t N>
constexpr Run_Split sum_pairings[] = {{0, 0, 0}};
template <>
constexpr Run_Split sum_pairings<5>[] = {{0, 4, 2}, {1, 5, 3}};
template <>
constexpr Run_Split sum_pairings<6>[] = {{0, 4, 2}};
template <uint32_t N>
constexpr Run_Split cross_pairings[] = {{0, 0, 0}};
template <>
constexpr Run_Split cross_pairings<4>[] = {{0, 4, 2}};
template <>
constexpr Run_Split cross_pairings<5>[] = {{0, 4, 2}, {0, 5, 3}, {1, 5, 3}};
template <>
constexpr Run_Split cross_pairings<6>[] = {{0, 6, 3}, {1, 6, 4}};

template <const auto& Pairings>
constexpr uint32_t split_of(uint32_t first, uint32_t end) {
  for (const Run_Split& p : Pairings)
    if (p.first == first && p.end == end) return p.middle;
  return end - 1;
}

}  // namespace

template <uint32_t N>
void cluster_partition_sums_n_avx(const float* weighted_colours, Cluster_Partition_Sums* sums) {
  static_assert(N >= 2 && N <= 16);
  const __m128 third =
      _mm_setr_ps(std::bit_cast<float>(0x3EAAAAABu), std::bit_cast<float>(0x3EAAAAABu),
                  std::bit_cast<float>(0x3EAAAAABu), std::bit_cast<float>(0x3DE38E39u));
  const __m128 two_thirds =
      _mm_setr_ps(std::bit_cast<float>(0x3F2AAAABu), std::bit_cast<float>(0x3F2AAAABu),
                  std::bit_cast<float>(0x3F2AAAABu), std::bit_cast<float>(0x3EE38E39u));
  const float two_ninths = std::bit_cast<float>(0x3E638E39u);
  float* const table = sums->data;
  float* const cross = table + cluster_middle_weights_offset(N) / 4;
  const auto run = [&](uint32_t first, uint32_t end) {
    return table + 12 * cluster_run_index(N, first, end);
  };
  const auto store = [](float* r, __m128 sum, __m128 t, __m128 tt) {
    _mm_store_ps(r, sum);
    _mm_store_ps(r + 4, t);
    _mm_store_ps(r + 8, tt);
  };

  store(run(0, 0), _mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps());
  cross[0] = 0.0f;
  for (uint32_t k = 0; k < N; ++k) {
    const __m128 x = _mm_loadu_ps(weighted_colours + 4 * k);
    store(run(k, k + 1), x, _mm_mul_ps(x, third), _mm_mul_ps(x, two_thirds));
    if constexpr (N < 16)
      cross[cluster_middle_weight_index(N, k, k + 1)] = weighted_colours[4 * k + 3] * two_ninths;
  }
  // Shorter runs first, so that every pairing finds both halves stored.
  for (uint32_t length = 2; length <= N; ++length)
    for (uint32_t first = 0; first + length <= N; ++first) {
      const uint32_t end = first + length;
      if (length < N) {
        const uint32_t middle = split_of<sum_pairings<N>>(first, end);
        const float* x = run(first, middle);
        const float* y = run(middle, end);
        const __m128 sum = _mm_add_ps(_mm_load_ps(x), _mm_load_ps(y));
        if constexpr (N == 3)
          store(run(first, end), sum, _mm_add_ps(_mm_load_ps(x + 4), _mm_load_ps(y + 4)),
                _mm_add_ps(_mm_load_ps(x + 8), _mm_load_ps(y + 8)));
        else
          store(run(first, end), sum, _mm_mul_ps(sum, third), _mm_mul_ps(sum, two_thirds));
      }
      if constexpr (N < 16) {
        const uint32_t middle = split_of<cross_pairings<N>>(first, end);
        cross[cluster_middle_weight_index(N, first, end)] =
            cross[cluster_middle_weight_index(N, first, middle)] +
            cross[cluster_middle_weight_index(N, middle, end)];
      }
    }
  // Every weight is 1 for 16 colours: the cross weight depends on the length.
  if constexpr (N == 16)
    for (uint32_t length = 0; length <= 16; ++length) cross[length] = float(length) * two_ninths;
  cluster_sums_fill_lanes<N>(sums);
}

HAP_CLUSTER_FIT_VECTOR_LEVEL(avx, Avx_Level)
HAP_CFV_INSTANTIATE_FINAL(avx, 7)
HAP_CFV_INSTANTIATE_FINAL(avx, 8)
HAP_CFV_INSTANTIATE_FINAL(avx, 11)
HAP_CFV_INSTANTIATE_FINAL(avx, 15)

#define HAP_INSTANTIATE_SUMS_AVX(n) \
  template Cluster_Partition_Sums_Kernel cluster_partition_sums_n_avx<n>;
HAP_INSTANTIATE_SUMS_AVX(2)
HAP_INSTANTIATE_SUMS_AVX(3)
HAP_INSTANTIATE_SUMS_AVX(4)
HAP_INSTANTIATE_SUMS_AVX(5)
HAP_INSTANTIATE_SUMS_AVX(6)
HAP_INSTANTIATE_SUMS_AVX(7)
HAP_INSTANTIATE_SUMS_AVX(8)
HAP_INSTANTIATE_SUMS_AVX(9)
HAP_INSTANTIATE_SUMS_AVX(10)
HAP_INSTANTIATE_SUMS_AVX(11)
HAP_INSTANTIATE_SUMS_AVX(12)
HAP_INSTANTIATE_SUMS_AVX(13)
HAP_INSTANTIATE_SUMS_AVX(14)
HAP_INSTANTIATE_SUMS_AVX(15)
HAP_INSTANTIATE_SUMS_AVX(16)
