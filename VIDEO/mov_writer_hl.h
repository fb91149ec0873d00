// Movie writer: streams HAP video samples and PCM audio into one QuickTime
// movie file and writes the header atom tree at the end.
//
// File layout: a 32-byte "ftyp", a media-data atom whose 64-bit size is
// patched at finalise, the samples and one-second audio blocks, an optional
// 12-byte media-data atom holding the timecode start frame, then "moov".
// Every failure is a std::runtime_error whose text is the message.
#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "VIDEO/audio_track_atoms.h"
#include "VIDEO/user_data_atoms.h"

class Moov_Video_Writer;

class Mov_Writer_HL {
 public:
  static constexpr uint32_t max_audio_tracks = 64;

  // Creates the file at `path` (UTF-16) and writes its 48-byte head at once.
  // The frame rate holds the numerator in its low 32 bits and the denominator
  // in its high 32 bits; a zero in either is refused before the file is made.
  // `codec` points to the four-character sample type ("Hap1", "Hap5", "HapY",
  // "HapM", "HapA", "Hap7"). The start frame and drop-frame flag are kept only
  // when `timecode` is 1.
  Mov_Writer_HL(std::u16string_view path, uint16_t width, uint16_t height, uint8_t depth,
                uint64_t frame_rate, const char* codec, uint32_t creation_time,
                float pixel_aspect_ratio, uint8_t timecode, uint32_t start_frame,
                uint8_t drop_frame);
  // The same with the interlace type of a "fiel" atom (3: none) and the colour
  // type of a "colr" atom (2: none, a gamma 2.2 "gama" atom instead).
  Mov_Writer_HL(std::u16string_view path, uint16_t width, uint16_t height, uint8_t depth,
                uint64_t frame_rate, const char* codec, uint32_t creation_time,
                float pixel_aspect_ratio, uint8_t timecode, uint32_t start_frame,
                uint8_t drop_frame, uint32_t field_type, uint32_t colour_type);
  // Closes the file if finalise did not (the movie then has no header).
  ~Mov_Writer_HL();

  Mov_Writer_HL(const Mov_Writer_HL&) = delete;
  Mov_Writer_HL& operator=(const Mov_Writer_HL&) = delete;

  // --- video -------------------------------------------------------------
  // Appends one video sample (reserving the next audio block first when the
  // video reaches a new second). A zero size only warns.
  void write_video_chunk(const uint8_t* data, uint32_t size);
  // Records the previous sample again without writing; false before any.
  bool clone_previous_frame();

  // --- audio -------------------------------------------------------------
  // Sets the format of all audio tracks, once, before the first video sample.
  // 0 tracks means no audio; at most 64. Integer samples are 8 (unsigned), 16,
  // 24 or 32 bits; float samples 32 or 64 bits. Channel layout 0 is none,
  // 1 to 3 the three 5.1 orders.
  void set_audio_tracks(uint32_t track_count, uint32_t sample_rate, uint16_t bits_per_sample,
                        uint32_t channels_per_track, uint8_t float_flag, uint32_t channel_layout);
  // Appends interleaved little-endian sample frames to one track; stored as
  // given. Zero frames is a no-op; negative counts are refused. Frames that
  // would take the track past the audio frame limit are refused with an
  // error after the ones that fit are taken.
  void add_audio(const uint8_t* samples, int64_t sample_frames, uint32_t track);
  // The most sample frames a track may hold: 4294967295 (what its header can
  // count), or less for tests.
  void set_audio_frame_limit(uint64_t frames);
  // The same for one plane per channel.
  void add_planar_audio(const uint8_t* const* planes, uint32_t plane_count, uint64_t sample_frames,
                        uint32_t track);

  // --- user data ---------------------------------------------------------
  // Alpha mode and crop box for the user-data atoms (version stays 1).
  void set_movie_metadata(const Movie_Metadata& metadata);

  // Writes the pending audio, the silence up to the video's duration, the
  // media-data size, the timecode sample and the header; closes the file.
  // Every audio track is described with the video's duration in sample
  // frames; audio given past it stays in the file but not in the track.
  // Runs once: any later call fails with "Invalid file pointer". On failure
  // the file is cut back to its media data and timecode sample, so no partial
  // header stays.
  void finalise();

  // --- queries and steps (used by finalise and by tests) -------------------
  uint64_t get_video_frame_count() const { return sample_offsets_.size(); }
  bool has_audio() const { return audio_.track_count > 0; }
  // True when the next video sample will first reserve an audio block.
  bool is_audio_block_due() const;
  // Fails with "Invalid file pointer" when no file is open.
  void check_file() const;
  // Fails unless track < track count.
  void check_audio_track_index(uint32_t track) const;
  // Appends one block of silence for every track at the write position.
  void reserve_audio_block();
  // Writes a track's one-second buffer into its next block.
  void flush_audio_track(uint32_t track);
  // flush_audio_track for every track holding buffered frames.
  void flush_audio_tracks();
  // Appends silence blocks until they cover the video's duration.
  void pad_audio_to_video();
  // The video's duration in audio sample frames.
  uint64_t get_audio_duration() const;
  // Chunk offsets of a track described with `duration` sample frames.
  std::vector<uint64_t> get_audio_chunk_offsets(uint32_t track, int64_t duration) const;
  // Refills a track's one-second buffer with silence.
  void reset_audio_buffer(uint32_t track);
  // Sample frames handed to a track so far.
  uint64_t audio_frames_received(uint32_t track) const;
  // Offsets of the audio blocks reserved so far.
  const std::vector<uint64_t>& audio_block_offsets() const { return audio_.block_offsets; }

  // File offset where the next appended byte goes.
  uint64_t write_position() const { return write_position_; }

 private:
  struct Audio_State {
    uint32_t track_count = 0;
    Audio_Format format;  // of every track
    uint16_t bytes_per_sample = 0;
    uint64_t blocks_reserved = 0;
    uint64_t bytes_per_track_second = 0;
    uint64_t bytes_per_block = 0;
    std::vector<uint32_t> fill_count;
    std::vector<uint64_t> seconds_written;
    std::vector<uint64_t> block_offsets;
    std::vector<uint64_t> frames_written;
    std::vector<uint64_t> frames_received;
    std::vector<std::vector<uint8_t>> track_buffers;
    std::vector<uint8_t> silence_block;
    std::vector<uint8_t> interleave_buffer;
  };

  void open_target_file(std::u16string_view path);
  void write_bytes_checked(const void* data, uint64_t size);
  void seek_from_start(uint64_t offset);
  void seek_to_end();
  void add_video_sample_entry(uint64_t offset, uint32_t size);
  uint8_t silence_byte() const;
  void finalise_open_file();
  void build_and_write_header();
  void add_audio_tracks_to(Moov_Video_Writer& tree);
  // Cuts the file to `end` bytes and puts the stream there.
  void truncate_at(uint64_t end);

  std::FILE* file_ = nullptr;
  uint16_t width_ = 0, height_ = 0;
  uint8_t depth_ = 0;
  uint32_t field_type_ = 3;
  uint32_t colour_type_ = 2;
  uint32_t rate_numerator_ = 0, rate_denominator_ = 0;
  std::array<char, 4> codec_{};
  uint32_t creation_time_ = 0;
  float pixel_aspect_ratio_ = 1.0f;
  std::vector<uint64_t> sample_offsets_;
  std::vector<uint32_t> sample_sizes_;
  uint64_t write_position_ = 0;
  // What a failed finalise leaves: the media data, then the timecode sample
  // once it is written.
  uint64_t kept_end_ = 0;
  uint8_t timecode_ = 0;
  uint32_t start_frame_ = 0;
  uint8_t drop_frame_ = 0;
  uint64_t timecode_sample_offset_ = 0;
  Movie_Metadata metadata_;
  Audio_State audio_;
  uint64_t max_audio_frames_ = 0xFFFFFFFF;
};
