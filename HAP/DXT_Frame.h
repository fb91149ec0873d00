// One texture of 4x4-pixel blocks in memory, its sizes and set-up, and texture
// operations that work on the blocks without decoding whole pictures:
// conversion between block codecs, cropping by whole blocks, empty-border and
// alpha detection, a canonical form for uniform blocks, block decoders and
// debugging dumps. Failures are std::runtime_error with the texts quoted;
// broken preconditions (zero size or length) are std::logic_error.
#pragma once
#include <cstdint>

#include "HAP/buffers_list.h"

// Block codecs and their bytes per block. A type of its own, so that the
// geometry helpers below do not mix with the texture engine's, which take a
// texture code.
enum Dxt_Codec : uint32_t { Dxt_Codec_DXT1 = 0, Dxt_Codec_DXT5 = 1, Dxt_Codec_RGTC1 = 2, Dxt_Codec_BC7 = 3 };

struct Dxt_Frame {
  uint32_t width = 0, height = 0;  // pixels, both non-zero
  uint8_t* data = nullptr;         // blocks row by row, left to right
  uint64_t length = 0;             // bytes of block data, at most 0xFFFFFFFF
  Dxt_Codec codec = Dxt_Codec_DXT1;
};

// ---- Geometry ----
// Bytes per block (8 or 16); "Unknown dxt codec" for another codec.
uint32_t dxt_block_bytes(Dxt_Codec codec);
// ceil(n / 4): a partial edge block counts as a whole one.
uint32_t dxt_blocks_for_pixels(uint32_t n);
uint32_t dxt_blocks_across(uint32_t width);
uint32_t dxt_blocks_down(uint32_t height);
uint64_t dxt_block_count(uint32_t width, uint32_t height);
// The next multiple of 4 at or above n.
uint32_t dxt_round_up_to_block(uint32_t n);
// Bytes of a whole frame, in 64 bits so that no size wraps.
uint64_t dxt_frame_size(uint32_t width, uint32_t height, Dxt_Codec codec);

// ---- Record set-up ----
// Points the frame at the buffer's data with the frame's size and sets the
// buffer's length. Throws "Taille dxt frame > UINT32_MAX",
// "set_dxt_frame_from_buffer, buffer absent" (no record or no block) or
// "set_dxt_frame_from_buffer, le buffer n'est pas assez grand pour la frame dxt".
void set_dxt_frame_from_buffer(Dxt_Frame* frame, Padded_Buffer* buffer, uint32_t width,
                               uint32_t height, Dxt_Codec codec);
// The same, first growing the buffer to the frame's size.
void alloc_dxt_frame(Dxt_Frame* frame, Padded_Buffer* buffer, uint32_t width, uint32_t height,
                     Dxt_Codec codec);
// Points the frame at the caller's blocks; the caller guarantees the room.
void set_dxt_frame_on_pointer(Dxt_Frame* frame, uint8_t* data, uint32_t width, uint32_t height,
                              Dxt_Codec codec);
// Fills the frame and gives it blocks of its own, released by free_dxt_frame_data.
void alloc_dxt_frame_data(Dxt_Frame* frame, uint32_t width, uint32_t height, Dxt_Codec codec);
void free_dxt_frame_data(Dxt_Frame* frame);
void clear_dxt_frame(Dxt_Frame* frame);

// ---- Texture operations ----
// DXT5 -> DXT1 (colour halves), DXT5 -> RGTC1 (alpha halves), DXT1 -> DXT5
// (opaque alpha added). Colour blocks keep the colours they show: a block
// of one palette form that the other cannot hold is rewritten (exactly where
// it can be, else, for DXT5, fitted again to four colours when that shows it
// better than its own bytes). Sizes must match and the target must hold the
// result.
void convert_dxt_frame(const Dxt_Frame* source, Dxt_Frame* target);
// Copies the box of blocks starting at (first_column, first_row) into target,
// whose block grid must be exactly the box; the box must lie inside the source.
void crop_dxt_frame(const Dxt_Frame* source, Dxt_Frame* target, uint16_t first_column,
                    uint16_t first_row, uint16_t columns, uint16_t rows);
// Empty border in whole blocks; mode 1 treats fully transparent blocks (DXT5,
// RGTC1) as empty, mode 0 black ones (DXT1). Null outputs are refused
// ("Crop detect : sortie absente").
void detect_dxt_crop(const Dxt_Frame* frame, uint16_t* top, uint16_t* bottom, uint16_t* left,
                     uint16_t* right, uint8_t mode);
void detect_dxt_crop_alpha(const Dxt_Frame* frame, uint16_t* top, uint16_t* bottom, uint16_t* left,
                           uint16_t* right);
// Black mode for DXT1, alpha mode for DXT5, nothing for other codecs.
void detect_dxt_crop_auto(const Dxt_Frame* frame, uint16_t* top, uint16_t* bottom, uint16_t* left,
                          uint16_t* right);
// True when some block of a DXT5 or RGTC1 frame may hold alpha below 255.
bool detect_dxt_need_alpha(const Dxt_Frame* frame);
// Rewrites blocks whose pixels all use one palette entry into one fixed form.
void canonicalize_uniform_dxt_blocks(Dxt_Frame* frame);

// ---- Block helpers ----
// The eight palette values of an alpha block (RGTC1, first half of DXT5).
void dxt_alpha_palette(const uint8_t* alpha_block, uint8_t values[8]);
void decode_alpha_indices(const uint8_t* alpha_block, uint8_t indices[16]);
// The 16 two-bit indices of a colour block (DXT1, second half of DXT5), pixel i at bits 2i.
uint32_t dxt_colour_index_word(const uint8_t* colour_block);
// A 5:6:5 colour as 8-bit R, G, B, each channel's top bits repeated below it.
void dxt_colour_to_rgb(uint32_t colour, uint8_t rgb[3]);
// True with the value when all sixteen decoded alphas are equal, else false with 0.
bool dxt_alpha_block_uniform(const uint8_t* alpha_block, uint8_t* value);
// The 16 pixels of one colour block as R, G, B: three colours and black when
// it is a DXT1 block whose colour 0 is not above colour 1, else four colours.
void decode_colour_block(const uint8_t* colour_block, bool dxt1, uint8_t out[48]);
// Decode the block at a byte offset of the frame: 16 pixels of R, G, B (DXT1,
// YCoCg) or of A, R, G, B (DXT5).
void decode_dxt1_block(const Dxt_Frame* frame, uint64_t offset, uint8_t out[48]);
void decode_dxt5_block(const Dxt_Frame* frame, uint64_t offset, uint8_t out[64]);
void decode_ycocg_block(const Dxt_Frame* frame, uint64_t offset, uint8_t out[48]);

// ---- Debugging dumps, on standard output ----
void print_dxt_frame(const Dxt_Frame* frame);
// A DXT1, DXT5 or RGTC1 record without a whole first block is refused rather
// than read past ("frame->length > 0" for an empty one).
void print_first_dxt_block(const Dxt_Frame* frame);
void print_index_bits(uint32_t word);
