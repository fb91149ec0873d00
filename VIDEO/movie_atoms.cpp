#include "VIDEO/movie_atoms.h"

#include <cstring>
#include <stdexcept>

namespace {

// Unity transform with w = 1.0 (2.30 fixed point).
constexpr uint32_t unity_matrix[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};

}  // namespace

uint32_t checked_duration(uint32_t sample_count, const Frame_Rate& rate, const char* message) {
  const uint64_t duration = uint64_t(rate.denominator) * sample_count;
  if (duration > 0xFFFFFFFFull) throw std::runtime_error(message);
  return uint32_t(duration);
}

MVHD_Writer::MVHD_Writer(uint32_t creation_time, uint32_t sample_count, const Frame_Rate& rate,
                         uint32_t last_track_id)
    : Atom_Writer("mvhd") {
  const uint32_t duration = checked_duration(sample_count, rate, "mvhd duration overflow");
  if (last_track_id >= 0xFFFFFFFEu) throw std::runtime_error("mvhd track count overflow");
  append_be32(0);
  append_be32(creation_time);
  append_be32(creation_time);
  append_be32(rate.numerator);
  append_be32(duration);
  append_be32(0x00010000);  // preferred rate 1.0
  append_be16(0x0100);      // preferred volume 1.0
  for (int i = 0; i < 10; ++i) append_u8(0);
  for (uint32_t v : unity_matrix) append_be32(v);
  for (int i = 0; i < 6; ++i) append_be32(0);  // preview, poster, selection, current time
  append_be32(last_track_id + 1);
}

TKHD_Writer::TKHD_Writer(uint32_t creation_time, uint32_t sample_count, const Frame_Rate& rate,
                         uint32_t track_id, uint16_t width, uint16_t height, uint8_t sound)
    : Atom_Writer("tkhd") {
  const uint32_t duration = checked_duration(sample_count, rate, "tkhd duration overflow");
  append_be32(0x0000000F);  // enabled, in movie, in preview, in poster
  append_be32(creation_time);
  append_be32(creation_time);
  append_be32(track_id);
  append_be32(0);
  append_be32(duration);
  append_be64(0);
  append_be16(0);  // layer
  append_be16(0);  // alternate group
  append_be16(sound == 1 ? 0x0100 : 0);
  append_be16(0);
  for (uint32_t v : unity_matrix) append_be32(v);
  append_be16(width);
  append_be16(0);
  append_be16(height);
  append_be16(0);
}

Aperture_Dimensions_Writer::Aperture_Dimensions_Writer(const char* type, uint16_t width,
                                                       uint16_t height)
    : Atom_Writer(type) {
  append_be32(0);
  append_be16(width);
  append_be16(0);
  append_be16(height);
  append_be16(0);
}

TAPT_Writer::TAPT_Writer(uint16_t width, uint16_t height, uint16_t display_width)
    : Container_Atom("tapt") {
  emplace_child<CLEF_Writer>(display_width, height);
  emplace_child<PROF_Writer>(width, height);
  emplace_child<ENOF_Writer>(display_width, height);
}

LOAD_Writer::LOAD_Writer() : Atom_Writer("load") {
  append_be32(0);
  append_be32(0);
  append_be32(0);
  append_be32(0x00000100);  // default hints: high quality
}

EDTS_Writer::EDTS_Writer(uint32_t sample_count, const Frame_Rate& rate) : Atom_Writer("edts") {
  const uint32_t duration = checked_duration(sample_count, rate, "edts duration overflow");
  append_be32(0x1C);
  append_fourcc("elst");
  append_be32(0);
  append_be32(1);
  append_be32(duration);
  append_be32(0);           // media time
  append_be32(0x00010000);  // media rate 1.0
}

MDHD_Writer::MDHD_Writer(uint32_t creation_time, uint32_t sample_count, const Frame_Rate& rate)
    : Atom_Writer("mdhd") {
  const uint32_t duration = checked_duration(sample_count, rate, "MDHD duration overflow");
  append_be32(0);
  append_be32(creation_time);
  append_be32(creation_time);
  append_be32(rate.numerator);
  append_be32(duration);
  append_be16(0);  // language
  append_be16(0);  // quality
}

Media_Handler_Writer::Media_Handler_Writer(const char* component_type, const char* subtype,
                                           uint32_t flags, uint32_t flags_mask, const char* name,
                                           uint8_t name_length)
    : Atom_Writer("hdlr") {
  append_be32(0);
  append_fourcc(component_type);
  append_fourcc(subtype);
  append_fourcc("appl");
  append_be32(flags);
  append_be32(flags_mask);
  append_u8(name_length);
  append_bytes(name, name_length);
}

HDLR_Video_Writer::HDLR_Video_Writer()
    : Media_Handler_Writer("mhlr", "vide", 0, 0x00010023, "Module de gestion video", 23) {}

HDLR_Media_Writer::HDLR_Media_Writer()
    : Media_Handler_Writer("dhlr", "alis", 1, 0x0001002E,
                           "Gestionnaire d\x92"
                           "alias Apple",
                           26) {}

VMHD_Writer::VMHD_Writer() : Atom_Writer("vmhd") {
  append_be32(0x00000001);
  append_be16(0x0040);  // graphics mode: dither copy
  for (int i = 0; i < 3; ++i) append_be16(0x8000);
}

DINF_Writer::DINF_Writer() : Atom_Writer("dinf") {
  append_be32(0x1C);
  append_fourcc("dref");
  append_be32(0);
  append_be32(1);
  append_be32(0x0C);
  append_fourcc("alis");
  append_be32(0x00000001);  // self reference
}

GMHD_Writer::GMHD_Writer() : Atom_Writer("gmhd") {
  append_be32(0x18);
  append_fourcc("gmin");
  append_be32(0);
  append_be16(0x0040);
  for (int i = 0; i < 3; ++i) append_be16(0x8000);
  append_be16(0);  // balance
  append_be16(0);
  append_be32(0x2F);
  append_fourcc("tmcd");
  append_be32(0x27);
  append_fourcc("tcmi");
  append_be32(0);
  append_be16(0);     // text font
  append_be16(0);     // text face
  append_be16(0x0C);  // text size
  append_be16(0);
  for (int i = 0; i < 6; ++i) append_u8(0x00);  // text colour
  for (int i = 0; i < 6; ++i) append_u8(0xFF);  // background colour
  append_u8(6);
  append_bytes("System", 6);
}

FIEL_Writer::FIEL_Writer(uint32_t field_type) : Atom_Writer("fiel") {
  static constexpr uint8_t layouts[3][2] = {{0x01, 0x00}, {0x02, 0x09}, {0x02, 0x0E}};
  if (field_type > 2) throw std::runtime_error("Field atom interlace type invalide");
  append_bytes(layouts[field_type], 2);
}

COLR_NCLC_Writer::COLR_NCLC_Writer(uint32_t colour_type) : Atom_Writer("colr") {
  static constexpr uint16_t parameters[2][3] = {{1, 1, 1}, {5, 1, 6}};
  if (colour_type > 1) throw std::runtime_error("Colr atom colorspace type invalide");
  append_fourcc("nclc");
  for (uint16_t v : parameters[colour_type]) append_be16(v);
}

GAMA_Writer::GAMA_Writer(uint16_t integer_part, uint16_t fraction) : Atom_Writer("gama") {
  append_be16(integer_part);
  append_be16(fraction);
}

PASP_Writer::PASP_Writer(uint32_t horizontal_spacing, uint32_t vertical_spacing)
    : Atom_Writer("pasp") {
  append_be32(horizontal_spacing);
  append_be32(vertical_spacing);
}

FTYP_Writer::FTYP_Writer() : Atom_Writer("ftyp") {
  append_fourcc("qt  ");
  append_be32(0x20050300);
  append_fourcc("qt  ");
  for (int i = 0; i < 3; ++i) append_be32(0);
}
