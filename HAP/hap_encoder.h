// Encoder front: the one object an export talks to. It owns the movie writer
// and up to 128 slots, each a per-thread encoder running one frame at a time
// on a thread of its own, and a writer thread that hands finished frames to
// the movie writer strictly in the order in which they were pushed. When the
// system gives no more threads, the pushing thread does the work of those
// that could not start, and the movie is the same.
#pragma once
#include <array>
#include <condition_variable>
#include <deque>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class Mov_Writer_HL;
struct Hap_Cpu_Encoder;

// The codec setting of the front (also the movie sample type):
// 0 "HapA" alpha only, 1 "Hap1" DXT1, 2 "Hap5" DXT5, 3 "HapY" YCoCg-DXT5,
// 4 "HapM" YCoCg-DXT5 + RGTC1 alpha, 5 "Hap7" BC7.
enum Hap_Codec : uint8_t {
  Hap_Codec_Alpha_Only = 0,
  Hap_Codec_Hap = 1,
  Hap_Codec_Hapa = 2,
  Hap_Codec_Hapq = 3,
  Hap_Codec_Hapqa = 4,
  Hap_Codec_Hapr = 5,
};

// Called on a frame's own thread just before the frame is encoded, with the
// frame's push number (0 first). Lets tests inject a failure into a frame
// thread; it is null in production.
using Hap_Frame_Thread_Hook = void (*)(void* user, uint64_t frame_number);

class Hap_Encoder {
 public:
  static constexpr uint32_t max_slots = 128;
  // Memory the slots of a frame-threaded export may take together (input
  // copy, texture and HAP frame of each); past it, frames in flight are bounded
  // by memory rather than by processors.
  static constexpr uint64_t slot_memory_budget = uint64_t(640) << 20;

  // Creates the movie writer (which creates the file and writes its head at
  // once, unless no_writer is set) and one slot encoder per slot. Thread mode 1
  // gives one slot without frame threading; any other value gives frame
  // threading with hap_slot_count slots. The frame rate holds the numerator in
  // its low 32 bits and the denominator in its high 32 bits. Throws
  // "Unsupported HAP Codec" or "fail to init cpu encoding"; whatever was made
  // before a failure is released.
  Hap_Encoder(const std::u16string& output_path, uint16_t width, uint16_t height,
              uint8_t bits_per_pixel, uint64_t frame_rate, uint32_t creation_time,
              uint16_t chunk_count, uint8_t timecode, uint32_t timecode_start_frame,
              uint8_t drop_frame, float pixel_aspect_ratio, uint8_t codec, uint32_t thread_mode,
              uint8_t quality, uint8_t no_writer, uint32_t spare, uint32_t simd_mask);

  // Waits for the frames being encoded and stops the slot and writer threads;
  // frames not yet written are dropped. Then closes the file and frees the slots.
  ~Hap_Encoder();

  Hap_Encoder(const Hap_Encoder&) = delete;
  Hap_Encoder& operator=(const Hap_Encoder&) = delete;

  // Forwarded to the movie writer (nothing without one) once every frame
  // pushed so far is written, so audio given between pushes lands where it
  // would after a flush. A failure of an earlier frame is rethrown instead.
  void set_audio_tracks(uint32_t track_count, uint32_t sample_rate, uint16_t bits_per_sample,
                        uint32_t channels_per_track, uint8_t is_float, uint32_t channel_layout);
  void add_audio(const void* samples, int64_t sample_frames, uint32_t track_index);

  // Record the alpha mode (premultiplied or straight) in the movie's user
  // data; they wait and rethrow like the audio calls.
  void set_alpha_premultiplied();
  void set_alpha_straight();

  // Opens the texture encoder of every slot, slot 0 first; the first failure
  // propagates ("Error opening encoder", "Unsupported HAP Codec", out of memory).
  void open_encoders(uint32_t pix_fmt, uint16_t bits_per_pixel, uint32_t pad_mode,
                     uint32_t thread_request);
  // The same for the extra texture-encoder context 1 or 2 of every slot.
  void open_encoders_extra(uint32_t pix_fmt, uint16_t bits_per_pixel, uint32_t pad_mode,
                           uint32_t thread_request, uint8_t context_slot);

  // Hands one frame to the next slot, waiting until that slot's previous frame
  // has been written. With frame threading it only copies the pixels; without,
  // it also encodes the textures. The slot's thread packs the frame and the
  // writer thread writes finished frames in push order. The pixels are no
  // longer needed when it returns. A failure of an earlier frame (its thread
  // or its write) is rethrown here and by every later push, flush or close;
  // "Invalid encodeur index" for a context slot above 2.
  void push_frame(const uint8_t* pixels, int64_t row_bytes, uint8_t context_slot);

  // Waits until every frame pushed is written; returns the number of slots
  // that held a frame not yet collected by a flush. A failure is rethrown
  // after every frame has been dealt with.
  uint32_t flush();

  // flush, then finalise the movie.
  void close();

  // Error path: waits for the frames in flight, writes those that come before
  // any failed frame in push order, then finalises the movie; runtime and
  // out-of-memory errors are printed instead of thrown.
  void finalise_guarded();

  // Moves the next slot on by one (wrapping) and returns it.
  uint32_t advance_slot();

  uint32_t thread_count() const { return thread_count_; }

  // Test hook, see Hap_Frame_Thread_Hook.
  void set_frame_thread_hook(Hap_Frame_Thread_Hook hook, void* user);

 private:
  struct Slot_Encoder_Deleter {
    void operator()(Hap_Cpu_Encoder* encoder) const;
  };
  struct Writer_Deleter {
    void operator()(Mov_Writer_HL* writer) const;
  };
  // A slot goes free -> filled (pixels taken) -> encoded (its thread is done)
  // -> free (the writer thread has written or dropped the frame).
  enum class Slot_State : uint8_t { free, filled, encoded };

  // A slot's thread: encodes and packs each frame put in the slot.
  void slot_loop(uint32_t slot);
  // Encodes and packs the frame filled in `slot`, keeping its failure for the
  // writer. Lock held, released meanwhile.
  void encode(uint32_t slot, std::unique_lock<std::mutex>& lock);
  // The writer thread: writes the encoded frames in push order.
  void writer_loop();
  // Writes the first unwritten frame, which is encoded; after a failure it
  // and every later frame are dropped so the movie keeps no gap. Lock held,
  // released meanwhile.
  void write_first(std::unique_lock<std::mutex>& lock);
  // Waits until every frame pushed is written or dropped. Lock held.
  void wait_until_written(std::unique_lock<std::mutex>& lock);
  // The movie writer (null without one) once the writer thread is done with
  // it: every frame pushed is written, and none is pushed while the caller
  // uses it, since the front is used from one thread at a time. Rethrows the
  // first failure.
  Mov_Writer_HL* idle_writer();
  void set_alpha_mode(uint8_t mode);

  std::unique_ptr<Mov_Writer_HL, Writer_Deleter> writer_;
  uint8_t quality_ = 1;
  uint8_t no_writer_ = 0;
  uint32_t thread_count_ = 1;
  std::array<std::unique_ptr<Hap_Cpu_Encoder, Slot_Encoder_Deleter>, max_slots> encoders_;
  uint32_t next_slot_ = 0;
  uint32_t uncollected_ = 0;  // slots holding a frame pushed since the last flush, at most thread_count_
  Hap_Frame_Thread_Hook hook_ = nullptr;
  void* hook_user_ = nullptr;

  // Shared with the slot and writer threads, under mutex_.
  std::mutex mutex_;
  std::condition_variable slot_filled_[max_slots];
  std::condition_variable frame_encoded_;  // the writer waits on it
  std::condition_variable frame_written_;  // the pushing thread waits on it
  std::array<Slot_State, max_slots> state_{};
  std::array<uint64_t, max_slots> frame_number_{};
  std::array<std::exception_ptr, max_slots> errors_;  // a frame's own failure
  std::deque<uint32_t> unwritten_;  // slots of the frames pushed and not yet written or dropped, in push order
  uint64_t frames_pushed_ = 0;
  std::exception_ptr failure_;  // the first failure; every later push, flush or close rethrows it
  bool stopping_ = false;
  // Started on first use, a slot's only while the writer runs; joined by the
  // destructor.
  std::array<std::thread, max_slots> slot_threads_;
  std::thread writer_thread_;
};

// The processor count, at least 1.
uint32_t hap_processor_count();

// Slots of a frame-threaded export: one per processor, at most
// Hap_Encoder::max_slots, and no more than the memory budget holds at
// slot_bytes each, but at least one.
uint32_t hap_slot_count(uint32_t processors, uint64_t slot_bytes);
