// Which kernel set-up puts in every slot, for every texture code, quality,
// pixel format, source alpha and processor mask: the expected context is
// built from the installation tables (a scalar kernel per slot and the vector
// twins that replace it, each with the mask bits it needs) and compared slot
// by slot. A twin in the wrong slot can give the same bytes on today's
// frames, so the texture digests would not see it.
#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>
#include <utility>

#include "texture_encoder/alpha_block.h"
#include "texture_encoder/block_geometry.h"
#include "texture_encoder/cluster_fit/cluster_fit.h"
#include "texture_encoder/cocg_endpoint_kernels.h"
#include "texture_encoder/cs_kernels.h"
#include "texture_encoder/dxt1_encoder.h"
#include "texture_encoder/partial_block_padding.h"
#include "texture_encoder/pixel_formats.h"
#include "texture_encoder/simd/alpha_vector.h"
#include "texture_encoder/simd/cluster_fit_vector.h"
#include "texture_encoder/simd/cluster_sweep_vector.h"
#include "texture_encoder/simd/copy_vector.h"
#include "texture_encoder/simd/cs_vector.h"
#include "texture_encoder/simd/dxt1_vector.h"
#include "texture_encoder/simd/ycocg_vector.h"
#include "texture_encoder/simd_features.h"
#include "texture_encoder/ycocg_block.h"

namespace {

// The slot's scalar kernel, replaced in turn by each twin whose bits (with
// 0x08) the mask holds: AVX, AVX2, AVX2 with FMA, AVX with FMA. Null: no twin.
template <class Fn>
using Twin = std::type_identity_t<Fn>;  // not deduced: null stands for no twin
template <class Fn>
Fn pick(uint32_t mask, Fn scalar, Twin<Fn> avx, Twin<Fn> avx2 = nullptr, Twin<Fn> avx2_fma = nullptr,
        Twin<Fn> avx_fma = nullptr) {
  const std::pair<uint32_t, Fn> twins[] = {{0x28, avx}, {0x88, avx2}, {0xC8, avx2_fma}, {0x68, avx_fma}};
  Fn chosen = scalar;
  for (const auto& [bits, twin] : twins)
    if (twin && (mask & bits) == bits) chosen = twin;
  return chosen;
}

// The cluster set-up and cluster-fit slots of one count of colours.
template <uint32_t N>
void expect_count(Dxt_Kernel_Head& h, uint32_t mask) {
  constexpr uint32_t i = N - 2;
  h.cs_kernels.principal_axis[i] = pick(mask, cs_principal_axis_n<N>, cs_principal_axis_n_avx<N>);
  h.cs_project_on_axis[i] = pick(mask, cs_project_on_axis_n<N>, cs_project_on_axis_n_avx<N>);
  h.cs_sort_order[i] = cs_sort_order_n<N>;
  // Stage A has no FMA form: the AVX kernels stay under the AVX-with-FMA set.
  h.cluster_partition_sums[i] =
      pick(mask, cluster_partition_sums_n<N>, cluster_partition_sums_n_avx<N>);
  // Sixteen colours have slots of their own.
  if constexpr (N < 16)
    h.cluster_fit_records[i] = pick(mask, cluster_fit_records_n<N>, cluster_fit_records_n_avx<N>,
                                    nullptr, nullptr, cluster_fit_records_n_avx_fma<N>);
  if constexpr (N >= 3 && N < 16)
    h.cluster_fit_mean_pairs[i] = pick(mask, cluster_fit_mean_pairs_n<N>, cluster_fit_mean_pairs_n_avx<N>,
                                       nullptr, nullptr, cluster_fit_mean_pairs_n_avx_fma<N>);
  if constexpr (N >= 5 && N < 16) {
    h.cluster_fit_three_levels[i] = pick(mask, cluster_fit_three_levels_n<N>, cluster_fit_three_levels_n_avx<N>,
                                         nullptr, nullptr, cluster_fit_three_levels_n_avx_fma<N>);
    h.cluster_fit_four_levels[i] = pick(mask, cluster_fit_four_levels_n<N>, cluster_fit_four_levels_n_avx<N>,
                                        nullptr, nullptr, cluster_fit_four_levels_n_avx_fma<N>);
  }
  if constexpr (N == 2)
    h.cluster_fit_final[i] = pick(mask, dxt_cluster_fit_block, dxt_cluster_fit_block_n2_avx, nullptr,
                                  nullptr, dxt_cluster_fit_block_n_avx_fma<2>);
  if constexpr (N == 3)
    h.cluster_fit_final[i] = pick(mask, dxt_cluster_fit_block, dxt_cluster_fit_block_n3_avx, nullptr,
                                  nullptr, dxt_cluster_fit_block_n3_avx_fma);
  if constexpr (N == 7 || N == 8 || N == 11 || N == 15)
    h.cluster_fit_final[i] = pick(mask, dxt_cluster_fit_block, dxt_cluster_fit_block_n_avx<N>, nullptr,
                                  nullptr, dxt_cluster_fit_block_n_avx_fma<N>);
  if constexpr (N == 10)
    h.cluster_fit_final[i] = pick(mask, dxt_solve_least_squares, dxt_solve_least_squares_n10_avx, nullptr,
                                  nullptr, dxt_solve_least_squares_n10_avx_fma);
}

template <uint32_t... I>
void expect_counts(Dxt_Kernel_Head& h, uint32_t mask, std::integer_sequence<uint32_t, I...>) {
  (expect_count<I + 2>(h, mask), ...);
}

// The context set-up must give; every other slot stays empty. BC7 workers are
// checked only for being there.
Dxt_Encoder_Context expected_context(uint32_t code, uint8_t q, uint32_t fmt, bool opaque, uint32_t mask) {
  Dxt_Encoder_Context c{};
  Dxt_Kernel_Head& h = c.head;
  const bool dxt = code == Texture_Code_Dxt1 || code == Texture_Code_Dxt5;
  if (dxt && q == 3) mask &= ~uint32_t(Simd_Flag_Avx2);  // no AVX2 kernel for DXT at quality 3
  if (!(mask & Simd_Flag_Enable)) mask = 0;
  const bool first = fmt == Pix_Fmt_Bgra8;
  h.pad_kernel = first ? pad_partial_block_fmt1_mode0 : pad_partial_block_fmt2_mode0;

  const bool alpha = code == Texture_Code_Dxt5 || code == Texture_Code_Rgtc1_Alpha ||
                     code == Texture_Code_Ycocg_Dxt5_Rgtc1;
  if (alpha)
    h.extract_plane_alpha = opaque ? fill_opaque_plane
                                   : pick(mask, first ? to_alpha_template_alpha_fmt1 : to_alpha_template_alpha_fmt2,
                                          to_alpha_template_alpha_avx);
  if (code == Texture_Code_Rgtc1_Luma) {
    c.slice_worker = encode_slice_rgtc1_luma;
    h.extract_plane_luma = pick(mask, first ? to_alpha_template_luma_fmt1 : to_alpha_template_luma_fmt2,
                                to_alpha_template_luma_avx);
  }
  if (code == Texture_Code_Rgtc1_Alpha) c.slice_worker = encode_slice_rgtc1;
  if (code == Texture_Code_Ycocg_Dxt5_Rgtc1) c.slice_worker_second = encode_slice_rgtc1;
  if (alpha || code == Texture_Code_Rgtc1_Luma) {
    h.rgtc1_block_min_max = pick(mask, rgtc1_block_min_max, rgtc1_block_min_max_avx);
    h.rgtc1_fit_indices = pick(mask, rgtc1_fit_indices, rgtc1_fit_indices_avx, rgtc1_fit_indices_avx2);
  }

  if (code == Texture_Code_Ycocg_Dxt5 || code == Texture_Code_Ycocg_Dxt5_Rgtc1) {
    const Slice_Worker_Fn workers[] = {encode_slice_ycocg_q1, encode_slice_ycocg_q2, encode_slice_ycocg_q3};
    c.slice_worker = workers[q - 1];
    h.ycocg_load_block = pick(mask, ycocg_load_block, ycocg_load_block_avx, ycocg_load_block_avx2);
    if (q == 1) {
      h.ycocg_encode_y_alpha =
          pick(mask, ycocg_encode_y_alpha, ycocg_encode_y_alpha_avx, nullptr, ycocg_encode_y_alpha_avx2_fma);
      h.ycocg_encode_cocg = pick(mask, ycocg_encode_cocg, ycocg_encode_cocg_avx, nullptr, ycocg_encode_cocg_avx2_fma);
      h.ycocg_encode_cocg_flat = pick(mask, ycocg_encode_cocg_flat, nullptr, nullptr, ycocg_encode_cocg_flat_avx2_fma);
    } else {
      h.ycocg_encode_y_alpha = pick(mask, ycocg_encode_y_alpha_hq, nullptr, nullptr, ycocg_encode_y_alpha_hq_avx2_fma);
      const Cocg_Endpoint_Kernels scalar = cocg_endpoint_kernels_scalar(q);
      Cocg_Endpoint_Kernels& k = h.cocg_endpoint_kernels;
      const Cocg_Inset_Bbox_Fn insets[6] = {inset_bbox_565_s0_avx_fma, inset_bbox_565_s1_avx_fma,
                                            inset_bbox_565_s2_avx_fma, inset_bbox_565_s3_avx_fma,
                                            inset_bbox_565_s4_avx_fma, inset_bbox_565_s5_avx_fma};
      const Cocg_Endpoint_Trial_Fn trials[3] = {cocg_endpoint_trial_s0_q2_avx2_fma, cocg_endpoint_trial_s1_q2_avx2_fma,
                                                cocg_endpoint_trial_s2_q2_avx2_fma};
      for (int s = 0; s < 6; ++s) k.inset_bbox[s] = pick(mask, scalar.inset_bbox[s], nullptr, nullptr, insets[s]);
      // Quality 3 keeps its scalar trials; the AVX searches give the scalar bits.
      for (int s = 0; s < 3; ++s) {
        k.endpoint_trial[s] = pick(mask, scalar.endpoint_trial[s], nullptr, nullptr, q == 2 ? trials[s] : nullptr);
        k.endpoint_search[s] = pick(mask, scalar.endpoint_search[s],
                                    (q == 2 ? cocg_endpoint_search_q2_avx : cocg_endpoint_search_q3_avx)[s], nullptr,
                                    (q == 2 ? cocg_endpoint_search_q2_avx_fma : cocg_endpoint_search_q3_avx_fma)[s]);
      }
      k.final_pack = pick(mask, scalar.final_pack, nullptr, nullptr, cocg_final_pack_avx2);
    }
  }

  if (dxt) {
    const Slice_Worker_Fn workers[2][3] = {{encode_slice_dxt1_q1, encode_slice_dxt1_q2, encode_slice_dxt1_q3},
                                           {encode_slice_dxt5_q1, encode_slice_dxt5_q2, encode_slice_dxt5_q3}};
    c.slice_worker = workers[code][q - 1];
    if (q == 1) h.dxt_load_block_q1 = pick(mask, to_rgba_template_dxt_q1, to_rgba_template_dxt_q1_avx);
    if (q == 2) h.dxt_load_block_q2 = pick(mask, to_rgba_template_dxt_q2, to_rgba_template_dxt_q2_avx);
    if (q <= 2) {
      h.dxt1_compute_indices = pick(mask, dxt1_compute_indices, dxt1_compute_indices_avx, dxt1_compute_indices_avx2);
      h.dxt1_initial_endpoints =
          pick(mask, dxt1_initial_endpoints, dxt1_initial_endpoints_avx, dxt1_initial_endpoints_avx2);
      h.dxt1_refine_endpoints =
          pick(mask, dxt1_refine_endpoints, dxt1_refine_endpoints_avx, nullptr, dxt1_refine_endpoints_avx2_fma);
    }
    if (q >= 2) {
      h.cs_kernels.gather_block = pick(mask, cs_gather_block, cs_gather_block_avx);
      h.cs_kernels.pack_block_from_float =
          pick(mask, dxt1_pack_block_from_float, nullptr, dxt1_pack_block_from_float_avx2);
      h.cs_kernels.pack_block_from_565 = dxt1_pack_block_from_565;
      expect_counts(h, mask, std::make_integer_sequence<uint32_t, 15>{});
      h.cluster_fit_n16_mean_pairs = pick(mask, cluster_fit_mean_pairs_n16, cluster_fit_mean_pairs_n16_avx, nullptr,
                                          nullptr, cluster_fit_mean_pairs_n16_avx_fma);
      h.cluster_fit_n16_three_levels = pick(mask, cluster_fit_three_levels_n16, cluster_fit_three_levels_n16_avx,
                                            nullptr, nullptr, cluster_fit_three_levels_n16_avx_fma);
      h.cluster_fit_n16_four_levels = pick(mask, cluster_fit_four_levels_n16, cluster_fit_four_levels_n16_avx,
                                           nullptr, nullptr, cluster_fit_four_levels_n16_avx_fma);
      h.cluster_fit_n16_records = pick(mask, cluster_fit_records_n16, cluster_fit_records_n16_avx, nullptr, nullptr,
                                       cluster_fit_records_n16_avx_fma);
      h.cluster_fit_n16_final = pick(mask, dxt_cluster_fit_block_alt, dxt_cluster_fit_block_alt_n16_avx, nullptr,
                                     nullptr, dxt_cluster_fit_block_alt_n16_avx_fma);
    }
  }

  if (code == Texture_Code_Bc7)
    h.bc7_row_converter = first ? (opaque ? to_rgba_template_bc7_fmt1_noalpha : to_rgba_template_bc7_fmt1)
                                : (opaque ? to_rgba_template_bc7_fmt2_noalpha : to_rgba_template_bc7_fmt2);
  return c;
}

}  // namespace

TEST(SimdInstall, EverySlotHoldsTheKernelOfItsCodeQualityAndMask) {
  // No enable bit, then AVX, AVX with FMA, AVX2, AVX2 with FMA; a processor
  // without some of them sees what the filter leaves.
  const uint32_t masks[] = {0xF0, 0x08, 0x28, 0x68, 0xA8, 0xE8};
  constexpr size_t slots = sizeof(Dxt_Kernel_Head) / sizeof(void*);
  for (uint32_t code = 0; code <= 6; ++code)
    for (uint8_t quality = 1; quality <= 3; ++quality)
      for (uint32_t fmt : {Pix_Fmt_Bgra8, Pix_Fmt_Bgra8_Bottom_Up})
        for (bool opaque : {false, true})
          for (uint32_t requested : masks) {
            const uint32_t mask = detect_simd_features(requested);
            SCOPED_TRACE(testing::Message() << "code " << code << " quality " << int(quality) << " fmt " << fmt
                                            << " opaque " << opaque << " mask 0x" << std::hex << mask);
            Dxt_Encoder_Context actual;
            std::memset(&actual, 0xCD, sizeof actual);  // set-up empties what it does not fill
            actual.source_has_no_alpha = opaque;
            ASSERT_EQ(setup_dxt_encoder(&actual, 64, 64, code, quality, 0, fmt, Pad_Mode_Edge, 1, requested), 0u);
            const Dxt_Encoder_Context expected = expected_context(code, quality, fmt, opaque, mask);
            void* got[slots];
            void* want[slots];
            std::memcpy(got, &actual.head, sizeof got);
            std::memcpy(want, &expected.head, sizeof want);
            for (size_t s = 0; s < slots; ++s) ASSERT_EQ(got[s], want[s]) << "slot " << s << " of the kernel head";
            if (code == Texture_Code_Bc7) {
              EXPECT_NE(actual.slice_worker, nullptr);
            } else {
              EXPECT_EQ(actual.slice_worker, expected.slice_worker);
            }
            EXPECT_EQ(actual.slice_worker_second, expected.slice_worker_second);
          }
}

TEST(SimdInstall, PadKernelByFormatAndMode) {
  const Pad_Kernel_Fn by_mode[2][5] = {
      {pad_partial_block_fmt1_mode0, pad_partial_block_fmt1_mode1, pad_partial_block_fmt1_mode2,
       pad_partial_block_fmt1_mode0, pad_partial_block_fmt1_mode2},
      {pad_partial_block_fmt2_mode0, pad_partial_block_fmt2_mode1, pad_partial_block_fmt2_mode2,
       pad_partial_block_fmt2_mode0, pad_partial_block_fmt2_mode2}};
  for (uint32_t fmt : {Pix_Fmt_Bgra8, Pix_Fmt_Bgra8_Bottom_Up})
    for (uint32_t mode = 0; mode < 5; ++mode) {
      Dxt_Encoder_Context context{};
      ASSERT_EQ(setup_dxt_encoder(&context, 8, 8, Texture_Code_Dxt1, 1, 0, fmt, mode, 1, 0xF8), 0u);
      EXPECT_EQ(context.head.pad_kernel, by_mode[fmt - 1][mode]) << "fmt " << fmt << " mode " << mode;
    }
}

TEST(SimdInstall, CopyPairByMask) {
  Copy_Kernel_Pair standard{};
  install_copy_kernel_pair(&standard, 0);
  EXPECT_EQ(standard.copy_unaligned, standard.copy_aligned);
  for (uint32_t requested : {0xA0u, 0x08u, 0x28u, 0x48u, 0xA8u, 0xE8u}) {
    const uint32_t mask = detect_copy_simd_features(requested);
    Copy_Kernel_Pair pair{};
    install_copy_kernel_pair(&pair, requested);
    EXPECT_EQ(pair.copy_unaligned, pick(mask, standard.copy_unaligned, stream_copy_unaligned_avx)) << requested;
    EXPECT_EQ(pair.copy_aligned,
              pick(mask, standard.copy_aligned, stream_copy_aligned_avx, stream_copy_aligned_avx2))
        << requested;
  }
}
