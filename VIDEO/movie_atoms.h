// Leaf atoms of the movie and track levels shared by every track kind: movie
// and track headers, aperture modes, edit list, media header, handlers, data
// reference, media information headers, and the video sample-description
// extensions ("fiel", "colr", "gama", "pasp").
#pragma once
#include <cstdint>

#include "VIDEO/atom_writer.h"
#include "VIDEO/frame_rate.h"

// denominator x sample count, refused with `message` when it leaves 32 bits.
uint32_t checked_duration(uint32_t sample_count, const Frame_Rate& rate, const char* message);

class MVHD_Writer : public Atom_Writer {
 public:
  MVHD_Writer(uint32_t creation_time, uint32_t sample_count, const Frame_Rate& rate,
              uint32_t last_track_id);
};

class TKHD_Writer : public Atom_Writer {
 public:
  TKHD_Writer(uint32_t creation_time, uint32_t sample_count, const Frame_Rate& rate,
              uint32_t track_id, uint16_t width, uint16_t height, uint8_t sound);
};

class TKHD_TC_Writer : public TKHD_Writer {
 public:
  TKHD_TC_Writer(uint32_t creation_time, uint32_t sample_count, const Frame_Rate& rate,
                 uint32_t track_id)
      : TKHD_Writer(creation_time, sample_count, rate, track_id, 0, 0, 0) {}
};

class TKHD_Audio_Writer : public TKHD_Writer {
 public:
  TKHD_Audio_Writer(uint32_t creation_time, uint32_t sample_count, const Frame_Rate& rate,
                    uint32_t track_id)
      : TKHD_Writer(creation_time, sample_count, rate, track_id, 0, 0, 1) {}
};

// "clef", "prof" and "enof" share one layout: flags then width and height as 16.16.
class Aperture_Dimensions_Writer : public Atom_Writer {
 public:
  Aperture_Dimensions_Writer(const char* type, uint16_t width, uint16_t height);
};

class CLEF_Writer : public Aperture_Dimensions_Writer {
 public:
  CLEF_Writer(uint16_t width, uint16_t height)
      : Aperture_Dimensions_Writer("clef", width, height) {}
};

class PROF_Writer : public Aperture_Dimensions_Writer {
 public:
  PROF_Writer(uint16_t width, uint16_t height)
      : Aperture_Dimensions_Writer("prof", width, height) {}
};

class ENOF_Writer : public Aperture_Dimensions_Writer {
 public:
  ENOF_Writer(uint16_t width, uint16_t height)
      : Aperture_Dimensions_Writer("enof", width, height) {}
};

// Track aperture modes: clean (display width), production (coded), encoded pixels.
class TAPT_Writer : public Container_Atom {
 public:
  TAPT_Writer(uint16_t width, uint16_t height, uint16_t display_width);
};

class LOAD_Writer : public Atom_Writer {
 public:
  LOAD_Writer();
};

// Edit list of one edit spanning the whole track.
class EDTS_Writer : public Atom_Writer {
 public:
  EDTS_Writer(uint32_t sample_count, const Frame_Rate& rate);
};

class MDHD_Writer : public Atom_Writer {
 public:
  MDHD_Writer(uint32_t creation_time, uint32_t sample_count, const Frame_Rate& rate);
};

// Media handler of a track: component type "mhlr", the subtype, and a counted name.
class Media_Handler_Writer : public Atom_Writer {
 public:
  Media_Handler_Writer(const char* component_type, const char* subtype, uint32_t flags,
                       uint32_t flags_mask, const char* name, uint8_t name_length);
};

class HDLR_Video_Writer : public Media_Handler_Writer {
 public:
  HDLR_Video_Writer();
};

// Data handler of every track's media information.
class HDLR_Media_Writer : public Media_Handler_Writer {
 public:
  HDLR_Media_Writer();
};

class VMHD_Writer : public Atom_Writer {
 public:
  VMHD_Writer();
};

// Data reference: the media lies in this file.
class DINF_Writer : public Atom_Writer {
 public:
  DINF_Writer();
};

// Base media information header of the timecode track.
class GMHD_Writer : public Atom_Writer {
 public:
  GMHD_Writer();
};

class FIEL_Writer : public Atom_Writer {
 public:
  explicit FIEL_Writer(uint32_t field_type);
};

class COLR_NCLC_Writer : public Atom_Writer {
 public:
  explicit COLR_NCLC_Writer(uint32_t colour_type);
};

class GAMA_Writer : public Atom_Writer {
 public:
  GAMA_Writer(uint16_t integer_part, uint16_t fraction);
};

class PASP_Writer : public Atom_Writer {
 public:
  PASP_Writer(uint32_t horizontal_spacing, uint32_t vertical_spacing);
};

class FTYP_Writer : public Atom_Writer {
 public:
  FTYP_Writer();
};
