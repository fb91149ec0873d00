// Frame encoding speed of the texture engine: a 1920x1080 BGRA frame tiled
// from the test images, encoded per texture code and quality on one thread and
// on all of them, reported in megapixels per second. Cases whose kernels are
// not built (set-up refuses them) are left out.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench/bench_frame.h"
#include "texture_encoder/block_geometry.h"
#include "texture_encoder/dxt_encoder_context.h"
#include "texture_encoder/frame_driver.h"

namespace {

struct Bench_Case {
  const char* name;
  uint32_t texture_code;
  uint8_t quality;
  uint32_t simd_mask = 0xF8;  // what set-up may install; 0x08 keeps the scalar kernels
};

// One line per case.
constexpr Bench_Case Cases[] = {
    {"DXT1_q1", Texture_Code_Dxt1, 1},
    {"DXT1_q2", Texture_Code_Dxt1, 2},
    {"DXT1_q3", Texture_Code_Dxt1, 3},
    {"DXT5_q1", Texture_Code_Dxt5, 1},
    {"DXT5_q2", Texture_Code_Dxt5, 2},
    {"DXT5_q3", Texture_Code_Dxt5, 3},
    {"RGTC1_luma", Texture_Code_Rgtc1_Luma, 1},
    {"RGTC1_alpha", Texture_Code_Rgtc1_Alpha, 1},
    {"YCoCg_q1", Texture_Code_Ycocg_Dxt5, 1},
    {"YCoCg_q2", Texture_Code_Ycocg_Dxt5, 2},
    {"YCoCg_q3", Texture_Code_Ycocg_Dxt5, 3},
    {"YCoCg_q2_scalar", Texture_Code_Ycocg_Dxt5, 2, 0x08},
    {"YCoCg_q3_scalar", Texture_Code_Ycocg_Dxt5, 3, 0x08},
    {"YCoCg_q3_avx", Texture_Code_Ycocg_Dxt5, 3, 0x28},
    {"YCoCg_RGTC1_q1", Texture_Code_Ycocg_Dxt5_Rgtc1, 1},
    {"YCoCg_RGTC1_q2", Texture_Code_Ycocg_Dxt5_Rgtc1, 2},
    {"YCoCg_RGTC1_q3", Texture_Code_Ycocg_Dxt5_Rgtc1, 3},
    {"BC7_q1", Texture_Code_Bc7, 1},
    {"BC7_q2", Texture_Code_Bc7, 2},
    {"BC7_q3", Texture_Code_Bc7, 3},
};

constexpr int Width = bench_frame_width, Height = bench_frame_height;

bool set_up(Dxt_Encoder_Context* context, const Bench_Case& c, uint32_t threads) {
  *context = Dxt_Encoder_Context{};
  return setup_dxt_encoder(context, Width, Height, c.texture_code, c.quality, 0, Pix_Fmt_Bgra8,
                           Pad_Mode_Edge, threads, c.simd_mask) == 0;
}

void encode_frames(benchmark::State& state, Bench_Case c) {
  Dxt_Encoder_Context context;
  if (!set_up(&context, c, uint32_t(state.range(0)))) {
    state.SkipWithError("set-up refused");
    return;
  }
  const std::vector<uint8_t>& frame = bench_frame();
  std::vector<uint8_t> texture(dxt_texture_size(Width, Height, c.texture_code, Pad_Mode_Edge));
  const uint8_t* planes[4] = {frame.data(), nullptr, nullptr, nullptr};
  const int64_t strides[4] = {Width * 4, 0, 0, 0};
  for (auto _ : state) {
    encode_dxt_frame(&context, texture.data(), planes, strides);
    benchmark::DoNotOptimize(texture.data());
    benchmark::ClobberMemory();
  }
  state.counters["MP/s"] = benchmark::Counter(double(Width) * Height * 1e-6 * state.iterations(),
                                              benchmark::Counter::kIsRate);
  state.counters["slices"] = context.thread_count;
}

}  // namespace

int main(int argc, char** argv) {
  for (const Bench_Case& c : Cases) {
    Dxt_Encoder_Context probe;
    std::fflush(stdout);
    if (!set_up(&probe, c, 1)) continue;  // kernels of this case not built
    // Argument: thread request; 0 means every processor.
    benchmark::RegisterBenchmark(c.name, encode_frames, c)
        ->Arg(1)
        ->Arg(0)
        ->ArgName("threads")
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
