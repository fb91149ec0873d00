// Texture engine core: set-up (messages, slice plans), processor features,
// geometry and buffers, the frame driver's invariants (the same bytes for
// every thread count, for bottom-up frames and for padded or cropped edges)
// and the small numeric operations.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/system_info.h"
#include "tests/texture_test_frames.h"
#include "texture_encoder/alpha_block.h"
#include "texture_encoder/numeric_ops.h"
#include "texture_encoder/pixel_formats.h"
#include "texture_encoder/simd_features.h"

namespace {

// The set-up of a 64-pixel-wide RGTC1 texture of `height` rows on `threads` threads.
Dxt_Encoder_Context set_up_slices(uint16_t height, uint32_t threads) {
  Dxt_Encoder_Context context{};
  setup_dxt_encoder(&context, 64, height, Texture_Code_Rgtc1_Alpha, 1, 0, Pix_Fmt_Bgra8,
                    Pad_Mode_Edge, threads, 0xF8);
  return context;
}

Test_Image test_frame(int width, int height) {
  return crop(load_test_image("chelsea_451x300.bgra"), width, height);
}

}  // namespace

// ---- Set-up -----------------------------------------------------------------

TEST(Setup, RefusalsPrintTheirLineAndLeaveNoWorker) {
  struct Refusal {
    uint32_t code, pix_fmt;
    uint8_t quality;
    const char* line;
  };
  const Refusal refusals[] = {
      {Texture_Code_Dxt1, 0, 1, "Pad invalid pix fmt : 0\n"},
      {Texture_Code_Bc7, 0, 1, "Pad invalid pix fmt : 0\n"},
      {Texture_Code_Rgtc1_Luma, 3, 1, "Pad invalid pix fmt : 3\n"},
      {7, 0, 1, "Pad invalid pix fmt : 0\n"},  // the pixel format is checked first
      {7, 1, 1, "ERROR : DxtEnc unknown texture code : 7\n"},
      {200, 2, 2, "ERROR : DxtEnc unknown texture code : 200\n"},
      {Texture_Code_Dxt1, 1, 0, "DxtEnc DXT1 Qualite inconnu : 0\n"},
      {Texture_Code_Dxt1, 1, 4, "DxtEnc DXT1 Qualite inconnu : 4\n"},
      {Texture_Code_Dxt5, 2, 9, "DxtEnc DXT5 Qualite inconnu : 9\n"},
      {Texture_Code_Ycocg_Dxt5, 1, 0, "DxtEnc DXT5 ycocg unknown quality : 0\n"},
      {Texture_Code_Ycocg_Dxt5_Rgtc1, 1, 4, "DxtEnc DXT5 ycocg unknown quality : 4\n"},
      {Texture_Code_Bc7, 1, 0, "BC7 invalid quality : 0\n"},
      {Texture_Code_Bc7, 2, 7, "BC7 invalid quality : 7\n"},
  };
  for (const Refusal& r : refusals) {
    Dxt_Encoder_Context context;
    std::memset(&context, 0xCD, sizeof context);  // what an owner's memory may hold
    uint32_t result = 0;
    EXPECT_EQ(printed_by([&] {
                result = setup_dxt_encoder(&context, 64, 64, r.code, r.quality, 0, r.pix_fmt,
                                           Pad_Mode_Edge, 1, 0xF8);
              }),
              r.line);
    EXPECT_EQ(result, 1u) << r.line;
    EXPECT_TRUE(context.slice_worker == nullptr && context.slice_worker_second == nullptr)
        << r.line;
  }
  // The RGTC1 workers ignore the quality; accepted set-ups print nothing.
  for (uint32_t code : {Texture_Code_Rgtc1_Luma, Texture_Code_Rgtc1_Alpha}) {
    Dxt_Encoder_Context context{};
    EXPECT_EQ(printed_by([&] {
                EXPECT_EQ(setup_dxt_encoder(&context, 64, 64, code, 7, 0, Pix_Fmt_Bgra8_Bottom_Up,
                                            Pad_Mode_Edge, 1, 0xF8),
                          0u);
              }),
              "");
  }
}

TEST(Setup, PlansSlicesOfWholeBlockRows) {
  const Dxt_Encoder_Context small = set_up_slices(100, 8);
  ASSERT_EQ(small.thread_count, 4);  // ceil(100 / 32)
  const uint16_t starts[] = {0, 28, 52, 76}, counts[] = {28, 24, 24, 24};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(small.slice_start_rows[i], starts[i]);
    EXPECT_EQ(small.slice_row_counts[i], counts[i]);
  }

  // At most 64 slices, the size of the plan's arrays, from a request of 65 on.
  for (uint32_t request : {64u, 65u, 200u})
    EXPECT_EQ(set_up_slices(4000, request).thread_count, 64) << request;
  EXPECT_EQ(set_up_slices(0, 8).thread_count, 0);
  // One slice: the plan stays unwritten.
  for (auto [height, threads] : {std::pair{1000, 1}, std::pair{32, 8}}) {
    const Dxt_Encoder_Context one = set_up_slices(uint16_t(height), uint32_t(threads));
    EXPECT_EQ(one.thread_count, 1);
    EXPECT_EQ(one.slice_row_counts[0], 0);
  }
  // A request of 0 is the processor count.
  const uint32_t processors = platform::processor_count();
  EXPECT_EQ(set_up_slices(4000, 0).thread_count,
            std::min(processors < 2 ? 1u : processors, 64u));

  // Every plan covers the height once, whole block rows first.
  for (uint32_t height : {5u, 37u, 64u, 255u, 1081u, 2161u}) {
    for (uint32_t request : {2u, 3u, 7u, 64u}) {
      const Dxt_Encoder_Context c = set_up_slices(uint16_t(height), request);
      if (c.thread_count <= 1) continue;
      uint32_t next = 0;
      for (int i = 0; i < c.thread_count; ++i) {
        EXPECT_EQ(c.slice_start_rows[i], next);
        EXPECT_TRUE(i + 1 == c.thread_count || c.slice_row_counts[i] % 4 == 0) << i;
        next += c.slice_row_counts[i];
      }
      EXPECT_EQ(next, height);
    }
  }
}

// ---- Processor features ----------------------------------------------------

TEST(SimdFeatures, FiltersClearOnlyWhatTheProcessorLacks) {
  // (avx, avx2, fma) -> what 0xF8 becomes; 0x08 and bits outside the three always pass.
  const std::tuple<bool, bool, bool, uint32_t> processors[] = {
      {true, true, true, 0xF8},   {true, false, true, 0x78},  {true, true, false, 0xB8},
      {true, false, false, 0x38}, {false, true, true, 0x18},  {false, false, false, 0x18}};
  for (const auto& [avx, avx2, fma, expected] : processors) {
    EXPECT_EQ(filter_simd_features(0xF8, avx, avx2, fma), expected) << avx << avx2 << fma;
    EXPECT_EQ(filter_simd_features(0x10F, avx, avx2, fma), 0x10Fu);
    EXPECT_EQ(filter_simd_features(0x08, avx, avx2, fma), 0x08u);
  }
  // The copy filter never looks at FMA: 0x40 passes as asked.
  EXPECT_EQ(filter_copy_simd_features(0xE8, false, false), 0x48u);
  EXPECT_EQ(filter_copy_simd_features(0xE8, false, true), 0x48u);
  EXPECT_EQ(filter_copy_simd_features(0xE8, true, false), 0x68u);
  EXPECT_EQ(filter_copy_simd_features(0xA8, true, true), 0xA8u);
  EXPECT_EQ(filter_copy_simd_features(0x1A8, true, false), 0x128u);
  // This processor's filters are the pure ones on what it has.
  EXPECT_EQ(detect_simd_features(0xF8),
            filter_simd_features(0xF8, cpu_has_avx(), cpu_has_avx2(), cpu_has_fma()));
  EXPECT_EQ(detect_copy_simd_features(0xE8),
            filter_copy_simd_features(0xE8, cpu_has_avx(), cpu_has_avx2()));
  EXPECT_EQ(detect_simd_features(0x08), 0x08u);
}

TEST(SimdFeatures, ReportsThreadsThenFeatures) {
  const uint32_t processors = platform::processor_count();
  // Height and the slices it allows: ceil(height / 32), at most 64.
  for (const auto& [height, slices] :
       {std::pair{100u, 4u}, std::pair{20u, 1u}, std::pair{60000u, 64u}}) {
    const uint32_t threads = processors < 2 ? 1 : std::min(slices, processors);
    const uint32_t mask = detect_simd_features(0xF8);
    std::string expected = "Threads Use : " + std::to_string(threads) + "\n";
    expected += "Supported SIMD Features :\n";
    expected += (mask & 0x20) ? "AVX  : YES\n" : "AVX  : NO\n";
    expected += (mask & 0x80) ? "AVX2 : YES\n" : "AVX2 : NO\n";
    expected += (mask & 0x40) ? "FMA3 : YES\n" : "FMA3 : NO\n";
    EXPECT_EQ(printed_by([h = height] { report_simd_features(uint16_t(h)); }), expected) << height;
  }
}

// ---- Geometry and buffers -----------------------------------------------

TEST(Geometry, BlockCountsAndTextureSizes) {
  EXPECT_EQ(dxt_texture_size(1920, 1080, Texture_Code_Dxt1, Pad_Mode_Edge), 1036800u);
  EXPECT_EQ(dxt_texture_size(1921, 1081, 5, Pad_Mode_Edge), 481u * 271u * 24u);
  EXPECT_EQ(dxt_texture_size(1921, 1081, 5, Pad_Mode_Crop), 480u * 270u * 24u);
  EXPECT_EQ(dxt_texture_size(10, 6, Texture_Code_Dxt1, Pad_Mode_Zero), 48u);
  EXPECT_EQ(dxt_texture_size(10, 6, Texture_Code_Dxt1, Pad_Mode_Crop), 16u);
  const uint32_t bytes[] = {8, 16, 8, 8, 16, 24, 16, 24, 24};
  for (uint32_t code = 0; code < 9; ++code) EXPECT_EQ(dxt_block_bytes(code), bytes[code]);
  EXPECT_EQ(dxt_block_count(5, Pad_Mode_Black), 2);
  EXPECT_EQ(dxt_block_count(5, Pad_Mode_Crop), 1);
  EXPECT_EQ(dxt_block_count(8, Pad_Mode_Crop), 2);
  EXPECT_EQ(dxt_block_count_ceil(65535), 16384);
  EXPECT_EQ(raw_buffer_size_in_blocks(8, 8, 1, 0), 4u * 16u);
  EXPECT_EQ(raw_buffer_size_in_blocks(8, 8, 5, 0), 4u * 32u);
  EXPECT_EQ(raw_buffer_size_in_blocks(8, 8, 7, 0), 4u * 64u);
  EXPECT_EQ(raw_buffer_size_in_blocks(9, 8, 11, 3), 4u * 16u);
  EXPECT_EQ(raw_buffer_size_in_blocks(8, 8, 14, 0), 4u * 32u);
  EXPECT_EQ(raw_buffer_size_in_blocks(8, 8, 99, 0), 4u * 64u);
  // The largest frames need more than 32 bits.
  const uint64_t blocks = 16384ull * 16384ull;
  EXPECT_EQ(dxt_texture_size(65535, 65535, 5, Pad_Mode_Edge), 6442450944u);
  EXPECT_EQ(dxt_texture_size(65535, 65535, Texture_Code_Dxt5, Pad_Mode_Edge), blocks * 16);
  EXPECT_EQ(dxt_texture_size(65535, 65535, 5, Pad_Mode_Crop), 16383ull * 16383ull * 24);
  EXPECT_EQ(raw_buffer_size_in_blocks(65535, 65535, 7, 0), blocks * 64);
  EXPECT_EQ(get_raw_buffer_size(65535, 65535, 7), 64ull * 16384 * 65536);
}

TEST(AlignedBuffer, GrowsOnlyWhenAskedForMore) {
  uint8_t* buffer = nullptr;
  ASSERT_EQ(aligned_buffer_alloc(&buffer, 0, 100), 0u);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer) % 32, 0u);
  std::memset(buffer, 0x5A, 100);
  uint8_t* const first = buffer;
  ASSERT_EQ(aligned_buffer_alloc(&buffer, 100, 100), 0u);
  EXPECT_EQ(buffer, first);
  EXPECT_EQ(buffer[99], 0x5A);
  ASSERT_EQ(aligned_buffer_alloc(&buffer, 100, 101), 0u);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer) % 32, 0u);
  std::memset(buffer, 1, 101);
  aligned_buffer_free(&buffer);
  aligned_buffer_free(&buffer);  // a second free is harmless
  EXPECT_EQ(buffer, nullptr);

  const size_t impossible = SIZE_MAX - 7;
  EXPECT_EQ(printed_by([&] { EXPECT_EQ(aligned_buffer_alloc(&buffer, 0, impossible), 1u); }),
            "alloc error (for size : " + std::to_string(long(impossible)) + ")\n");
  EXPECT_EQ(buffer, nullptr);
}

// ---- Frame driver ------------------------------------------------------------

// Every texture code and quality, as the driver sees them.
std::vector<Encode_Request> all_requests() {
  std::vector<Encode_Request> requests;
  for (uint32_t code = 0; code <= 6; ++code) {
    const bool rgtc1 = code == Texture_Code_Rgtc1_Luma || code == Texture_Code_Rgtc1_Alpha;
    for (int q = 1; q <= (rgtc1 ? 1 : 3); ++q) {
      requests.emplace_back();
      requests.back().texture_code = code;
      requests.back().quality = uint8_t(q);
    }
  }
  return requests;
}

TEST(FrameDriver, SameBytesForEveryThreadCount) {
  // Odd width and height: the last slice and every block row carry partial
  // blocks. Stale bytes in the output never survive.
  const Test_Image frame = test_frame(151, 211);
  for (Encode_Request request : all_requests()) {
    const auto single = encode_frame(frame, request);
    ASSERT_TRUE(single) << request.texture_code;
    request.fill = 0xA5;
    for (uint32_t threads : {0u, 1u, 2u, 7u, 64u}) {
      request.threads = threads;
      EXPECT_EQ(encode_frame(frame, request), single)
          << "code " << request.texture_code << " quality " << int(request.quality) << " threads "
          << threads;
    }
  }
}

TEST(FrameDriver, BottomUpFrameEqualsFlippedTopDownFrame) {
  const Test_Image frame = test_frame(131, 97);
  const Test_Image stored_bottom_up = flip_rows(frame);
  for (Encode_Request request : all_requests()) {
    for (uint32_t pad : {0u, 1u, 3u}) {
      request.pad_mode = pad;
      request.threads = 3;
      request.pix_fmt = Pix_Fmt_Bgra8;
      const auto top_down = encode_frame(frame, request);
      request.pix_fmt = Pix_Fmt_Bgra8_Bottom_Up;
      EXPECT_EQ(encode_frame(stored_bottom_up, request), top_down)
          << "code " << request.texture_code << " pad " << pad;
    }
  }
}

TEST(FrameDriver, PadModesMatchHandPaddedAndCroppedFrames) {
  const Test_Image frame = test_frame(45, 30);  // 3 columns and 2 rows left over
  for (Encode_Request request : all_requests()) {
    for (uint32_t pad : {0u, 1u, 2u, 3u}) {
      request.pad_mode = pad;
      const auto padded = encode_frame(frame, request);
      request.pad_mode = Pad_Mode_Edge;
      const Test_Image by_hand =
          pad == Pad_Mode_Crop ? crop(frame, 44, 28) : pad_by_hand(frame, pad);
      EXPECT_EQ(padded, encode_frame(by_hand, request))
          << "code " << request.texture_code << " quality " << int(request.quality) << " pad "
          << pad;
    }
  }
}

TEST(FrameDriver, RowsWithTrailingBytesEncodeLikePackedRows) {
  // Rows of 45 pixels in 182 or 183 bytes: partial blocks must step by the
  // stride exactly as whole blocks do.
  const Test_Image frame = test_frame(45, 30);
  for (const int64_t extra : {2, 3}) {
    const int64_t stride = 45 * 4 + extra;
    std::vector<uint8_t> stored(size_t(stride) * 30, 0xEE), stored_up(stored.size(), 0xEE);
    for (int y = 0; y < 30; ++y) {
      std::memcpy(&stored[size_t(y * stride)], &frame.bgra[size_t(y) * 45 * 4], 45 * 4);
      std::memcpy(&stored_up[size_t((29 - y) * stride)], &frame.bgra[size_t(y) * 45 * 4], 45 * 4);
    }
    for (Encode_Request request : all_requests()) {
      for (uint32_t pad : {0u, 1u, 2u}) {
        request.pad_mode = pad;
        const auto packed = encode_frame(frame, request);
        for (const auto& [pix_fmt, rows] : {std::pair{Pix_Fmt_Bgra8, &stored},
                                            std::pair{Pix_Fmt_Bgra8_Bottom_Up, &stored_up}}) {
          Dxt_Encoder_Context context{};
          ASSERT_EQ(0u, setup_dxt_encoder(&context, 45, 30, request.texture_code, request.quality,
                                          0, pix_fmt, pad, 1, 0));
          std::vector<uint8_t> texture(packed->size());
          const uint8_t* planes[4] = {rows->data(), nullptr, nullptr, nullptr};
          const int64_t strides[4] = {stride, 0, 0, 0};
          encode_dxt_frame(&context, texture.data(), planes, strides);
          EXPECT_EQ(texture, *packed) << "code " << request.texture_code << " quality "
                                      << int(request.quality) << " pad " << pad << " fmt "
                                      << pix_fmt << " stride " << stride;
        }
      }
    }
  }
}

TEST(FrameDriver, SourceWithoutAlphaGivesOpaqueAlpha) {
  uint8_t plane[16] = {};
  uint64_t min = 0, max = 0;
  fill_opaque_plane(plane, nullptr, nullptr, 0, 0, &min, &max);
  EXPECT_TRUE(std::count(plane, plane + 16, 255) == 16 && min == 255 && max == 255);

  // The alpha bytes of a source without alpha are not read, whatever the
  // processor offers: every alpha texture is that of the same frame made
  // opaque, and decodes to 255 everywhere.
  Test_Image opaque = test_frame(45, 30), frame = opaque;
  for (size_t p = 0; p < frame.bgra.size() / 4; ++p) {
    opaque.bgra[4 * p + 3] = 255;
    frame.bgra[4 * p + 3] = uint8_t(p * 7 % 255);
  }
  const Test_Image upside_down = flip_rows(frame);
  const size_t blocks = 12 * 8;
  for (Encode_Request request : all_requests()) {
    const uint32_t code = request.texture_code;
    if (code != Texture_Code_Dxt5 && code != Texture_Code_Rgtc1_Alpha && code != Texture_Code_Ycocg_Dxt5_Rgtc1)
      continue;
    for (uint32_t mask : {0x00u, 0xF8u}) {
      request.mask = mask;
      request.pix_fmt = Pix_Fmt_Bgra8;
      request.source_has_no_alpha = 0;
      const auto expected = encode_frame(opaque, request);
      ASSERT_TRUE(expected);
      request.source_has_no_alpha = 1;
      for (uint32_t pix_fmt : {Pix_Fmt_Bgra8, Pix_Fmt_Bgra8_Bottom_Up}) {
        SCOPED_TRACE(testing::Message() << "code " << code << " quality " << int(request.quality) << " mask 0x"
                                        << std::hex << mask << std::dec << " fmt " << pix_fmt);
        request.pix_fmt = pix_fmt;
        const auto texture = encode_frame(pix_fmt == Pix_Fmt_Bgra8 ? frame : upside_down, request);
        ASSERT_TRUE(texture);
        EXPECT_EQ(*texture, *expected);
        const uint8_t* alpha = texture->data() + (code == Texture_Code_Ycocg_Dxt5_Rgtc1 ? blocks * 16 : 0);
        const std::vector<uint8_t> decoded =
            decode_texture(code == Texture_Code_Dxt5 ? Tex::Dxt5 : Tex::Rgtc1, alpha, 45, 30);
        const int channel = code == Texture_Code_Dxt5 ? 3 : 0;
        size_t opaque_pixels = 0;
        for (size_t p = 0; p < decoded.size() / 4; ++p) opaque_pixels += decoded[4 * p + channel] == 255;
        EXPECT_EQ(opaque_pixels, size_t(45 * 30));
      }
    }
  }
}

namespace {
// Where the block workers of one frame write (the workers below only record it).
std::atomic<uintptr_t> first_lowest, first_highest, second_lowest, second_highest;
void note(std::atomic<uintptr_t>& lowest, std::atomic<uintptr_t>& highest, const uint8_t* out) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(out);
  for (uintptr_t seen = lowest; at < seen && !lowest.compare_exchange_weak(seen, at);) {}
  for (uintptr_t seen = highest; at > seen && !highest.compare_exchange_weak(seen, at);) {}
}
void note_first(const Dxt_Kernel_Head&, uint8_t* out, const uint8_t* const*, const int64_t*) {
  note(first_lowest, first_highest, out);
}
void note_second(const Dxt_Kernel_Head&, uint8_t* out, const uint8_t* const*, const int64_t*) {
  note(second_lowest, second_highest, out);
}
void no_padding(uint8_t*, const uint8_t* const*, const int64_t*, uint16_t, uint16_t) {}
}  // namespace

TEST(FrameDriver, LargestFramesPlaceBlocksBeyond4GiB) {
  // 65535 x 65535 as YCoCg-DXT5 + RGTC1: 16384 x 16384 blocks, so the alpha
  // texture starts at 4 GiB. The output is only reserved address space; the
  // recording workers touch neither it nor the (absent) pixels.
  Dxt_Encoder_Context context{};
  ASSERT_EQ(0u, setup_dxt_encoder(&context, 65535, 65535, Texture_Code_Ycocg_Dxt5_Rgtc1, 1, 0,
                                  Pix_Fmt_Bgra8, Pad_Mode_Edge, 8, 0));
  context.head.pad_kernel = no_padding;
  context.slice_worker = note_first;
  context.slice_worker_second = note_second;
  const uint64_t first_size = 16384ull * 16384 * 16, second_size = 16384ull * 16384 * 8;
  ASSERT_EQ(dxt_texture_size(65535, 65535, 5, Pad_Mode_Edge), first_size + second_size);
  void* reserved = mmap(nullptr, first_size + second_size, PROT_NONE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(reserved, MAP_FAILED);
  uint8_t* output = static_cast<uint8_t*>(reserved);
  first_lowest = second_lowest = UINTPTR_MAX;
  first_highest = second_highest = 0;
  const uint8_t* planes[4] = {output, nullptr, nullptr, nullptr};
  const int64_t strides[4] = {65535 * 4, 0, 0, 0};
  encode_dxt_frame(&context, output, planes, strides);
  munmap(reserved, first_size + second_size);
  const uintptr_t base = reinterpret_cast<uintptr_t>(output);
  EXPECT_EQ(first_lowest, base);
  EXPECT_EQ(first_highest, base + first_size - 16);
  EXPECT_EQ(second_lowest, base + first_size);
  EXPECT_EQ(second_highest, base + first_size + second_size - 8);
}

// ---- BC7 tables --------------------------------------------------------------

TEST(Setup, Bc7EncodersOpenOnManyThreadsAtOnce) {
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&failures] {
      Dxt_Encoder_Context context{};
      if (setup_dxt_encoder(&context, 64, 64, Texture_Code_Bc7, 2, 0, 1, 0, 1, 0x08) != 0) {
        ++failures;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

// ---- Small numeric operations -------------------------------------------------

TEST(NumericOps, RoundingClampingAbsoluteValuesAndSums) {
  // truncate(x + 0.5), then 0..max; NaN and values past the 32-bit range
  // take an end instead of an undefined conversion.
  EXPECT_EQ(nearest_clamped(2.49f, 31), 2);
  EXPECT_EQ(nearest_clamped(2.5f, 31), 3);
  EXPECT_EQ(nearest_clamped(30.6f, 31), 31);
  EXPECT_EQ(nearest_clamped(31.5f, 31), 31);
  EXPECT_EQ(nearest_clamped(-0.9f, 31), 0);
  EXPECT_EQ(nearest_clamped(-7.0f, 31), 0);
  volatile float huge = 3e9f;  // a run-time value: no constant folding
  EXPECT_EQ(nearest_clamped(huge, 63), 63);
  EXPECT_EQ(nearest_clamped(-huge, 63), 0);
  EXPECT_EQ(nearest_clamped(huge * 0.0f * std::numeric_limits<float>::infinity(), 63), 0);

  EXPECT_EQ(clamp_to_bits(0, 5), 0u);
  EXPECT_EQ(clamp_to_bits(31, 5), 31u);
  EXPECT_EQ(clamp_to_bits(32, 5), 31u);
  EXPECT_EQ(clamp_to_bits(-1, 6), 0u);
  EXPECT_EQ(clamp_to_bits(1000, 0), 0u);
  EXPECT_EQ(clamp_to_bits(INT32_MAX, 31), uint32_t(INT32_MAX));
  EXPECT_EQ(clamp_to_bits(INT32_MAX, 32), uint32_t(INT32_MAX));

  EXPECT_EQ(abs_i64(-5), 5u);
  EXPECT_EQ(abs_i64(7), 7u);
  volatile int64_t most_negative = INT64_MIN;
  EXPECT_EQ(abs_i64(most_negative), uint64_t(1) << 63);

  float a[4] = {1.0f, 2.0f, 3.0f, 0.25f};
  const float b[4] = {0.5f, -2.0f, 10.0f, 1e-9f};
  float sum[4];
  add4(sum, a, b);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(sum[i], a[i] + b[i]) << i;
  add4_in_place(a, b);
  EXPECT_EQ(0, std::memcmp(a, sum, sizeof sum));

  // Elements 8..10 only, each nearest_clamped(x * 255, 255).
  float values[12];
  std::fill_n(values, 12, 0.9f);
  values[8] = 0.5f, values[9] = -0.1f, values[10] = 1.2f;
  uint8_t bytes[4] = {1, 1, 1, 1};
  floats_to_bytes3(values, bytes);
  EXPECT_EQ(bytes[0], 128);
  EXPECT_EQ(bytes[1], 0);
  EXPECT_EQ(bytes[2], 255);
  EXPECT_EQ(bytes[3], 1);
}
