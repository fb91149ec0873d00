// Writing HAP texture sections and frames, with the optional snappy chunking.
#include <snappy-c.h>

#include <algorithm>
#include <cstring>

#include "HAP/hap_format.h"

namespace {

uint32_t block_bytes(uint32_t format) {
  return (format == Hap_Texture_Format_RGB_DXT1 || format == Hap_Texture_Format_A_RGTC1) ? 8 : 16;
}

// A count that divides the block count, so every chunk but the last holds whole
// blocks; without a whole block there is one chunk, which keeps every byte.
uint32_t chunks_for(uint64_t texture_length, uint32_t format, uint32_t requested) {
  uint32_t count = std::min(requested, hap_max_chunk_count);
  const uint64_t blocks = texture_length / block_bytes(format);
  if (count == 0 || blocks == 0) return 1;
  while (blocks % count != 0) --count;
  return count;
}

// Chunks all take length / count bytes except the last, which also takes the
// remainder; it is the largest, so it bounds every chunk's compressed size.
uint64_t last_chunk_length(uint64_t texture_length, uint32_t count) {
  return texture_length - (texture_length / count) * (count - 1);
}

uint64_t max_chunked_length(uint64_t texture_length, uint32_t count) {
  return snappy_max_compressed_length(last_chunk_length(texture_length, count)) * count;
}

void put_u32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xFF;
}

}  // namespace

uint32_t limit_chunk_count(uint32_t texture_length, uint32_t format, uint32_t requested) {
  return chunks_for(texture_length, format, requested);
}

uint64_t max_texture_encoded_length(uint64_t texture_length, uint32_t format, uint32_t compressor,
                                    uint32_t requested_chunks) {
  const uint32_t count = chunks_for(texture_length, format, requested_chunks);
  const uint64_t tables = 20 + 5ull * count;
  if (compressor == Hap_Compressor_Snappy) return max_chunked_length(texture_length, count) + tables;
  return texture_length + tables;
}

uint32_t max_frame_encoded_length(uint32_t texture_count, const uint32_t* lengths,
                                  const uint32_t* formats, const uint32_t* requested_chunks) {
  if (texture_count < 1 || texture_count > 2 || !lengths || !formats || !requested_chunks) return 0;
  uint64_t total = 8;
  for (uint32_t i = 0; i < texture_count; ++i) {
    if (requested_chunks[i] == 0) return 0;
    total += max_texture_encoded_length(lengths[i], formats[i], Hap_Compressor_Snappy,
                                        requested_chunks[i]);
  }
  return total > UINT32_MAX ? 0 : static_cast<uint32_t>(total);
}

namespace {

// Cuts the texture into chunks, each stored snappy-compressed or raw, whichever
// is smaller, behind the decode instructions. Returns the content length, or
// 0 after a snappy failure.
uint64_t write_chunked_content(const uint8_t* texture, uint32_t length, uint32_t count,
                               uint8_t* content, uint64_t room) {
  const uint32_t instructions = 5 * count + 8;
  write_section_header(content, 4, instructions, Hap_Section_Decode_Instructions);
  write_section_header(content + 4, 4, count, Hap_Section_Chunk_Compressor_Table);
  uint8_t* codes = content + 8;
  write_section_header(content + 8 + count, 4, 4 * count, Hap_Section_Chunk_Size_Table);
  uint8_t* sizes = content + 12 + count;
  uint8_t* data = content + 4 + instructions;
  room -= 4 + instructions;

  const uint32_t chunk_length = length / count;
  uint64_t stored_total = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* source = texture + uint64_t(i) * chunk_length;
    const uint32_t source_length = i + 1 == count ? uint32_t(last_chunk_length(length, count))
                                                  : chunk_length;
    uint8_t* out = data + stored_total;
    size_t stored = room - stored_total;
    if (snappy_compress(reinterpret_cast<const char*>(source), source_length,
                        reinterpret_cast<char*>(out), &stored) != SNAPPY_OK)
      return 0;
    uint8_t code = Hap_Storage_Snappy;
    if (stored >= source_length) {
      std::memcpy(out, source, source_length);
      stored = source_length;
      code = Hap_Storage_Raw;
    }
    codes[i] = code;
    put_u32(sizes + 4 * i, uint32_t(stored));
    stored_total += stored;
  }
  return 4 + instructions + stored_total;
}

}  // namespace

HapResult hap_encode_texture(const uint8_t* texture, uint32_t length, uint32_t format,
                             uint32_t compressor, uint32_t requested_chunks, uint8_t* output,
                             uint32_t capacity, uint32_t* bytes_used) {
  const uint8_t nibble = texture_code_from_format(format);
  if (!texture || length == 0 || nibble == 0 || compressor > Hap_Compressor_Snappy || !output ||
      !bytes_used || requested_chunks == 0)
    return HapResult_Bad_Arguments;
  if (capacity < max_texture_encoded_length(length, format, compressor, requested_chunks))
    return HapResult_Buffer_Too_Small;

  uint32_t header = length > 0xFFFFFF ? 8 : 4;
  uint64_t content_length = length;
  uint8_t type = (Hap_Storage_Raw << 4) | nibble;
  if (compressor == Hap_Compressor_Snappy) {
    const uint32_t count = limit_chunk_count(length, format, requested_chunks);
    header = uint64_t(length) + 5ull * count + 12 > 0xFFFFFF ? 8 : 4;
    const uint64_t chunked =
        write_chunked_content(texture, length, count, output + header, capacity - header);
    if (chunked == 0) return HapResult_Internal_Error;
    if (chunked < uint64_t(length) + header) {
      content_length = chunked;
      type = (Hap_Storage_Chunked << 4) | nibble;
    }
  }
  if (type >> 4 == Hap_Storage_Raw) std::memcpy(output + header, texture, length);
  write_section_header(output, header, uint32_t(content_length), type);
  *bytes_used = uint32_t(header + content_length);
  return HapResult_No_Error;
}

HapResult hap_encode(uint32_t texture_count, const uint8_t* const* textures, const uint32_t* lengths,
                     const uint32_t* formats, const uint32_t* compressors,
                     const uint32_t* requested_chunks, uint8_t* output, uint32_t capacity,
                     uint32_t* bytes_used) {
  if (texture_count < 1 || texture_count > 2 || !textures || !lengths || !formats ||
      !compressors || !requested_chunks || !output || capacity == 0 || !bytes_used)
    return HapResult_Bad_Arguments;
  for (uint32_t i = 0; i < texture_count; ++i)
    if (requested_chunks[i] == 0) return HapResult_Bad_Arguments;
  if (texture_count == 1)
    return hap_encode_texture(textures[0], lengths[0], formats[0], compressors[0],
                              requested_chunks[0], output, capacity, bytes_used);

  auto pairs_with_other = [](uint32_t f) {
    return f == Hap_Texture_Format_YCoCg_DXT5 || f == Hap_Texture_Format_A_RGTC1;
  };
  if (!pairs_with_other(formats[0]) && !pairs_with_other(formats[1])) return HapResult_Bad_Arguments;

  // Every texture section is smaller than length + 5 x count + 12, so this sum
  // bounds the container's content.
  uint64_t bound = 0;
  for (int i = 0; i < 2; ++i) bound += uint64_t(lengths[i]) + 5ull * requested_chunks[i] + 12;
  const uint32_t header = bound > 0xFFFFFF ? 8 : 4;
  if (capacity < header) return HapResult_Buffer_Too_Small;

  uint32_t written = 0;
  for (int i = 0; i < 2; ++i) {
    uint32_t used = 0;
    const HapResult r = hap_encode_texture(textures[i], lengths[i], formats[i], compressors[i],
                                           requested_chunks[i], output + header + written,
                                           capacity - header - written, &used);
    if (r != HapResult_No_Error) return r;
    written += used;
  }
  write_section_header(output, header, written, Hap_Section_Multiple_Textures);
  *bytes_used = header + written;
  return HapResult_No_Error;
}
