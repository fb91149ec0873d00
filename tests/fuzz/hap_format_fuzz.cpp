// The HAP frame readers on arbitrary bytes: texture count, chunk counts,
// formats and the decoding of both texture indices. A texture that decodes
// must survive being written again and read back unchanged.
#include <cstring>
#include <vector>

#include "HAP/hap_format.h"
#include "HAP/hap_frame.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// Room for the largest texture a seed holds, and then some; a bigger one is
// refused as too small before anything is decoded.
constexpr uint32_t output_capacity = 1 << 16;

void write_and_read_back(const uint8_t* texture, uint32_t length, uint32_t format) {
  Exact_Buffer encoded(max_texture_encoded_length(length, format, Hap_Compressor_Snappy, 4));
  uint32_t written = 0;
  fuzz_require(hap_encode_texture(texture, length, format, Hap_Compressor_Snappy, 4,
                                  encoded.data(), encoded.get()->length,
                                  &written) == HapResult_No_Error);
  Exact_Buffer decoded(length);
  uint32_t used = 0, found = 0;
  fuzz_require(hap_decode(encoded.data(), written, 0, decode_chunks_serial, nullptr,
                          decoded.data(), length, &used, &found) == HapResult_No_Error);
  fuzz_require(used == length && found == format &&
               std::memcmp(decoded.data(), texture, length) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  const std::vector<uint8_t> frame(data, data + size);
  const uint32_t length = uint32_t(size);
  static std::vector<uint8_t> output(output_capacity);

  uint32_t count = 0;
  get_texture_count(frame.data(), length, &count);
  for (uint32_t index = 0; index < 2; ++index) {
    uint32_t chunks = 0, format = 0, used = 0;
    get_texture_chunk_count(frame.data(), length, index, &chunks);
    get_texture_format(frame.data(), length, index, &format);
    const HapResult result = hap_decode(frame.data(), length, index, decode_chunks_serial, nullptr,
                                        output.data(), output_capacity, &used, &format);
    if (result != HapResult_No_Error) continue;
    fuzz_require(used <= output_capacity);
    if (used > 0) write_and_read_back(output.data(), used, format);
  }
  return 0;
}
