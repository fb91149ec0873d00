// The per-slot encoder: texture encoding and HAP packing of one frame.
#include "HAP/hap_cpu_encoder.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <stdexcept>

#include "texture_encoder/frame_driver.h"

namespace {

constexpr uint32_t max_chunks = 64;

uint32_t texture_code_of(uint32_t codec, uint16_t bits_per_pixel) {
  switch (codec) {
    case Hap_Internal_DXT1: return Texture_Code_Dxt1;
    case Hap_Internal_DXT5: return Texture_Code_Dxt5;
    case Hap_Internal_YCoCg_DXT5: return Texture_Code_Ycocg_Dxt5;
    case Hap_Internal_YCoCg_DXT5_RGTC1: return Texture_Code_Ycocg_Dxt5_Rgtc1;
    case Hap_Internal_RGTC1:
      return bits_per_pixel == 24 || bits_per_pixel == 48 ? Texture_Code_Rgtc1_Luma
                                                           : Texture_Code_Rgtc1_Alpha;
    case Hap_Internal_BC7: return Texture_Code_Bc7;
    default: throw std::runtime_error("Unsupported HAP Codec");
  }
}

uint32_t thread_request_for(const Hap_Cpu_Encoder* encoder, uint32_t request) {
  // With frame threading each frame already has a thread of its own.
  return encoder->frame_threading ? encoder->frame_slices : request;
}

bool no_alpha_source(uint16_t bits_per_pixel) { return bits_per_pixel == 24 || bits_per_pixel == 48; }

// Points the texture views into the buffer, and makes sure the output can hold
// the worst case of these exact sizes (sizes that leave partial blocks out may
// be chunked differently from the full-block sizes the output was made for).
void lay_out_textures(Hap_Cpu_Encoder* e, uint32_t size_1, uint32_t size_2) {
  uint32_t first = 0, second = 0;
  hap_codec_to_dxt_codecs(e->codec, &first, &second);
  e->texture_1 = Dxt_Frame{e->width, e->height, e->texture_buffer, size_1, Dxt_Codec(first)};
  e->texture_2 = Dxt_Frame{};
  if (e->codec == Hap_Internal_YCoCg_DXT5_RGTC1)
    e->texture_2 = Dxt_Frame{e->width, e->height, e->texture_buffer + size_1, size_2, Dxt_Codec(second)};
  const uint32_t lengths[2] = {size_1, size_2};
  const uint32_t needed = max_hap_frame_size_of_textures(e->codec, lengths, e->chunk_count);
  reserve_hap_frame(&e->output, needed);
}

}  // namespace

Hap_Cpu_Encoder* hap_cpu_encoder_create(uint16_t width, uint16_t height, uint16_t chunk_count,
                                        uint32_t codec, uint8_t quality, uint8_t frame_threading,
                                        uint32_t simd_mask, uint8_t borrow_input) {
  if (width == 0 || height == 0) {
    std::printf("ERR : dim invalide\n");
    return nullptr;
  }
  Hap_Cpu_Encoder* e = new (std::nothrow) Hap_Cpu_Encoder;
  if (!e) {
    std::printf("ERR : out of memory\n");
    return nullptr;
  }
  e->width = width;
  e->height = height;
  e->chunking = chunk_count == 0 ? 0 : 1;
  e->chunk_count = chunk_count == 0 ? 1 : std::min<uint32_t>(chunk_count, max_chunks);
  e->codec = codec;
  e->quality = quality;
  e->frame_threading = frame_threading;
  e->simd_mask = simd_mask;
  e->borrow_input = borrow_input;
  for (Dxt_Encoder_Context& c : e->contexts) c.pix_fmt = hap_pix_fmt_not_set;
  if (!borrow_input)
    install_copy_kernel_pair(&e->copy_kernels, Simd_Flag_Enable | Simd_Flag_Avx | Simd_Flag_Avx2);
  try {
    init_hap_frame(&e->output, width, height, codec, e->chunk_count);
  } catch (const std::bad_alloc&) {
    // The caller only sees the null result; the reason is said here.
    std::printf("ERR : out of memory\n");
    delete e;
    return nullptr;
  } catch (...) {
    delete e;
    throw;
  }
  return e;
}

void hap_cpu_encoder_open(Hap_Cpu_Encoder* e, uint32_t pix_fmt, uint16_t bits_per_pixel,
                          uint32_t pad_mode, uint32_t thread_request) {
  if (!e) return;
  const uint32_t code = texture_code_of(e->codec, bits_per_pixel);
  uint64_t size_1 = dxt_texture_size(uint16_t(e->width), uint16_t(e->height), code, pad_mode);
  uint64_t size_2 = 0;
  if (code == Texture_Code_Ycocg_Dxt5_Rgtc1) {
    size_1 = dxt_texture_size(uint16_t(e->width), uint16_t(e->height), Texture_Code_Ycocg_Dxt5, pad_mode);
    size_2 = dxt_texture_size(uint16_t(e->width), uint16_t(e->height), Texture_Code_Rgtc1_Alpha, pad_mode);
  }
  // Creation refused any frame whose textures exceed 32 bits, so these fit.
  const uint32_t total = uint32_t(size_1 + size_2);
  if (aligned_buffer_alloc(&e->texture_buffer, e->texture_buffer_size, total) != 0) {
    e->texture_buffer_size = 0;
    throw std::bad_alloc();
  }
  e->texture_buffer_size = std::max(e->texture_buffer_size, total);
  lay_out_textures(e, uint32_t(size_1), uint32_t(size_2));

  Dxt_Encoder_Context& context = e->contexts[0];
  context.source_has_no_alpha = no_alpha_source(bits_per_pixel);
  if (setup_dxt_encoder(&context, uint16_t(e->width), uint16_t(e->height), code, e->quality, 0,
                        pix_fmt, pad_mode, thread_request_for(e, thread_request), e->simd_mask) != 0)
    throw std::runtime_error("Error opening encoder");
}

void hap_cpu_encoder_open_extra(Hap_Cpu_Encoder* e, uint32_t pix_fmt, uint16_t bits_per_pixel,
                                uint32_t pad_mode, uint32_t thread_request, uint8_t context_slot) {
  if (!e) return;
  const uint32_t code = texture_code_of(e->codec, bits_per_pixel);
  if (context_slot != 1 && context_slot != 2) throw std::runtime_error("Invalid encoder");
  // The extra context writes into the texture buffer that opening laid out; a
  // pad mode giving other block counts (or no opening yet) would write past it
  // or leave the blocks in the wrong places.
  const uint64_t size = dxt_texture_size(uint16_t(e->width), uint16_t(e->height), code, pad_mode);
  const uint64_t laid_out = e->texture_1.length + e->texture_2.length;
  if (size != laid_out) {
    std::printf("ERR : encodeur %u : texture de %llu octets, buffer ouvert pour %llu\n",
                unsigned(context_slot), static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(laid_out));
    throw std::runtime_error("Error opening encoder 2");
  }
  Dxt_Encoder_Context& context = e->contexts[context_slot];
  context.source_has_no_alpha = no_alpha_source(bits_per_pixel);
  if (setup_dxt_encoder(&context, uint16_t(e->width), uint16_t(e->height), code, e->quality, 0,
                        pix_fmt, pad_mode, thread_request_for(e, thread_request), e->simd_mask) != 0)
    throw std::runtime_error("Error opening encoder 2");
}

void hap_cpu_encoder_set_frame(Hap_Cpu_Encoder* e, const uint8_t* pixels, int64_t row_bytes,
                               uint8_t context_slot) {
  if (!e) return;
  if (context_slot > 2) throw std::runtime_error("Invalid encodeur index");
  e->current_context = context_slot;
  if (!e->frame_threading) {
    const uint8_t* const planes[4] = {pixels, nullptr, nullptr, nullptr};
    const int64_t strides[4] = {row_bytes, 0, 0, 0};
    encode_dxt_frame(&e->contexts[context_slot], e->texture_buffer, planes, strides);
    return;
  }
  // The copy takes whole rows; a frame too large for 32 bits cannot be copied.
  const uint64_t size = uint64_t(row_bytes < 0 ? -row_bytes : row_bytes) * e->height;
  if (size > UINT32_MAX) throw std::runtime_error("Taille frame source > UINT32_MAX");
  e->strides[0] = row_bytes;
  e->input_size = uint32_t(size);
  if (e->borrow_input) {
    e->planes[0] = const_cast<uint8_t*>(pixels);
    return;
  }
  if (aligned_buffer_alloc(&e->planes[0], e->input_capacity, size) != 0) {
    e->input_capacity = 0;
    throw std::bad_alloc();
  }
  e->input_capacity = std::max<uint32_t>(e->input_capacity, uint32_t(size));
  copy_with_kernel_pair(&e->copy_kernels, e->planes[0], pixels, size);
}

void hap_cpu_encoder_run(Hap_Cpu_Encoder* e) {
  if (!e) return;
  if (e->frame_threading) {
    const uint8_t* const planes[4] = {e->planes[0], e->planes[1], e->planes[2], e->planes[3]};
    encode_dxt_frame(&e->contexts[e->current_context], e->texture_buffer, planes, e->strides);
  }
  const bool two = e->codec == Hap_Internal_YCoCg_DXT5_RGTC1;
  encode_hap_frame(&e->output, &e->texture_1, two ? &e->texture_2 : nullptr, e->chunk_count,
                   e->chunking);
}

void hap_cpu_encoder_get_output(const Hap_Cpu_Encoder* e, const uint8_t** data, uint32_t* size) {
  *data = e ? e->output.buffer : nullptr;
  *size = e ? e->output.bytes_used : 0;
}

void hap_cpu_encoder_destroy(Hap_Cpu_Encoder* e) {
  if (!e) return;
  free_hap_frame(&e->output);
  aligned_buffer_free(&e->texture_buffer);
  if (!e->borrow_input)
    for (uint8_t*& plane : e->planes)
      if (plane) aligned_buffer_free(&plane);
  delete e;
}
