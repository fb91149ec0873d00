#include "VIDEO/sample_table_atoms.h"

#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>

#include "VIDEO/movie_atoms.h"

namespace {

struct Hap_Compressor {
  const char* code;
  const char* name;
  uint8_t depth;  // 0: the source depth
};

constexpr Hap_Compressor hap_compressors[] = {
    {"Hap1", "Hap", 24},         {"Hap5", "Hap Alpha", 32},      {"HapY", "Hap Q", 24},
    {"HapM", "Hap Q Alpha", 32}, {"HapA", "Hap Alpha-Only", 24}, {"Hap7", "Hap R", 0},
};

const Hap_Compressor* find_compressor(const Four_CC& codec) {
  for (const Hap_Compressor& c : hap_compressors)
    if (std::memcmp(c.code, codec.data(), 4) == 0) return &c;
  return nullptr;
}

}  // namespace

SampleDescription_Video::SampleDescription_Video(uint16_t width, uint16_t height, uint8_t depth,
                                                 const Four_CC& codec,
                                                 const Extension_List& extensions) {
  set_type(codec);
  const Hap_Compressor* compressor = find_compressor(codec);
  if (!compressor) {
    std::cout << "Sample Description Video Codec unsupported for vendor : "
              << std::string(codec.data(), 4) << std::endl;
    throw std::runtime_error("Sample description, codec unsupported");
  }
  for (int i = 0; i < 6; ++i) append_u8(0);
  append_be16(1);  // data reference index
  append_be16(1);  // version
  append_be16(1);  // revision level
  append_fourcc("VDVX");
  append_be32(0);      // temporal quality
  append_be32(0x400);  // spatial quality
  append_be16(width);
  append_be16(height);
  append_be32(0x00480000);  // 72 dpi
  append_be32(0x00480000);
  append_be32(0);  // data size
  append_be16(1);  // frames per sample
  uint8_t name[32] = {};
  const size_t length = std::strlen(compressor->name);
  name[0] = uint8_t(length);
  std::memcpy(name + 1, compressor->name, length);
  append_bytes(name, sizeof name);
  append_be16(compressor->depth ? compressor->depth : depth);
  append_be16(0xFFFF);  // no colour table
  for (const Atom_Writer& extension : extensions) append_atom(extension);
  append_be32(0);
}

STSD_Writer::STSD_Writer(const Atom_Writer& description) : Atom_Writer("stsd") {
  append_be32(0);
  append_be32(1);
  append_atom(description);
}

STTS_Writer::STTS_Writer(uint32_t sample_count, const Frame_Rate& rate, uint32_t track_type)
    : Atom_Writer("stts") {
  append_be32(0);
  append_be32(1);
  switch (Stts_Track(track_type)) {
    case Stts_Track::Video:
      append_be32(sample_count);
      append_be32(rate.denominator);
      break;
    case Stts_Track::Timecode:
      append_be32(1);
      append_be32(checked_duration(sample_count, rate, "STTS TC duration overflow"));
      break;
    default:
      std::cout << "Type track unknown STTS : " << track_type << std::endl;
      throw std::runtime_error("Type trak unknown STTS");
  }
}

SDTP_Writer::SDTP_Writer(uint32_t sample_count) : Atom_Writer("sdtp") {
  append_be32(0);
  // 0x28: depends on no other sample, and no other sample depends on it.
  const std::vector<uint8_t> flags(sample_count, 0x28);
  append_bytes(flags);
}

STSC_Writer::STSC_Writer() : Atom_Writer("stsc") {
  append_be32(0);
  append_be32(1);
  append_be32(1);  // first chunk
  append_be32(1);  // samples per chunk
  append_be32(1);  // sample description
}

STSZ_Writer::STSZ_Writer(const std::vector<uint32_t>& sizes) : Atom_Writer("stsz") {
  if (sizes.size() > 0xFFFFFFFFull) throw std::runtime_error("stsz sample count overflow");
  append_be32(0);
  append_be32(0);  // sizes vary
  append_be32(uint32_t(sizes.size()));
  for (uint32_t size : sizes) append_be32(size);
}

CO_Writer::CO_Writer(const std::vector<uint64_t>& offsets) : Atom_Writer("stco") {
  if (offsets.size() > 0xFFFFFFFFull) throw std::runtime_error("chunk offset count overflow");
  const bool wide = !offsets.empty() && offsets.back() >= 0xFFFFFFFFull;
  if (wide) set_type('c', 'o', '6', '4');
  append_be32(0);
  append_be32(uint32_t(offsets.size()));
  for (uint64_t offset : offsets) {
    if (wide)
      append_be64(offset);
    else
      append_be32(uint32_t(offset));
  }
}

STBL_Video_Writer::STBL_Video_Writer(uint16_t width, uint16_t height, uint8_t depth,
                                     const Four_CC& codec, uint32_t sample_count,
                                     const Frame_Rate& rate, const std::vector<uint64_t>& offsets,
                                     const std::vector<uint32_t>& sizes, uint16_t display_width,
                                     Extension_List& extensions)
    : Container_Atom("stbl") {
  if (sample_count == 0) {
    std::cout << "STBL : Duration 0 invalid" << std::endl;
    throw std::runtime_error("STBL : Duration 0 for the file");
  }
  extensions.push_back(PASP_Writer(display_width, width));
  emplace_child<STSD_Writer>(SampleDescription_Video(width, height, depth, codec, extensions));
  emplace_child<STTS_Writer>(sample_count, rate, uint32_t(Stts_Track::Video));
  emplace_child<SDTP_Writer>(sample_count);
  emplace_child<STSC_Writer>();
  emplace_child<STSZ_Writer>(sizes);
  emplace_child<CO_Writer>(offsets);
}
