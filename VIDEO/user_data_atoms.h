// User data recording how the alpha channel is to be read, and an optional
// crop box: "VELN" (little-endian numbers), "ALFA" and "VELA".
#pragma once
#include <cstdint>

#include "VIDEO/atom_writer.h"

struct Movie_Metadata {
  uint8_t enable = 0;                              // 1: write the user data
  uint16_t version = 1;                            // must be 1
  uint8_t alpha_mode = 0;                          // 0 unset, 1 premultiplied, 2 straight
  uint8_t crop = 0;                                // 1: the crop box below is given
  uint32_t display_width = 0, display_height = 0;  // the full picture
  uint32_t crop_x = 0, crop_y = 0;                 // the frame's place in it
};

// "udta": any number of children, written in the order added.
class UDTA_Writer : public Container_Atom {
 public:
  UDTA_Writer() : Container_Atom("udta") {}
  using Container_Atom::emplace_child;
  bool is_empty() const { return children().empty(); }
};

class VelnoUDTA_Writer : public Atom_Writer {
 public:
  explicit VelnoUDTA_Writer(const Movie_Metadata& metadata);
};

class AdobeAlfaUDTA_Writer : public Atom_Writer {
 public:
  explicit AdobeAlfaUDTA_Writer(const Movie_Metadata& metadata);
};

class VelnoAlphaUDTA_Writer : public Atom_Writer {
 public:
  explicit VelnoAlphaUDTA_Writer(const Movie_Metadata& metadata);
};

class Moov_Video_Writer;

// Does nothing unless the record is enabled. Validates it and adds "VELN"
// (always), then "ALFA" and "VELA" for a 32-bit movie with a known alpha
// mode. Never throws: problems are printed and leave the user data as it was.
void set_user_data_atoms(Moov_Video_Writer& tree, const Movie_Metadata& metadata);
