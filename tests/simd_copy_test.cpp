// The streaming frame copies against memcpy, alone and through the pair.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "texture_encoder/block_geometry.h"
#include "texture_encoder/dxt_encoder_context.h"
#include "texture_encoder/simd/copy_vector.h"
#include "texture_encoder/simd_features.h"

namespace {

using Copy = void (*)(void*, const void*, size_t);

// Copies `bytes` from a source at `offset` past a 32-byte boundary into a
// 32-byte aligned destination and checks every byte, and that nothing past
// the count is written.
void check_copy(Copy copy, size_t bytes, size_t offset) {
  std::vector<uint8_t> source_storage(bytes + 64);
  std::iota(source_storage.begin(), source_storage.end(), uint8_t(offset * 7 + bytes));
  const uintptr_t base = (reinterpret_cast<uintptr_t>(source_storage.data()) + 31) & ~uintptr_t(31);
  const uint8_t* source = reinterpret_cast<const uint8_t*>(base) + offset;
  std::vector<uint8_t> destination_storage(bytes + 96, 0xEE);
  uint8_t* destination = reinterpret_cast<uint8_t*>(
      (reinterpret_cast<uintptr_t>(destination_storage.data()) + 31) & ~uintptr_t(31));
  copy(destination, source, bytes);
  ASSERT_EQ(0, std::memcmp(destination, source, bytes)) << bytes << " at +" << offset;
  for (size_t k = 0; k < 32; ++k) ASSERT_EQ(0xEE, destination[bytes + k]) << bytes;
}

const size_t sizes[] = {0, 1, 31, 32, 33, 255, 256, 257, 511, 512, 1000, 4096 + 17, 65536 + 300};

TEST(SimdCopy, UnalignedMatchesMemcpy) {
  if (!cpu_has_avx()) GTEST_SKIP() << "no AVX";
  for (size_t bytes : sizes)
    for (size_t offset : {0, 1, 3, 16, 31}) check_copy(stream_copy_unaligned_avx, bytes, offset);
}

TEST(SimdCopy, AlignedMatchesMemcpy) {
  if (!cpu_has_avx()) GTEST_SKIP() << "no AVX";
  for (size_t bytes : sizes) check_copy(stream_copy_aligned_avx, bytes, 0);
  if (!cpu_has_avx2()) GTEST_SKIP() << "no AVX2";
  for (size_t bytes : sizes) check_copy(stream_copy_aligned_avx2, bytes, 0);
}

// Without the SIMD bit both slots hold the standard copy; with it and AVX2
// alone, the standard copy serves unaligned sources beside the AVX2 one.
TEST(SimdCopy, PairCopiesBothSourceAlignments) {
  static Copy_Kernel_Pair pair{};  // static: the copy routine below reaches it without a capture
  const Copy via_pair = [](void* d, const void* s, size_t n) {
    copy_with_kernel_pair(&pair, d, s, n);
  };
  for (uint32_t mask : {0xF0u, 0x88u, 0xF8u}) {
    SCOPED_TRACE(testing::Message() << "mask 0x" << std::hex << mask);
    install_copy_kernel_pair(&pair, mask);
    if (!(mask & Simd_Flag_Enable)) {
      EXPECT_EQ(pair.copy_unaligned, pair.copy_aligned);
      for (const Copy vector : {stream_copy_unaligned_avx, stream_copy_aligned_avx, stream_copy_aligned_avx2})
        EXPECT_NE(pair.copy_aligned, vector);
    }
    for (size_t bytes : sizes)
      for (size_t offset : {0, 5}) check_copy(via_pair, bytes, offset);
  }
}

}  // namespace
