// One slot's encoder: turns one frame at a time into one finished HAP frame.
// It holds everything a frame's work needs (settings, texture buffer with its
// one or two Dxt_Frame views, the output Hap_Frame, its own texture encoder
// contexts and a copy of the pixels), so that two slots never share memory.
// Order of use: create; open once; per frame set_frame, run (on the frame's
// thread), get_output (after that thread is joined); destroy.
#pragma once
#include <cstdint>

#include "HAP/DXT_Frame.h"
#include "HAP/hap_frame.h"
#include "texture_encoder/block_geometry.h"
#include "texture_encoder/dxt_encoder_context.h"

struct Hap_Cpu_Encoder {
  uint32_t width = 0, height = 0;
  uint8_t borrow_input = 0;  // use pushed pixels in place instead of copying them
  uint32_t codec = 0;        // Hap_Internal_Codec
  uint32_t chunking = 0;     // 1: snappy chunks
  uint32_t chunk_count = 1;  // 1 to 64
  uint8_t quality = 1;
  uint8_t* texture_buffer = nullptr;  // 32-byte aligned, both textures back to back
  uint32_t texture_buffer_size = 0;
  Dxt_Frame texture_1, texture_2;     // views into texture_buffer (texture_2: HAPQA only)
  Hap_Frame output;
  Dxt_Encoder_Context contexts[3]{};  // only slot 0 is used by the front
  uint8_t frame_threading = 0;
  uint32_t frame_slices = 1;          // with frame threading: slices of a frame's texture encoding
  uint32_t simd_mask = 0;
  uint8_t* planes[4] = {};            // input copy (plane 0 for packed pixels)
  uint32_t input_size = 0;            // bytes of the last frame copied
  uint32_t input_capacity = 0;        // bytes the copy can hold
  int64_t strides[4] = {};
  Copy_Kernel_Pair copy_kernels{};
  uint8_t current_context = 0;
};

// A texture-encoder context whose pixel format has not been set up.
constexpr uint32_t hap_pix_fmt_not_set = 16;

// A chunk count of 0 turns the snappy stage off (one chunk); others are capped
// at 64. Returns null (after "ERR : dim invalide") for a zero size, or when
// memory runs out.
Hap_Cpu_Encoder* hap_cpu_encoder_create(uint16_t width, uint16_t height, uint16_t chunk_count,
                                        uint32_t codec, uint8_t quality, uint8_t frame_threading,
                                        uint32_t simd_mask, uint8_t borrow_input);

// Sets up context slot 0 and the texture buffer. Throws "Unsupported HAP
// Codec", "Error opening encoder" or std::bad_alloc. With frame threading the
// texture encoder gets frame_slices threads (one, the frame's own, unless the
// front has more processors than slots).
void hap_cpu_encoder_open(Hap_Cpu_Encoder* encoder, uint32_t pix_fmt, uint16_t bits_per_pixel,
                          uint32_t pad_mode, uint32_t thread_request);
// Sets up context slot 1 or 2 ("Invalid encoder", "Error opening encoder 2").
// The slot shares the texture buffer laid out by hap_cpu_encoder_open, so a
// pad mode whose textures take another size is refused ("Error opening
// encoder 2"), as is an encoder not opened yet.
void hap_cpu_encoder_open_extra(Hap_Cpu_Encoder* encoder, uint32_t pix_fmt,
                                uint16_t bits_per_pixel, uint32_t pad_mode,
                                uint32_t thread_request, uint8_t context_slot);

// Takes the next frame: encodes its textures now (no frame threading) or
// copies its pixels (frame threading). The pixels are free again on return.
void hap_cpu_encoder_set_frame(Hap_Cpu_Encoder* encoder, const uint8_t* pixels, int64_t row_bytes,
                               uint8_t context_slot);

// The body of a frame's thread: encodes the textures if not yet done, then
// packs them into the output HAP frame. Packing failures throw.
void hap_cpu_encoder_run(Hap_Cpu_Encoder* encoder);

// The finished frame (0 bytes for a null encoder).
void hap_cpu_encoder_get_output(const Hap_Cpu_Encoder* encoder, const uint8_t** data,
                                uint32_t* size);

void hap_cpu_encoder_destroy(Hap_Cpu_Encoder* encoder);
