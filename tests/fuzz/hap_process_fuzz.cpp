// The four entry points of the HAP frame processing on an encoded frame with
// settings in front of it. Every buffer is given with its true length, the
// crop box lies inside the source, and sizes are at least one pixel: the
// callers' side of the contract. A frame that process_hap_frame encodes must
// parse as the target codec.
//
// Input: operation, width - 1, height - 1, codec, flags, chunk count, crop
// column, row, columns, rows (one byte each), then the frame's bytes.
#include <string>

#include "HAP/DXT_Frame.h"
#include "HAP/HAP_process.h"
#include "HAP/hap_frame.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

enum Flags : uint8_t { Snappy = 1, Crop = 2, Canonicalize = 4, Small_Target = 8, Alpha_Mode = 16 };

struct Settings {
  uint8_t operation;
  uint32_t width, height;
  uint8_t codec, flags, chunks;
  uint16_t crop_x, crop_y, crop_width, crop_height;
};

// A box of at least one block, inside the frame's blocks.
void place_box(uint8_t at, uint8_t extent, uint32_t blocks, uint16_t* first, uint16_t* count) {
  *count = uint16_t(1 + extent % blocks);
  *first = uint16_t(at % (blocks - *count + 1));
}

Settings read_settings(Fuzz_Input& in) {
  Settings s{};
  s.operation = in.byte() % 4;
  s.width = 1u + in.byte();
  s.height = 1u + in.byte();
  s.codec = in.byte();
  s.flags = in.byte();
  s.chunks = in.byte();
  const uint8_t x = in.byte(), y = in.byte(), columns = in.byte(), rows = in.byte();
  place_box(x, columns, dxt_blocks_across(s.width), &s.crop_x, &s.crop_width);
  place_box(y, rows, dxt_blocks_down(s.height), &s.crop_y, &s.crop_height);
  return s;
}

uint32_t texture_size(uint32_t width, uint32_t height, uint32_t codec) {
  return uint32_t(dxt_frame_size(width, height, Dxt_Codec(codec)));
}

void process(const Settings& s, Padded_Buffer* source) {
  const bool crop = s.flags & Crop;
  const uint32_t width = crop ? s.crop_width * 4u : s.width;
  const uint32_t height = crop ? s.crop_height * 4u : s.height;
  // Room for two textures of 16-byte blocks, snappy's worst case and headers.
  const uint32_t room = (s.flags & Small_Target) ? 64 : 40 * uint32_t(dxt_block_count(width, height)) + 1024;
  Exact_Buffer target(room), colour, alpha, cropped_colour, cropped_alpha, converted;
  Hap_Process_Params p;
  p.source = source;
  p.target = target.get();
  p.source_width = s.width;
  p.source_height = s.height;
  p.target_width = width;
  p.target_height = height;
  p.colour_texture = colour.get();
  p.alpha_texture = alpha.get();
  p.cropped_colour = cropped_colour.get();
  p.cropped_alpha = cropped_alpha.get();
  p.converted = converted.get();
  p.compressor = s.flags & Snappy ? 1 : 0;
  p.target_codec = s.codec % 8;
  p.chunk_count = 1 + s.chunks % 16;
  p.crop = crop;
  p.crop_x = s.crop_x;
  p.crop_y = s.crop_y;
  p.crop_width = s.crop_width;
  p.crop_height = s.crop_height;
  p.canonicalize = (s.flags & Canonicalize) != 0;
  uint32_t error = 0, used = 0;
  const std::string text = process_hap_frame(p, &error, &used);
  fuzz_require(text.empty() == (error == 0));
  if (error) return;
  fuzz_require(used > 0 && used <= room);
  Padded_Buffer written = *target.get();
  written.length = used;
  Hap_Frame parsed;
  set_hap_frame_from_buffer(&parsed, width, height, &written);
  fuzz_require(parsed.codec == p.target_codec);
}

void decode_to_dxt(const Settings& s, Padded_Buffer* source) {
  const uint32_t codec = s.codec % 6;
  uint32_t first = 0, second = 0;
  hap_codec_to_dxt_codecs(codec, &first, &second);
  Exact_Buffer one(texture_size(s.width, s.height, first));
  Exact_Buffer two(codec == Hap_Internal_YCoCg_DXT5_RGTC1 ? texture_size(s.width, s.height, second) : 0);
  uint32_t error = 0;
  const std::string text = decode_hap_frame_to_dxt(source, one.get(), two.get(), codec,
                                                   uint16_t(s.chunks % 17), s.width, s.height, &error);
  fuzz_require(text.empty() == (error == 0));
}

void detect_crop(const Settings& s, Padded_Buffer* source) {
  const uint32_t codec = s.codec % 6;
  const uint8_t mode = s.flags & Alpha_Mode ? 1 : 0;
  uint32_t first = 0, second = 0;
  hap_codec_to_dxt_codecs(codec, &first, &second);
  const bool alpha_texture = codec == Hap_Internal_YCoCg_DXT5_RGTC1 && mode == 1;
  Exact_Buffer dxt(texture_size(s.width, s.height, alpha_texture ? second : first));
  uint32_t error = 0;
  uint16_t top = 0, bottom = 0, left = 0, right = 0;
  const std::string text = detect_hap_frame_crop(source, dxt.get(), codec, s.width, s.height, mode,
                                                 &error, &top, &bottom, &left, &right);
  fuzz_require(text.empty() == (error == 0));
  if (error) return;
  const uint32_t across = dxt_blocks_across(s.width), down = dxt_blocks_down(s.height);
  fuzz_require(top + bottom <= down && left + right <= across);
}

void detect_alpha(const Settings& s, Padded_Buffer* source) {
  // The codec is the frame's own: room for the largest blocks.
  Exact_Buffer dxt(texture_size(s.width, s.height, Dxt_Codec_DXT5));
  uint32_t result = 0;
  const std::string text = detect_hap_frame_need_alpha(source, dxt.get(), s.width, s.height, &result);
  fuzz_require(text.empty() == (result != 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fuzz_Input in(data, size);
  const Settings s = read_settings(in);
  Exact_Buffer source(in.rest_size(), in.rest(), in.rest_size());
  switch (s.operation) {
    case 0: process(s, source.get()); break;
    case 1: decode_to_dxt(s, source.get()); break;
    case 2: detect_crop(s, source.get()); break;
    default: detect_alpha(s, source.get()); break;
  }
  return 0;
}
