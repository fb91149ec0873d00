#include "VIDEO/mov_writer_hl.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include "VIDEO/moov_writer.h"
#include "platform/file_io.h"

namespace {

constexpr uint64_t head_size = 48;
constexpr uint64_t media_size_field = 40;
constexpr uint64_t media_atom_start = 32;

[[noreturn]] void fail(const std::string& message) { throw std::runtime_error(message); }

// The system's reason for a failed write or close (a full disk, a quota), which
// "Error file write" alone does not tell.
void print_system_error(int error) {
  if (error != 0) std::cout << "Error file write : " << std::strerror(error) << std::endl;
}

void put_be64(uint8_t* dst, uint64_t v) {
  for (int i = 0; i < 8; ++i) dst[i] = uint8_t(v >> (56 - 8 * i));
}

}  // namespace

Mov_Writer_HL::Mov_Writer_HL(std::u16string_view path, uint16_t width, uint16_t height,
                             uint8_t depth, uint64_t frame_rate, const char* codec,
                             uint32_t creation_time, float pixel_aspect_ratio, uint8_t timecode,
                             uint32_t start_frame, uint8_t drop_frame)
    : Mov_Writer_HL(path, width, height, depth, frame_rate, codec, creation_time,
                    pixel_aspect_ratio, timecode, start_frame, drop_frame, 3, 2) {}

Mov_Writer_HL::Mov_Writer_HL(std::u16string_view path, uint16_t width, uint16_t height,
                             uint8_t depth, uint64_t frame_rate, const char* codec,
                             uint32_t creation_time, float pixel_aspect_ratio, uint8_t timecode,
                             uint32_t start_frame, uint8_t drop_frame, uint32_t field_type,
                             uint32_t colour_type)
    : width_(width),
      height_(height),
      depth_(depth),
      field_type_(field_type),
      colour_type_(colour_type),
      rate_numerator_(uint32_t(frame_rate)),
      rate_denominator_(uint32_t(frame_rate >> 32)),
      creation_time_(creation_time),
      pixel_aspect_ratio_(pixel_aspect_ratio),
      timecode_(timecode == 1 ? 1 : 0),
      start_frame_(timecode == 1 ? start_frame : 0),
      drop_frame_(timecode == 1 ? drop_frame : 0) {
  // The rate divides the sample count into seconds for the audio blocks and
  // the header durations; a zero would only show up as a crash much later.
  if (rate_numerator_ == 0 || rate_denominator_ == 0)
    fail("Invalid frame rate : " + std::to_string(rate_numerator_) + "/" +
         std::to_string(rate_denominator_));
  if (!codec) fail("Invalid codec");
  std::memcpy(codec_.data(), codec, 4);
  open_target_file(path);
}

Mov_Writer_HL::~Mov_Writer_HL() {
  if (file_) platform::file_close(file_);
}

void Mov_Writer_HL::open_target_file(std::u16string_view path) {
  std::string utf8;
  const bool converted = platform::utf16_to_utf8(path, utf8) && !utf8.empty();
  int error = EINVAL;
  if (converted) file_ = platform::file_open_write(utf8, &error);
  if (!file_)
    fail("Can't open target file (write) : " +
         (converted ? utf8 : std::string("Unknown filepath ")) +
         ". Error : " + std::to_string(error) + ". " + std::strerror(error));
  // Unbuffered: every write is large or rare, and a short write then shows at
  // once with its exact count, so the file can be cut back to what the sample
  // tables describe instead of failing later at some flush.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  // "ftyp" then the header of a media-data atom with a 64-bit size patched at finalise.
  std::vector<uint8_t> head = FTYP_Writer().serialise();
  static constexpr uint8_t media_header[16] = {0, 0, 0, 1, 'm', 'd', 'a', 't'};
  head.insert(head.end(), media_header, media_header + sizeof media_header);
  write_position_ = 0;
  try {
    write_bytes_checked(head.data(), head.size());
  } catch (...) {
    platform::file_close(file_);  // no destructor runs for a failed constructor
    file_ = nullptr;
    throw;
  }
  write_position_ = head_size;
}

void Mov_Writer_HL::check_file() const {
  if (!file_) fail("Invalid file pointer");
}

// A short write leaves part of the bytes in the file. The file is cut back to
// the write position, so whatever is written next, a header on the error path
// included, lands where the sample tables say it does.
void Mov_Writer_HL::write_bytes_checked(const void* data, uint64_t size) {
  errno = 0;
  const size_t written = size ? std::fwrite(data, 1, size, file_) : 0;
  if (written == size) return;
  const int error = errno;
  std::cout << "Number of bytes to write : " << size << ". Number bytes write : " << written
            << std::endl;
  print_system_error(error);
  truncate_at(write_position_);
  fail("Error file write");
}

void Mov_Writer_HL::truncate_at(uint64_t end) {
  std::clearerr(file_);
  if (platform::file_seek64(file_, int64_t(end), SEEK_SET) == 0)
    (void)::ftruncate(::fileno(file_), off_t(end));
  std::clearerr(file_);
}

void Mov_Writer_HL::seek_from_start(uint64_t offset) {
  if (offset >= 0x7FFFFFFFFFFFFFFFull)
    fail("Seek from start error (offset > INT64_MAX) : " + std::to_string(offset) +
         ". INT64_MAX : 9223372036854775807. ");
  const int result = platform::file_seek64(file_, int64_t(offset), SEEK_SET);
  if (result != 0)
    fail("Seek from start error (return != 0) : " + std::to_string(result) +
         ". Offset from start : " + std::to_string(offset) + ". ");
}

void Mov_Writer_HL::seek_to_end() {
  const int result = platform::file_seek64(file_, 0, SEEK_END);
  if (result != 0)
    fail("Seek to end of file error (return != 0) : " + std::to_string(result) + ". ");
}

void Mov_Writer_HL::write_video_chunk(const uint8_t* data, uint32_t size) {
  check_file();
  if (!data && size != 0) fail("Invalid video chunk data (null)");
  if (is_audio_block_due()) reserve_audio_block();
  if (size == 0) std::printf("WARNING : Invalid video chunk size zero\n");
  write_bytes_checked(data, size);
  add_video_sample_entry(write_position_, size);
  write_position_ += size;
}

void Mov_Writer_HL::add_video_sample_entry(uint64_t offset, uint32_t size) {
  sample_offsets_.push_back(offset);
  sample_sizes_.push_back(size);
}

bool Mov_Writer_HL::clone_previous_frame() {
  if (sample_offsets_.empty()) {
    std::cout << "Impossible de cloner la frame precedente, car aucune frame n'a ete ecrite"
              << std::endl;
    return false;
  }
  add_video_sample_entry(sample_offsets_.back(), sample_sizes_.back());
  return true;
}

void Mov_Writer_HL::set_movie_metadata(const Movie_Metadata& metadata) {
  const uint16_t version = metadata_.version;
  metadata_ = metadata;
  metadata_.version = version;
}

void Mov_Writer_HL::finalise() {
  check_file();
  kept_end_ = write_position_;
  try {
    finalise_open_file();
  } catch (...) {
    // Whatever part of the header reached the file is cut off again, so the
    // file ends with its media data (and the timecode sample, once written) and
    // no partial header. (A failed close comes after the whole header was
    // written; the file is gone from us then.)
    if (file_) {
      truncate_at(kept_end_);
      platform::file_close(file_);
      file_ = nullptr;
    }
    throw;
  }
}

void Mov_Writer_HL::finalise_open_file() {
  if (has_audio()) {
    flush_audio_tracks();
    pad_audio_to_video();
  }
  kept_end_ = write_position_;

  uint8_t size_field[8];
  put_be64(size_field, write_position_ - media_atom_start);
  seek_from_start(media_size_field);
  write_bytes_checked(size_field, sizeof size_field);
  seek_to_end();

  if (timecode_ == 1) {
    const std::vector<uint8_t> bytes = MDAT_TC_Writer(start_frame_).serialise();
    timecode_sample_offset_ = write_position_ + 8;
    write_bytes_checked(bytes.data(), bytes.size());
    write_position_ += bytes.size();
    kept_end_ = write_position_;
  }
  build_and_write_header();

  std::FILE* file = file_;
  file_ = nullptr;
  errno = 0;
  if (platform::file_close(file) != 0) {
    print_system_error(errno);
    fail("Error file write");
  }
}

void Mov_Writer_HL::build_and_write_header() {
  Extension_List extensions;
  if (field_type_ != 3) extensions.push_back(FIEL_Writer(field_type_));
  if (colour_type_ != 2)
    extensions.push_back(COLR_NCLC_Writer(colour_type_));
  else
    extensions.push_back(GAMA_Writer(2, 0x3333));  // gamma 2.2

  const uint64_t sample_count = get_video_frame_count();
  if (sample_count > 0xFFFFFFFFull)
    fail("Too many video samples for the movie header : " + std::to_string(sample_count));
  Video_Track_Description video;
  video.creation_time = creation_time_;
  video.width = width_;
  video.height = height_;
  video.depth = depth_;
  video.codec = codec_;
  video.sample_count = uint32_t(sample_count);
  video.rate = {rate_numerator_, rate_denominator_};
  video.offsets = &sample_offsets_;
  video.sizes = &sample_sizes_;
  video.pixel_aspect_ratio = pixel_aspect_ratio_;
  Timecode_Settings timecode;
  timecode.on = timecode_;
  timecode.drop_frame = drop_frame_;
  timecode.sample_offset = timecode_sample_offset_;

  Moov_Video_Writer tree(video, timecode, audio_.track_count, extensions);
  add_audio_tracks_to(tree);
  set_user_data_atoms(tree, metadata_);

  const std::vector<uint8_t> header = tree.serialise();
  write_bytes_checked(header.data(), header.size());
  write_position_ += header.size();
}
