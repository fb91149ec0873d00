// Writes the seed corpora of the fuzz targets: small real frames made by the
// project's own encoder from a synthetic picture, and DXT1 blocks in the
// three-colour form, which that encoder never writes, with the settings bytes
// each target reads in front of them. Run from the repository root:
//   build-fuzz/tests/fuzz/make_fuzz_seeds tests/fuzz/corpus
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "HAP/hap_cpu_encoder.h"
#include "HAP/hap_format.h"
#include "HAP/hap_frame.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

constexpr uint32_t width = 32, height = 24;

// B, G, R, A rows, top-down: a black, transparent border one block wide at
// the top and the right (so that crop detection finds something), and inside
// it colour gradients with an alpha ramp that reaches opaque.
Bytes picture() {
  Bytes bgra(width * height * 4);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* p = &bgra[(y * width + x) * 4];
      if (y < 4 || x >= width - 4) continue;
      p[0] = uint8_t(8 * x);
      p[1] = uint8_t(10 * y);
      p[2] = uint8_t(255 - 6 * x);
      p[3] = uint8_t(x < 16 ? 255 : 40 + 12 * y);
    }
  return bgra;
}

// One frame of the codec; chunk count 0 stores the texture raw.
Bytes encode(uint32_t codec, uint16_t chunks) {
  Hap_Cpu_Encoder* encoder = hap_cpu_encoder_create(width, height, chunks, codec, 1, 0, 0, 0);
  if (!encoder) throw std::runtime_error("encoder");
  hap_cpu_encoder_open(encoder, Pix_Fmt_Bgra8, 32, 0, 1);
  const Bytes pixels = picture();
  hap_cpu_encoder_set_frame(encoder, pixels.data(), width * 4, 0);
  hap_cpu_encoder_run(encoder);
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  hap_cpu_encoder_get_output(encoder, &data, &size);
  Bytes frame(data, data + size);
  hap_cpu_encoder_destroy(encoder);
  return frame;
}

Bytes first_texture(const Bytes& frame) {
  Bytes texture(1 << 16);
  uint32_t used = 0, format = 0;
  if (hap_decode(frame.data(), uint32_t(frame.size()), 0, decode_chunks_serial, nullptr,
                 texture.data(), uint32_t(texture.size()), &used, &format) != HapResult_No_Error)
    throw std::runtime_error("decode");
  texture.resize(used);
  return texture;
}

void write(const fs::path& dir, const std::string& name, Bytes settings, const Bytes& body) {
  fs::create_directories(dir);
  settings.insert(settings.end(), body.begin(), body.end());
  std::ofstream(dir / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(settings.data()), std::streamsize(settings.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const fs::path root = argv[1];
  const char* names[] = {"hap", "hapa", "hapq", "hapqa", "alpha", "bc7"};
  Bytes frames[6];
  for (uint32_t codec = 0; codec < 6; ++codec) {
    frames[codec] = encode(codec, 2);
    write(root / "hap_format", names[codec], {}, frames[codec]);
  }
  write(root / "hap_format", "hapqa_raw", {}, encode(Hap_Internal_YCoCg_DXT5_RGTC1, 0));

  // hap_process: operation, width - 1, height - 1, codec, flags, chunks, crop box.
  const uint8_t w = width - 1, h = height - 1;
  const fs::path process = root / "hap_process";
  write(process, "hap_to_hapa_cropped", {0, w, h, 1, 1 | 2 | 4, 3, 0, 1, 6, 4}, frames[0]);
  write(process, "hapa_to_hap", {0, w, h, 0, 1, 1, 0, 0, 0, 0}, frames[1]);
  write(process, "hapa_to_alpha", {0, w, h, 4, 4, 1, 0, 0, 0, 0}, frames[1]);
  write(process, "hapqa_to_hapq", {0, w, h, 2, 1 | 2, 1, 1, 1, 2, 2}, frames[3]);
  write(process, "hapqa_decode", {1, w, h, 3, 0, 2, 0, 0, 0, 0}, frames[3]);
  write(process, "hap_decode", {1, w, h, 0, 0, 2, 0, 0, 0, 0}, frames[0]);
  write(process, "hap_crop_black", {2, w, h, 0, 0, 0, 0, 0, 0, 0}, frames[0]);
  write(process, "hapa_crop_alpha", {2, w, h, 1, 16, 0, 0, 0, 0, 0}, frames[1]);
  write(process, "hapqa_crop_alpha", {2, w, h, 3, 16, 0, 0, 0, 0, 0}, frames[3]);
  write(process, "hapa_need_alpha", {3, w, h, 0, 0, 0, 0, 0, 0, 0}, frames[1]);
  write(process, "alpha_need_alpha", {3, w, h, 0, 0, 0, 0, 0, 0, 0}, frames[4]);

  // dxt_frame: width - 1, height - 1, codec, target codec, crop box, blocks.
  const fs::path dxt = root / "dxt_frame";
  write(dxt, "dxt1", {w, h, 0, 1, 1, 1, 4, 3}, first_texture(frames[0]));
  write(dxt, "dxt5", {w, h, 1, 0, 0, 1, 6, 4}, first_texture(frames[1]));
  write(dxt, "dxt5_to_rgtc1", {w, h, 1, 2, 2, 0, 2, 5}, first_texture(frames[1]));
  write(dxt, "rgtc1", {w, h, 2, 1, 0, 0, 7, 5}, first_texture(frames[4]));
  write(dxt, "bc7", {w, h, 3, 3, 0, 0, 1, 1}, first_texture(frames[5]));
  // Colour 0 not above colour 1, converted to DXT5: one endpoint and black,
  // the midpoint and black, equal endpoints, and two blocks whose fit to four
  // colours shows them no better than their bytes.
  write(dxt, "dxt1_three_colour_to_dxt5", {19, 3, 0, 1, 0, 0, 4, 0},
        {0x14, 0x53, 0x9A, 0xA2, 0xCC, 0xCC, 0xCC, 0xCC, 0x00, 0x00, 0x00, 0x04, 0xEE, 0xEE,
         0xEE, 0xEE, 0xE0, 0x07, 0xE0, 0x07, 0xE4, 0x1B, 0x4E, 0xB1, 0x30, 0x34, 0xF0, 0x88,
         0xB2, 0x02, 0xA4, 0x42, 0x08, 0x10, 0xE1, 0x48, 0x6A, 0x45, 0x04, 0x1A});
  // An endpoint, or black, beside the midpoint: exact in DXT5 only with
  // endpoints beyond the colours shown.
  write(dxt, "dxt1_midpoint_to_dxt5", {7, 3, 0, 1, 0, 0, 1, 0},
        {0xD0, 0x7E, 0x50, 0xBD, 0x44, 0x02, 0x44, 0x00, 0x6C, 0x6A, 0x36, 0x9B, 0x28, 0xA0, 0xA0, 0x45});

  // dxt_compress: block columns - 1, block rows - 1, fit mode, split row, pixels.
  const uint8_t columns = width / 4 - 1, rows = height / 4 - 1;
  write(root / "dxt_compress", "picture_range_fit", {columns, rows, 0, 2}, picture());
  write(root / "dxt_compress", "picture_cluster_fit", {columns, rows, 2, 0}, picture());
  return 0;
}
