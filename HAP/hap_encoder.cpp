// The encoder front: slots, frame threads, in-order writing and the movie writer.
#include "HAP/hap_encoder.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <stdexcept>

#include "HAP/hap_cpu_encoder.h"
#include "VIDEO/mov_writer_hl.h"
#include "platform/system_info.h"

namespace {

struct Codec_Entry {
  const char* sample_type;
  uint32_t internal_codec;
};

constexpr Codec_Entry codec_entries[] = {
    {"HapA", Hap_Internal_RGTC1},         {"Hap1", Hap_Internal_DXT1},
    {"Hap5", Hap_Internal_DXT5},          {"HapY", Hap_Internal_YCoCg_DXT5},
    {"HapM", Hap_Internal_YCoCg_DXT5_RGTC1}, {"Hap7", Hap_Internal_BC7},
};

const Codec_Entry& codec_entry(uint8_t codec) {
  if (codec >= std::size(codec_entries)) throw std::runtime_error("Unsupported HAP Codec");
  return codec_entries[codec];
}

constexpr uint8_t alpha_premultiplied = 1, alpha_straight = 2;

}  // namespace

uint32_t hap_processor_count() { return std::max(1u, platform::processor_count()); }

void Hap_Encoder::Slot_Encoder_Deleter::operator()(Hap_Cpu_Encoder* encoder) const {
  hap_cpu_encoder_destroy(encoder);
}

void Hap_Encoder::Writer_Deleter::operator()(Mov_Writer_HL* writer) const { delete writer; }

Hap_Encoder::Hap_Encoder(const std::u16string& output_path, uint16_t width, uint16_t height,
                         uint8_t bits_per_pixel, uint64_t frame_rate, uint32_t creation_time,
                         uint16_t chunk_count, uint8_t timecode, uint32_t timecode_start_frame,
                         uint8_t drop_frame, float pixel_aspect_ratio, uint8_t codec,
                         uint32_t thread_mode, uint8_t quality, uint8_t no_writer, uint32_t spare,
                         uint32_t simd_mask)
    : width_(width),
      height_(height),
      bits_per_pixel_(bits_per_pixel),
      chunk_count_(chunk_count),
      quality_(std::clamp<uint8_t>(quality, 1, 3)),
      codec_(codec),
      simd_mask_(simd_mask),
      spare_(spare),
      no_writer_(no_writer) {
  const Codec_Entry& entry = codec_entry(codec);
  if (!no_writer_)
    writer_.reset(new Mov_Writer_HL(output_path, width, height, bits_per_pixel, frame_rate,
                                    entry.sample_type, creation_time, pixel_aspect_ratio, timecode,
                                    timecode_start_frame, drop_frame));
  const bool frame_threading = thread_mode != 1;
  thread_count_ = frame_threading ? std::min(hap_processor_count(), max_slots) : 1;
  // Members own what is made here, so a throw part-way releases it all.
  for (uint32_t s = 0; s < thread_count_; ++s) {
    encoders_[s].reset(hap_cpu_encoder_create(width, height, chunk_count, entry.internal_codec,
                                              quality_, frame_threading, simd_mask, 0));
    if (!encoders_[s]) throw std::runtime_error("fail to init cpu encoding");
  }
}

Hap_Encoder::~Hap_Encoder() {
  // A frame thread must not outlive the slot encoder it works in.
  for (std::thread& t : threads_)
    if (t.joinable()) t.join();
}

void Hap_Encoder::set_audio_tracks(uint32_t track_count, uint32_t sample_rate,
                                   uint16_t bits_per_sample, uint32_t channels_per_track,
                                   uint8_t is_float, uint32_t channel_layout) {
  if (writer_)
    writer_->set_audio_tracks(track_count, sample_rate, bits_per_sample, channels_per_track,
                              is_float, channel_layout);
}

void Hap_Encoder::add_audio(const void* samples, int64_t sample_frames, uint32_t track_index) {
  if (writer_) writer_->add_audio(static_cast<const uint8_t*>(samples), sample_frames, track_index);
}

void Hap_Encoder::set_alpha_mode(uint8_t mode) {
  if (!writer_) return;
  Movie_Metadata metadata;
  metadata.enable = 1;
  metadata.version = 1;
  metadata.alpha_mode = mode;
  writer_->set_movie_metadata(metadata);
}

void Hap_Encoder::set_alpha_premultiplied() { set_alpha_mode(alpha_premultiplied); }
void Hap_Encoder::set_alpha_straight() { set_alpha_mode(alpha_straight); }

void Hap_Encoder::open_encoders(uint32_t pix_fmt, uint16_t bits_per_pixel, uint32_t pad_mode,
                                uint32_t thread_request) {
  for (uint32_t s = 0; s < thread_count_; ++s)
    hap_cpu_encoder_open(encoders_[s].get(), pix_fmt, bits_per_pixel, pad_mode, thread_request);
}

void Hap_Encoder::open_encoders_extra(uint32_t pix_fmt, uint16_t bits_per_pixel, uint32_t pad_mode,
                                      uint32_t thread_request, uint8_t context_slot) {
  for (uint32_t s = 0; s < thread_count_; ++s)
    hap_cpu_encoder_open_extra(encoders_[s].get(), pix_fmt, bits_per_pixel, pad_mode,
                               thread_request, context_slot);
}

void Hap_Encoder::set_frame_thread_hook(Hap_Frame_Thread_Hook hook, void* user) {
  hook_ = hook;
  hook_user_ = user;
}

void Hap_Encoder::collect_slot(uint32_t slot) {
  try {
    threads_[slot].join();
    running_[slot] = 0;
    if (errors_[slot]) std::rethrow_exception(std::exchange(errors_[slot], nullptr));
    if (failure_) return;
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    hap_cpu_encoder_get_output(encoders_[slot].get(), &data, &size);
    if (size == 0) {
      std::printf("WARNING : Empty hap frame queue 1\n");
      return;
    }
    if (writer_) writer_->write_video_chunk(data, size);
  } catch (...) {
    if (!failure_) failure_ = std::current_exception();
    throw;
  }
}

uint32_t Hap_Encoder::collect_all() {
  uint32_t collected = 0;
  for (uint32_t i = 0; i < thread_count_; ++i) {
    const uint32_t slot = (next_slot_ + i) % thread_count_;
    if (!running_[slot]) continue;
    ++collected;
    try {
      collect_slot(slot);
    } catch (...) {
      // Kept in failure_; the remaining slots must still be joined.
    }
  }
  return collected;
}

void Hap_Encoder::push_frame(const uint8_t* pixels, int64_t row_bytes, uint8_t context_slot) {
  if (context_slot > 2) throw std::runtime_error("Invalid encodeur index");
  if (failure_) std::rethrow_exception(failure_);
  const uint32_t slot = next_slot_;
  if (running_[slot]) collect_slot(slot);

  Hap_Cpu_Encoder* encoder = encoders_[slot].get();
  hap_cpu_encoder_set_frame(encoder, pixels, row_bytes, context_slot);
  std::exception_ptr* error = &errors_[slot];
  threads_[slot] = std::thread([encoder, error, hook = hook_, user = hook_user_,
                                number = frames_pushed_] {
    // The pushing thread reads the error only after the join.
    try {
      if (hook) hook(user, number);
      hap_cpu_encoder_run(encoder);
    } catch (...) {
      *error = std::current_exception();
    }
  });
  running_[slot] = 1;
  ++frames_pushed_;
  advance_slot();
}

uint32_t Hap_Encoder::flush() {
  const uint32_t collected = collect_all();
  if (failure_) std::rethrow_exception(failure_);
  return collected;
}

void Hap_Encoder::close() {
  flush();
  if (writer_) writer_->finalise();
}

void Hap_Encoder::finalise_guarded() {
  // Frames finished before any failure still belong in the movie, in order.
  collect_all();
  if (!writer_) return;
  try {
    writer_->finalise();
  } catch (const std::runtime_error& e) {
    std::printf("close : Runtime error%s\n", e.what());
  } catch (const std::bad_alloc& e) {
    std::printf("Close : Memory error%s\n", e.what());
  }
}

uint32_t Hap_Encoder::advance_slot() {
  next_slot_ = next_slot_ + 1 >= thread_count_ ? 0 : next_slot_ + 1;
  return next_slot_;
}
