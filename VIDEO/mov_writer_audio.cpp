// Audio side of the movie writer: one-second blocks of every track reserved
// between the video samples, filled by seeking back as the audio arrives.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>

#include "VIDEO/moov_writer.h"
#include "VIDEO/mov_writer_hl.h"

namespace {

[[noreturn]] void fail(const std::string& message) { throw std::runtime_error(message); }

}  // namespace

uint8_t Mov_Writer_HL::silence_byte() const { return audio_.format.bits_per_sample == 8 ? 0x80 : 0x00; }

void Mov_Writer_HL::set_audio_tracks(uint32_t track_count, uint32_t sample_rate,
                                     uint16_t bits_per_sample, uint32_t channels_per_track,
                                     uint8_t float_flag, uint32_t channel_layout) {
  if (audio_.track_count != 0) fail("Set audio tracks call multiple times");
  if (track_count == 0) return;
  if (track_count > max_audio_tracks) fail("Unsupported audio track count (max 64 supported)");
  if (sample_rate == 0) fail("Invalid 0 frequency");
  if (channels_per_track == 0) fail("Invalid 0 nb channels by track");
  // The sample descriptions hold the channel count in 16 bits.
  if (channels_per_track > 0xFFFF)
    fail("Unsupported audio channel count by track (max 65535) : " +
         std::to_string(channels_per_track));
  if (float_flag == 1) {
    if (bits_per_sample != 32 && bits_per_sample != 64) fail("Unsupported audio quantif for float");
  } else if (bits_per_sample != 8 && bits_per_sample != 16 && bits_per_sample != 24 &&
             bits_per_sample != 32) {
    std::printf("ERR : Invalid Audio quantif (int) : %d\n", int(bits_per_sample));
    fail("Unsupported audio quantif for integer");
  }

  Audio_State& a = audio_;
  a.format = {bits_per_sample, sample_rate, uint16_t(channels_per_track), uint8_t(float_flag == 1 ? 1 : 0),
              channel_layout};
  a.bytes_per_sample = uint16_t(bits_per_sample / 8);
  a.bytes_per_track_second = uint64_t(a.bytes_per_sample) * sample_rate * channels_per_track;
  a.bytes_per_block = a.bytes_per_track_second * track_count;
  a.fill_count.assign(track_count, 0);
  a.seconds_written.assign(track_count, 0);
  a.frames_written.assign(track_count, 0);
  a.frames_received.assign(track_count, 0);
  a.track_buffers.assign(track_count,
                         std::vector<uint8_t>(a.bytes_per_track_second, silence_byte()));
  a.silence_block.assign(a.bytes_per_block, silence_byte());
  a.interleave_buffer.assign(a.bytes_per_track_second, 0);
  a.track_count = track_count;
}

void Mov_Writer_HL::check_audio_track_index(uint32_t track) const {
  if (track >= audio_.track_count)
    fail("Invalid audio track index : " + std::to_string(track) + " Nb Audio tracks (" +
         std::to_string(audio_.track_count) + ")");
}

bool Mov_Writer_HL::is_audio_block_due() const {
  if (!has_audio()) return false;
  // Seconds reached once the next sample ends; 64-bit so that long exports at
  // 1001-based rates do not wrap.
  const uint64_t seconds = (get_video_frame_count() + 1) * uint64_t(rate_denominator_) / rate_numerator_;
  return seconds >= audio_.blocks_reserved;
}

void Mov_Writer_HL::reserve_audio_block() {
  check_file();
  write_bytes_checked(audio_.silence_block.data(), audio_.silence_block.size());
  audio_.block_offsets.push_back(write_position_);
  write_position_ += audio_.bytes_per_block;
  ++audio_.blocks_reserved;
}

void Mov_Writer_HL::add_audio(const uint8_t* samples, int64_t sample_frames, uint32_t track) {
  if (sample_frames < 0)
    fail("Invalid audio sample frame count : " + std::to_string(sample_frames));
  if (sample_frames == 0) return;
  check_audio_track_index(track);
  if (!samples) fail("Invalid audio samples (null)");
  Audio_State& a = audio_;
  const uint64_t frame_bytes = uint64_t(a.bytes_per_sample) * a.format.channels;
  // Frames past what a track header can count are refused here, while the
  // movie can still be finalised with everything before them.
  const uint64_t room_in_track = max_audio_frames_ - std::min(max_audio_frames_, a.frames_received[track]);
  const uint64_t accepted = std::min(uint64_t(sample_frames), room_in_track);
  uint64_t remaining = accepted;
  while (remaining > 0) {
    if (a.fill_count[track] == a.format.sample_rate) flush_audio_track(track);
    const uint64_t room = a.format.sample_rate - a.fill_count[track];
    const uint64_t frames = std::min(remaining, room);
    std::memcpy(a.track_buffers[track].data() + a.fill_count[track] * frame_bytes, samples,
                frames * frame_bytes);
    samples += frames * frame_bytes;
    a.fill_count[track] += uint32_t(frames);
    a.frames_received[track] += frames;
    remaining -= frames;
  }
  if (accepted < uint64_t(sample_frames))
    fail("Audio track too long: " + std::to_string(uint64_t(sample_frames) - accepted) +
         " sample frames refused past the " + std::to_string(max_audio_frames_) +
         " a track can describe");
}

void Mov_Writer_HL::set_audio_frame_limit(uint64_t frames) {
  max_audio_frames_ = std::min<uint64_t>(frames, 0xFFFFFFFF);
}

void Mov_Writer_HL::add_planar_audio(const uint8_t* const* planes, uint32_t plane_count,
                                     uint64_t sample_frames, uint32_t track) {
  if (sample_frames == 0) return;
  check_audio_track_index(track);
  if (sample_frames > uint64_t(INT64_MAX))
    fail("Invalid audio sample frame count : " + std::to_string(sample_frames));
  if (audio_.format.channels == 1) {
    add_audio(planes[0], int64_t(sample_frames), track);
    return;
  }
  if (plane_count != audio_.format.channels) fail("Error add planar audio (not enough audio plane)");
  const uint64_t sample_bytes = audio_.bytes_per_sample;
  const uint64_t frame_bytes = sample_bytes * audio_.format.channels;
  for (uint64_t first = 0; first < sample_frames; first += audio_.format.sample_rate) {
    const uint64_t frames = std::min<uint64_t>(audio_.format.sample_rate, sample_frames - first);
    uint8_t* out = audio_.interleave_buffer.data();
    for (uint64_t f = 0; f < frames; ++f)
      for (uint32_t c = 0; c < audio_.format.channels; ++c)
        std::memcpy(out + f * frame_bytes + c * sample_bytes,
                    planes[c] + (first + f) * sample_bytes, sample_bytes);
    add_audio(out, int64_t(frames), track);
  }
}

void Mov_Writer_HL::flush_audio_track(uint32_t track) {
  check_audio_track_index(track);
  check_file();
  Audio_State& a = audio_;
  const uint64_t second = a.seconds_written[track];
  if (second >= a.block_offsets.size()) reserve_audio_block();
  if (second >= a.block_offsets.size()) fail("Error index audio buffer");
  seek_from_start(a.block_offsets[second] + track * a.bytes_per_track_second);
  write_bytes_checked(a.track_buffers[track].data(), a.track_buffers[track].size());
  a.fill_count[track] = 0;
  ++a.seconds_written[track];
  a.frames_written[track] += a.format.sample_rate;
  seek_to_end();
  reset_audio_buffer(track);
}

void Mov_Writer_HL::flush_audio_tracks() {
  for (uint32_t track = 0; track < audio_.track_count; ++track)
    if (audio_.fill_count[track] != 0) flush_audio_track(track);
}

void Mov_Writer_HL::reset_audio_buffer(uint32_t track) {
  check_audio_track_index(track);
  std::fill(audio_.track_buffers[track].begin(), audio_.track_buffers[track].end(), silence_byte());
}

uint64_t Mov_Writer_HL::get_audio_duration() const {
  if (sample_offsets_.empty() || !has_audio()) return 0;
  const double fps = double(rate_numerator_) / double(rate_denominator_);
  return uint64_t(std::round(double(get_video_frame_count()) / fps * double(audio_.format.sample_rate)));
}

void Mov_Writer_HL::pad_audio_to_video() {
  if (!has_audio()) return;
  const uint64_t duration = get_audio_duration();
  uint64_t covered = uint64_t(audio_.format.sample_rate) * audio_.blocks_reserved;
  if (covered >= duration) return;
  for (uint64_t written : audio_.frames_written) covered = std::max(covered, written);
  while (covered < duration) {
    reserve_audio_block();
    covered += audio_.format.sample_rate;
  }
  std::fill(audio_.frames_written.begin(), audio_.frames_written.end(), covered);
}

uint64_t Mov_Writer_HL::audio_frames_received(uint32_t track) const {
  check_audio_track_index(track);
  return audio_.frames_received[track];
}

std::vector<uint64_t> Mov_Writer_HL::get_audio_chunk_offsets(uint32_t track,
                                                             int64_t duration) const {
  check_audio_track_index(track);
  std::vector<uint64_t> offsets;
  const uint64_t track_start = track * audio_.bytes_per_track_second;
  for (int64_t left = duration; left > 0; left -= audio_.format.sample_rate) {
    const size_t block = offsets.size();
    if (block >= audio_.block_offsets.size()) {
      std::cout << "Error, invalid audio buf index : " << block
                << "; Nb Offset : " << audio_.block_offsets.size();
      break;
    }
    offsets.push_back(audio_.block_offsets[block] + track_start);
  }
  return offsets;
}

// Every track is described with the video's duration, one chunk per block
// from the first: audio handed in past the video stays in its blocks but is not
// part of the track, so the track ends with the video as its header and edit
// list say. Never more than a header can count.
void Mov_Writer_HL::add_audio_tracks_to(Moov_Video_Writer& tree) {
  uint64_t duration = get_audio_duration();
  // Only a video longer than the limit gets here: its audio is described up
  // to the limit rather than losing the whole header.
  if (duration > max_audio_frames_) {
    std::cout << "WARNING : audio tracks cut to " << max_audio_frames_ << " sample frames" << std::endl;
    duration = max_audio_frames_;
  }
  for (uint32_t track = 0; track < audio_.track_count; ++track)
    tree.add_audio_track(audio_.format, duration, get_audio_chunk_offsets(track, int64_t(duration)));
}
