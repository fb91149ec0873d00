// Sample tables: the video sample description with its extension atoms, the
// one-entry description table, time-to-sample, dependency flags,
// sample-to-chunk, sample sizes and chunk offsets. Every video sample is one
// chunk of its own.
#pragma once
#include <cstdint>
#include <vector>

#include "VIDEO/atom_writer.h"
#include "VIDEO/frame_rate.h"

// Extension atoms of the video sample description, held by value.
using Extension_List = std::vector<Atom_Writer>;

// The HAP sample description entry; its type is the codec code. Depth is 32
// for "Hap5" and "HapM", 24 for "Hap1", "HapY" and "HapA", as given for "Hap7".
class SampleDescription_Video : public Atom_Writer {
 public:
  SampleDescription_Video(uint16_t width, uint16_t height, uint8_t depth, const Four_CC& codec,
                          const Extension_List& extensions);
};

// Sample description table with one entry.
class STSD_Writer : public Atom_Writer {
 public:
  explicit STSD_Writer(const Atom_Writer& description);
};

enum class Stts_Track : uint32_t { Video = 0, Timecode = 1 };

// Video: every sample lasts one denominator. Timecode: one sample spanning the video.
class STTS_Writer : public Atom_Writer {
 public:
  STTS_Writer(uint32_t sample_count, const Frame_Rate& rate, uint32_t track_type);
};

// Every sample is independent.
class SDTP_Writer : public Atom_Writer {
 public:
  explicit SDTP_Writer(uint32_t sample_count);
};

// One sample per chunk.
class STSC_Writer : public Atom_Writer {
 public:
  STSC_Writer();
};

class STSZ_Writer : public Atom_Writer {
 public:
  explicit STSZ_Writer(const std::vector<uint32_t>& sizes);
};

// "stco", or "co64" when the last (largest) offset does not fit in 32 bits.
class CO_Writer : public Atom_Writer {
 public:
  explicit CO_Writer(const std::vector<uint64_t>& offsets);
};

// The video sample table. Appends a "pasp" (display width : width) to
// `extensions` before building the description.
class STBL_Video_Writer : public Container_Atom {
 public:
  STBL_Video_Writer(uint16_t width, uint16_t height, uint8_t depth, const Four_CC& codec,
                    uint32_t sample_count, const Frame_Rate& rate,
                    const std::vector<uint64_t>& offsets, const std::vector<uint32_t>& sizes,
                    uint16_t display_width, Extension_List& extensions);
};
