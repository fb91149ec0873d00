// Inner layers of the BC7 encoder, shared by its source files and its tests:
// constant tables, small colour, scalar and vector helpers, the error metric,
// the per-subset records, endpoint quantisation and index fitting, least
// squares, the subset search, the partition choice, mode choice and bit
// packing.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "src/bc7_encoder.h"

// ---- Tables ----------------------------------------------------------------

// Layout of one BC7 mode.
struct Bc7_Mode_Info {
  uint32_t subsets;
  uint32_t partition_bits;
  uint32_t rotation_bits;
  uint32_t index_selector_bits;
  uint32_t color_bits;  // per channel and endpoint, without p-bit
  uint32_t alpha_bits;  // 0: alpha decodes as 255
  uint32_t p_bit_per_endpoint;
  uint32_t p_bit_shared;  // one p-bit per subset
  uint32_t index_bits;
  uint32_t index2_bits;  // second index set (modes 4 and 5)
};
extern const Bc7_Mode_Info bc7_modes[8];

// Interpolation weights out of 64 for 2-, 3- and 4-bit indices.
extern const uint32_t bc7_weights2[4];
extern const uint32_t bc7_weights3[8];
extern const uint32_t bc7_weights4[16];

// Least-squares factors per index level: w^2, w(1 - w), (1 - w)^2, w with
// w = weight / 64.
extern const float bc7_factors2[4][4];
extern const float bc7_factors3[8][4];
extern const float bc7_factors4[16][4];

// Subset of each pixel: two-subset maps hold one bit per pixel, three-subset
// maps two bits per pixel (pixel p = 4 * row + column at bit p or 2p).
extern const uint16_t bc7_partitions2[64];
extern const uint32_t bc7_partitions3[64];
extern const uint8_t bc7_anchors2[64];     // anchor pixel of subset 1
extern const uint8_t bc7_anchors3[64][2];  // anchor pixels of subsets 1 and 2

// Subset (0..subsets-1) of a pixel in a partition of a mode with that many subsets.
inline uint32_t bc7_subset_of(uint32_t subsets, uint32_t partition, uint32_t pixel) {
  if (subsets == 2) return (bc7_partitions2[partition] >> pixel) & 1;
  if (subsets == 3) return (bc7_partitions3[partition] >> (2 * pixel)) & 3;
  return 0;
}

// The order in which two-subset partitions are estimated, and for partitions
// 0..34 the first-14 winners (bit k + 1 for winner k) that let them be tried.
extern const uint8_t bc7_partition_order[64];
extern const uint32_t bc7_partition_prune_masks[35];

// Widens an n-bit endpoint value (4 <= n <= 8) to 8 bits by repeating its top bits.
inline uint32_t bc7_widen(uint32_t value, uint32_t bits) {
  const uint32_t u = value << (8 - bits);
  return u | (u >> bits);
}

// Index widths of a mode: the index selector (mode 4) moves one bit from the
// alpha indices to the colour indices. Only modes 4 and 5 rotate channels.
inline uint32_t bc7_color_index_bits(uint32_t mode, uint32_t index_selector) {
  return bc7_modes[mode].index_bits + index_selector;
}
inline uint32_t bc7_alpha_index_bits(uint32_t mode, uint32_t index_selector) {
  return bc7_modes[mode].index2_bits - index_selector;
}
inline bool bc7_mode_has_rotation(uint32_t mode) { return mode == 4 || mode == 5; }

// Best endpoint pair for one 8-bit value through a fixed index.
struct Bc7_Single_Color_Entry {
  uint16_t m_error;
  uint8_t m_lo;
  uint8_t m_hi;
};
// [value][p-bit]: 6-bit endpoints with a shared p-bit, index 2 (weight 18).
extern Bc7_Single_Color_Entry g_bc7_mode_1_optimal_endpoints[256][2];
// [value][high p-bit][low p-bit]: 5-bit endpoints, index 1 (weight 21).
extern Bc7_Single_Color_Entry g_bc7_mode_7_optimal_endpoints[256][2][2];

// ---- Small helpers -----------------------------------------------------------
// Inline, as the per-pixel and per-candidate loops of the search call them.

inline float bc7_absf(float x) { return std::fabs(x); }
inline float bc7_minf(float a, float b) { return std::min(a, b); }
inline float bc7_maxf(float a, float b) { return std::max(a, b); }
inline uint32_t bc7_min_u32(uint32_t a, uint32_t b) { return std::min(a, b); }
inline uint32_t bc7_max_u32(uint32_t a, uint32_t b) { return std::max(a, b); }
// NaN comes through unchanged.
inline float bc7_clamp01(float x) { return std::clamp(x, 0.0f, 1.0f); }
inline float bc7_squaref(float x) { return x * x; }
inline int32_t bc7_square(int32_t x) { return x * x; }
inline void bc7_swap_u32(uint32_t& a, uint32_t& b) { std::swap(a, b); }

// Stores four channel values, each at most 255.
inline void bc7_set_color(uint8_t out[4], uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  out[0] = uint8_t(r);
  out[1] = uint8_t(g);
  out[2] = uint8_t(b);
  out[3] = uint8_t(a);
}
// Stores four channel values, each clamped to 0..255 first.
inline void bc7_set_color_clamped(uint8_t out[4], int32_t r, int32_t g, int32_t b, int32_t a) {
  bc7_set_color(out, uint32_t(std::clamp(r, 0, 255)), uint32_t(std::clamp(g, 0, 255)),
                uint32_t(std::clamp(b, 0, 255)), uint32_t(std::clamp(a, 0, 255)));
}
inline bool bc7_colors_differ(const uint8_t a[4], const uint8_t b[4]) {
  return std::memcmp(a, b, 4) != 0;
}

// Four floats R, G, B, A: the mean, axis and float endpoints of the search.
struct Bc7_Vec4 {
  float v[4];
};

inline Bc7_Vec4 bc7_vec4_set(float r, float g, float b, float a) { return {{r, g, b, a}}; }
inline Bc7_Vec4 bc7_vec4_splat(float x) { return {{x, x, x, x}}; }
inline Bc7_Vec4 bc7_vec4_from_u8(const uint8_t c[4]) {
  return {{float(c[0]), float(c[1]), float(c[2]), float(c[3])}};
}
inline Bc7_Vec4 bc7_vec4_add(const Bc7_Vec4& a, const Bc7_Vec4& b) {
  return {{a.v[0] + b.v[0], a.v[1] + b.v[1], a.v[2] + b.v[2], a.v[3] + b.v[3]}};
}
inline Bc7_Vec4 bc7_vec4_sub(const Bc7_Vec4& a, const Bc7_Vec4& b) {
  return {{a.v[0] - b.v[0], a.v[1] - b.v[1], a.v[2] - b.v[2], a.v[3] - b.v[3]}};
}
inline float bc7_vec4_dot(const Bc7_Vec4& a, const Bc7_Vec4& b) {
  return a.v[0] * b.v[0] + a.v[1] * b.v[1] + a.v[2] * b.v[2] + a.v[3] * b.v[3];
}
inline Bc7_Vec4 bc7_vec4_scale(const Bc7_Vec4& a, float s) {
  return {{a.v[0] * s, a.v[1] * s, a.v[2] * s, a.v[3] * s}};
}
// Unit length, unless the vector is zero.
inline Bc7_Vec4 bc7_vec4_normalize(const Bc7_Vec4& a) {
  const float length2 = bc7_vec4_dot(a, a);
  return length2 == 0.0f ? a : bc7_vec4_scale(a, 1.0f / std::sqrt(length2));
}
inline void bc7_vec4_clamp01(Bc7_Vec4& a) {
  for (float& x : a.v) x = bc7_clamp01(x);
}
inline Bc7_Vec4 bc7_vec4_clamped01(Bc7_Vec4 a) {
  bc7_vec4_clamp01(a);
  return a;
}

// ---- Error metric ----------------------------------------------------------

// The weights every error sum uses, from the caller's weights and metric.
void bc7_working_weights(const Bc7_Block_Params& params, uint32_t out[4]);

// Distance of an encoded colour a from a source pixel b over the first
// Channels channels (3: without alpha, 4: with it). The perceptual metric is
// not symmetric in a and b. Sums are taken in 32 bits, as the weights are
// meant to keep them there. Inline so that the per-pixel loops of the search
// see the metric's arithmetic instead of a call.
template <int Channels, bool Perceptual>
inline uint64_t bc7_color_distance(const uint8_t a[4], const uint8_t b[4], const uint32_t w[4]) {
  uint32_t d;
  if constexpr (Perceptual) {
    const int32_t luma_delta = (109 * a[0] + 366 * a[1] + 37 * a[2]) -
                               (109 * b[0] + 366 * b[1] + 37 * b[2]);
    const int32_t dy = luma_delta >> 8;
    const int32_t dcr = ((a[0] - b[0]) * 512 - luma_delta) >> 8;
    const int32_t dcb = ((a[2] - b[2]) * 512 - luma_delta) >> 8;
    d = w[0] * uint32_t(bc7_square(dy)) + w[1] * uint32_t(bc7_square(dcr)) +
        w[2] * uint32_t(bc7_square(dcb));
  } else {
    d = w[0] * uint32_t(bc7_square(a[0] - b[0])) + w[1] * uint32_t(bc7_square(a[1] - b[1])) +
        w[2] * uint32_t(bc7_square(a[2] - b[2]));
  }
  if constexpr (Channels == 4) d += w[3] * uint32_t(bc7_square(a[3] - b[3]));
  return d;
}

// The same with the metric chosen at run time.
uint64_t bc7_color_distance_rgb(const uint8_t a[4], const uint8_t b[4], bool perceptual,
                                const uint32_t weights[4]);
uint64_t bc7_color_distance_rgba(const uint8_t a[4], const uint8_t b[4], bool perceptual,
                                 const uint32_t weights[4]);

// ---- One subset of one mode --------------------------------------------------

struct Bc7_Subset_Params {
  uint32_t m_pixel_count;    // 1..16
  const uint8_t* m_pixels;   // RGBA, 4 bytes each
  uint32_t m_level_count;    // 4, 8 or 16
  const uint32_t* m_level_weights;
  const float (*m_level_factors)[4];
  uint32_t m_endpoint_bits;  // without p-bit
  uint32_t m_channel_weights[4];
  uint8_t m_has_alpha;
  uint8_t m_has_p_bits;
  uint8_t m_shared_p_bit;
  uint8_t m_perceptual_metric;
};

struct Bc7_Subset_Result {
  uint64_t m_best_overall_err;  // all-ones: nothing held yet
  uint8_t m_low[4];             // quantised, without p-bit
  uint8_t m_high[4];
  uint32_t m_p_bits[2];
  uint8_t* m_selectors;         // indices of the best solution (caller's storage)
  uint8_t* m_trial_selectors;   // scratch (caller's storage)
};

constexpr uint64_t Bc7_No_Error = ~uint64_t{0};

// Quantised endpoint pairs (p-bits included) already measured in one subset
// search. The held error only falls, so measuring a pair again cannot change
// the result; the search skips such repeats.
struct Bc7_Candidate_History {
  uint32_t m_count = 0;
  uint64_t m_keys[32];
};

// Quantises two float endpoints (0..1, clamped in place) for the mode, fits
// indices and keeps the candidate when it beats the result. Returns the
// result's best error. A history, when given, belongs to this result alone.
uint64_t bc7_quantize_and_fit(uint32_t mode, float first[4], float second[4],
                              const Bc7_Subset_Params& params, Bc7_Subset_Result& result,
                              Bc7_Candidate_History* history = nullptr);
// Fits one index per pixel to quantised endpoints; keeps the candidate when
// strictly better. Returns the candidate's error. A bound at or above the
// error held (the error to beat) lets the fit stop once the sum reaches it,
// where the candidate can no longer be kept: it then returns some sum >= bound.
uint64_t bc7_fit_selectors(const uint8_t first[4], const uint8_t second[4],
                           const uint32_t p_bits[2], const Bc7_Subset_Params& params,
                           Bc7_Subset_Result& result, uint64_t bound = Bc7_No_Error);
// Nearest level of a palette of n colours (4, 8 or 16) for every pixel of the
// subset, written to indices; returns the summed error. The linear metric
// searches the two levels around each pixel's projection onto the endpoint
// line (the upper on a tie), the perceptual one every level (the lowest on a
// tie). Once the sum reaches bound the candidate cannot win: the search may
// stop there, returning some sum >= bound with some indices left unwritten.
uint64_t bc7_fit_indices(const uint8_t palette[][4], uint32_t n, const Bc7_Subset_Params& params,
                         uint8_t indices[], uint64_t bound);
// Mode 1 only: moves apart R, G, B endpoints that quantised to one value
// although their float values differ.
void bc7_separate_mode1_endpoints(uint32_t mode, uint8_t first[4], uint8_t second[4],
                                  const float first_f[4], const float second_f[4],
                                  uint32_t largest);
// Widens endpoint values (p-bit included) to 8 bits; R in the low byte.
uint32_t bc7_expand_endpoint(const uint8_t endpoint[4], const Bc7_Subset_Params& params);

// Endpoints (0..255) that best reproduce the pixels through the given
// indices: out1 for the top index, out2 for index 0. The RGB form sets alpha
// 255; the alpha form solves the alpha channel alone into out1[0], out2[0].
void bc7_least_squares_rgb(uint32_t count, const uint8_t indices[], const float factors[][4],
                           float out1[4], float out2[4], const uint8_t pixels[]);
void bc7_least_squares_rgba(uint32_t count, const uint8_t indices[], const float factors[][4],
                            float out1[4], float out2[4], const uint8_t pixels[]);
void bc7_least_squares_alpha(uint32_t count, const uint8_t indices[], const float factors[][4],
                             float out1[1], float out2[1], const uint8_t pixels[]);

// Best endpoints and indices for one subset in one mode (1, 5, 6 or 7).
uint64_t bc7_encode_subset(uint32_t mode, const Bc7_Subset_Params& params,
                           Bc7_Subset_Result& result, const Bc7_Block_Params& block_params);
// One colour through the single-colour tables; write the result directly.
uint64_t bc7_solid_subset_mode1(const Bc7_Subset_Params& params, Bc7_Subset_Result& result,
                                uint32_t r, uint32_t g, uint32_t b, uint8_t indices[]);
uint64_t bc7_solid_subset_mode7(const Bc7_Subset_Params& params, Bc7_Subset_Result& result,
                                uint32_t r, uint32_t g, uint32_t b, uint32_t a,
                                uint8_t indices[]);

// ---- Whole block -------------------------------------------------------------

struct Bc7_Block_Choice {
  uint32_t m_mode;
  uint32_t m_partition;
  uint8_t m_color_selectors[16];
  uint8_t m_alpha_selectors[16];
  uint8_t m_low[3][4];
  uint8_t m_high[3][4];
  uint32_t m_p_bits[3][2];
  uint32_t m_rotation;
  uint32_t m_index_selector;
};

// Quick estimate of the error of one subset (count pixels, RGBA) of a
// two-subset partition for mode 1 (rgb) or 7 (rgba); stops at the pixel whose
// running sum exceeds bound and returns that sum.
uint64_t bc7_partition_error_rgb(uint32_t count, const uint8_t pixels[], bool perceptual,
                                 const uint32_t weights[4], uint64_t bound);
uint64_t bc7_partition_error_rgba(uint32_t count, const uint8_t pixels[], bool perceptual,
                                  const uint32_t weights[4], uint64_t bound);
// The partition to use for mode 1 or 7. With the linear metric and weights of
// at most 128 the estimates run in a vector form that makes the same choice.
uint32_t bc7_choose_partition(const uint32_t pixels[16], const Bc7_Block_Params& params,
                              const uint32_t weights[4], uint32_t mode);

// Mode 5 for a block with alpha: colour by the subset search, alpha by its
// own fit. mode5_error receives colour plus alpha error.
void bc7_try_mode_5(const uint8_t pixels[64], const Bc7_Block_Params& params,
                    Bc7_Subset_Params& subset, uint32_t alpha_min, uint32_t alpha_max,
                    Bc7_Block_Choice& out, uint64_t& mode5_error, uint64_t& alpha_error);

// True when all 16 alpha values are 255.
bool bc7_block_is_opaque(const uint8_t pixels[64]);
// The two paths of bc7_encode_block: choose the mode and write the block.
// subset must hold the working weights; the rest of it is rewritten by every
// trial.
void bc7_encode_block_opaque(uint8_t out[16], const uint8_t pixels[64],
                             const Bc7_Block_Params& params, Bc7_Subset_Params& subset);
void bc7_encode_block_alpha(uint8_t out[16], const uint8_t pixels[64],
                            const Bc7_Block_Params& params, Bc7_Subset_Params& subset);

// Appends the low bits of value at offset (least significant first).
void bc7_put_bits(uint8_t block[16], uint32_t value, uint32_t bit_count, uint32_t& offset);
// Writes a choice as a 16-byte BC7 block, anchor indices normalised.
void bc7_pack_block(uint8_t out[16], const Bc7_Block_Choice& choice);
