// The HAP frame record: set-up, packing, codec tables and names.
#include "HAP/hap_frame.h"

#include <cstdlib>
#include <new>
#include <stdexcept>

namespace {

struct Codec_Layout {
  uint32_t texture_count;
  uint32_t formats[2];
  Dxt_Codec dxt_codecs[2];
};

constexpr Codec_Layout codec_layouts[] = {
    {1, {Hap_Texture_Format_RGB_DXT1, 0}, {Dxt_Codec_DXT1, Dxt_Codec_DXT1}},
    {1, {Hap_Texture_Format_RGBA_DXT5, 0}, {Dxt_Codec_DXT5, Dxt_Codec_DXT5}},
    {1, {Hap_Texture_Format_YCoCg_DXT5, 0}, {Dxt_Codec_DXT5, Dxt_Codec_DXT5}},
    {2, {Hap_Texture_Format_YCoCg_DXT5, Hap_Texture_Format_A_RGTC1}, {Dxt_Codec_DXT5, Dxt_Codec_RGTC1}},
    {1, {Hap_Texture_Format_A_RGTC1, 0}, {Dxt_Codec_RGTC1, Dxt_Codec_RGTC1}},
    {1, {Hap_Texture_Format_RGBA_BPTC_UNORM, 0}, {Dxt_Codec_BC7, Dxt_Codec_BC7}},
};

const Codec_Layout& layout_of(uint32_t codec) {
  if (codec > Hap_Internal_BC7) throw std::runtime_error("Unknown codec");
  return codec_layouts[codec];
}

uint32_t frame_capacity(uint32_t width, uint32_t height, uint32_t codec, uint32_t chunk_count) {
  const Codec_Layout& layout = layout_of(codec);
  uint32_t lengths[2] = {0, 0};
  for (uint32_t i = 0; i < layout.texture_count; ++i) {
    const uint64_t size = dxt_frame_size(width, height, layout.dxt_codecs[i]);
    if (size > UINT32_MAX) throw std::runtime_error("Taille dxt frame > UINT32_MAX");
    lengths[i] = uint32_t(size);
  }
  return max_hap_frame_size_of_textures(codec, lengths, chunk_count);
}

void pack(Hap_Frame* frame, const uint8_t* texture_1, const uint8_t* texture_2, uint32_t length_1,
          uint32_t length_2, uint32_t chunk_count, uint32_t chunking) {
  const Codec_Layout& layout = layout_of(frame->codec);
  if (frame->codec == Hap_Internal_YCoCg_DXT5_RGTC1 && !texture_2)
    throw std::runtime_error("HAPQA : Dxt Buffer 2 == NULL");
  const uint8_t* textures[2] = {texture_1, texture_2};
  const uint32_t lengths[2] = {length_1, length_2};
  const uint32_t compressors[2] = {chunking, chunking};
  const uint32_t chunks[2] = {chunk_count, chunk_count};
  uint32_t used = 0;
  const uint32_t capacity = frame->capacity > UINT32_MAX ? UINT32_MAX : uint32_t(frame->capacity);
  const HapResult result = hap_encode(layout.texture_count, textures, lengths, layout.formats,
                                      compressors, chunks, frame->buffer, capacity, &used);
  frame->bytes_used = result == HapResult_No_Error ? used : 0;
  if (result != HapResult_No_Error) {
    std::printf("ERROR : %s\n", hap_result_text(result));
    throw std::runtime_error(hap_result_text(result));
  }
}

}  // namespace

void init_hap_frame(Hap_Frame* frame, uint32_t width, uint32_t height, uint32_t codec,
                    uint32_t chunk_count) {
  const uint32_t capacity = frame_capacity(width, height, codec, chunk_count);
  uint8_t* buffer = static_cast<uint8_t*>(std::malloc(capacity));
  if (!buffer) throw std::bad_alloc();
  *frame = Hap_Frame{};
  frame->width = width;
  frame->height = height;
  frame->codec = codec;
  frame->texture_count = layout_of(codec).texture_count;
  frame->buffer = buffer;
  frame->capacity = capacity;
  frame->owns_buffer = true;
  frame->chunk_count_1 = frame->chunk_count_2 = chunk_count;
}

void init_hap_frame_on_buffer(Hap_Frame* frame, Padded_Buffer* buffer, uint32_t width,
                              uint32_t height, uint32_t codec, uint32_t chunk_count) {
  // The length is the room the caller grants; it can never be more than the
  // block holds.
  if (!buffer || (!buffer->data && buffer->length != 0))
    throw std::runtime_error("init_hap_frame_on_buffer, buffer cible absent");
  if (buffer->length > buffer->capacity)
    throw std::runtime_error("init_hap_frame_on_buffer, longueur du buffer cible > sa capacite");
  *frame = Hap_Frame{};
  frame->width = width;
  frame->height = height;
  frame->codec = codec;
  frame->texture_count = codec == Hap_Internal_YCoCg_DXT5_RGTC1 ? 2 : 1;
  frame->chunk_count_1 = frame->chunk_count_2 = chunk_count;
  frame->buffer = buffer->data;
  frame->capacity = buffer->length;
}

void reserve_hap_frame(Hap_Frame* frame, uint64_t capacity) {
  if (frame->owns_buffer && frame->capacity >= capacity) return;
  uint8_t* buffer = static_cast<uint8_t*>(std::malloc(capacity ? capacity : 1));
  if (!buffer) throw std::bad_alloc();
  free_hap_frame(frame);
  frame->buffer = buffer;
  frame->capacity = capacity;
  frame->owns_buffer = true;
  frame->bytes_used = 0;
}

void encode_hap_frame(Hap_Frame* frame, const Dxt_Frame* texture_1, const Dxt_Frame* texture_2,
                      uint32_t chunk_count, uint32_t chunking) {
  layout_of(frame->codec);
  const bool two = frame->codec == Hap_Internal_YCoCg_DXT5_RGTC1;
  if (two && !texture_2) throw std::runtime_error("HAPQA : Dxt Buffer 2 == NULL");
  pack(frame, texture_1->data, two ? texture_2->data : nullptr, uint32_t(texture_1->length),
       two ? uint32_t(texture_2->length) : 0, chunk_count, chunking);
}

void encode_hap_frame_from_buffers(Hap_Frame* frame, const uint8_t* texture_1,
                                   const uint8_t* texture_2, uint32_t length_1, uint32_t length_2,
                                   uint32_t chunk_count, uint32_t chunking) {
  pack(frame, texture_1, texture_2, length_1, length_2, chunk_count, chunking);
}

uint32_t max_hap_frame_size(uint32_t width, uint32_t height, uint32_t codec, uint32_t chunk_count) {
  return frame_capacity(width, height, codec, chunk_count);
}

uint32_t max_hap_frame_size_of_textures(uint32_t codec, const uint32_t lengths[2],
                                        uint32_t chunk_count) {
  const Codec_Layout& layout = layout_of(codec);
  const uint32_t chunks[2] = {chunk_count, chunk_count};
  const uint32_t capacity = max_frame_encoded_length(layout.texture_count, lengths, layout.formats, chunks);
  // 0 is a refusal: a chunk count of 0, or a frame beyond 32 bits.
  if (capacity == 0) throw std::runtime_error(hap_result_text(HapResult_Bad_Arguments));
  return capacity;
}

const char* hap_result_text(uint32_t code) {
  static const char* const texts[] = {"HapResult_No_Error", "HapResult_Bad_Arguments",
                                      "HapResult_Buffer_Too_Small", "HapResult_Bad_Frame",
                                      "HapResult_Internal_Error"};
  return code < 5 ? texts[code] : "HapResult : Error unknown";
}

const char* hap_codec_name(uint32_t codec) {
  static const char* const names[] = {"HAP", "HAPA", "HAPQ", "HAPQA", "HAPAlpha Only", "HAPBC7"};
  return codec < 6 ? names[codec] : "Unknown";
}

void hap_codec_to_dxt_codecs(uint32_t codec, uint32_t* first, uint32_t* second) {
  if (codec > Hap_Internal_BC7) throw std::runtime_error("Invalid codec");
  const Codec_Layout& layout = codec_layouts[codec];
  if (layout.texture_count == 2 && !second) throw std::runtime_error("Hapqa : sec text == NULL");
  *first = layout.dxt_codecs[0];
  if (layout.texture_count == 2) *second = layout.dxt_codecs[1];
}

void free_hap_frame(Hap_Frame* frame) {
  if (!frame || !frame->buffer) return;
  if (frame->owns_buffer) std::free(frame->buffer);
  frame->buffer = nullptr;
  frame->owns_buffer = false;
}

void clear_hap_frame(Hap_Frame* frame) { *frame = Hap_Frame{}; }

void print_hap_frame(const Hap_Frame* frame) {
  static const char* const names[] = {"HAP", "HAPA", "HAPQ", "HAPQA", "HAPAlphaOnly", "HAPBC7"};
  std::printf("Hap Frame. Resolution : %u x %u ; Codec : %s ; Chunk count : %u", frame->width,
              frame->height, frame->codec < 6 ? names[frame->codec] : "Codec invalide",
              frame->chunk_count_1);
  if (frame->texture_count == 2) std::printf(" ; %u", frame->chunk_count_2);
  std::printf(" ; Data size : %llu ; Length used data : %u\n",
              static_cast<unsigned long long>(frame->capacity), frame->bytes_used);
}
