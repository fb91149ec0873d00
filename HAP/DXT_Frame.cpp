// Dxt_Frame sizes and set-up.
#include "HAP/DXT_Frame.h"

#include <cstdlib>
#include <new>
#include <stdexcept>

uint32_t dxt_block_bytes(Dxt_Codec codec) {
  switch (codec) {
    case Dxt_Codec_DXT1:
    case Dxt_Codec_RGTC1:
      return 8;
    case Dxt_Codec_DXT5:
    case Dxt_Codec_BC7:
      return 16;
    default:
      throw std::runtime_error("Unknown dxt codec");
  }
}

uint32_t dxt_blocks_for_pixels(uint32_t n) { return uint32_t((uint64_t(n) + 3) / 4); }
uint32_t dxt_blocks_across(uint32_t width) { return dxt_blocks_for_pixels(width); }
uint32_t dxt_blocks_down(uint32_t height) { return dxt_blocks_for_pixels(height); }

uint64_t dxt_block_count(uint32_t width, uint32_t height) {
  return uint64_t(dxt_blocks_across(width)) * dxt_blocks_down(height);
}

uint32_t dxt_round_up_to_block(uint32_t n) { return dxt_blocks_for_pixels(n) * 4; }

uint64_t dxt_frame_size(uint32_t width, uint32_t height, Dxt_Codec codec) {
  return dxt_block_count(width, height) * dxt_block_bytes(codec);
}

namespace {

// Fills the record and returns its length, refusing sizes a frame cannot have.
uint64_t fill_frame(Dxt_Frame* frame, uint32_t width, uint32_t height, Dxt_Codec codec) {
  if (width == 0) throw std::logic_error("width > 0");
  if (height == 0) throw std::logic_error("height > 0");
  const uint64_t length = dxt_frame_size(width, height, codec);
  if (length > UINT32_MAX) throw std::runtime_error("Taille dxt frame > UINT32_MAX");
  frame->width = width;
  frame->height = height;
  frame->codec = codec;
  frame->length = length;
  return length;
}

}  // namespace

void set_dxt_frame_from_buffer(Dxt_Frame* frame, Padded_Buffer* buffer, uint32_t width,
                               uint32_t height, Dxt_Codec codec) {
  Dxt_Frame filled;
  const uint64_t length = fill_frame(&filled, width, height, codec);
  if (!buffer || !buffer->data)
    throw std::runtime_error("set_dxt_frame_from_buffer, buffer absent");
  if (buffer->capacity < length)
    throw std::runtime_error(
        "set_dxt_frame_from_buffer, le buffer n'est pas assez grand pour la frame dxt");
  filled.data = buffer->data;
  *frame = filled;
  buffer->length = uint32_t(length);
}

void alloc_dxt_frame(Dxt_Frame* frame, Padded_Buffer* buffer, uint32_t width, uint32_t height,
                     Dxt_Codec codec) {
  Dxt_Frame filled;
  const uint64_t length = fill_frame(&filled, width, height, codec);
  alloc_padded_buffer(buffer, uint32_t(length));
  filled.data = buffer->data;
  *frame = filled;
  buffer->length = uint32_t(length);
}

void set_dxt_frame_on_pointer(Dxt_Frame* frame, uint8_t* data, uint32_t width, uint32_t height,
                              Dxt_Codec codec) {
  fill_frame(frame, width, height, codec);
  frame->data = data;
}

void alloc_dxt_frame_data(Dxt_Frame* frame, uint32_t width, uint32_t height, Dxt_Codec codec) {
  Dxt_Frame filled;
  const uint64_t length = fill_frame(&filled, width, height, codec);
  filled.data = static_cast<uint8_t*>(std::malloc(length));
  if (!filled.data) throw std::bad_alloc();
  *frame = filled;
}

void free_dxt_frame_data(Dxt_Frame* frame) {
  if (!frame || !frame->data) return;
  std::free(frame->data);
  frame->data = nullptr;
}

void clear_dxt_frame(Dxt_Frame* frame) { *frame = Dxt_Frame{}; }
