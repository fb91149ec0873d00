// The block-row encoders of the frame utilities on arbitrary pixels, with
// widths and heights in whole blocks and every source row present (the
// callers' side of their contract). Checked: A, R, G, B and B, G, R, A
// layouts of the same pixels give the same blocks; a bottom-up source gives
// the blocks of the flipped picture; encoding in two calls split at a block
// row gives the bytes of one call; the vector flag, path and pair mode do not
// change the bytes; the exact alpha encoder keeps every 0 and 255.
//
// Input: block columns - 1, block rows - 1 (modulo 8), fit mode, split
// block row (one byte each), then B, G, R, A pixels, top-down (zeros where short).
#include <algorithm>
#include <cstring>
#include <vector>

#include "HAP/DXT_Frame.h"
#include "HAP/DXT_compress.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Picture {
  uint16_t width, height, stride;
  Bytes bgra, argb, flipped;  // flipped: B, G, R, A rows bottom-up
};

// Encodes the picture's block rows with encode(first, rows, source, out), in
// one call or in two split at block row split.
template <class Encode>
Bytes rows(const Picture& p, size_t block_bytes, uint16_t split, Encode encode) {
  Bytes out(size_t(p.width / 4) * (p.height / 4) * block_bytes);
  if (split == 0) {
    encode(0, p.height, out.data());
  } else {
    encode(0, uint16_t(split * 4), out.data());
    encode(split, uint16_t(p.height - split * 4), out.data());
  }
  return out;
}

void dxt(const Picture& p, bool dxt5, uint8_t fit, uint16_t split) {
  const auto bgra = dxt5 ? compress_dxt5_rows_bgra : compress_dxt1_rows_bgra;
  const auto argb = dxt5 ? compress_dxt5_rows_argb : compress_dxt1_rows_argb;
  const size_t block = dxt5 ? 16 : 8;
  const Bytes whole = rows(p, block, 0, [&](uint16_t first, uint16_t count, uint8_t* out) {
    bgra(first, p.bgra.data(), p.width, p.height, count, p.stride, out, 0, fit, 1);
  });
  fuzz_require(whole == rows(p, block, split, [&](uint16_t first, uint16_t count, uint8_t* out) {
                 argb(first, p.argb.data(), p.width, p.height, count, p.stride, out, 1, fit);
               }));
  fuzz_require(whole == rows(p, block, 0, [&](uint16_t first, uint16_t count, uint8_t* out) {
                 bgra(first, p.flipped.data(), p.width, p.height, count, p.stride, out, 0, fit, 0);
               }));
}

void rgtc1(const Picture& p, uint16_t split) {
  const Bytes whole = rows(p, 8, 0, [&](uint16_t first, uint16_t count, uint8_t* out) {
    compress_rgtc1_rows_bgra(first, p.bgra.data(), p.width, p.height, count, p.stride, out, 0, 1);
  });
  fuzz_require(whole == rows(p, 8, split, [&](uint16_t first, uint16_t count, uint8_t* out) {
                 compress_rgtc1_rows_argb(first, p.argb.data(), p.width, p.height, count, p.stride,
                                          out, 1);
               }));
  fuzz_require(whole == rows(p, 8, 0, [&](uint16_t first, uint16_t count, uint8_t* out) {
                 compress_rgtc1_rows_bgra(first, p.flipped.data(), p.width, p.height, count,
                                          p.stride, out, 1, 0);
               }));
}

void ycocg(const Picture& p, uint16_t split) {
  const Bytes whole = rows(p, 16, 0, [&](uint16_t first, uint16_t count, uint8_t* out) {
    compress_ycocg_dxt5_rows_bgra(first, p.bgra.data(), p.width, p.height, count, p.stride, out, 0,
                                  16, 1, 0);
  });
  fuzz_require(whole == rows(p, 16, split, [&](uint16_t first, uint16_t count, uint8_t* out) {
                 compress_ycocg_dxt5_rows_argb(first, p.argb.data(), p.width, p.height, count,
                                               p.stride, out, 1, 16, 2);
               }));
  fuzz_require(whole == rows(p, 16, 0, [&](uint16_t first, uint16_t count, uint8_t* out) {
                 compress_ycocg_dxt5_rows_bgra(first, p.flipped.data(), p.width, p.height, count,
                                               p.stride, out, 1, 16, 0, 2);
               }));
}

// Every block's alpha through the exact encoder, decoded with its indices
// read most significant first.
void exact_alpha(const Picture& p) {
  for (uint32_t r = 0; r < p.height / 4u; ++r)
    for (uint32_t x = 0; x < p.width; x += 4) {
      uint8_t pixels[64], values[16], block[8], palette[8];
      gather_block_pixels(p.bgra.data(), p.stride, p.height, r, x, true, pixels);
      for (int i = 0; i < 16; ++i) values[i] = pixels[4 * i + 3];
      compress_alpha_block_exact(values, block);
      dxt_alpha_palette(block, palette);
      uint64_t bits = 0;
      for (int b = 2; b < 8; ++b) bits = bits << 8 | block[b];
      for (int i = 0; i < 16; ++i) {
        const uint8_t decoded = palette[(bits >> (3 * (15 - i))) & 7];
        if (values[i] == 0 || values[i] == 255) fuzz_require(decoded == values[i]);
      }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fuzz_Input in(data, size);
  Picture p;
  p.width = uint16_t(4 * (1 + in.byte() % 8));
  p.height = uint16_t(4 * (1 + in.byte() % 8));
  p.stride = uint16_t(p.width * 4);
  const uint8_t fit = in.byte() % 3;
  const uint16_t split = uint16_t(in.byte() % (p.height / 4));
  p.bgra.assign(size_t(p.stride) * p.height, 0);
  std::memcpy(p.bgra.data(), in.rest(), std::min(in.rest_size(), p.bgra.size()));
  p.argb.resize(p.bgra.size());
  p.flipped.resize(p.bgra.size());
  for (size_t i = 0; i < p.bgra.size(); ++i) p.argb[i] = p.bgra[(i & ~size_t(3)) + 3 - i % 4];
  for (uint16_t y = 0; y < p.height; ++y)
    std::memcpy(&p.flipped[size_t(p.height - 1 - y) * p.stride], &p.bgra[size_t(y) * p.stride],
                p.stride);

  dxt(p, false, fit, split);
  dxt(p, true, fit, split);
  rgtc1(p, split);
  ycocg(p, split);
  exact_alpha(p);
  return 0;
}
