// The texture operations on arbitrary blocks: empty-border and alpha
// detection, cropping by a box inside the frame, conversion into a target of
// the converted size (DXT1 blocks a DXT5 colour half can hold keep their
// colours, and no block shows worse than its bytes would), the canonical form
// of uniform blocks (which must be settled after one pass) and the
// single-block decoders.
//
// Input: width - 1, height - 1 (modulo 128), codec, target codec, crop column, row,
// columns, rows (one byte each), then the blocks (zeros where short).
#include <cstring>
#include <stdexcept>
#include <vector>

#include "HAP/DXT_Frame.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/exact_colour_half_oracle.h"

namespace {

void detect(const Dxt_Frame& frame) {
  uint16_t top = 0, bottom = 0, left = 0, right = 0;
  for (uint8_t mode : {0, 1}) {
    try {
      detect_dxt_crop(&frame, &top, &bottom, &left, &right, mode);
    } catch (const std::runtime_error&) {
    }
  }
  detect_dxt_crop_auto(&frame, &top, &bottom, &left, &right);
  try {
    detect_dxt_need_alpha(&frame);
  } catch (const std::runtime_error&) {
  }
}

// The box: first column, first row, columns, rows, brought inside the frame.
void crop(const Dxt_Frame& frame, const uint8_t box[4]) {
  const uint32_t across = dxt_blocks_across(frame.width), down = dxt_blocks_down(frame.height);
  const uint8_t x = box[0], y = box[1], columns = box[2], rows = box[3];
  const uint16_t width = uint16_t(1 + columns % across), height = uint16_t(1 + rows % down);
  Exact_Buffer cropped_buffer;
  Dxt_Frame cropped;
  alloc_dxt_frame(&cropped, cropped_buffer.get(), width * 4u, height * 4u, frame.codec);
  crop_dxt_frame(&frame, &cropped, uint16_t(x % (across - width + 1)),
                 uint16_t(y % (down - height + 1)), width, height);
}

// Squared error over R, G and B between two blocks of shown colours.
uint32_t squared_error(const uint8_t a[48], const uint8_t b[48]) {
  uint32_t sum = 0;
  for (int i = 0; i < 48; ++i) sum += uint32_t((a[i] - b[i]) * (a[i] - b[i]));
  return sum;
}

// Whether a DXT1 block shows nothing but black and one of its endpoints.
bool shows_an_endpoint_and_black(const uint8_t block[8], const uint8_t shown[48]) {
  uint8_t endpoints[2][3];
  dxt_colour_to_rgb(block[0] | block[1] << 8, endpoints[0]);
  dxt_colour_to_rgb(block[2] | block[3] << 8, endpoints[1]);
  static constexpr uint8_t black[3] = {0, 0, 0};
  for (const uint8_t* endpoint : endpoints) {
    bool only = true;
    for (int i = 0; i < 16 && only; ++i)
      only = std::memcmp(shown + 3 * i, black, 3) == 0 ||
             std::memcmp(shown + 3 * i, endpoint, 3) == 0;
    if (only) return true;
  }
  return false;
}

// A DXT1 block that a DXT5 colour half can hold exactly (four colours, only
// its endpoints used, equal endpoints, or one endpoint and black) shows the
// same colours after the conversion; the others are fitted again, and are
// rewritten only when that shows them strictly better than their bytes. A
// block shown otherwise has no half showing it exactly; the slow search that
// says so runs on the first such block of at most three colours only (four
// colours that a half shows are on its palette's thirds, which the fit
// finds), to keep the inputs quick.
void check_dxt1_to_dxt5(const Dxt_Frame& source, const Dxt_Frame& target) {
  bool searched = false;
  for (uint64_t b = 0; b < source.length / 8; ++b) {
    const uint8_t* in = source.data + 8 * b;
    const uint8_t* out = target.data + 16 * b + 8;
    const uint32_t c0 = in[0] | in[1] << 8, c1 = in[2] | in[3] << 8;
    uint8_t shown[48], converted[48], as_is[48];
    decode_dxt1_block(&source, 8 * b, shown);
    decode_colour_block(out, false, converted);
    decode_colour_block(in, false, as_is);
    const uint32_t error = squared_error(converted, shown);
    if (c0 >= c1 || (dxt_colour_index_word(in) & 0xAAAAAAAAu) == 0 ||
        shows_an_endpoint_and_black(in, shown))
      fuzz_require(error == 0);
    fuzz_require(error == 0 || std::memcmp(in, out, 8) == 0 || error < squared_error(as_is, shown));
    if (error != 0 && !searched && distinct_colours(shown).size() <= 3) {
      searched = true;
      fuzz_require(!has_exact_colour_half(shown));
    }
  }
}

void convert(const Dxt_Frame& frame, Dxt_Codec codec) {
  Exact_Buffer converted(dxt_frame_size(frame.width, frame.height, codec));
  Dxt_Frame target;
  set_dxt_frame_from_buffer(&target, converted.get(), frame.width, frame.height, codec);
  try {
    convert_dxt_frame(&frame, &target);
  } catch (const std::runtime_error&) {
    return;
  }
  if (frame.codec == Dxt_Codec_DXT1 && codec == Dxt_Codec_DXT5) check_dxt1_to_dxt5(frame, target);
}

void canonicalize(const Dxt_Frame& frame) {
  Exact_Buffer copy(frame.length, frame.data, frame.length);
  Dxt_Frame once;
  set_dxt_frame_from_buffer(&once, copy.get(), frame.width, frame.height, frame.codec);
  canonicalize_uniform_dxt_blocks(&once);
  const std::vector<uint8_t> first(once.data, once.data + once.length);
  canonicalize_uniform_dxt_blocks(&once);
  fuzz_require(std::memcmp(first.data(), once.data, once.length) == 0);
}

void decode_blocks(const Dxt_Frame& frame) {
  uint8_t pixels[64];
  const uint32_t block = dxt_block_bytes(frame.codec);
  for (uint64_t offset = 0; offset < frame.length; offset += block) {
    if (frame.codec == Dxt_Codec_DXT1) decode_dxt1_block(&frame, offset, pixels);
    if (frame.codec == Dxt_Codec_DXT5) {
      decode_dxt5_block(&frame, offset, pixels);
      decode_ycocg_block(&frame, offset, pixels);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fuzz_Input in(data, size);
  // Up to 32 x 32 blocks: larger frames take longer and reach nothing new.
  const uint32_t width = 1u + in.byte() % 128, height = 1u + in.byte() % 128;
  const Dxt_Codec codec = Dxt_Codec(in.byte() % 4), target_codec = Dxt_Codec(in.byte() % 4);
  const uint8_t box[4] = {in.byte(), in.byte(), in.byte(), in.byte()};
  Exact_Buffer blocks(dxt_frame_size(width, height, codec), in.rest(), in.rest_size());
  Dxt_Frame frame;
  set_dxt_frame_from_buffer(&frame, blocks.get(), width, height, codec);

  detect(frame);
  crop(frame, box);
  convert(frame, target_codec);
  canonicalize(frame);
  decode_blocks(frame);
  return 0;
}
