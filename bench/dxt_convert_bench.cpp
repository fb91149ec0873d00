// Speed of converting a 1920x1080 DXT1 texture to DXT5 with the frame
// utilities, one thread, in milliseconds per frame. The texture is the bench
// frame written as three-colour DXT1 blocks, the form whose blocks the
// conversion may have to rewrite; a copy of it in four-colour form, which is
// converted by plain copies, gives the floor.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "HAP/DXT_Frame.h"
#include "bench/bench_frame.h"
#include "tests/support/three_colour_dxt1.h"

namespace {

constexpr uint32_t Width = bench_frame_width, Height = bench_frame_height;

std::vector<uint8_t> three_colour_texture() {
  return three_colour_dxt1(bench_frame().data(), Width, Height);
}

// The same blocks with their endpoints exchanged, so that all but those with
// equal endpoints are read with four colours.
std::vector<uint8_t> four_colour_texture() {
  std::vector<uint8_t> blocks = three_colour_texture();
  for (size_t b = 0; b < blocks.size(); b += 8) {
    std::swap(blocks[b], blocks[b + 2]);
    std::swap(blocks[b + 1], blocks[b + 3]);
  }
  return blocks;
}

void convert(benchmark::State& state, std::vector<uint8_t> (*make_blocks)()) {
  std::vector<uint8_t> blocks = make_blocks(), converted(blocks.size() * 2);
  Dxt_Frame source, target;
  set_dxt_frame_on_pointer(&source, blocks.data(), Width, Height, Dxt_Codec_DXT1);
  set_dxt_frame_on_pointer(&target, converted.data(), Width, Height, Dxt_Codec_DXT5);
  for (auto _ : state) {
    convert_dxt_frame(&source, &target);
    benchmark::DoNotOptimize(converted.data());
    benchmark::ClobberMemory();
  }
}

}  // namespace

BENCHMARK_CAPTURE(convert, three_colour, three_colour_texture)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(convert, four_colour, four_colour_texture)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
