// The encoder front: slots, frame threads, in-order writing and the movie writer.
#include "HAP/hap_encoder.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "HAP/hap_cpu_encoder.h"
#include "HAP/hap_frame.h"
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

// Starts `thread` on `work` unless it runs already; false when the system
// gives no thread (too many threads, too little memory).
template <class Work>
bool keep_running(std::thread& thread, Work work) {
  if (thread.joinable()) return true;
  try {
    thread = std::thread(std::move(work));
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

}  // namespace

uint32_t hap_processor_count() { return std::max(1u, platform::processor_count()); }

uint32_t hap_slot_count(uint32_t processors, uint64_t slot_bytes) {
  const uint64_t by_memory = Hap_Encoder::slot_memory_budget / std::max<uint64_t>(slot_bytes, 1);
  return uint32_t(std::max<uint64_t>(1, std::min<uint64_t>({processors, Hap_Encoder::max_slots, by_memory})));
}

void Hap_Encoder::Slot_Encoder_Deleter::operator()(Hap_Cpu_Encoder* encoder) const {
  hap_cpu_encoder_destroy(encoder);
}

void Hap_Encoder::Writer_Deleter::operator()(Mov_Writer_HL* writer) const { delete writer; }

Hap_Encoder::Hap_Encoder(const std::u16string& output_path, uint16_t width, uint16_t height,
                         uint8_t bits_per_pixel, uint64_t frame_rate, uint32_t creation_time,
                         uint16_t chunk_count, uint8_t timecode, uint32_t timecode_start_frame,
                         uint8_t drop_frame, float pixel_aspect_ratio, uint8_t codec,
                         uint32_t thread_mode, uint8_t quality, uint8_t no_writer, uint32_t /*spare*/,
                         uint32_t simd_mask)
    : quality_(std::clamp<uint8_t>(quality, 1, 3)), no_writer_(no_writer) {
  const Codec_Entry& entry = codec_entry(codec);
  if (!no_writer_)
    writer_.reset(new Mov_Writer_HL(output_path, width, height, bits_per_pixel, frame_rate,
                                    entry.sample_type, creation_time, pixel_aspect_ratio, timecode,
                                    timecode_start_frame, drop_frame));
  const bool frame_threading = thread_mode != 1;
  const uint32_t processors = hap_processor_count();
  if (frame_threading) {
    // A slot holds a copy of the frame's pixels, its textures and its HAP
    // frame; the HAP frame's bound stands for the textures too.
    const uint64_t frame_bytes =
        max_hap_frame_size(width, height, entry.internal_codec, std::clamp<uint16_t>(chunk_count, 1, 64));
    thread_count_ = hap_slot_count(processors, uint64_t(width) * height * 4 + 2 * frame_bytes);
  }
  // Processors the slots leave idle encode slices of each frame instead.
  const uint32_t frame_slices = frame_threading ? std::max(1u, processors / thread_count_) : 1;
  // Members own what is made here, so a throw part-way releases it all.
  for (uint32_t s = 0; s < thread_count_; ++s) {
    encoders_[s].reset(hap_cpu_encoder_create(width, height, chunk_count, entry.internal_codec,
                                              quality_, frame_threading, simd_mask, 0));
    if (!encoders_[s]) throw std::runtime_error("fail to init cpu encoding");
    encoders_[s]->frame_slices = frame_slices;
  }
}

Hap_Encoder::~Hap_Encoder() {
  // No thread may outlive the slot encoders and the movie writer it works with.
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  for (std::condition_variable& filled : slot_filled_) filled.notify_all();
  frame_encoded_.notify_all();
  for (std::thread& t : slot_threads_)
    if (t.joinable()) t.join();
  if (writer_thread_.joinable()) writer_thread_.join();
}

Mov_Writer_HL* Hap_Encoder::idle_writer() {
  std::unique_lock<std::mutex> lock(mutex_);
  wait_until_written(lock);
  if (failure_) std::rethrow_exception(failure_);
  return writer_.get();
}

void Hap_Encoder::set_audio_tracks(uint32_t track_count, uint32_t sample_rate,
                                   uint16_t bits_per_sample, uint32_t channels_per_track,
                                   uint8_t is_float, uint32_t channel_layout) {
  if (Mov_Writer_HL* writer = idle_writer())
    writer->set_audio_tracks(track_count, sample_rate, bits_per_sample, channels_per_track,
                             is_float, channel_layout);
}

void Hap_Encoder::add_audio(const void* samples, int64_t sample_frames, uint32_t track_index) {
  if (Mov_Writer_HL* writer = idle_writer())
    writer->add_audio(static_cast<const uint8_t*>(samples), sample_frames, track_index);
}

void Hap_Encoder::set_alpha_mode(uint8_t mode) {
  Mov_Writer_HL* writer = idle_writer();
  if (!writer) return;
  Movie_Metadata metadata;
  metadata.enable = 1;
  metadata.version = 1;
  metadata.alpha_mode = mode;
  writer->set_movie_metadata(metadata);
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

void Hap_Encoder::slot_loop(uint32_t slot) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    slot_filled_[slot].wait(lock, [&] { return stopping_ || state_[slot] == Slot_State::filled; });
    if (stopping_) return;
    encode(slot, lock);
  }
}

void Hap_Encoder::encode(uint32_t slot, std::unique_lock<std::mutex>& lock) {
  const uint64_t number = frame_number_[slot];
  lock.unlock();
  std::exception_ptr error;
  try {
    if (hook_) hook_(hook_user_, number);
    hap_cpu_encoder_run(encoders_[slot].get());
  } catch (...) {
    error = std::current_exception();
  }
  lock.lock();
  errors_[slot] = error;
  state_[slot] = Slot_State::encoded;
  frame_encoded_.notify_one();
}

void Hap_Encoder::writer_loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    frame_encoded_.wait(lock, [&] {
      return stopping_ || (!unwritten_.empty() && state_[unwritten_.front()] == Slot_State::encoded);
    });
    if (stopping_) return;
    write_first(lock);
  }
}

void Hap_Encoder::write_first(std::unique_lock<std::mutex>& lock) {
  const uint32_t slot = unwritten_.front();
  std::exception_ptr error = std::exchange(errors_[slot], nullptr);
  if (!error && !failure_) {
    lock.unlock();
    try {
      const uint8_t* data = nullptr;
      uint32_t size = 0;
      hap_cpu_encoder_get_output(encoders_[slot].get(), &data, &size);
      if (size == 0)
        std::printf("WARNING : Empty hap frame queue 1\n");
      else if (writer_)
        writer_->write_video_chunk(data, size);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
  }
  if (error && !failure_) failure_ = error;
  state_[slot] = Slot_State::free;
  unwritten_.pop_front();
  frame_written_.notify_all();
}

void Hap_Encoder::wait_until_written(std::unique_lock<std::mutex>& lock) {
  frame_written_.wait(lock, [&] { return unwritten_.empty(); });
}

void Hap_Encoder::push_frame(const uint8_t* pixels, int64_t row_bytes, uint8_t context_slot) {
  if (context_slot > 2) throw std::runtime_error("Invalid encodeur index");
  const uint32_t slot = next_slot_;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    frame_written_.wait(lock, [&] { return failure_ || state_[slot] == Slot_State::free; });
    if (failure_) std::rethrow_exception(failure_);
  }
  // The slot is free: no other thread touches its encoder until it is filled.
  hap_cpu_encoder_set_frame(encoders_[slot].get(), pixels, row_bytes, context_slot);
  // The work of a thread that cannot start is done here, with the same bytes.
  // A slot thread starts only once the writer runs.
  const bool writer_runs = keep_running(writer_thread_, [this] { writer_loop(); });
  const bool slot_runs = writer_runs && keep_running(slot_threads_[slot], [this, slot] { slot_loop(slot); });
  {
    std::unique_lock<std::mutex> lock(mutex_);
    frame_number_[slot] = frames_pushed_++;
    state_[slot] = Slot_State::filled;
    unwritten_.push_back(slot);
    if (!slot_runs) {
      encode(slot, lock);
      // Without the writer no slot thread has run, so every earlier frame is
      // written: this one is next.
      if (!writer_runs) write_first(lock);
    }
  }
  if (slot_runs) slot_filled_[slot].notify_one();
  uncollected_ = std::min(uncollected_ + 1, thread_count_);
  advance_slot();
}

uint32_t Hap_Encoder::flush() {
  idle_writer();
  return std::exchange(uncollected_, 0);
}

void Hap_Encoder::close() {
  flush();
  if (writer_) writer_->finalise();
}

void Hap_Encoder::finalise_guarded() {
  // Frames finished before any failure still belong in the movie, in order.
  {
    std::unique_lock<std::mutex> lock(mutex_);
    wait_until_written(lock);
  }
  uncollected_ = 0;
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
