// Speed of the YCoCg-DXT5 row encoder of the frame utilities on a 1920x1080
// BGRA frame, one thread: the scalar path (path 0), the vector conversion a
// block at a time (path 1, pair mode 0) and the pairs converted and encoded
// in vector lanes (pair mode 2), in milliseconds per frame. The last case
// runs pair modes 0 and 2 in turn on every iteration and reports their time
// ratio, so a drift of the shared machine weighs on both alike.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "HAP/DXT_compress.h"
#include "bench/bench_frame.h"

namespace {

constexpr uint16_t Width = bench_frame_width, Height = bench_frame_height;
constexpr uint16_t Block_Size = 16;

void encode_frame(uint8_t path, uint32_t pair_mode, std::vector<uint8_t>& texture) {
  compress_ycocg_dxt5_rows_bgra(0, bench_frame().data(), Width, Height, Height, Width * 4,
                                texture.data(), path, Block_Size, 1, pair_mode);
  benchmark::DoNotOptimize(texture.data());
  benchmark::ClobberMemory();
}

std::vector<uint8_t> texture_buffer() {
  return std::vector<uint8_t>(size_t(Width / 4) * (Height / 4) * Block_Size);
}

void encode_rows(benchmark::State& state, uint8_t path, uint32_t pair_mode) {
  std::vector<uint8_t> texture = texture_buffer();
  for (auto _ : state) encode_frame(path, pair_mode, texture);
}

// Times pair mode 2 (reported as the iteration time) and pair mode 0 on the
// same iterations; "pair0_over_pair2" is how many times faster mode 2 is.
void pair_mode_ratio(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  std::vector<uint8_t> texture = texture_buffer();
  double pair0 = 0.0, pair2 = 0.0;
  for (auto _ : state) {
    const auto start = Clock::now();
    encode_frame(1, 0, texture);
    const auto middle = Clock::now();
    encode_frame(1, 2, texture);
    const auto end = Clock::now();
    pair0 += std::chrono::duration<double>(middle - start).count();
    const double seconds = std::chrono::duration<double>(end - middle).count();
    pair2 += seconds;
    state.SetIterationTime(seconds);
  }
  state.counters["pair0_over_pair2"] = pair0 / pair2;
}

}  // namespace

BENCHMARK_CAPTURE(encode_rows, path0, uint8_t(0), 0u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encode_rows, path1_pair0, uint8_t(1), 0u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encode_rows, path1_pair2, uint8_t(1), 2u)->Unit(benchmark::kMillisecond);
BENCHMARK(pair_mode_ratio)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
