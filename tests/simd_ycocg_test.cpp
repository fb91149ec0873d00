// Vector twins of the YCoCg-DXT5 encoders against the scalar ones on random
// blocks: identical on almost every block and otherwise no worse. The pinned
// texture digests hold the exact bytes of every form.
#include <gtest/gtest.h>

#include "tests/simd_test_support.h"
#include "texture_encoder/cocg_endpoint_kernels.h"
#include "texture_encoder/installers.h"
#include "texture_encoder/simd/simd_install.h"
#include "texture_encoder/simd/ycocg_vector.h"
#include "texture_encoder/ycocg_block.h"

namespace {

using Block16 = std::array<uint8_t, 16>;

// Sum of squared B, G, R differences between a decoded block and its source.
int64_t decoded_error(const Block16& block, const Pixels& source) {
  uint8_t decoded[64];
  decode_ycocg_dxt5_block(block.data(), decoded);
  int64_t error = 0;
  for (int i = 0; i < 64; ++i)
    if (i % 4 != 3) error += (int(decoded[i]) - source[i]) * (int(decoded[i]) - source[i]);
  return error;
}

// The scalar YCoCg set of a code and quality with the twins over it under
// mask (none when 0).
Dxt_Kernel_Head ycocg_head(uint32_t code, int quality, uint32_t mask) {
  Dxt_Encoder_Context context{};
  context.texture_code = code;
  context.pix_fmt = Pix_Fmt_Bgra8;
  context.quality = uint8_t(quality);
  EXPECT_EQ(install_ycocg_set(&context, Pix_Fmt_Bgra8, 0, uint8_t(quality)), 0u);
  if (mask != 0) install_ycocg_vector_kernels(&context, mask);
  return context.head;
}

// Whole blocks through the scalar set and through the set with the twins under
// mask: at most max_differing blocks in 10000 may differ, and those decode no
// worse than the scalar block but for slack per pixel. At quality 1 a
// difference is one code step at a rounding boundary; at quality 2 and 3 a
// near-tie of the search can also pick a pair whose bit-replicated decode lies
// a little further off.
void expect_blocks_match(int quality, uint32_t mask, int max_differing, int64_t slack_per_pixel) {
  Dxt_Encoder_Context context{};
  EXPECT_EQ(install_ycocg_set(&context, Pix_Fmt_Bgra8, 0, uint8_t(quality)), 0u);
  const Dxt_Kernel_Head heads[2] = {context.head,
                                    ycocg_head(Texture_Code_Ycocg_Dxt5, quality, mask)};
  const auto encode = [&](int k, const Pixels& p) {
    const uint8_t* planes[4] = {p.data(), nullptr, nullptr, nullptr};
    const int64_t strides[4] = {16, 0, 0, 0};
    Block16 out{};
    context.slice_worker(heads[k], out.data(), planes, strides);
    return out;
  };
  const std::vector<Pixels> blocks = test_blocks(4000, 7u + unsigned(quality));
  int differing = 0;
  for (const Pixels& p : blocks) {
    const Block16 s = encode(0, p), v = encode(1, p);
    if (s == v) continue;
    ++differing;
    const int64_t es = decoded_error(s, p), ev = decoded_error(v, p);
    EXPECT_LE(ev, es + es / 20 + 16 * slack_per_pixel) << "block " << (&p - blocks.data());
  }
  EXPECT_LE(differing * 10000, max_differing * int(blocks.size())) << "quality " << quality;
}

// AVX at quality 1: the same arithmetic but for 1/14 as a product and the
// endpoint rounding, both visible only on exact ties. AVX2 with FMA: fused
// products move values near a rounding boundary, and a flat chroma exactly
// between two palette points may take the one the decoder rounds further off.
TEST(SimdYcocgBlocks, WholeSetsMatchTheScalarBlocks) {
  REQUIRE_CPU(cpu_has_avx());
  expect_blocks_match(1, 0x28, 10, 3);
  if (!cpu_has_avx2_fma()) return;
  expect_blocks_match(1, 0xF8, 600, 4);
  for (int quality : {2, 3}) expect_blocks_match(quality, 0xF8, 500, 12);
}

}  // namespace
