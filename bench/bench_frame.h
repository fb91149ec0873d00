// The 1920x1080 BGRA frame the benchmarks encode: a 4 x 4 grid of 480 x 270
// tiles, the test images in turn, each repeated when it is smaller than its
// tile. Built once per program.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline constexpr int bench_frame_width = 1920, bench_frame_height = 1080;

namespace bench_detail {

struct Source_Image {
  int width, height;
  std::vector<uint8_t> bgra;
};

inline Source_Image load(const std::string& name, int width, int height) {
  std::ifstream file(std::string(HAP_TESTDATA_DIR) + "/" + name, std::ios::binary);
  Source_Image image{width, height, {std::istreambuf_iterator<char>(file), {}}};
  if (image.bgra.size() != size_t(width) * height * 4) {
    std::fprintf(stderr, "cannot read %s\n", name.c_str());
    std::exit(1);
  }
  return image;
}

}  // namespace bench_detail

inline const std::vector<uint8_t>& bench_frame() {
  using bench_detail::load;
  static const std::vector<uint8_t> frame = [] {
    constexpr int Width = bench_frame_width, Height = bench_frame_height;
    const bench_detail::Source_Image images[] = {
        load("astronaut_alpha_512x512.bgra", 512, 512), load("coffee_600x400.bgra", 600, 400),
        load("chelsea_451x300.bgra", 451, 300), load("astronaut_512x512.bgra", 512, 512)};
    std::vector<uint8_t> pixels(size_t(Width) * Height * 4);
    constexpr int Tile_W = Width / 4, Tile_H = Height / 4;
    for (int y = 0; y < Height; ++y) {
      for (int x = 0; x < Width; ++x) {
        const auto& image = images[(y / Tile_H * 4 + x / Tile_W + y / Tile_H) % 4];
        const int sx = (x % Tile_W) % image.width, sy = (y % Tile_H) % image.height;
        const uint8_t* in = &image.bgra[(size_t(sy) * image.width + sx) * 4];
        std::copy(in, in + 4, &pixels[(size_t(y) * Width + x) * 4]);
      }
    }
    return pixels;
  }();
  return frame;
}
