// The encoding road without the host: per-slot encoders and the encoder front
// writing finished movies, with and without frame threading, and failures on
// frame threads.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "HAP/hap_cpu_encoder.h"
#include "HAP/hap_encoder.h"
#include "HAP/hap_format.h"
#include "HAP/hap_frame.h"
#include "tests/support/mov_inspector.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t rate_25 = (uint64_t(1) << 32) | 25;
constexpr uint32_t pix_fmt_bgra = 1;

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

// What one slot encoder makes of a frame on its own.
Bytes reference_frame(const Bytes& pixels, int width, int height, uint32_t internal_codec,
                      uint16_t chunk_count) {
  Hap_Cpu_Encoder* e = hap_cpu_encoder_create(uint16_t(width), uint16_t(height), chunk_count,
                                              internal_codec, 1, 0, 0xF8, 0);
  hap_cpu_encoder_open(e, pix_fmt_bgra, 32, 0, 1);
  hap_cpu_encoder_set_frame(e, pixels.data(), width * 4, 0);
  hap_cpu_encoder_run(e);
  const uint8_t* data;
  uint32_t size;
  hap_cpu_encoder_get_output(e, &data, &size);
  Bytes out(data, data + size);
  hap_cpu_encoder_destroy(e);
  return out;
}

struct Export_Settings {
  uint8_t codec = Hap_Codec_Alpha_Only;
  uint32_t thread_mode = 2;
  uint16_t chunk_count = 4;
};

std::unique_ptr<Hap_Encoder> make_front(const std::string& path, const Clip& clip,
                                        const Export_Settings& s) {
  auto front = std::make_unique<Hap_Encoder>(to_u16(path), uint16_t(clip.width), uint16_t(clip.height),
                                             32, rate_25, 1000, s.chunk_count, 0, 0, 0, 1.0f,
                                             s.codec, s.thread_mode, 1, 0, 0, 0xF8);
  front->set_alpha_straight();
  front->open_encoders(pix_fmt_bgra, 32, 0, 0);
  return front;
}

const uint32_t internal_of[] = {Hap_Internal_RGTC1, Hap_Internal_DXT1, Hap_Internal_DXT5,
                                Hap_Internal_YCoCg_DXT5, Hap_Internal_YCoCg_DXT5_RGTC1,
                                Hap_Internal_BC7};

// Whether the texture engine can encode this codec yet.
bool codec_available(uint8_t codec) {
  Hap_Cpu_Encoder* e = hap_cpu_encoder_create(8, 8, 1, internal_of[codec], 1, 1, 0xF8, 0);
  bool ok = true;
  testing::internal::CaptureStdout();
  try {
    hap_cpu_encoder_open(e, pix_fmt_bgra, 32, 0, 1);
  } catch (const std::runtime_error&) {
    ok = false;
  }
  testing::internal::GetCapturedStdout();
  hap_cpu_encoder_destroy(e);
  return ok;
}

}  // namespace

// ---------------------------------------------------------------- slot encoder

TEST(HapCpuEncoder, SettingsAtCreation) {
  Hap_Cpu_Encoder* e = hap_cpu_encoder_create(64, 64, 100, Hap_Internal_RGTC1, 1, 1, 0, 0);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->chunk_count, 64u);
  EXPECT_EQ(e->chunking, 1u);
  for (const Dxt_Encoder_Context& c : e->contexts) EXPECT_EQ(c.pix_fmt, hap_pix_fmt_not_set);
  hap_cpu_encoder_destroy(e);
  e = hap_cpu_encoder_create(64, 64, 0, Hap_Internal_RGTC1, 1, 1, 0, 0);
  EXPECT_EQ(e->chunk_count, 1u);
  EXPECT_EQ(e->chunking, 0u);
  hap_cpu_encoder_destroy(e);
  testing::internal::CaptureStdout();
  EXPECT_EQ(hap_cpu_encoder_create(0, 64, 1, Hap_Internal_RGTC1, 1, 1, 0, 0), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERR : dim invalide\n");
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
  Hap_Cpu_Encoder* e = hap_cpu_encoder_create(64, 64, 4, Hap_Internal_YCoCg_DXT5_RGTC1, 1, 1, 0, 0);
  testing::internal::CaptureStdout();
  try {
    hap_cpu_encoder_open(e, pix_fmt_bgra, 32, 0, 0);
  } catch (const std::runtime_error& err) {
    EXPECT_STREQ(err.what(), "Error opening encoder");
  }
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(e->texture_1.data, e->texture_buffer);
  EXPECT_EQ(e->texture_1.length, 4096u);
  EXPECT_EQ(e->texture_2.data, e->texture_buffer + 4096);
  EXPECT_EQ(e->texture_2.length, 2048u);
  hap_cpu_encoder_destroy(e);

  // Alpha only takes luma from a 24-bit source and alpha from a 32-bit one;
  // with frame threading the engine gets one thread whatever was asked.
  for (uint16_t bits : {24, 32}) {
    e = hap_cpu_encoder_create(64, 64, 1, Hap_Internal_RGTC1, 1, 1, 0, 0);
    hap_cpu_encoder_open(e, pix_fmt_bgra, bits, 0, 8);
    EXPECT_EQ(e->contexts[0].texture_code, bits == 24 ? 2u : 3u);
    EXPECT_LE(e->contexts[0].thread_count, 1);
    hap_cpu_encoder_destroy(e);
  }
  EXPECT_EQ(error_text([] { hap_cpu_encoder_create(64, 64, 1, 9, 1, 1, 0, 0); }), "Unknown codec");
}

TEST(HapCpuEncoder, CroppedEdgesStillFitTheOutput) {
  // 257 x 4 pixels: 65 whole blocks split in 13 chunks, but 64 blocks in 64
  // chunks once the partial block is left out, which needs more room.
  Hap_Cpu_Encoder* e = hap_cpu_encoder_create(257, 4, 64, Hap_Internal_RGTC1, 1, 1, 0, 0);
  hap_cpu_encoder_open(e, pix_fmt_bgra, 32, 3, 0);
  ASSERT_EQ(e->texture_1.length, 64u * 8);
  Bytes noise(257 * 4 * 4);
  uint32_t x = 1;
  for (auto& b : noise) b = uint8_t((x = x * 1103515245 + 12345) >> 24);
  hap_cpu_encoder_set_frame(e, noise.data(), 257 * 4, 0);
  EXPECT_EQ(error_text([&] { hap_cpu_encoder_run(e); }), "(no exception)");
  hap_cpu_encoder_destroy(e);
}

TEST(HapCpuEncoder, InputCopyGrowsOnlyWhenNeeded) {
  const Clip clip = make_clip(1, 64, 64);
  Hap_Cpu_Encoder* e = hap_cpu_encoder_create(64, 64, 1, Hap_Internal_RGTC1, 1, 1, 0, 0);
  hap_cpu_encoder_open(e, pix_fmt_bgra, 32, 0, 0);
  Bytes wide(64 * 512);
  for (int y = 0; y < 64; ++y) std::memcpy(&wide[y * 512], &clip.frames[0][y * 256], 256);
  hap_cpu_encoder_set_frame(e, clip.frames[0].data(), 256, 0);
  EXPECT_EQ(e->input_capacity, 256u * 64);
  hap_cpu_encoder_set_frame(e, wide.data(), 512, 0);
  EXPECT_EQ(e->input_capacity, 512u * 64);
  uint8_t* grown = e->planes[0];
  hap_cpu_encoder_run(e);
  const uint8_t* data;
  uint32_t size;
  hap_cpu_encoder_get_output(e, &data, &size);
  const Bytes from_wide(data, data + size);
  hap_cpu_encoder_set_frame(e, clip.frames[0].data(), 256, 0);
  EXPECT_EQ(e->planes[0], grown);
  hap_cpu_encoder_run(e);
  hap_cpu_encoder_get_output(e, &data, &size);
  EXPECT_EQ(Bytes(data, data + size), from_wide);
  hap_cpu_encoder_destroy(e);
}

// ---------------------------------------------------------------- front

TEST(HapEncoder, RefusalsBeforeAnything) {
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
}

TEST(HapEncoder, SlotsFollowProcessorsWithFrameThreading) {
  Hap_Encoder threaded(u"", 16, 16, 32, rate_25, 0, 1, 0, 0, 0, 1.0f, 0, 2, 1, 1, 0, 0);
  EXPECT_EQ(threaded.thread_count(), std::min(hap_processor_count(), Hap_Encoder::max_slots));
  Hap_Encoder single(u"", 16, 16, 32, rate_25, 0, 1, 0, 0, 0, 1.0f, 0, 1, 1, 1, 0, 0);
  EXPECT_EQ(single.thread_count(), 1u);
}

namespace {

// Pushes the clip through a front and closes it; returns the number of slots.
uint32_t export_clip(const std::string& path, const Clip& clip, const Export_Settings& s) {
  auto front = make_front(path, clip, s);
  for (const Bytes& f : clip.frames) front->push_frame(f.data(), clip.width * 4, 0);
  const uint32_t slots = front->thread_count();
  front->close();
  return slots;
}

void expect_movie_holds(const std::string& path, const Clip& clip, size_t frame_count,
                        uint32_t internal_codec, uint16_t chunk_count) {
  mov_test::Mov_File movie(path);
  const mov_test::Track_Tables video = movie.track("vide");
  ASSERT_EQ(video.sample_count, frame_count);
  for (size_t k = 0; k < frame_count; ++k)
    EXPECT_EQ(movie.sample(video, k),
              reference_frame(clip.frames[k], clip.width, clip.height, internal_codec, chunk_count))
        << "frame " << k;
}

}  // namespace

TEST(HapEncoder, FramesReachTheMovieInPushOrderInBothModes) {
  // 2N + 1 frames through N slots: N + 1 are written by pushes, N by the flush.
  const uint32_t slots = std::min(hap_processor_count(), Hap_Encoder::max_slots);
  const Clip clip = make_clip(int(2 * slots + 1), 128, 72);
  Export_Settings s;
  const Temp_File threaded_file("threaded.mov"), serial_file("serial.mov");
  const std::string &threaded = threaded_file.path, &serial = serial_file.path;
  EXPECT_EQ(export_clip(threaded, clip, s), slots);
  s.thread_mode = 1;
  EXPECT_EQ(export_clip(serial, clip, s), 1u);
  expect_movie_holds(threaded, clip, clip.frames.size(), Hap_Internal_RGTC1, 4);
  EXPECT_EQ(read_file(threaded), read_file(serial));

  // The movie says what was pushed: sample type, alpha mode, and a decodable
  // alpha plane close to the source's.
  mov_test::Mov_File movie(threaded);
  const mov_test::Track_Tables video = movie.track("vide");
  EXPECT_EQ(video.sample_format, "HapA");
  EXPECT_NE(movie.find("moov/udta"), nullptr);
  const size_t last = clip.frames.size() - 1;
  const Bytes sample = movie.sample(video, last);
  Bytes texture(size_t(clip.width / 4) * (clip.height / 4) * 8);
  uint32_t used = 0, format = 0;
  ASSERT_EQ(hap_decode(sample.data(), uint32_t(sample.size()), 0, decode_chunks_serial, nullptr,
                       texture.data(), uint32_t(texture.size()), &used, &format),
            HapResult_No_Error);
  EXPECT_EQ(format, Hap_Texture_Format_A_RGTC1);
  const Bytes decoded = decode_texture(Tex::Rgtc1, texture.data(), clip.width, clip.height);
  Bytes alpha_as_grey(decoded.size());
  for (size_t p = 0; p < decoded.size() / 4; ++p) {
    const uint8_t a = clip.frames[last][4 * p + 3];
    alpha_as_grey[4 * p] = alpha_as_grey[4 * p + 1] = alpha_as_grey[4 * p + 2] = a;
    alpha_as_grey[4 * p + 3] = 255;
  }
  EXPECT_GT(psnr_bgra(decoded.data(), alpha_as_grey.data(), decoded.size() / 4, false), 40.0);
}

TEST(HapEncoder, EveryAvailableCodecRoundTrips) {
  const Clip clip = make_clip(5, 64, 48);
  for (uint8_t codec = 0; codec <= 5; ++codec) {
    if (!codec_available(codec)) {
      std::printf("codec %d: the texture engine cannot encode it yet; skipped\n", codec);
      continue;
    }
    SCOPED_TRACE(int(codec));
    for (uint16_t chunks : {0, 3}) {
      Export_Settings s;
      s.codec = codec;
      s.chunk_count = chunks;
      const Temp_File movie_file("codec" + std::to_string(codec) + ".mov");
      const std::string& path = movie_file.path;
      export_clip(path, clip, s);
      expect_movie_holds(path, clip, clip.frames.size(), internal_of[codec], chunks);
    }
  }
}

TEST(HapEncoder, AudioAndMetadataReachTheWriter) {
  const Clip clip = make_clip(3, 32, 32);
  const Temp_File movie_file("audio.mov");
  const std::string& path = movie_file.path;
  auto front = make_front(path, clip, {});
  front->set_audio_tracks(1, 48000, 16, 2, 0, 0);
  for (const Bytes& f : clip.frames) front->push_frame(f.data(), 128, 0);
  front->flush();
  const std::vector<int16_t> samples(2 * 1000, 1234);
  front->add_audio(samples.data(), 1000, 0);
  front->close();
  mov_test::Mov_File movie(path);
  const mov_test::Track_Tables sound = movie.track("soun");
  EXPECT_EQ(sound.handler, "soun");
  const Bytes pcm = movie.track_data(sound);
  ASSERT_GE(pcm.size(), 4000u);
  EXPECT_EQ(pcm[0], 1234 & 0xFF);
  EXPECT_EQ(movie.track("vide").sample_count, 3u);
}

namespace {

struct Injected {
  uint64_t failing_frame;
};

void fail_on_frame(void* user, uint64_t frame_number) {
  if (frame_number == static_cast<Injected*>(user)->failing_frame)
    throw std::runtime_error("injected failure");
}

}  // namespace

TEST(HapEncoder, FrameThreadFailureSurfacesAndTheMovieKeepsWhatCameBefore) {
  for (uint32_t thread_mode : {2u, 1u}) {
    SCOPED_TRACE(thread_mode);
    const Clip clip = make_clip(12, 64, 32);
    const Temp_File movie_file("failure" + std::to_string(thread_mode) + ".mov");
    const std::string& path = movie_file.path;
    Injected injected{3};
    std::string error;
    {
      Export_Settings s;
      s.thread_mode = thread_mode;
      auto front = make_front(path, clip, s);
      front->set_frame_thread_hook(fail_on_frame, &injected);
      // The export run's shape: push everything, flush, close; on a failure,
      // finalise what was written and destroy.
      size_t pushed = 0;
      try {
        for (const Bytes& f : clip.frames) {
          front->push_frame(f.data(), 64 * 4, 0);
          ++pushed;
        }
        front->close();
      } catch (const std::runtime_error& e) {
        error = e.what();
        front->finalise_guarded();
      }
      // It surfaced on a push: the one that reached the failed frame's slot.
      EXPECT_EQ(pushed, injected.failing_frame + front->thread_count());
      // Once failed, the front keeps saying so.
      EXPECT_EQ(error_text([&] { front->flush(); }), "injected failure");
    }
    EXPECT_EQ(error, "injected failure");
    expect_movie_holds(path, clip, injected.failing_frame, Hap_Internal_RGTC1, 4);
  }
}

TEST(HapEncoder, DestroyingWithFramesInFlightWaitsForThem) {
  const Clip clip = make_clip(6, 256, 128);
  const Temp_File movie_file("in_flight.mov");
  const std::string& path = movie_file.path;
  {
    auto front = make_front(path, clip, {});
    for (const Bytes& f : clip.frames) front->push_frame(f.data(), 256 * 4, 0);
  }
  // The error path: collect, write in order, finalise.
  {
    auto front = make_front(path, clip, {});
    for (const Bytes& f : clip.frames) front->push_frame(f.data(), 256 * 4, 0);
    front->finalise_guarded();
  }
  expect_movie_holds(path, clip, clip.frames.size(), Hap_Internal_RGTC1, 4);
}
