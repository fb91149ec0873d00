// The HAP frame byte format: sections with short (4-byte) or long (8-byte)
// headers, texture sections whose data are stored raw or cut into chunks that
// are snappy-compressed one by one, and an optional container of two textures.
// Plain functions over caller-owned buffers; they keep no state, never throw
// and report every outcome as a HapResult.
#pragma once
#include <cstdint>

enum HapResult : uint32_t {
  HapResult_No_Error = 0,
  HapResult_Bad_Arguments = 1,
  HapResult_Buffer_Too_Small = 2,
  HapResult_Bad_Frame = 3,
  HapResult_Internal_Error = 4,
};

// Texture formats, by their OpenGL numbers (YCoCg-DXT5 has none and uses 1).
enum Hap_Texture_Format : uint32_t {
  Hap_Texture_Format_YCoCg_DXT5 = 1,
  Hap_Texture_Format_RGB_DXT1 = 0x83F0,
  Hap_Texture_Format_RGBA_DXT5 = 0x83F3,
  Hap_Texture_Format_A_RGTC1 = 0x8DBB,
  Hap_Texture_Format_RGBA_BPTC_UNORM = 0x8E8C,
};

// Second-stage compressor asked of the writer.
enum Hap_Compressor : uint32_t { Hap_Compressor_None = 0, Hap_Compressor_Snappy = 1 };

// Section types.
enum Hap_Section_Type : uint8_t {
  Hap_Section_Decode_Instructions = 0x01,
  Hap_Section_Chunk_Compressor_Table = 0x02,
  Hap_Section_Chunk_Size_Table = 0x03,
  Hap_Section_Chunk_Offset_Table = 0x04,
  Hap_Section_Multiple_Textures = 0x0D,
};

// High nibble of a texture section type, and per-chunk compressor codes.
enum Hap_Storage_Code : uint8_t { Hap_Storage_Raw = 0x0A, Hap_Storage_Snappy = 0x0B, Hap_Storage_Chunked = 0x0C };

// The largest chunk count whose decode-instructions length still fits 24 bits.
constexpr uint32_t hap_max_chunk_count = 0x333327;

// One chunk of a texture being decoded.
struct Hap_Chunk_Decode_Record {
  uint32_t result;
  uint32_t compressor;
  const uint8_t* stored;
  uint64_t stored_length;
  uint8_t* destination;
  uint64_t decoded_length;
};

using Hap_Decode_Work = void (*)(Hap_Chunk_Decode_Record* records, uint32_t index);
// Must call work(records, i) once for every i below count, on any threads, and
// return only when all calls have returned.
using Hap_Decode_Callback = void (*)(Hap_Decode_Work work, Hap_Chunk_Decode_Record* records,
                                     uint32_t count, void* info);

// ---- Writing ----

// Header length 4 writes the short form (24-bit length), anything else the long form.
void write_section_header(uint8_t* buffer, uint32_t header_length, uint32_t content_length,
                          uint8_t type);

// The chunk count used for a texture: the request capped at hap_max_chunk_count
// and lowered until it divides the block count; 1 when there is no whole block.
uint32_t limit_chunk_count(uint32_t texture_length, uint32_t format, uint32_t requested);

// Worst-case size of one encoded texture section.
uint64_t max_texture_encoded_length(uint64_t texture_length, uint32_t format, uint32_t compressor,
                                    uint32_t requested_chunks);

// Worst-case size of a whole frame (container header included), snappy assumed
// for every texture; 0 for refused arguments or a size beyond 32 bits.
uint32_t max_frame_encoded_length(uint32_t texture_count, const uint32_t* lengths,
                                  const uint32_t* formats, const uint32_t* requested_chunks);

// Writes one texture section. Checks the capacity against the worst case
// before writing anything.
HapResult hap_encode_texture(const uint8_t* texture, uint32_t length, uint32_t format,
                             uint32_t compressor, uint32_t requested_chunks, uint8_t* output,
                             uint32_t capacity, uint32_t* bytes_used);

// Writes a frame of one texture, or of two (one of them YCoCg-DXT5 or RGTC1)
// inside a multiple-texture container.
HapResult hap_encode(uint32_t texture_count, const uint8_t* const* textures, const uint32_t* lengths,
                     const uint32_t* formats, const uint32_t* compressors,
                     const uint32_t* requested_chunks, uint8_t* output, uint32_t capacity,
                     uint32_t* bytes_used);

// ---- Reading ----
// Every reader checks each header against the bytes that hold it, and every
// chunk against its section, before reading: a malformed frame gives
// HapResult_Bad_Frame.

// The content, content length and type of texture section index (0 or 1).
HapResult find_texture_section(const uint8_t* frame, uint32_t frame_length, uint32_t index,
                               const uint8_t** content, uint32_t* content_length, uint8_t* type);

// Decodes the content of one texture section into output. bytes_used may be null.
HapResult decode_texture_section(const uint8_t* content, uint32_t content_length, uint8_t type,
                                 Hap_Decode_Callback callback, void* info, uint8_t* output,
                                 uint32_t capacity, uint32_t* bytes_used, uint32_t* format);

// The work function handed to the callback: decodes chunk index.
void decode_chunk(Hap_Chunk_Decode_Record* records, uint32_t index);

// Finds texture index of a frame and decodes it. bytes_used may be null.
HapResult hap_decode(const uint8_t* frame, uint32_t frame_length, uint32_t index,
                     Hap_Decode_Callback callback, void* info, uint8_t* output, uint32_t capacity,
                     uint32_t* bytes_used, uint32_t* format);

HapResult get_texture_count(const uint8_t* frame, uint32_t frame_length, uint32_t* count);
HapResult get_texture_chunk_count(const uint8_t* frame, uint32_t frame_length, uint32_t index,
                                  uint32_t* count);
HapResult get_texture_format(const uint8_t* frame, uint32_t frame_length, uint32_t index,
                             uint32_t* format);

// The texture format of a section type's low nibble, 0 when unknown.
uint32_t texture_format_from_code(uint8_t nibble);
// The low nibble of a texture format, 0 when unknown.
uint8_t texture_code_from_format(uint32_t format);
