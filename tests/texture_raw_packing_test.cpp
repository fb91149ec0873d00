// Block-planar repacking: layout against a direct reading of the picture,
// refused requests, slice plans, bottom-up frames and thread counts.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "tests/support/test_support.h"
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
      ASSERT_EQ(planes[0][at], pixel[2]);
      ASSERT_EQ(planes[1][at], pixel[1]);
      ASSERT_EQ(planes[2][at], pixel[0]);
      ASSERT_EQ(planes[3][at], pixel[3]);
    }
  }
  // Kind 4 leaves the fourth plane alone.
  const Planes rgb = convert(image, Raw_Kind_Rgb, Pix_Fmt_Bgra8, 1);
  EXPECT_EQ(rgb[0], planes[0]);
  EXPECT_EQ(rgb[3], std::vector<uint8_t>(rgb[3].size(), 0xEE));

  const Test_Image small = crop(image, 8, 8);
  const Planes two = convert(small, Raw_Kind_Rgb, Pix_Fmt_Bgra8, 1);
  EXPECT_EQ(two[0][0], small.bgra[2]);
  EXPECT_EQ(two[0][16], small.bgra[4 * 4 + 2]);  // block 1 starts at byte 16
  EXPECT_EQ(two[0][32], small.bgra[(4 * 8) * 4 + 2]);
}

TEST(RawPacking, RefusesWhatItCannotConvert) {
  Raw_Convert_Context context;
  EXPECT_EQ(setup_raw_convert(&context, 6, 8, Raw_Kind_Rgb, 1, 0, 1), 1u);
  EXPECT_EQ(context.width, 6);  // the settings are stored before the check
  EXPECT_EQ(setup_raw_convert(&context, 8, 6, Raw_Kind_Rgb, 1, 0, 1), 1u);
  EXPECT_EQ(setup_raw_convert(&context, 8, 8, Raw_Kind_Rgba, 2, 0, 1), 1u);
  EXPECT_EQ(setup_raw_convert(&context, 8, 8, 3, 1, 0, 1), 1u);
  EXPECT_EQ(setup_raw_convert(&context, 8, 8, Raw_Kind_Rgb, 3, 0, 1), 1u);
  EXPECT_EQ(setup_raw_convert(&context, 8, 8, Raw_Kind_Rgb, 2, 0, 1), 0u);

  // A refused context writes nothing.
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
  const Test_Image image = crop(load_test_image("astronaut_alpha_512x512.bgra"), 512, 1000 / 2);
  Test_Image tall;  // 1000 rows, so that four slices run
  tall.width = image.width;
  tall.height = 1000;
  tall.bgra = image.bgra;
  tall.bgra.insert(tall.bgra.end(), image.bgra.rbegin(), image.bgra.rend());
  const Planes single = convert(tall, Raw_Kind_Rgb, Pix_Fmt_Bgra8, 1);
  EXPECT_EQ(convert(tall, Raw_Kind_Rgb, Pix_Fmt_Bgra8, 4), single);
  EXPECT_EQ(convert(tall, Raw_Kind_Rgb, Pix_Fmt_Bgra8, 0), single);
  EXPECT_EQ(convert(flip_rows(tall), Raw_Kind_Rgb, Pix_Fmt_Bgra8_Bottom_Up, 3), single);
  EXPECT_EQ(convert(tall, Raw_Kind_Rgba, Pix_Fmt_Bgra8, 4),
            convert(tall, Raw_Kind_Rgba, Pix_Fmt_Bgra8, 1));
}
