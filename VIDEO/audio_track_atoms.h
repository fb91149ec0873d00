// Atoms of one PCM audio track. Samples are little-endian (8-bit unsigned) and
// interleaved; each chunk holds one second of sample frames, the last one the
// remainder.
#pragma once
#include <cstdint>
#include <vector>

#include "VIDEO/atom_writer.h"
#include "VIDEO/frame_rate.h"
#include "VIDEO/movie_atoms.h"

struct Audio_Format {
  uint16_t bits_per_sample = 16;  // 8, 16, 24, 32 integer; 32, 64 float
  uint32_t sample_rate = 48000;
  uint16_t channels = 2;
  uint8_t float_flag = 0;
  uint32_t channel_layout = 0;  // 0 none, 1 to 3: the three 5.1 orders
};

// Media header with the sample rate as time scale.
class MDHD_Audio_Writer : public Atom_Writer {
 public:
  MDHD_Audio_Writer(uint32_t creation_time, uint32_t duration, uint32_t time_scale);
};

class HDLR_Audio_Writer : public Media_Handler_Writer {
 public:
  HDLR_Audio_Writer();
};

class SMHD_Writer : public Atom_Writer {
 public:
  SMHD_Writer();
};

// Every sample frame lasts one tick of the sample rate.
class STTS_Audio_Writer : public Atom_Writer {
 public:
  explicit STTS_Audio_Writer(uint32_t sample_count);
};

// Chunks of `samples_per_chunk` frames, the last one holding the remainder.
class STSC_Audio_Writer : public Atom_Writer {
 public:
  STSC_Audio_Writer(uint32_t total_frames, uint32_t samples_per_chunk);
};

// Constant size: the bytes of one sample frame.
class STSZ_Audio_Writer : public Atom_Writer {
 public:
  STSZ_Audio_Writer(uint32_t sample_count, uint16_t bits_per_sample, uint16_t channels);
};

// Version 1 form ("raw ", "sowt", "in24", "in32", "fl32", "fl64") for mono and
// stereo up to 48 kHz; version 2 "lpcm" with a "chan" layout otherwise.
class SampleDescription_Audio : public Atom_Writer {
 public:
  explicit SampleDescription_Audio(const Audio_Format& format);
};

class STBL_Audio_Writer : public Container_Atom {
 public:
  STBL_Audio_Writer(const Audio_Format& format, uint32_t duration,
                    const std::vector<uint64_t>& chunk_offsets);
};

class MINF_Audio_Writer : public Container_Atom {
 public:
  MINF_Audio_Writer(const Audio_Format& format, uint32_t duration,
                    const std::vector<uint64_t>& chunk_offsets);
};

class MDIA_Audio_Writer : public Container_Atom {
 public:
  MDIA_Audio_Writer(uint32_t creation_time, const Audio_Format& format, uint32_t duration,
                    const std::vector<uint64_t>& chunk_offsets);
};

// One audio track; its header spans the video's duration. `duration` is in
// sample frames and must fit the 32-bit table fields. A timecode track ID
// above 1 adds a "tref".
class TRAK_Audio_Writer : public Container_Atom {
 public:
  TRAK_Audio_Writer(uint32_t track_id, uint32_t creation_time, uint32_t video_sample_count,
                    const Frame_Rate& rate, const Audio_Format& format, uint64_t duration,
                    const std::vector<uint64_t>& chunk_offsets, int32_t timecode_track_id);
};
