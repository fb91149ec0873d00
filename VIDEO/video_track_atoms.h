// The video track above its sample table: "trak" with its header, aperture
// modes, load settings, edit list, optional timecode reference and "mdia".
#pragma once
#include <cstdint>
#include <vector>

#include "VIDEO/atom_writer.h"
#include "VIDEO/frame_rate.h"
#include "VIDEO/sample_table_atoms.h"

// Width shown once the pixel aspect ratio is applied: even, at least 1, and
// within 16 bits. A ratio that gives no usable width warns and keeps `width`.
uint16_t display_width_for_ratio(uint16_t width, float pixel_aspect_ratio);

// Everything the video track is made from.
struct Video_Track_Description {
  uint32_t creation_time = 0;
  uint16_t width = 0, height = 0;
  uint8_t depth = 24;
  Four_CC codec{};
  uint32_t sample_count = 0;
  Frame_Rate rate;
  const std::vector<uint64_t>* offsets = nullptr;
  const std::vector<uint32_t>* sizes = nullptr;
  float pixel_aspect_ratio = 1.0f;
};

class MINF_Video_Writer : public Container_Atom {
 public:
  MINF_Video_Writer(const Video_Track_Description& video, uint16_t display_width,
                    Extension_List& extensions);
};

class MDIA_Video_Writer : public Container_Atom {
 public:
  MDIA_Video_Writer(const Video_Track_Description& video, uint16_t display_width,
                    Extension_List& extensions);
};

// Track 1. A timecode track ID above 1 adds a "tref" to that track.
class TRAK_Video_Writer : public Container_Atom {
 public:
  TRAK_Video_Writer(const Video_Track_Description& video, int32_t timecode_track_id,
                    Extension_List& extensions);
};
