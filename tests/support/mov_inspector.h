// Test-side reader of QuickTime movie files: walks the atom tree, finds atoms
// by path ("moov/trak/mdia/minf/stbl/stsd"), reads a track's sample tables
// back and fetches sample bytes from the file.
#pragma once
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace mov_test {

uint16_t be16(const uint8_t* p);
uint32_t be32(const uint8_t* p);
uint64_t be64(const uint8_t* p);

struct Atom {
  std::string type;            // the four characters
  uint64_t offset = 0;         // of the header, from the start of the file
  uint64_t size = 0;           // whole atom, header included
  uint32_t header = 8;         // 8, or 16 for the 64-bit size form
  std::vector<Atom> children;  // only for container types
  uint64_t payload_offset() const { return offset + header; }
  uint64_t payload_size() const { return size - header; }
};

struct Stsc_Entry {
  uint32_t first_chunk = 0, samples_per_chunk = 0, description = 0;
};

struct Stts_Entry {
  uint32_t count = 0, duration = 0;
};

struct Edit_Entry {
  uint32_t segment_duration = 0;  // in movie time-scale units
  int32_t media_time = 0;         // first media time shown; -1 for an empty edit
  uint32_t media_rate = 0;        // 16.16 fixed point
};

// Everything a track's header says about its samples.
struct Track_Tables {
  uint32_t track_id = 0;
  std::string handler;                      // media handler subtype: "vide", "soun", "tmcd"
  uint32_t time_scale = 0;                  // of the media
  uint32_t media_duration = 0;              // in time-scale units
  uint32_t track_duration = 0;              // from "tkhd", in movie time-scale units
  std::string sample_format;                // type of the sample description entry
  std::vector<uint8_t> sample_description;  // the whole entry atom
  uint32_t constant_sample_size = 0;        // 0 when sizes vary
  uint32_t sample_count = 0;
  std::vector<uint32_t> sample_sizes;  // one per sample when sizes vary
  std::vector<uint64_t> chunk_offsets;
  std::vector<Stsc_Entry> stsc;
  std::vector<Stts_Entry> stts;
  std::vector<uint32_t> tref_timecode;  // track IDs named by a "tref"/"tmcd"
  uint32_t edit_count = 0;              // as the "elst" states it
  std::vector<Edit_Entry> edits;        // the "edts"/"elst" entries

  uint32_t sample_size(uint64_t index) const;
  // Samples held by each chunk, from the sample-to-chunk entries.
  std::vector<uint32_t> samples_per_chunk() const;
};

class Mov_File {
 public:
  // Reads the atom tree; throws std::runtime_error on a malformed tree.
  explicit Mov_File(const std::string& path);

  uint64_t file_size() const { return file_size_; }
  const std::vector<Atom>& atoms() const { return atoms_; }

  // Atoms matching a "/"-separated path from the top level (or below `root`),
  // in file order.
  std::vector<const Atom*> find_all(const std::string& path) const;
  std::vector<const Atom*> find_all(const Atom& root, const std::string& path) const;
  // The index-th match, or null.
  const Atom* find(const std::string& path, size_t index = 0) const;
  const Atom* find(const Atom& root, const std::string& path) const;

  std::vector<uint8_t> read(uint64_t offset, uint64_t size) const;
  std::vector<uint8_t> payload(const Atom& atom) const;  // after the header

  // The "trak" atoms of "moov", in order.
  std::vector<const Atom*> tracks() const { return find_all("moov/trak"); }
  Track_Tables tables(const Atom& trak) const;
  // The first track with this handler subtype ("vide", "soun", "tmcd"), index-th of its kind.
  Track_Tables track(const std::string& handler, size_t index = 0) const;

  uint64_t sample_offset(const Track_Tables& track, uint64_t index) const;
  std::vector<uint8_t> sample(const Track_Tables& track, uint64_t index) const;
  // Every sample of the track in order, back to back (for PCM audio tracks).
  std::vector<uint8_t> track_data(const Track_Tables& track) const;

 private:
  std::vector<Atom> parse_level(uint64_t begin, uint64_t end, const std::string& parent);

  mutable std::ifstream in_;
  uint64_t file_size_ = 0;
  std::vector<Atom> atoms_;
};

// Helpers for tests that write movies.
// The movie writer's frame-rate argument: numerator low, denominator high.
constexpr uint64_t packed_rate(uint32_t numerator, uint32_t denominator) {
  return numerator | uint64_t(denominator) << 32;
}

}  // namespace mov_test
