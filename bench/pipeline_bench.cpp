// Speed of the whole encoding road: 1920x1080 BGRA frames pushed through the
// encoder front into a finished movie file, per codec, with frame threading on
// (one slot per processor) and off (one slot, slices in parallel). Reported in
// frames per second. Codecs the texture engine cannot encode yet are skipped.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "HAP/hap_encoder.h"

namespace {

constexpr int Width = 1920, Height = 1080;
constexpr int Frames_Per_Export = 24;
constexpr uint64_t Rate_25 = (uint64_t(1) << 32) | 25;

struct Codec_Case {
  const char* name;
  uint8_t codec;  // Hap_Codec
  uint8_t bits_per_pixel;
};

constexpr Codec_Case Codecs[] = {
    {"HAP", Hap_Codec_Hap, 24},         {"HAPA", Hap_Codec_Hapa, 32},
    {"HAPQ", Hap_Codec_Hapq, 24},       {"HAPQA", Hap_Codec_Hapqa, 32},
    {"AlphaOnly", Hap_Codec_Alpha_Only, 32}, {"HAPR", Hap_Codec_Hapr, 32},
};

std::vector<uint8_t> read_image(const char* name, size_t bytes) {
  std::ifstream in(std::string(HAP_TESTDATA_DIR) + "/" + name, std::ios::binary);
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), {});
  if (data.size() != bytes) throw std::runtime_error(std::string("missing test image ") + name);
  return data;
}

// Four different frames tiled from the alpha test picture, each shifted.
const std::vector<std::vector<uint8_t>>& frames() {
  static const std::vector<std::vector<uint8_t>> made = [] {
    const std::vector<uint8_t> tile = read_image("astronaut_alpha_512x512.bgra", 512 * 512 * 4);
    std::vector<std::vector<uint8_t>> out;
    for (int k = 0; k < 4; ++k) {
      std::vector<uint8_t> f(size_t(Width) * Height * 4);
      for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
          for (int c = 0; c < 4; ++c)
            f[(size_t(y) * Width + x) * 4 + c] = tile[(((y + 37 * k) % 512) * 512 + (x + 53 * k) % 512) * 4 + c];
      out.push_back(std::move(f));
    }
    return out;
  }();
  return made;
}

void BM_Pipeline(benchmark::State& state, Codec_Case codec, uint32_t thread_mode, uint8_t quality) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "hap_pipeline_bench.mov").string();
  const std::u16string path16(path.begin(), path.end());
  const auto& input = frames();
  for (auto _ : state) {
    try {
      Hap_Encoder front(path16, Width, Height, codec.bits_per_pixel, Rate_25, 0, 4, 0, 0, 0, 1.0f,
                        codec.codec, thread_mode, quality, 0, 0, 0xF8);
      front.open_encoders(1, codec.bits_per_pixel, 0, 0);
      for (int k = 0; k < Frames_Per_Export; ++k)
        front.push_frame(input[k % input.size()].data(), Width * 4, 0);
      front.close();
    } catch (const std::runtime_error& e) {
      state.SkipWithError(e.what());
      break;
    }
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()) * Frames_Per_Export,
                                             benchmark::Counter::kIsRate);
  std::filesystem::remove(path);
}

const int registered = [] {
  for (const Codec_Case& c : Codecs)
    for (uint8_t quality : {1, 2})
      for (uint32_t mode : {2u, 1u}) {
        const std::string name = std::string("Pipeline/") + c.name + "/q" + std::to_string(quality) +
                                 (mode == 1 ? "/frame_threading_off" : "/frame_threading_on");
        benchmark::RegisterBenchmark(name.c_str(), BM_Pipeline, c, mode, quality)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(1.0);
      }
  return 0;
}();

}  // namespace

BENCHMARK_MAIN();
