#include "VIDEO/timecode_atoms.h"

#include <iostream>
#include <stdexcept>

#include "VIDEO/movie_atoms.h"
#include "VIDEO/sample_table_atoms.h"

TREF_TC_Entry_Writer::TREF_TC_Entry_Writer(int32_t track_id) : Atom_Writer("tmcd") {
  if (track_id < 0) throw std::runtime_error("Tref TC Entry invalid track index");
  append_be32(uint32_t(track_id));
}

TREF_Writer::TREF_Writer(int32_t track_id) : Container_Atom("tref") {
  if (track_id < 0) throw std::runtime_error("TREF without valid value");
  emplace_child<TREF_TC_Entry_Writer>(track_id);
}

MDAT_TC_Writer::MDAT_TC_Writer(uint32_t start_frame) : Atom_Writer("mdat") {
  append_be32(start_frame);
}

SampleDescription_Timecode::SampleDescription_Timecode(const Frame_Rate& rate, uint8_t drop_frame)
    : Atom_Writer("tmcd") {
  uint32_t time_scale = 0, frame_duration = 0, frames = 0;
  if (rate.denominator == 1 && rate.numerator >= 1 && rate.numerator <= 255) {
    time_scale = rate.numerator;
    frame_duration = 1;
    frames = rate.numerator;
  } else if (rate.denominator == 1001 &&
             (rate.numerator == 24000 || rate.numerator == 30000 || rate.numerator == 60000)) {
    // 2997 ticks a second: 125, 100 or 50 ticks a frame.
    frames = rate.numerator / 1000;
    time_scale = 2997;
    frame_duration = 3000 / frames;
  } else {
    throw std::runtime_error("FPS not supported for TC sample description");
  }
  const bool drop = drop_frame == 1 && rate.denominator == 1001 &&
                    (rate.numerator == 30000 || rate.numerator == 60000);
  for (int i = 0; i < 6; ++i) append_u8(0);
  append_be16(1);  // data reference index
  append_be32(0);
  append_be32(drop ? 1 : 0);
  append_be32(time_scale);
  append_be32(frame_duration);
  append_u8(uint8_t(frames));
  append_u8(0);
}

HDLR_TC_Writer::HDLR_TC_Writer()
    : Media_Handler_Writer("mhlr", "tmcd", 0x00000001, 0x00010128, "Gestionnaire code temporel",
                           26) {}

STBL_TC_Writer::STBL_TC_Writer(uint32_t sample_count, const Frame_Rate& rate,
                               uint64_t sample_offset, uint8_t drop_frame)
    : Container_Atom("stbl") {
  if (sample_count == 0) {
    std::cout << "STBL TC : Duration 0 invalid" << std::endl;
    throw std::runtime_error("STBL TC : Duration 0 for the file");
  }
  emplace_child<STSD_Writer>(SampleDescription_Timecode(rate, drop_frame));
  emplace_child<STTS_Writer>(sample_count, rate, uint32_t(Stts_Track::Timecode));
  emplace_child<STSC_Writer>();
  emplace_child<STSZ_Writer>(std::vector<uint32_t>{4});
  emplace_child<CO_Writer>(std::vector<uint64_t>{sample_offset});
}

MINF_TC_Writer::MINF_TC_Writer(uint32_t sample_count, const Frame_Rate& rate,
                               uint64_t sample_offset, uint8_t drop_frame)
    : Container_Atom("minf") {
  emplace_child<GMHD_Writer>();
  emplace_child<HDLR_Media_Writer>();
  emplace_child<DINF_Writer>();
  emplace_child<STBL_TC_Writer>(sample_count, rate, sample_offset, drop_frame);
}

MDIA_TC_Writer::MDIA_TC_Writer(uint32_t creation_time, uint32_t sample_count,
                               const Frame_Rate& rate, uint64_t sample_offset, uint8_t drop_frame)
    : Container_Atom("mdia") {
  emplace_child<MDHD_Writer>(creation_time, sample_count, rate);
  emplace_child<HDLR_TC_Writer>();
  emplace_child<MINF_TC_Writer>(sample_count, rate, sample_offset, drop_frame);
}

TRAK_TC_Writer::TRAK_TC_Writer(uint32_t track_id, uint32_t creation_time, uint32_t sample_count,
                               const Frame_Rate& rate, uint64_t sample_offset, uint8_t drop_frame)
    : Container_Atom("trak") {
  emplace_child<TKHD_TC_Writer>(creation_time, sample_count, rate, track_id);
  emplace_child<EDTS_Writer>(sample_count, rate);
  emplace_child<MDIA_TC_Writer>(creation_time, sample_count, rate, sample_offset, drop_frame);
}
