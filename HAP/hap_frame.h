// One HAP frame in memory: picture size, codec, texture and chunk counts and
// the buffer of its bytes. Packing one or two Dxt_Frame textures into it, and
// the reading side: taking a stored frame from a buffer or a file, checking
// what it holds and decoding one texture, chunks one after another or in
// parallel. Failures are std::runtime_error carrying the texts quoted (HAP
// format failures carry hap_result_text of the code).
#pragma once
#include <cstdint>
#include <cstdio>

#include "HAP/DXT_Frame.h"
#include "HAP/buffers_list.h"
#include "HAP/hap_format.h"

// The codec inside the per-thread encoder and the frame record.
enum Hap_Internal_Codec : uint32_t {
  Hap_Internal_DXT1 = 0,        // HAP
  Hap_Internal_DXT5 = 1,        // HAPA
  Hap_Internal_YCoCg_DXT5 = 2,  // HAPQ
  Hap_Internal_YCoCg_DXT5_RGTC1 = 3,  // HAPQA, two textures
  Hap_Internal_RGTC1 = 4,       // alpha only
  Hap_Internal_BC7 = 5,         // HAPR
};

struct Hap_Frame {
  uint32_t width = 0, height = 0;
  uint8_t* buffer = nullptr;
  uint64_t capacity = 0;      // buffer size; for a stored frame, its length
  uint32_t bytes_used = 0;    // encoded length (0 until packed)
  uint32_t texture_count = 0; // 1, or 2 for HAPQA
  uint32_t chunk_count_1 = 0, chunk_count_2 = 0;
  uint32_t codec = 0;         // Hap_Internal_Codec
  bool owns_buffer = false;   // the buffer was allocated here (free_hap_frame releases it)
};

// ---- Set-up and packing ----
// Sets the record up with its own buffer of the maximum encoded size (snappy
// assumed whatever is asked later). Throws "Unknown codec".
void init_hap_frame(Hap_Frame* frame, uint32_t width, uint32_t height, uint32_t codec,
                    uint32_t chunk_count);
// Prepares the record to pack into a caller's buffer (capacity = its length).
// A missing buffer, or a length beyond the buffer's capacity, is refused with
// a runtime error rather than written past.
void init_hap_frame_on_buffer(Hap_Frame* frame, Padded_Buffer* buffer, uint32_t width,
                              uint32_t height, uint32_t codec, uint32_t chunk_count);
// Grows an own buffer to at least capacity bytes (contents not kept).
void reserve_hap_frame(Hap_Frame* frame, uint64_t capacity);
// Packs the texture(s) with the formats of the record's codec; chunking 1 asks
// for snappy chunks. Prints "ERROR : " and the result text and throws it on a
// format failure; "HAPQA : Dxt Buffer 2 == NULL", "Unknown codec".
void encode_hap_frame(Hap_Frame* frame, const Dxt_Frame* texture_1, const Dxt_Frame* texture_2,
                      uint32_t chunk_count, uint32_t chunking);
void encode_hap_frame_from_buffers(Hap_Frame* frame, const uint8_t* texture_1,
                                   const uint8_t* texture_2, uint32_t length_1, uint32_t length_2,
                                   uint32_t chunk_count, uint32_t chunking);
// The maximum encoded size of a frame; throws when it does not fit 32 bits.
uint32_t max_hap_frame_size(uint32_t width, uint32_t height, uint32_t codec, uint32_t chunk_count);
// The same for textures of the given lengths (the second used by HAPQA only).
uint32_t max_hap_frame_size_of_textures(uint32_t codec, const uint32_t lengths[2],
                                        uint32_t chunk_count);

// ---- Names and codec tables ----
const char* hap_result_text(uint32_t code);
const char* hap_codec_name(uint32_t codec);
// Block codec of each texture of a HAP codec; second must be given for HAPQA.
void hap_codec_to_dxt_codecs(uint32_t codec, uint32_t* first, uint32_t* second);

// Releases an own buffer (a borrowed one is only forgotten).
void free_hap_frame(Hap_Frame* frame);
void clear_hap_frame(Hap_Frame* frame);

// ---- Reading ----
// Points the record at a stored frame in a caller's buffer and parses it. A
// missing buffer, or a length beyond its capacity, is refused (runtime error).
void set_hap_frame_from_buffer(Hap_Frame* frame, uint32_t width, uint32_t height,
                               const Padded_Buffer* buffer);
// Reads a stored frame from a file into an own buffer and parses it.
void read_hap_frame_from_file(Hap_Frame* frame, uint32_t width, uint32_t height, std::FILE* file,
                              uint64_t offset, uint32_t length);
void read_file_at(std::FILE* file, uint8_t* buffer, uint64_t offset, uint32_t length);
// Finds texture count, chunk counts and codec of the stored frame.
void parse_hap_frame(Hap_Frame* frame);
// Decodes texture index into the target, whose length must be the decoded length.
void decode_hap_texture(const Hap_Frame* frame, Dxt_Frame* target, uint8_t texture_index);
void decode_hap_texture_parallel(const Hap_Frame* frame, Dxt_Frame* target, uint8_t texture_index);
// The two chunk-decoding callbacks: in order on this thread, or spread over
// the worker pool.
void decode_chunks_serial(Hap_Decode_Work work, Hap_Chunk_Decode_Record* records, uint32_t count,
                          void* info);
void decode_chunks_parallel(Hap_Decode_Work work, Hap_Chunk_Decode_Record* records, uint32_t count,
                            void* info);

// One summary line on standard output.
void print_hap_frame(const Hap_Frame* frame);
