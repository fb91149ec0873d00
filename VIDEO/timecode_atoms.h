// The timecode track: one 4-byte sample holding the start frame, kept in a
// 12-byte media-data atom of its own, and the "tref" through which the other
// tracks point at it.
#pragma once
#include <cstdint>

#include "VIDEO/atom_writer.h"
#include "VIDEO/frame_rate.h"
#include "VIDEO/movie_atoms.h"

// "tmcd" entry of a "tref": the timecode track's ID.
class TREF_TC_Entry_Writer : public Atom_Writer {
 public:
  explicit TREF_TC_Entry_Writer(int32_t track_id);
};

class TREF_Writer : public Container_Atom {
 public:
  explicit TREF_Writer(int32_t track_id);
};

// 0x0000000C "mdat" start frame.
class MDAT_TC_Writer : public Atom_Writer {
 public:
  explicit MDAT_TC_Writer(uint32_t start_frame);
};

// Timecode sample description; only the rates of is_tc_fps_supported.
class SampleDescription_Timecode : public Atom_Writer {
 public:
  SampleDescription_Timecode(const Frame_Rate& rate, uint8_t drop_frame);
};

class HDLR_TC_Writer : public Media_Handler_Writer {
 public:
  HDLR_TC_Writer();
};

class STBL_TC_Writer : public Container_Atom {
 public:
  STBL_TC_Writer(uint32_t sample_count, const Frame_Rate& rate, uint64_t sample_offset,
                 uint8_t drop_frame);
};

class MINF_TC_Writer : public Container_Atom {
 public:
  MINF_TC_Writer(uint32_t sample_count, const Frame_Rate& rate, uint64_t sample_offset,
                 uint8_t drop_frame);
};

class MDIA_TC_Writer : public Container_Atom {
 public:
  MDIA_TC_Writer(uint32_t creation_time, uint32_t sample_count, const Frame_Rate& rate,
                 uint64_t sample_offset, uint8_t drop_frame);
};

// The timecode "trak"; `sample_offset` is the file offset of the 4-byte sample.
class TRAK_TC_Writer : public Container_Atom {
 public:
  TRAK_TC_Writer(uint32_t track_id, uint32_t creation_time, uint32_t sample_count,
                 const Frame_Rate& rate, uint64_t sample_offset, uint8_t drop_frame);
};
