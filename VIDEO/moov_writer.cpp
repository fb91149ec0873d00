#include "VIDEO/moov_writer.h"

#include <stdexcept>

Moov_Video_Writer::Moov_Video_Writer(const Video_Track_Description& video,
                                     const Timecode_Settings& timecode, uint32_t audio_track_count,
                                     Extension_List& extensions)
    : Container_Atom("moov"), video_(video), audio_tracks_announced_(audio_track_count) {
  uint64_t last_track_id = uint64_t(audio_track_count) + 1;
  uint8_t exact = 0;
  round_fps(video_.rate, video_.sample_count, &exact);
  if (timecode.on == 1 && is_tc_fps_supported(video_.rate)) {
    ++last_track_id;
    timecode_track_id_ = int32_t(last_track_id);
    timecode_trak_ = std::make_unique<TRAK_TC_Writer>(uint32_t(last_track_id), video_.creation_time,
                                                      video_.sample_count, video_.rate,
                                                      timecode.sample_offset, timecode.drop_frame);
  }
  mvhd_ = std::make_unique<MVHD_Writer>(video_.creation_time, video_.sample_count, video_.rate,
                                        uint32_t(last_track_id));
  video_trak_ = std::make_unique<TRAK_Video_Writer>(video_, timecode_track_id_, extensions);
  udta_ = std::make_unique<UDTA_Writer>();
}

void Moov_Video_Writer::add_audio_track(const Audio_Format& format, uint64_t duration,
                                        const std::vector<uint64_t>& chunk_offsets) {
  if (audio_traks_.size() >= audio_tracks_announced_)
    throw std::runtime_error("Not enough audio track set at start");
  const uint32_t track_id = uint32_t(audio_traks_.size()) + 2;
  audio_traks_.push_back(std::make_unique<TRAK_Audio_Writer>(
      track_id, video_.creation_time, video_.sample_count, video_.rate, format, duration,
      chunk_offsets, timecode_track_id_));
}

uint64_t Moov_Video_Writer::get_atom_size(bool* is64) const {
  if (audio_traks_.size() != audio_tracks_announced_)
    throw std::runtime_error("Not enough audio track created");
  return Container_Atom::get_atom_size(is64);
}

std::vector<const Atom_Writer*> Moov_Video_Writer::children() const {
  std::vector<const Atom_Writer*> list{mvhd_.get(), video_trak_.get()};
  for (const auto& trak : audio_traks_) list.push_back(trak.get());
  if (timecode_trak_) list.push_back(timecode_trak_.get());
  if (!udta_->is_empty()) list.push_back(udta_.get());
  return list;
}
