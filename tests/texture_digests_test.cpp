// Pinned textures: every texture code at every quality it takes, on parts of
// the test images and on synthetic frames with partial edge blocks, encoded
// with the scalar kernels and with each vector level a mask can ask for. Any
// change to a tie, a bound, an order or a rounding of the encoders moves a
// digest.
//
// The pinned values live in tests/data/texture_digests.txt, one line per
// "frame code quality form digest". The vector forms give the scalar bytes
// except where their kernels may round differently: the cluster fit of DXT1
// and DXT5 at quality 2 and 3 (grid rounding, fused products, summation
// order), the YCoCg encoders with AVX2 and FMA, and at quality 1 the luma
// thresholds of the AVX form. Those forms carry lines of their own; a form
// without a line must give the scalar digest. A mask the processor lacks is
// checked against the form it falls back to.
//
// After an intended change of the output, regenerate the table with
//   HAP_TEXTURE_DIGESTS_OUT=tests/data/texture_digests.txt build/tests/texture_digests_test
// on a processor with AVX2 and FMA, and review the diff.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <tuple>

#include "tests/texture_test_frames.h"
#include "texture_encoder/simd_features.h"

namespace {

uint64_t fnv1a64(const std::vector<uint8_t>& bytes) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ull;
  return h;
}

using Block_Colours = uint8_t[16][4];

// A frame of blocks, each from the colours make(block index, rng, colours)
// writes and counts: its first pixels take them in order, the others at
// random among them. The raw generator keeps the frame the same on every
// standard library.
template <class Make>
Test_Image block_frame(int width, int height, uint32_t seed, Make make) {
  std::mt19937 rng(seed);
  Test_Image image{width, height, std::vector<uint8_t>(size_t(width) * height * 4)};
  const int across = (width + 3) / 4;
  for (int by = 0; by * 4 < height; ++by) {
    for (int bx = 0; bx < across; ++bx) {
      Block_Colours colours;
      const uint32_t count = make(uint32_t(by * across + bx), rng, colours);
      for (int i = 0; i < 16; ++i) {
        const int x = bx * 4 + i % 4, y = by * 4 + i / 4;
        if (x >= width || y >= height) continue;
        const uint32_t c = uint32_t(i) < count ? uint32_t(i) : rng() % count;
        std::memcpy(&image.bgra[(size_t(y) * width + x) * 4], colours[c], 4);
      }
    }
  }
  return image;
}

// Blocks of 1 to 16 distinct colours (and alpha spans of every width), so
// that every count of the cluster fit, flat blocks, grey blocks and black
// blocks all occur.
uint32_t palette_block(uint32_t index, std::mt19937& rng, Block_Colours& colours) {
  const uint32_t count = 1 + index % 16;
  const uint32_t spread = 1 + rng() % (index % 3 == 0 ? 8 : 120);
  const uint32_t base[3] = {uint32_t(rng() % 256), uint32_t(rng() % 256), uint32_t(rng() % 256)};
  const bool grey = index % 7 == 3, black = index % 11 == 5;
  const uint32_t alpha_low = rng() % 256, alpha_span = (index * 37) % (256 - alpha_low);
  for (uint32_t c = 0; c < count; ++c) {
    for (int k = 0; k < 3; ++k) {
      const uint32_t v = base[grey ? 0 : k] + rng() % spread;
      colours[c][k] = black ? 0 : uint8_t(std::min<uint32_t>(v, 255));
    }
    colours[c][3] =
        uint8_t(alpha_low + (c == 0 ? 0 : c == 1 ? alpha_span : rng() % (alpha_span + 1)));
  }
  return count;
}

// Blocks of 2 to 16 distinct colours on the 5:6:5 grid, few levels apart and
// often mirrored about the grey line: exact fits and exactly equal errors,
// where only the order of the candidates decides.
uint32_t lattice_block(uint32_t index, std::mt19937& rng, Block_Colours& colours) {
  const auto level5 = [](uint32_t q) { q = std::min(q, 31u); return uint8_t(q << 3 | q >> 2); };
  const auto level6 = [](uint32_t q) { q = std::min(q, 63u); return uint8_t(q << 2 | q >> 4); };
  const uint32_t count = 2 + index % 15;
  const uint32_t r0 = rng() % 20, g0 = rng() % 40, b0 = rng() % 20, span = 2 + rng() % 10;
  for (uint32_t c = 0; c < count; ++c) {
    // A step along the diagonal, and an offset mirrored about it.
    const uint32_t d = c / 2, m = c % 2;
    colours[c][0] = level5(b0 + d * span / 4 + m);
    colours[c][1] = level6(g0 + d * span / 2);
    colours[c][2] = level5(r0 + d * span / 4 + (1 - m) + d % 2);
    colours[c][3] = 255;
  }
  return count;
}

// One solid colour per block, every byte value once in each channel: the
// single-colour paths and their table ties.
uint32_t solid_block(uint32_t index, std::mt19937&, Block_Colours& colours) {
  const uint8_t pixel[4] = {uint8_t(index * 13 + 100), uint8_t(index * 7), uint8_t(index),
                            uint8_t(index * 3)};
  std::memcpy(colours[0], pixel, 4);
  return 1;
}

struct Frame {
  std::string name;
  Test_Image image;
};

const std::vector<Frame>& frames() {
  static const std::vector<Frame> all = [] {
    const Test_Image astronaut = load_test_image("astronaut_512x512.bgra");
    const Test_Image alpha = load_test_image("astronaut_alpha_512x512.bgra");
    const Test_Image coffee = load_test_image("coffee_600x400.bgra");
    const Test_Image chelsea = load_test_image("chelsea_451x300.bgra");
    std::vector<Frame> list;
    list.push_back({"astronaut", crop(astronaut, 96, 64, 192, 96)});
    list.push_back({"astronaut_alpha", crop(alpha, 102, 86, 40, 360)});
    list.push_back({"coffee", crop(coffee, 64, 64, 250, 150)});
    list.push_back({"chelsea", crop(chelsea, 91, 62, 360, 100)});
    list.push_back({"palette", block_frame(86, 94, 2024, palette_block)});
    list.push_back({"lattice", block_frame(64, 64, 7, lattice_block)});
    list.push_back({"tiny", block_frame(7, 6, 2024, palette_block)});
    list.push_back({"solid", block_frame(64, 64, 0, solid_block)});
    return list;
  }();
  return all;
}

// The vector level a filtered mask installs, as a name.
std::string form_of(uint32_t filtered) {
  if (!(filtered & Simd_Flag_Enable) || !(filtered & Simd_Flag_Avx)) return "scalar";
  std::string form = (filtered & Simd_Flag_Avx2) ? "avx2" : "avx";
  if (filtered & Simd_Flag_Fma) form += "_fma";
  return form;
}

using Key = std::tuple<std::string, uint32_t, uint32_t, std::string>;  // frame code quality form

std::map<Key, uint64_t> pinned_table() {
  std::map<Key, uint64_t> table;
  std::ifstream in(std::string(HAP_TESTDATA_DIR) + "/texture_digests.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Key key;
    std::string digest;
    fields >> std::get<0>(key) >> std::get<1>(key) >> std::get<2>(key) >> std::get<3>(key) >> digest;
    table[key] = std::stoull(digest, nullptr, 16);
  }
  return table;
}

const char* output_path() { return std::getenv("HAP_TEXTURE_DIGESTS_OUT"); }

// What this run measured, for the regeneration mode.
std::map<Key, uint64_t>& measured() {
  static std::map<Key, uint64_t> table;
  return table;
}

class TextureDigests : public ::testing::TestWithParam<uint32_t> {
 protected:
  static void TearDownTestSuite() {
    if (!output_path()) return;
    std::ofstream out(output_path());
    out << "# frame code quality form fnv1a64 (see tests/texture_digests_test.cpp)\n";
    for (const auto& [key, digest] : measured()) {
      const auto& [frame, code, quality, form] = key;
      const auto scalar = measured().find({frame, code, quality, "scalar"});
      if (form != "scalar" && scalar != measured().end() && scalar->second == digest) continue;
      char hex[17];
      std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(digest));
      out << frame << ' ' << code << ' ' << quality << ' ' << form << ' ' << hex << '\n';
    }
  }
};

TEST_P(TextureDigests, EveryQualityAndKernelLevel) {
  const uint32_t code = GetParam();
  static const std::map<Key, uint64_t> pinned = pinned_table();
  // Single-channel textures take any quality and ignore it.
  const bool rgtc1 = code == Texture_Code_Rgtc1_Luma || code == Texture_Code_Rgtc1_Alpha;
  // Scalar, each level alone, and all the exporter asks for (0xF8).
  const uint32_t masks[] = {0, Simd_Flag_Enable | Simd_Flag_Avx,
                            Simd_Flag_Enable | Simd_Flag_Avx | Simd_Flag_Fma,
                            Simd_Flag_Enable | Simd_Flag_Avx | Simd_Flag_Avx2, 0xF8};
  for (const Frame& frame : frames()) {
    for (uint32_t quality = 1; quality <= (rgtc1 ? 1u : 3u); ++quality) {
      for (uint32_t mask : masks) {
        const std::string form = form_of(detect_simd_features(mask));
        SCOPED_TRACE(testing::Message() << frame.name << " code " << code << " quality "
                                        << quality << " mask 0x" << std::hex << mask << " ("
                                        << form << ")");
        Encode_Request request;
        request.texture_code = code;
        request.quality = uint8_t(quality);
        request.threads = 2;
        request.mask = mask;
        const auto texture = encode_frame(frame.image, request);
        ASSERT_TRUE(texture.has_value());
        const uint64_t digest = fnv1a64(*texture);
        if (output_path()) {
          measured()[{frame.name, code, quality, form}] = digest;
          continue;
        }
        auto at = pinned.find({frame.name, code, quality, form});
        if (at == pinned.end()) at = pinned.find({frame.name, code, quality, "scalar"});
        ASSERT_NE(at, pinned.end()) << "no pinned digest";
        EXPECT_EQ(at->second, digest);
      }
    }
  }
}

std::string code_name(const testing::TestParamInfo<uint32_t>& info) {
  static const char* const names[] = {"Dxt1",      "Dxt5",           "Rgtc1Luma", "Rgtc1Alpha",
                                      "YcocgDxt5", "YcocgDxt5Rgtc1", "Bc7"};
  return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Codes, TextureDigests, ::testing::Range(0u, 7u), code_name);

}  // namespace
