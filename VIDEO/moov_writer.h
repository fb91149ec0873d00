// Root of the header tree: "moov" with the movie header, the video track, the
// audio tracks in the order added, the optional timecode track and the user
// data (written only when it holds an atom).
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "VIDEO/atom_writer.h"
#include "VIDEO/audio_track_atoms.h"
#include "VIDEO/movie_atoms.h"
#include "VIDEO/timecode_atoms.h"
#include "VIDEO/user_data_atoms.h"
#include "VIDEO/video_track_atoms.h"

struct Timecode_Settings {
  uint8_t on = 0;  // 1: a timecode track is wanted
  uint8_t drop_frame = 0;
  uint64_t sample_offset = 0;  // file offset of the 4-byte timecode sample
};

class Moov_Video_Writer : public Container_Atom {
 public:
  // Normalises the frame rate first (round_fps); every track uses the result.
  // Track IDs: video 1, audio 2 .. N + 1, timecode N + 2 (when the normalised
  // rate can carry one). `extensions` gains the "pasp" of the video track.
  Moov_Video_Writer(const Video_Track_Description& video, const Timecode_Settings& timecode,
                    uint32_t audio_track_count, Extension_List& extensions);

  // Adds the next of the announced audio tracks; `duration` in sample frames.
  void add_audio_track(const Audio_Format& format, uint64_t duration,
                       const std::vector<uint64_t>& chunk_offsets);

  // Fails with "Not enough audio track created" unless every announced audio
  // track was added.
  uint64_t get_atom_size(bool* is64) const override;
  std::vector<const Atom_Writer*> children() const override;

  UDTA_Writer& udta() { return *udta_; }
  const UDTA_Writer& udta_atom() const { return *udta_; }
  uint16_t width() const { return video_.width; }
  uint16_t height() const { return video_.height; }
  uint8_t depth() const { return video_.depth; }
  const Frame_Rate& rate() const { return video_.rate; }
  int32_t timecode_track_id() const { return timecode_track_id_; }

 private:
  Video_Track_Description video_;
  uint32_t audio_tracks_announced_ = 0;
  int32_t timecode_track_id_ = -1;
  std::unique_ptr<MVHD_Writer> mvhd_;
  std::unique_ptr<TRAK_Video_Writer> video_trak_;
  std::vector<std::unique_ptr<TRAK_Audio_Writer>> audio_traks_;
  std::unique_ptr<TRAK_TC_Writer> timecode_trak_;
  std::unique_ptr<UDTA_Writer> udta_;
};
