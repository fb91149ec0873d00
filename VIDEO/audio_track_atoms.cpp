#include "VIDEO/audio_track_atoms.h"

#include <iostream>
#include <stdexcept>
#include <string>

#include "VIDEO/sample_table_atoms.h"
#include "VIDEO/timecode_atoms.h"

namespace {

// Core Audio channel labels.
constexpr uint32_t left = 1, right = 2, centre = 3, lfe = 4, left_surround = 5, right_surround = 6,
                   rear_left = 33, rear_right = 34, mono = 42, unknown = 0xFFFFFFFF;

std::vector<uint32_t> channel_labels(uint16_t channels, uint32_t layout) {
  switch (channels) {
    case 1:
      return {mono};
    case 2:
      return {left, right};
    case 6:
      if (layout == 2) return {left, right, left_surround, right_surround, centre, lfe};
      if (layout == 3) return {left, centre, right, left_surround, right_surround, lfe};
      return {left, right, centre, lfe, left_surround, right_surround};
    case 8:
      return {left, right, centre, lfe, left_surround, right_surround, rear_left, rear_right};
    default:
      return std::vector<uint32_t>(channels, unknown);
  }
}

const char* version1_format_code(const Audio_Format& format) {
  switch (format.bits_per_sample) {
    case 8:
      return "raw ";
    case 16:
      return "sowt";
    case 24:
      return "in24";
    case 32:
      if (format.float_flag == 0) return "in32";
      if (format.float_flag == 1) return "fl32";
      return nullptr;
    case 64:
      return format.float_flag == 1 ? "fl64" : nullptr;
    default:
      return nullptr;
  }
}

// Format flags of the version 2 form: packed, float or integer; 8-bit samples
// are unsigned, so only wider integers carry the signed bit.
uint32_t lpcm_format_flags(const Audio_Format& format) {
  constexpr uint32_t is_float = 1, is_signed = 4, is_packed = 8;
  if (format.float_flag != 0) {
    if (format.bits_per_sample != 32 && format.bits_per_sample != 64)
      throw std::runtime_error("Quantif audio inconnue STSD Float");
    return is_float | is_packed;
  }
  switch (format.bits_per_sample) {
    case 8:
      return is_packed;
    case 16:
    case 24:
    case 32:
      return is_signed | is_packed;
    default:
      throw std::runtime_error("Quantif audio inconnue STSD Integer");
  }
}

}  // namespace

MDHD_Audio_Writer::MDHD_Audio_Writer(uint32_t creation_time, uint32_t duration, uint32_t time_scale)
    : Atom_Writer("mdhd") {
  append_be32(0);
  append_be32(creation_time);
  append_be32(creation_time);
  append_be32(time_scale);
  append_be32(duration);
  append_be32(0);  // language, quality
}

HDLR_Audio_Writer::HDLR_Audio_Writer()
    : Media_Handler_Writer("mhlr", "soun", 0x10000000, 0x00010255, "Module de gestion sonore", 24) {
}

SMHD_Writer::SMHD_Writer() : Atom_Writer("smhd") {
  append_be32(0);
  append_be32(0);  // balance, reserved
}

STTS_Audio_Writer::STTS_Audio_Writer(uint32_t sample_count) : Atom_Writer("stts") {
  append_be32(0);
  append_be32(1);
  append_be32(sample_count);
  append_be32(1);
}

STSC_Audio_Writer::STSC_Audio_Writer(uint32_t total_frames, uint32_t samples_per_chunk)
    : Atom_Writer("stsc") {
  if (samples_per_chunk == 0) throw std::runtime_error("STSC zero frequency");
  const uint32_t full_chunks = total_frames / samples_per_chunk;
  const uint32_t remainder = total_frames % samples_per_chunk;
  append_be32(0);
  auto entry = [this](uint32_t first_chunk, uint32_t frames) {
    append_be32(first_chunk);
    append_be32(frames);
    append_be32(1);
  };
  if (remainder == 0 || full_chunks == 0) {
    append_be32(1);
    entry(1, remainder == 0 ? samples_per_chunk : remainder);
  } else {
    append_be32(2);
    entry(1, samples_per_chunk);
    entry(full_chunks + 1, remainder);
  }
}

STSZ_Audio_Writer::STSZ_Audio_Writer(uint32_t sample_count, uint16_t bits_per_sample,
                                     uint16_t channels)
    : Atom_Writer("stsz") {
  append_be32(0);
  append_be32(uint32_t(bits_per_sample / 8) * channels);
  append_be32(sample_count);
}

SampleDescription_Audio::SampleDescription_Audio(const Audio_Format& format) {
  if (format.channels == 0) throw std::runtime_error("nb channnel audio 0 invalid");
  if (format.sample_rate == 0) throw std::runtime_error("frequency audio 0 invalid");
  const uint32_t bytes = format.bits_per_sample / 8u;
  const bool version1 = format.channels <= 2 && format.sample_rate <= 48000;
  const char* code = version1 ? version1_format_code(format) : "lpcm";
  if (!code) throw std::runtime_error("Quantif audio inconnue STSD");
  const uint32_t flags = version1 ? 0 : lpcm_format_flags(format);
  set_type(code[0], code[1], code[2], code[3]);

  for (int i = 0; i < 6; ++i) append_u8(0);
  append_be16(1);  // data reference index
  append_be16(version1 ? 1 : 2);
  append_be16(0);  // revision
  append_be32(0);  // vendor
  if (version1) {
    append_be16(format.channels);
    append_be16(format.bits_per_sample == 8 ? 8 : 16);
    append_be16(0xFFFF);  // compression ID
    append_be16(0);       // packet size
    append_be16(uint16_t(format.sample_rate));
    append_be16(0);
    append_be32(1);  // samples per packet
    append_be32(bytes);
    append_be32(bytes * format.channels);
    append_be32(format.bits_per_sample == 8 ? 1 : 2);
    if (format.bits_per_sample > 16) {
      append_be32(0x26);
      append_fourcc("wave");
      append_be32(0x0C);
      append_fourcc("frma");
      append_fourcc(code);
      append_be32(0x0A);
      append_fourcc("enda");
      append_be16(1);  // little-endian samples
      append_be32(0x08);
      append_be32(0);
    }
    return;
  }
  append_be16(3);
  append_be16(16);
  append_be16(0xFFFE);
  append_be16(0);
  append_be32(0x00010000);
  append_be32(72);  // size of this structure
  append_be_f64(double(format.sample_rate));
  append_be32(format.channels);
  append_be32(0x7F000000);
  append_be32(format.bits_per_sample);
  append_be32(flags);
  append_be32(bytes * format.channels);
  append_be32(1);  // frames per packet
  append_be32(24 + 20u * format.channels);
  append_fourcc("chan");
  append_be32(0);
  append_be32(0);  // layout given by the channel descriptions
  append_be32(0);  // channel bitmap
  append_be32(format.channels);
  for (uint32_t label : channel_labels(format.channels, format.channel_layout)) {
    append_be32(label);
    append_be32(0);  // flags
    for (int i = 0; i < 3; ++i) append_be_f32(0.0f);
  }
}

STBL_Audio_Writer::STBL_Audio_Writer(const Audio_Format& format, uint32_t duration,
                                     const std::vector<uint64_t>& chunk_offsets)
    : Container_Atom("stbl") {
  if (duration == 0) {
    std::cout << "STBL : Nb samples 0 invalid" << std::endl;
    throw std::runtime_error("STBL : Duration 0 samples for the file");
  }
  emplace_child<STSD_Writer>(SampleDescription_Audio(format));
  emplace_child<STTS_Audio_Writer>(duration);
  emplace_child<STSC_Audio_Writer>(duration, format.sample_rate);
  emplace_child<STSZ_Audio_Writer>(duration, format.bits_per_sample, format.channels);
  emplace_child<CO_Writer>(chunk_offsets);
}

MINF_Audio_Writer::MINF_Audio_Writer(const Audio_Format& format, uint32_t duration,
                                     const std::vector<uint64_t>& chunk_offsets)
    : Container_Atom("minf") {
  emplace_child<SMHD_Writer>();
  emplace_child<HDLR_Media_Writer>();
  emplace_child<DINF_Writer>();
  emplace_child<STBL_Audio_Writer>(format, duration, chunk_offsets);
}

MDIA_Audio_Writer::MDIA_Audio_Writer(uint32_t creation_time, const Audio_Format& format,
                                     uint32_t duration, const std::vector<uint64_t>& chunk_offsets)
    : Container_Atom("mdia") {
  emplace_child<MDHD_Audio_Writer>(creation_time, duration, format.sample_rate);
  emplace_child<HDLR_Audio_Writer>();
  emplace_child<MINF_Audio_Writer>(format, duration, chunk_offsets);
}

TRAK_Audio_Writer::TRAK_Audio_Writer(uint32_t track_id, uint32_t creation_time,
                                     uint32_t video_sample_count, const Frame_Rate& rate,
                                     const Audio_Format& format, uint64_t duration,
                                     const std::vector<uint64_t>& chunk_offsets,
                                     int32_t timecode_track_id)
    : Container_Atom("trak") {
  if (duration > 0xFFFFFFFFull)
    throw std::runtime_error("Audio track too long: " + std::to_string(duration) +
                             " sample frames, at most 4294967295 can be described");
  emplace_child<TKHD_Audio_Writer>(creation_time, video_sample_count, rate, track_id);
  emplace_child<EDTS_Writer>(video_sample_count, rate);
  if (timecode_track_id > 1) emplace_child<TREF_Writer>(timecode_track_id);
  emplace_child<MDIA_Audio_Writer>(creation_time, format, uint32_t(duration), chunk_offsets);
}
