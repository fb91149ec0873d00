// The encoding road without the host: per-slot encoders and the encoder front
// writing finished movies, with and without frame threading, and failures on
// frame threads. Every codec and audio through the front are exercised by the
// exporter tests.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "HAP/hap_cpu_encoder.h"
#include "HAP/hap_encoder.h"
#include "HAP/hap_frame.h"
#include "tests/support/mov_inspector.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t rate_25 = mov_test::packed_rate(25, 1);
constexpr uint32_t pix_fmt_bgra = 1, pix_fmt_bgra_bottom_up = 2;

// Frames that differ from one another: the test picture with a band moved down
// by the frame number.
struct Clip {
  int width = 0, height = 0;
  std::vector<Bytes> frames;
};

Clip make_clip(int count, int width, int height) {
  const Test_Image image = load_test_image("astronaut_alpha_512x512.bgra");
  Clip clip{width, height, {}};
  for (int k = 0; k < count; ++k) {
    Bytes f(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
      std::memcpy(&f[size_t(y) * width * 4], &image.bgra[(size_t(y) * image.width) * 4], width * 4);
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &f[(size_t((k * 3) % height) * width + x) * 4];
      p[0] = p[1] = p[2] = uint8_t(40 * k);
      p[3] = uint8_t(255 - 13 * k);
    }
    clip.frames.push_back(std::move(f));
  }
  return clip;
}

using Slot = std::unique_ptr<Hap_Cpu_Encoder, decltype(&hap_cpu_encoder_destroy)>;

Slot make_slot(uint16_t width, uint16_t height, uint16_t chunks, uint32_t internal_codec, uint8_t threading = 1,
               uint32_t quality = 0) {
  return Slot(hap_cpu_encoder_create(width, height, chunks, internal_codec, 1, threading, quality, 0),
              hap_cpu_encoder_destroy);
}

Bytes output_of(Hap_Cpu_Encoder* e) {
  const uint8_t* data;
  uint32_t size;
  hap_cpu_encoder_get_output(e, &data, &size);
  return Bytes(data, data + size);
}

// What one slot encoder makes of a frame on its own.
Bytes reference_frame(const Bytes& pixels, int width, int height, uint32_t internal_codec, uint16_t chunk_count,
                      uint16_t bits_per_pixel = 32) {
  const Slot e = make_slot(uint16_t(width), uint16_t(height), chunk_count, internal_codec, 0, 0xF8);
  hap_cpu_encoder_open(e.get(), pix_fmt_bgra, bits_per_pixel, 0, 1);
  hap_cpu_encoder_set_frame(e.get(), pixels.data(), width * 4, 0);
  hap_cpu_encoder_run(e.get());
  return output_of(e.get());
}

struct Export_Settings {
  uint8_t codec = Hap_Codec_Alpha_Only;
  uint32_t thread_mode = 2;
  uint16_t chunk_count = 4;
};

std::unique_ptr<Hap_Encoder> make_front(const std::string& path, const Clip& clip, const Export_Settings& s) {
  auto front = std::make_unique<Hap_Encoder>(to_u16(path), uint16_t(clip.width), uint16_t(clip.height), 32, rate_25,
                                             1000, s.chunk_count, 0, 0, 0, 1.0f, s.codec, s.thread_mode, 1, 0, 0, 0xF8);
  front->set_alpha_straight();
  front->open_encoders(pix_fmt_bgra, 32, 0, 0);
  return front;
}

// Pushes the clip through a front and closes it; returns the number of slots.
uint32_t export_clip(const std::string& path, const Clip& clip, const Export_Settings& s) {
  auto front = make_front(path, clip, s);
  for (const Bytes& f : clip.frames) front->push_frame(f.data(), clip.width * 4, 0);
  const uint32_t slots = front->thread_count();
  front->close();
  return slots;
}

// The movie's video samples are the first frames of the clip, each as one slot encoder makes it.
void expect_movie_holds(const std::string& path, const Clip& clip, size_t frame_count, uint32_t internal_codec,
                        uint16_t chunk_count) {
  mov_test::Mov_File movie(path);
  const mov_test::Track_Tables video = movie.track("vide");
  ASSERT_EQ(video.sample_count, frame_count);
  for (size_t k = 0; k < frame_count; ++k)
    EXPECT_EQ(movie.sample(video, k), reference_frame(clip.frames[k], clip.width, clip.height, internal_codec,
                                                      chunk_count))
        << "frame " << k;
}

}  // namespace

// ---------------------------------------------------------------- slot encoder

TEST(HapCpuEncoder, SettingsAtCreation) {
  Slot e = make_slot(64, 64, 100, Hap_Internal_RGTC1);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ((std::vector<uint32_t>{e->chunk_count, e->chunking}), (std::vector<uint32_t>{64, 1}));
  for (const Dxt_Encoder_Context& c : e->contexts) EXPECT_EQ(c.pix_fmt, hap_pix_fmt_not_set);
  e = make_slot(64, 64, 0, Hap_Internal_RGTC1);
  EXPECT_EQ((std::vector<uint32_t>{e->chunk_count, e->chunking}), (std::vector<uint32_t>{1, 0}));
  EXPECT_EQ(printed_by([] { EXPECT_EQ(make_slot(0, 64, 1, Hap_Internal_RGTC1), nullptr); }), "ERR : dim invalide\n");
  EXPECT_EQ(error_text([] { make_slot(64, 64, 1, 9); }), "Unknown codec");
  // A null encoder is a no-op everywhere.
  hap_cpu_encoder_run(nullptr);
  const uint8_t* data = nullptr;
  uint32_t size = 7;
  hap_cpu_encoder_get_output(nullptr, &data, &size);
  EXPECT_EQ(size, 0u);
  hap_cpu_encoder_destroy(nullptr);
}

TEST(HapCpuEncoder, OpeningLaysOutTexturesAndContext) {
  // HAPQA: one buffer, the RGTC1 texture right after the YCoCg one. The
  // layout stands even when the engine cannot encode the codec yet.
  Slot e = make_slot(64, 64, 4, Hap_Internal_YCoCg_DXT5_RGTC1);
  printed_by([&] {
    const std::string error = error_text([&] { hap_cpu_encoder_open(e.get(), pix_fmt_bgra, 32, 0, 0); });
    EXPECT_TRUE(error == "(no exception)" || error == "Error opening encoder") << error;
  });
  EXPECT_EQ(e->texture_1.data, e->texture_buffer);
  EXPECT_EQ(e->texture_2.data, e->texture_buffer + 4096);
  EXPECT_EQ((std::vector<uint64_t>{e->texture_1.length, e->texture_2.length}), (std::vector<uint64_t>{4096, 2048}));
  // Alpha only takes luma from a 24-bit source and alpha from a 32-bit one;
  // with frame threading the engine gets one thread whatever was asked.
  for (uint16_t bits : {24, 32}) {
    e = make_slot(64, 64, 1, Hap_Internal_RGTC1);
    hap_cpu_encoder_open(e.get(), pix_fmt_bgra, bits, 0, 8);
    EXPECT_EQ(e->contexts[0].texture_code, bits == 24 ? 2u : 3u);
    EXPECT_LE(e->contexts[0].thread_count, 1);
  }
  // Unless the front has processors to spare for slices of each frame.
  e = make_slot(64, 256, 1, Hap_Internal_RGTC1);
  e->frame_slices = 4;
  hap_cpu_encoder_open(e.get(), pix_fmt_bgra, 32, 0, 8);
  EXPECT_EQ(e->contexts[0].thread_count, 4);
}

TEST(HapCpuEncoder, CroppedEdgesStillFitTheOutput) {
  // 257 x 4 pixels: 65 whole blocks split in 13 chunks, but 64 blocks in 64
  // chunks once the partial block is left out, which needs more room.
  const Slot e = make_slot(257, 4, 64, Hap_Internal_RGTC1);
  hap_cpu_encoder_open(e.get(), pix_fmt_bgra, 32, 3, 0);
  ASSERT_EQ(e->texture_1.length, 64u * 8);
  Bytes noise(257 * 4 * 4);
  uint32_t x = 1;
  for (auto& b : noise) b = uint8_t((x = x * 1103515245 + 12345) >> 24);
  hap_cpu_encoder_set_frame(e.get(), noise.data(), 257 * 4, 0);
  EXPECT_EQ(error_text([&] { hap_cpu_encoder_run(e.get()); }), "(no exception)");
}

TEST(HapCpuEncoder, InputCopyGrowsOnlyWhenNeeded) {
  const Bytes frame = make_clip(1, 64, 64).frames[0];
  const Slot e = make_slot(64, 64, 1, Hap_Internal_RGTC1);
  hap_cpu_encoder_open(e.get(), pix_fmt_bgra, 32, 0, 0);
  Bytes wide(64 * 512);
  for (int y = 0; y < 64; ++y) std::memcpy(&wide[y * 512], &frame[y * 256], 256);
  hap_cpu_encoder_set_frame(e.get(), frame.data(), 256, 0);
  EXPECT_EQ(e->input_capacity, 256u * 64);
  hap_cpu_encoder_set_frame(e.get(), wide.data(), 512, 0);
  EXPECT_EQ(e->input_capacity, 512u * 64);
  uint8_t* grown = e->planes[0];
  hap_cpu_encoder_run(e.get());
  const Bytes from_wide = output_of(e.get());
  hap_cpu_encoder_set_frame(e.get(), frame.data(), 256, 0);
  EXPECT_EQ(e->planes[0], grown);
  hap_cpu_encoder_run(e.get());
  EXPECT_EQ(output_of(e.get()), from_wide);
}

// Contexts 1 and 2 encode into the buffer that opening laid out, each with the
// pixel format and source depth it was opened with.
TEST(HapCpuEncoder, ExtraContextsEncodeWithTheirOwnSettings) {
  const Bytes frame = make_clip(1, 64, 48).frames[0];
  const Bytes flipped = flip_rows({64, 48, frame}).bgra;
  for (uint8_t threading : {0, 1}) {
    SCOPED_TRACE(int(threading));
    const Slot e = make_slot(64, 48, 4, Hap_Internal_RGTC1, threading);
    hap_cpu_encoder_open(e.get(), pix_fmt_bgra, 32, 0, 0);
    const uint8_t* buffer = e->texture_buffer;
    hap_cpu_encoder_open_extra(e.get(), pix_fmt_bgra_bottom_up, 32, 0, 8, 1);  // alpha, rows bottom-up
    hap_cpu_encoder_open_extra(e.get(), pix_fmt_bgra, 24, 0, 8, 2);            // luma
    EXPECT_EQ(e->texture_buffer, buffer);
    std::vector<uint32_t> settings;
    for (const Dxt_Encoder_Context& c : e->contexts)
      settings.insert(settings.end(), {c.pix_fmt, c.texture_code, c.source_has_no_alpha});
    EXPECT_EQ(settings, (std::vector<uint32_t>{1, 3, 0, 2, 3, 0, 1, 2, 1}));
    if (threading) {
      EXPECT_LE(e->contexts[1].thread_count, 1);  // the frame's own thread
    }
    const auto encode = [&](const Bytes& pixels, uint8_t context) {
      hap_cpu_encoder_set_frame(e.get(), pixels.data(), 64 * 4, context);
      hap_cpu_encoder_run(e.get());
      return output_of(e.get());
    };
    const Bytes alpha = encode(frame, 0);
    EXPECT_EQ(encode(flipped, 1), alpha);
    const Bytes luma = encode(frame, 2);
    EXPECT_NE(luma, alpha);
    EXPECT_EQ(luma, reference_frame(frame, 64, 48, Hap_Internal_RGTC1, 4, 24));
    EXPECT_EQ(encode(frame, 0), alpha);
  }
}

TEST(HapCpuEncoder, ExtraContextRefusals) {
  Slot e = make_slot(66, 48, 1, Hap_Internal_RGTC1);  // a partial block at the right edge
  const auto open_extra = [&](uint32_t pix_fmt, uint32_t pad_mode, uint8_t context) {
    std::string error;
    const std::string printed = printed_by(
        [&] { error = error_text([&] { hap_cpu_encoder_open_extra(e.get(), pix_fmt, 32, pad_mode, 0, context); }); });
    return printed + error;
  };
  // Before opening there is no texture buffer to write into.
  EXPECT_EQ(open_extra(pix_fmt_bgra, 0, 1), "ERR : encodeur 1 : texture de 1632 octets, buffer ouvert pour 0\n"
                                            "Error opening encoder 2");
  hap_cpu_encoder_open(e.get(), pix_fmt_bgra, 32, 0, 0);
  // Leaving the partial blocks out would lay the blocks out differently.
  EXPECT_EQ(open_extra(pix_fmt_bgra, 3, 2), "ERR : encodeur 2 : texture de 1536 octets, buffer ouvert pour 1632\n"
                                            "Error opening encoder 2");
  EXPECT_EQ(e->contexts[2].pix_fmt, hap_pix_fmt_not_set);
  EXPECT_EQ(open_extra(pix_fmt_bgra, 1, 2), "(no exception)");  // black padding: the same blocks
  EXPECT_EQ(open_extra(5, 0, 1), "Pad invalid pix fmt : 5\nError opening encoder 2");
  EXPECT_EQ(open_extra(pix_fmt_bgra, 0, 0), "Invalid encoder");
  EXPECT_EQ(open_extra(pix_fmt_bgra, 0, 3), "Invalid encoder");
  hap_cpu_encoder_open_extra(nullptr, pix_fmt_bgra, 32, 0, 0, 1);
}

// ---------------------------------------------------------------- front

TEST(HapEncoder, RefusalsAndSlots) {
  const Temp_File movie_file("refused.mov");
  const std::string& path = movie_file.path;
  std::filesystem::remove(path);
  EXPECT_EQ(error_text([&] {
              Hap_Encoder e(to_u16(path), 64, 64, 32, rate_25, 0, 1, 0, 0, 0, 1.0f, 6, 2, 1, 0, 0, 0);
            }),
            "Unsupported HAP Codec");
  EXPECT_FALSE(std::filesystem::exists(path));

  Hap_Encoder front(to_u16(path), 64, 64, 32, rate_25, 0, 1, 0, 0, 0, 1.0f, 0, 1, 0, 1, 0, 0xF8);
  EXPECT_EQ(front.thread_count(), 1u);
  front.open_encoders(pix_fmt_bgra, 32, 0, 0);
  Bytes pixels(64 * 64 * 4, 0x80);
  EXPECT_EQ(error_text([&] { front.push_frame(pixels.data(), 256, 3); }), "Invalid encodeur index");
  EXPECT_EQ(front.flush(), 0u);
  front.push_frame(pixels.data(), 256, 0);
  EXPECT_EQ(front.flush(), 1u);
  EXPECT_EQ(front.flush(), 0u);
  EXPECT_EQ(front.advance_slot(), 0u);  // one slot wraps onto itself
  // Frame threading: one slot per processor, up to the maximum.
  Hap_Encoder threaded(u"", 16, 16, 32, rate_25, 0, 1, 0, 0, 0, 1.0f, 0, 2, 1, 1, 0, 0);
  EXPECT_EQ(threaded.thread_count(), std::min(hap_processor_count(), Hap_Encoder::max_slots));
}

TEST(HapEncoder, FramesReachTheMovieInPushOrderInBothModes) {
  // 2N + 1 frames through N slots: N + 1 are written by pushes, N by the flush.
  const uint32_t slots = std::min(hap_processor_count(), Hap_Encoder::max_slots);
  const Clip clip = make_clip(int(2 * slots + 1), 128, 72);
  Export_Settings s;
  const Temp_File threaded("threaded.mov"), serial("serial.mov");
  EXPECT_EQ(export_clip(threaded.path, clip, s), slots);
  s.thread_mode = 1;
  EXPECT_EQ(export_clip(serial.path, clip, s), 1u);
  expect_movie_holds(threaded.path, clip, clip.frames.size(), Hap_Internal_RGTC1, 4);
  EXPECT_EQ(read_file(threaded.path), read_file(serial.path));
}

namespace {

// Keeps frames in flight a little, so that calls made between pushes meet the
// writer thread at work.
void slow_frames(void*, uint64_t) { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }

}  // namespace

// Audio settings and samples given between pushes land where they would if
// the frames pushed so far had been written first: the movie is the one made
// by flushing before each call.
TEST(HapEncoder, AudioBetweenPushesGivesTheBytesOfFlushingFirst) {
  const Clip clip = make_clip(75, 64, 32);  // 3 s at 25 fps
  Bytes audio(3 * 8000 * 2);                 // 3 s of 8 kHz 16-bit mono
  for (size_t i = 0; i < audio.size(); ++i) audio[i] = uint8_t(i * 7 + (i >> 9));
  const auto export_with_audio = [&](const std::string& path, uint32_t thread_mode, bool flush_first) {
    auto front = make_front(path, clip, {Hap_Codec_Alpha_Only, thread_mode, 4});
    front->set_frame_thread_hook(slow_frames, nullptr);
    for (size_t k = 0; k < clip.frames.size(); ++k) {
      front->push_frame(clip.frames[k].data(), 64 * 4, 0);
      if (flush_first && (k == 1 || k == 24 || k == 74)) front->flush();
      // The first block then comes before the third frame.
      if (k == 1) front->set_audio_tracks(1, 8000, 16, 1, 0, 0);
      // 2.5 s: the second second goes into the block that the 25th frame,
      // still in flight, reserves.
      if (k == 24) front->add_audio(audio.data(), 20000, 0);
      if (k == 74) front->add_audio(audio.data() + 40000, 4000, 0);
    }
    front->close();
  };
  const Temp_File flushed("audio_flushed.mov"), threaded("audio_threaded.mov"), serial("audio_serial.mov");
  export_with_audio(flushed.path, 1, true);
  export_with_audio(threaded.path, 2, false);
  export_with_audio(serial.path, 1, false);
  expect_movie_holds(flushed.path, clip, clip.frames.size(), Hap_Internal_RGTC1, 4);
  const mov_test::Mov_File movie(flushed.path);
  EXPECT_EQ(movie.track_data(movie.track("soun")), audio);
  EXPECT_EQ(read_file(threaded.path), read_file(flushed.path));
  EXPECT_EQ(read_file(serial.path), read_file(flushed.path));
}

namespace {

void fail_on_frame(void* failing_frame, uint64_t frame_number) {
  if (frame_number == *static_cast<uint64_t*>(failing_frame)) throw std::runtime_error("injected failure");
}

}  // namespace

TEST(HapEncoder, FrameThreadFailureSurfacesAndTheMovieKeepsWhatCameBefore) {
  const Clip clip = make_clip(12, 64, 32);
  for (uint32_t thread_mode : {2u, 1u}) {
    SCOPED_TRACE(thread_mode);
    const Temp_File movie("failure" + std::to_string(thread_mode) + ".mov");
    uint64_t failing_frame = 3;
    std::string error;
    {
      auto front = make_front(movie.path, clip, {Hap_Codec_Alpha_Only, thread_mode, 4});
      front->set_frame_thread_hook(fail_on_frame, &failing_frame);
      // The export run's shape: push everything, flush, close; on a failure,
      // finalise what was written and destroy.
      size_t pushed = 0;
      try {
        for (const Bytes& f : clip.frames) front->push_frame(f.data(), 64 * 4, 0), ++pushed;
        front->close();
      } catch (const std::runtime_error& e) {
        error = e.what();
        front->finalise_guarded();
      }
      // It surfaced on a later push or at the close.
      EXPECT_GT(pushed, failing_frame);
      EXPECT_EQ(error_text([&] { front->flush(); }), "injected failure");  // once failed, always
      EXPECT_EQ(error_text([&] { front->add_audio(nullptr, 0, 0); }), "injected failure");
    }
    EXPECT_EQ(error, "injected failure");
    expect_movie_holds(movie.path, clip, failing_frame, Hap_Internal_RGTC1, 4);
  }
}

namespace {

// Holds early frames back so that later ones finish first.
void delay_early_frames(void* slots, uint64_t frame_number) {
  const uint64_t n = *static_cast<uint32_t*>(slots);
  std::this_thread::sleep_for(std::chrono::milliseconds(frame_number < n ? 3 * (n - frame_number) : 0));
}

}  // namespace

TEST(HapEncoder, FramesFinishingOutOfOrderAreWrittenInPushOrderFromPixelsReusedAtOnce) {
  const Clip clip = make_clip(20, 96, 64);
  for (uint32_t thread_mode : {2u, 1u}) {
    SCOPED_TRACE(thread_mode);
    const Temp_File movie("out_of_order.mov");
    {
      auto front = make_front(movie.path, clip, {Hap_Codec_Alpha_Only, thread_mode, 4});
      uint32_t slots = front->thread_count();
      front->set_frame_thread_hook(delay_early_frames, &slots);
      // One buffer for every push, overwritten as soon as the push returns;
      // a slot skipped on the way changes nothing.
      Bytes pixels;
      for (const Bytes& f : clip.frames) {
        pixels = f;
        front->push_frame(pixels.data(), 96 * 4, 0);
        std::fill(pixels.begin(), pixels.end(), uint8_t(0x5A));
        if (&f == &clip.frames[5]) front->advance_slot();
      }
      front->close();
    }
    expect_movie_holds(movie.path, clip, clip.frames.size(), Hap_Internal_RGTC1, 4);
  }
}

TEST(HapEncoder, WriteFailureSurfacesFromTheWriterThread) {
  // Files of this process may not grow past the head and about one frame.
  const Clip clip = make_clip(6, 256, 256);
  const Temp_File movie("write_fails.mov");
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  std::signal(SIGXFSZ, SIG_IGN);
  std::string error = "(no exception)";
  {
    auto front = make_front(movie.path, clip, {Hap_Codec_Alpha_Only, 2, 0});
    rlimit small = saved;
    small.rlim_cur = 48 + 40000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    printed_by([&] {
      try {
        for (const Bytes& f : clip.frames) front->push_frame(f.data(), 256 * 4, 0);
        front->flush();
      } catch (const std::runtime_error& e) {
        error = e.what();
      }
    });
    EXPECT_EQ(error_text([&] { front->push_frame(clip.frames[0].data(), 256 * 4, 0); }), "Error file write");
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(error, "Error file write");
}

TEST(HapEncoder, FramesInFlightStayWithinTheMemoryBudget) {
  EXPECT_EQ(hap_slot_count(8, 1 << 20), 8u);
  EXPECT_EQ(hap_slot_count(200, 1 << 20), Hap_Encoder::max_slots);
  EXPECT_EQ(hap_slot_count(0, 1 << 20), 1u);
  // A 4K frame's slot (input copy, textures and HAP frame) is near 60 MB.
  for (uint32_t processors : {64u, 128u}) {
    const uint64_t slot_bytes =
        uint64_t(3840) * 2160 * 4 + 2 * max_hap_frame_size(3840, 2160, Hap_Internal_YCoCg_DXT5_RGTC1, 8);
    const uint32_t slots = hap_slot_count(processors, slot_bytes);
    EXPECT_LE(slots * slot_bytes, Hap_Encoder::slot_memory_budget);
    EXPECT_GT((slots + 1) * slot_bytes, Hap_Encoder::slot_memory_budget);
  }
  EXPECT_EQ(hap_slot_count(128, Hap_Encoder::slot_memory_budget + 1), 1u);
  // The largest frame gets one slot whatever the processors.
  Hap_Encoder largest(u"", 16384, 16384, 24, rate_25, 0, 1, 0, 0, 0, 1.0f, Hap_Codec_Hap, 2, 1, 1, 0, 0);
  EXPECT_EQ(largest.thread_count(), 1u);
}

TEST(HapEncoder, DestroyingWithFramesInFlightWaitsForThem) {
  const Clip clip = make_clip(6, 256, 128);
  const Temp_File movie("in_flight.mov");
  // Destroyed straight away, then the error path: collect, write in order, finalise.
  for (bool finalise : {false, true}) {
    auto front = make_front(movie.path, clip, {});
    for (const Bytes& f : clip.frames) front->push_frame(f.data(), 256 * 4, 0);
    if (finalise) front->finalise_guarded();
  }
  expect_movie_holds(movie.path, clip, clip.frames.size(), Hap_Internal_RGTC1, 4);
}

TEST(HapEncoder, ExtraContextsOpenInEverySlot) {
  // One frame more than there are slots, all through context 1: every slot encodes one.
  const Clip clip = make_clip(int(std::min(hap_processor_count(), Hap_Encoder::max_slots) + 1), 64, 32);
  const Temp_File movie("extra_context.mov");
  {
    auto front = make_front(movie.path, clip, {});
    EXPECT_EQ(error_text([&] { front->open_encoders_extra(pix_fmt_bgra_bottom_up, 32, 0, 0, 3); }), "Invalid encoder");
    front->open_encoders_extra(pix_fmt_bgra_bottom_up, 32, 0, 0, 1);
    for (const Bytes& f : clip.frames) front->push_frame(flip_rows({64, 32, f}).bgra.data(), 64 * 4, 1);
    front->close();
  }
  expect_movie_holds(movie.path, clip, clip.frames.size(), Hap_Internal_RGTC1, 4);
}
