// Block-planar repacking: layout against a direct reading of the picture,
// refused requests, slice plans, bottom-up frames and thread counts.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "tests/texture_test_frames.h"
#include "texture_encoder/raw_row_packing.h"

namespace {

using Planes = std::array<std::vector<uint8_t>, 4>;

Planes convert(const Test_Image& image, uint32_t kind, uint32_t pix_fmt, uint32_t threads) {
  Raw_Convert_Context context;
  EXPECT_EQ(setup_raw_convert(&context, uint16_t(image.width), uint16_t(image.height), kind,
                              pix_fmt, Pad_Mode_Edge, threads),
            0u);
  Planes planes;
  uint8_t* out[4] = {};
  for (int k = 0; k < 4; ++k) {
    planes[k].assign(size_t(image.width) * image.height, 0xEE);
    out[k] = planes[k].data();
  }
  const uint8_t* source[4] = {image.bgra.data(), nullptr, nullptr, nullptr};
  const int64_t strides[4] = {int64_t(image.width) * 4, 0, 0, 0};
  convert_raw_frame(&context, out, source, strides);
  return planes;
}

}  // namespace

TEST(RawPacking, BlocksOfEachChannelLieTogether) {
  const Test_Image image = crop(load_test_image("coffee_600x400.bgra"), 600, 396);
  const Planes planes = convert(image, Raw_Kind_Rgba, Pix_Fmt_Bgra8, 1);
  const int blocks_x = image.width / 4;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const size_t at = size_t(y / 4 * blocks_x + x / 4) * 16 + (y % 4) * 4 + x % 4;
      const uint8_t* pixel = &image.bgra[(size_t(y) * image.width + x) * 4];
      for (int k = 0; k < 4; ++k) ASSERT_EQ(planes[k][at], pixel[k == 3 ? 3 : 2 - k]) << k;
    }
  }
  // Kind 4 leaves the fourth plane alone.
  const Planes rgb = convert(image, Raw_Kind_Rgb, Pix_Fmt_Bgra8, 1);
  EXPECT_EQ(rgb[0], planes[0]);
  EXPECT_EQ(rgb[3], std::vector<uint8_t>(rgb[3].size(), 0xEE));
}

TEST(RawPacking, RefusesWhatItCannotConvert) {
  Raw_Convert_Context context;
  EXPECT_EQ(setup_raw_convert(&context, 6, 8, Raw_Kind_Rgb, 1, 0, 1), 1u);
  EXPECT_EQ(context.width, 6);  // the settings are stored before the check
  EXPECT_EQ(setup_raw_convert(&context, 8, 6, Raw_Kind_Rgb, 1, 0, 1), 1u);
  EXPECT_EQ(setup_raw_convert(&context, 8, 8, Raw_Kind_Rgba, 2, 0, 1), 1u);
  EXPECT_EQ(setup_raw_convert(&context, 8, 8, Raw_Kind_Rgb, 3, 0, 1), 1u);
  EXPECT_EQ(setup_raw_convert(&context, 8, 8, Raw_Kind_Rgb, 2, 0, 1), 0u);
  // An unknown kind is refused, and the refused context writes nothing.
  EXPECT_EQ(setup_raw_convert(&context, 8, 8, 3, 1, 0, 1), 1u);
  std::vector<uint8_t> plane(64, 0xEE), source(256, 1);
  uint8_t* out[4] = {plane.data(), plane.data(), plane.data(), plane.data()};
  const uint8_t* in[4] = {source.data(), nullptr, nullptr, nullptr};
  const int64_t strides[4] = {32, 0, 0, 0};
  convert_raw_frame(&context, out, in, strides);
  EXPECT_EQ(plane, std::vector<uint8_t>(64, 0xEE));
}

TEST(RawPacking, SlicesOfAtLeast256Rows) {
  Raw_Convert_Context context;
  setup_raw_convert(&context, 8, 512, Raw_Kind_Rgb, 1, 0, 8);
  ASSERT_EQ(context.thread_count, 2);
  EXPECT_EQ(context.row_count[0], 256);
  EXPECT_EQ(context.start_row[1], 256);
  setup_raw_convert(&context, 8, 1000, Raw_Kind_Rgb, 1, 0, 8);
  ASSERT_EQ(context.thread_count, 4);
  const uint16_t counts[] = {252, 252, 248, 248};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(context.row_count[i], counts[i]);
  EXPECT_EQ(context.start_row[3], 752);
  setup_raw_convert(&context, 8, 1000, Raw_Kind_Rgb, 1, 0, 1);
  EXPECT_EQ(context.thread_count, 1);
  setup_raw_convert(&context, 8, 60000, Raw_Kind_Rgb, 1, 0, 500);
  EXPECT_EQ(context.thread_count, 64);
}

TEST(RawPacking, BottomUpAndThreadedFramesMatch) {
  // 1000 rows, so that four slices run: a picture and its mirror below it.
  Test_Image tall = crop(load_test_image("astronaut_alpha_512x512.bgra"), 512, 500);
  tall.bgra.insert(tall.bgra.end(), tall.bgra.rbegin(), tall.bgra.rend());
  tall.height = 1000;
  for (uint32_t kind : {Raw_Kind_Rgb, Raw_Kind_Rgba}) {
    const Planes single = convert(tall, kind, Pix_Fmt_Bgra8, 1);
    EXPECT_EQ(convert(tall, kind, Pix_Fmt_Bgra8, 4), single);
    EXPECT_EQ(convert(tall, kind, Pix_Fmt_Bgra8, 0), single);
  }
  EXPECT_EQ(convert(flip_rows(tall), Raw_Kind_Rgb, Pix_Fmt_Bgra8_Bottom_Up, 3),
            convert(tall, Raw_Kind_Rgb, Pix_Fmt_Bgra8, 1));
}
