// BC7 block workers of the HAPR codecs, one per quality, and their installer.
// A block of one solid colour is written directly as a mode-5 block, which
// reproduces any colour exactly; every other block goes to the BC7 encoder.
#include <cstdio>
#include <cstring>

#include "src/bc7_encoder.h"
#include "texture_encoder/installers.h"

namespace {

// Mode 5 decodes a 7-bit endpoint e to (e << 1) | (e >> 6), which gives every
// value whose bit 0 equals its bit 7. Other values sit between two endpoints
// and take colour index 1 (weight 21/64); 128 needs the wider pair 63, 66.
void write_solid_block(uint8_t out[16], const uint8_t rgba[4]) {
  uint64_t low = 0x20;  // mode 5, rotation 0
  uint64_t high = 0;
  uint32_t endpoints[3][2];
  bool interpolated = false;
  for (int c = 0; c < 3; ++c) {
    const uint32_t v = rgba[c];
    if ((v & 1) == (v >> 7)) {
      endpoints[c][0] = endpoints[c][1] = v >> 1;
    } else {
      endpoints[c][0] = v == 128 ? 63 : (v - 1) >> 1;
      endpoints[c][1] = v == 128 ? 66 : (v + 1) >> 1;
      interpolated = true;
    }
  }
  for (int c = 0; c < 3; ++c) {
    low |= uint64_t(endpoints[c][0]) << (8 + 14 * c);
    if (interpolated) low |= uint64_t(endpoints[c][1]) << (15 + 14 * c);
  }
  low |= uint64_t(rgba[3]) << 50;  // alpha endpoint 0; endpoint 1 and alpha indices 0
  if (interpolated) high = 0xAAAAAAAC;  // every colour index 1 (pixel 0 in one bit)
  for (int k = 0; k < 8; ++k) {
    out[k] = uint8_t(low >> (8 * k));
    out[8 + k] = uint8_t(high >> (8 * k));
  }
}

void encode_slice_bc7(const Dxt_Kernel_Head& head, uint8_t* out, const uint8_t* const planes[4],
                      const int64_t strides[4], const Bc7_Block_Params& params) {
  uint8_t pixels[64];
  head.bc7_row_converter(pixels, planes[0], planes[1], planes[2], planes[3], strides[0]);
  bool solid = true;
  for (int k = 1; k < 16 && solid; ++k) solid = std::memcmp(pixels, pixels + 4 * k, 4) == 0;
  if (solid)
    write_solid_block(out, pixels);
  else
    bc7_encode_block(out, pixels, params);  // writes all 16 bytes of every block
}

template <uint32_t Level, uint32_t Max_Partitions>
void encode_slice_bc7_quality(const Dxt_Kernel_Head& head, uint8_t* out,
                              const uint8_t* const planes[4], const int64_t strides[4]) {
  static const Bc7_Block_Params params = bc7_engine_params(Level, Max_Partitions);
  encode_slice_bc7(head, out, planes, strides, params);
}

constexpr Slice_Worker_Fn encode_slice_bc7_q1 = encode_slice_bc7_quality<0, 4>;
constexpr Slice_Worker_Fn encode_slice_bc7_q2 = encode_slice_bc7_quality<1, 16>;
constexpr Slice_Worker_Fn encode_slice_bc7_q3 = encode_slice_bc7_quality<4, 64>;

}  // namespace

uint32_t install_bc7_workers(Dxt_Encoder_Context* context, uint8_t quality) {
  static constexpr Slice_Worker_Fn workers[3] = {encode_slice_bc7_q1, encode_slice_bc7_q2,
                                                 encode_slice_bc7_q3};
  if (quality < 1 || quality > 3) {
    std::printf("BC7 invalid quality : %d\n", quality);
    return 1;
  }
  context->slice_worker = workers[quality - 1];
  return 0;
}
