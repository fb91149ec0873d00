// Reading stored HAP frames: from a buffer or a file, parsing and decoding.
#include <cinttypes>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

#include "HAP/hap_frame.h"
#include "platform/file_io.h"
#include "platform/parallel_for.h"

namespace {

void check(HapResult result) {
  if (result != HapResult_No_Error) throw std::runtime_error(hap_result_text(result));
}

uint32_t stored_length(const Hap_Frame* frame) {
  return frame->capacity > UINT32_MAX ? UINT32_MAX : uint32_t(frame->capacity);
}

void decode_texture(const Hap_Frame* frame, Dxt_Frame* target, uint8_t texture_index,
                    Hap_Decode_Callback callback, const char* length_message) {
  if (texture_index >= frame->texture_count) {
    std::printf("Texture count : %u. NumTexture : %u\n", frame->texture_count, texture_index);
    throw std::runtime_error("Invalid texture count");
  }
  uint32_t used = 0, format = 0;
  const uint32_t capacity = target->length > UINT32_MAX ? UINT32_MAX : uint32_t(target->length);
  check(hap_decode(frame->buffer, stored_length(frame), texture_index, callback, nullptr,
                   target->data, capacity, &used, &format));
  if (used != target->length) throw std::runtime_error(length_message);
}

}  // namespace

void set_hap_frame_from_buffer(Hap_Frame* frame, uint32_t width, uint32_t height,
                               const Padded_Buffer* buffer) {
  if (!buffer || !buffer->data)
    throw std::runtime_error("set_hap_frame_from_buffer, buffer de la frame hap absent");
  if (buffer->length > buffer->capacity)
    throw std::runtime_error("set_hap_frame_from_buffer, longueur du buffer > sa capacite");
  *frame = Hap_Frame{};
  frame->width = width;
  frame->height = height;
  frame->buffer = buffer->data;
  frame->capacity = frame->bytes_used = buffer->length;
  parse_hap_frame(frame);
}

void read_file_at(std::FILE* file, uint8_t* buffer, uint64_t offset, uint32_t length) {
  if (offset >= uint64_t(INT64_MAX))
    throw std::runtime_error("Seek from start error (offset > INT64_MAX) : " + std::to_string(offset) +
                             ". INT64_MAX : " + std::to_string(INT64_MAX) + ". ");
  const int seek = platform::file_seek64(file, int64_t(offset), SEEK_SET);
  if (seek != 0)
    throw std::runtime_error("Seek from start error (return != 0) : " + std::to_string(seek) +
                             ". Offset from start : " + std::to_string(offset) + ". ");
  const size_t read = std::fread(buffer, 1, length, file);
  if (read != length) {
    std::printf("Nb bytes read request : %u. Nb bytes read : %zu\n", length, read);
    throw std::runtime_error("File read error");
  }
}

void read_hap_frame_from_file(Hap_Frame* frame, uint32_t width, uint32_t height, std::FILE* file,
                              uint64_t offset, uint32_t length) {
  Hap_Frame read;
  read.width = width;
  read.height = height;
  reserve_hap_frame(&read, length);
  try {
    read_file_at(file, read.buffer, offset, length);
    read.capacity = read.bytes_used = length;
    parse_hap_frame(&read);
  } catch (...) {
    free_hap_frame(&read);
    throw;
  }
  *frame = read;
}

void parse_hap_frame(Hap_Frame* frame) {
  const uint32_t length = stored_length(frame);
  uint32_t count = 0;
  check(get_texture_count(frame->buffer, length, &count));
  check(get_texture_chunk_count(frame->buffer, length, 0, &frame->chunk_count_1));
  frame->texture_count = count;
  uint32_t format = 0;
  if (count == 1) {
    check(get_texture_format(frame->buffer, length, 0, &format));
    switch (format) {
      case Hap_Texture_Format_YCoCg_DXT5: frame->codec = Hap_Internal_YCoCg_DXT5; break;
      case Hap_Texture_Format_RGB_DXT1: frame->codec = Hap_Internal_DXT1; break;
      case Hap_Texture_Format_RGBA_DXT5: frame->codec = Hap_Internal_DXT5; break;
      case Hap_Texture_Format_A_RGTC1: frame->codec = Hap_Internal_RGTC1; break;
      case Hap_Texture_Format_RGBA_BPTC_UNORM: frame->codec = Hap_Internal_BC7; break;
      default: throw std::runtime_error("Hap Frame format unknown");
    }
  } else if (count == 2) {
    check(get_texture_format(frame->buffer, length, 0, &format));
    if (format != Hap_Texture_Format_YCoCg_DXT5)
      throw std::runtime_error("First tex (of two) not YcoCg DXT5");
    check(get_texture_format(frame->buffer, length, 1, &format));
    if (format != Hap_Texture_Format_A_RGTC1) throw std::runtime_error("Second tex (of two) not RGTC1");
    check(get_texture_chunk_count(frame->buffer, length, 1, &frame->chunk_count_2));
    frame->codec = Hap_Internal_YCoCg_DXT5_RGTC1;
  } else {
    throw std::runtime_error("Invalid texture count");
  }
}

void decode_hap_texture(const Hap_Frame* frame, Dxt_Frame* target, uint8_t texture_index) {
  decode_texture(frame, target, texture_index, decode_chunks_serial,
                 "Nb bytes decode != nb bytes dxt");
}

void decode_hap_texture_parallel(const Hap_Frame* frame, Dxt_Frame* target, uint8_t texture_index) {
  decode_texture(frame, target, texture_index, decode_chunks_parallel,
                 "Nb byte decode != nb bytes dxt");
}

void decode_chunks_serial(Hap_Decode_Work work, Hap_Chunk_Decode_Record* records, uint32_t count,
                          void*) {
  for (uint32_t i = 0; i < count; ++i) work(records, i);
}

void decode_chunks_parallel(Hap_Decode_Work work, Hap_Chunk_Decode_Record* records, uint32_t count,
                            void*) {
  if (count == 1) {
    work(records, 0);
    return;
  }
  platform::parallel_for(0, count, [&](int64_t i) { work(records, uint32_t(i)); });
}
