// Work on one encoded HAP frame held in memory: re-encode it to another HAP
// codec (with an optional crop by whole blocks and canonical uniform blocks),
// decode it to DXT textures after checking what it holds, measure its empty
// border, and tell whether its alpha is opaque throughout.
//
// None of these throws for the failures it expects: each returns a text,
// empty on success, else a fixed French prefix and the cause, and sets its
// error flag (or result) to 1. A null flag or result is refused before
// anything else, without being written: the text says so (decode_hap_frame_to_dxt
// throws, like its other set-up failures). Widths and heights are in pixels;
// codecs are Hap_Internal_Codec values. Calls keep no state; buffers must not
// be shared between calls running at the same time, and one buffer record
// given for two roles of a call ("buffers de travail : un meme buffer est
// donne pour deux roles") or records whose blocks overlap ("buffers de
// travail : deux buffers partagent la meme memoire") are refused.
#pragma once
#include <cstdint>
#include <string>

#include "HAP/buffers_list.h"

struct Hap_Process_Params {
  Padded_Buffer* source = nullptr;  // the encoded frame; its length is the frame's byte count
  Padded_Buffer* target = nullptr;  // receives the new frame; its length is the room for it
  uint32_t source_width = 0, source_height = 0;
  uint32_t target_width = 0, target_height = 0;  // recorded in the target frame record
  // Work buffers, grown as needed and left allocated for the caller.
  Padded_Buffer* colour_texture = nullptr;   // first texture decoded at source size
  Padded_Buffer* alpha_texture = nullptr;    // HAPQA alpha texture decoded at source size
  Padded_Buffer* cropped_colour = nullptr;
  Padded_Buffer* cropped_alpha = nullptr;
  Padded_Buffer* converted = nullptr;        // the texture in the target's block codec
  uint32_t compressor = 1;                   // 1 snappy chunks, 0 raw
  uint32_t target_codec = 0;
  uint32_t chunk_count = 1;                  // chunks per target texture
  uint8_t crop = 0;                          // crop to the box below
  uint16_t crop_x = 0, crop_y = 0, crop_width = 0, crop_height = 0;  // in 4x4 blocks
  uint8_t canonicalize = 0;                  // rewrite uniform blocks after decode / crop
};

// Decodes the source, crops it to the box (target size = box x 4) and
// canonicalises it when asked, converts it to the target codec's block codec
// where the pair allows (HAP <-> HAPA, HAPA -> alpha only, HAPQA -> HAPQ or
// alpha only) and encodes the target frame. On success bytes_used, when
// given, receives the target frame's byte count. A crop box of zero size is a
// broken precondition (std::logic_error), not a reported failure.
std::string process_hap_frame(const Hap_Process_Params& params, uint32_t* error,
                              uint32_t* bytes_used = nullptr);

// Checks that the frame has the expected codec, texture count and chunk
// count(s), then decodes its texture(s) into the two buffers (the second only
// for HAPQA), which must already hold the texture size. The mapping of the
// expected codec and the set-up over the buffers run before anything is
// guarded: their failures reach the caller as exceptions.
std::string decode_hap_frame_to_dxt(Padded_Buffer* hap, Padded_Buffer* first, Padded_Buffer* second,
                                    uint32_t codec, uint16_t chunk_count, uint32_t width,
                                    uint32_t height, uint32_t* error);

// Decodes the texture to examine into dxt (texture 1 of HAPQA in mode 1,
// otherwise texture 0) and measures its empty border in whole blocks: mode 1
// transparent blocks, any other mode black blocks of DXT1 and transparent
// blocks of DXT5 (outputs untouched for other block codecs).
std::string detect_hap_frame_crop(Padded_Buffer* hap, Padded_Buffer* dxt, uint32_t codec,
                                  uint32_t width, uint32_t height, uint8_t mode, uint32_t* error,
                                  uint16_t* top, uint16_t* bottom, uint16_t* left,
                                  uint16_t* right);

// result: 0 when some alpha is below 255 or the codec has no alpha (HAP,
// HAPQ: nothing decoded), 2 when every alpha is 255, 1 on error. Only runtime
// errors are turned into a text; others reach the caller.
std::string detect_hap_frame_need_alpha(Padded_Buffer* hap, Padded_Buffer* dxt, uint32_t width,
                                        uint32_t height, uint32_t* result);
