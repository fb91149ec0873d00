// The stand-in host's suites on their own: tick rate, memory manager, sample
// conversion, the audio renderer and the render loop, driven the way the
// plug-in drives them. Paths and forced repeats are checked through exports.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "host/stand_in_host.h"
#include "tests/support/test_support.h"

namespace {

template <class Suite>
const Suite& acquire(host::Stand_In_Host& h, const char* name, int32_t version) {
  const void* suite = nullptr;
  EXPECT_EQ(h.std_params()->get_basic_suite()->acquire_suite(name, version, &suite), 0) << name;
  return *static_cast<const Suite*>(suite);
}

TEST(Host_Time, every_offered_rate_divides_the_tick_rate) {
  for (int64_t rate : {10, 15, 24000, 24, 25, 30000, 30, 50, 60000, 60, 8000, 16000, 32000, 44100, 48000, 88200, 96000})
    EXPECT_EQ(host::ticks_per_second % rate, 0) << rate;
  host::Stand_In_Host h;
  const auto& time = acquire<sdk::Time_Suite>(h, sdk::time_suite_name, sdk::time_suite_version);
  sdk::Ticks ticks = 0;
  // Known rate codes are checked through the exports' frame rates.
  EXPECT_NE(time.get_ticks_per_video_frame(99, &ticks), 0);
  EXPECT_EQ(time.get_ticks_per_audio_sample(44100.0f, &ticks), 0);
  EXPECT_EQ(ticks, host::ticks_per_second / 44100);
  EXPECT_TRUE(time.get_ticks_per_audio_sample(0.0f, &ticks) != 0 && ticks == 0);
}

TEST(Host_Memory, counts_live_blocks_and_bad_frees) {
  host::Stand_In_Host h;
  const auto& memory = acquire<sdk::Memory_Suite>(h, sdk::memory_suite_name, sdk::memory_suite_version);
  void* a = memory.allocate(100);
  auto* b = static_cast<uint8_t*>(memory.allocate_cleared(64));
  ASSERT_TRUE(a && b);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(b[i], 0);
  EXPECT_EQ(h.live_blocks(), 2u);
  int not_ours = 0;
  memory.free_block(a), memory.free_block(&not_ours);
  EXPECT_EQ(h.bad_frees(), 1);
  memory.free_block(b);
  EXPECT_EQ(h.live_blocks(), 0u);
  EXPECT_EQ(memory.allocate(-1), nullptr);
  h.faults.allocation_fails = true;
  EXPECT_EQ(memory.allocate(16), nullptr);
  EXPECT_FALSE(h.suites_balanced());
  h.std_params()->get_basic_suite()->release_suite(sdk::memory_suite_name, sdk::memory_suite_version);
  EXPECT_TRUE(h.suites_balanced());
}

TEST(Host_Suites, unknown_or_missing_suites_are_null) {
  host::Stand_In_Host h;
  const void* suite = &h;
  sdk::Basic_Suite* basic = h.std_params()->get_basic_suite();
  EXPECT_NE(basic->acquire_suite(sdk::time_suite_name, 2, &suite), 0);
  EXPECT_EQ(suite, nullptr);
  EXPECT_NE(basic->acquire_suite("No Such Suite", 1, &suite), 0);
  h.faults.missing_suites.insert(sdk::ppix_suite_name);
  EXPECT_NE(basic->acquire_suite(sdk::ppix_suite_name, 1, &suite), 0);
  EXPECT_EQ(suite, nullptr);
  EXPECT_EQ(h.total_acquires(), 0);
  h.faults.no_basic_suite = true;
  EXPECT_EQ(h.std_params()->get_basic_suite(), nullptr);
}

int64_t read_le(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint64_t(p[i]) << (8 * i);
  const int shift = 64 - 8 * bytes;
  return int64_t(v << shift) >> shift;
}

TEST(Host_Audio, float_to_pcm_clamps_and_rounds) {
  struct Case { float in; int bytes; int64_t out; } const cases[] = {
      {1.0f, 2, 32767}, {-7.0f, 2, -32768}, {0.5f, 2, 16384}, {-1.5f / 32768, 2, -2}, {NAN, 2, 0},
      {-1.0f, 3, -8388608}, {0.25f, 3, 2097152}, {-1.0f, 4, -2147483648LL}, {INFINITY, 4, 2147483647}};
  for (const Case& c : cases) {
    uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    host::float_to_pcm(c.in, c.bytes, out);
    EXPECT_EQ(read_le(out, c.bytes), c.out) << c.in << " " << c.bytes;
    for (int i = c.bytes; i < 4; ++i) EXPECT_EQ(out[i], 0xEE);
  }
}

TEST(Host_Audio, renderer_plays_the_file_then_silence_and_fails_on_request) {
  const std::string path = temp_path("host_suites_audio.f32");
  std::vector<float> samples(2 * 100);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = float(i) / 1000.0f;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(samples.data()), samples.size() * 4);

  host::Stand_In_Host h;
  h.source.audio_path = path;
  const auto& seq = acquire<sdk::Sequence_Audio_Suite>(h, sdk::sequence_audio_suite_name, 1);
  uint32_t renderer = 0;
  ASSERT_EQ(seq.make_audio_renderer(1, 0, sdk::channel_type_stereo, sdk::sample_type_float32, 48000.0f, &renderer), 0);
  int32_t largest = 0;
  ASSERT_EQ(seq.get_max_block_size(renderer, host::ticks_per_second / 30, &largest), 0);
  EXPECT_EQ(largest, 6400);
  std::vector<float> l(150), r(150);
  float* channels[] = {l.data(), r.data()};
  ASSERT_EQ(seq.get_audio(renderer, 150, channels, 0), 0);
  for (int f = 0; f < 100; ++f) EXPECT_TRUE(l[f] == samples[2 * f] && r[f] == samples[2 * f + 1]) << f;
  for (int f = 100; f < 150; ++f) EXPECT_EQ(l[f] + r[f], 0.0f);
  h.faults.audio_failure_after = 1;
  EXPECT_NE(seq.get_audio(renderer, 10, channels, 0), 0);
  EXPECT_EQ(seq.release_audio_renderer(1, renderer), 0);
  EXPECT_NE(seq.make_audio_renderer(1, 0, 9, sdk::sample_type_float32, 48000.0f, &renderer), 0);
  std::filesystem::remove(path);
}

// The file is read from where the renderer stands, however the plug-in splits
// its requests, in every channel: from the start time, across the reader's
// runs of samples, and into silence past the end of the file.
TEST(Host_Audio, renderer_reads_the_file_where_it_stands) {
  const Temp_File file("host_suites_audio_51.f32");
  constexpr int channel_count = 6, file_frames = 10000, start = 100;
  std::vector<float> samples(channel_count * file_frames);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = float(i);
  std::ofstream(file.path, std::ios::binary)
      .write(reinterpret_cast<const char*>(samples.data()), std::streamsize(samples.size() * sizeof(float)));

  host::Stand_In_Host h;
  h.source.audio_path = file.path;
  const auto& seq = acquire<sdk::Sequence_Audio_Suite>(h, sdk::sequence_audio_suite_name, 1);
  uint32_t renderer = 0;
  ASSERT_EQ(seq.make_audio_renderer(1, start * host::ticks_per_second / 48000, sdk::channel_type_5_1,
                                    sdk::sample_type_float32, 48000.0f, &renderer),
            0);
  int64_t frame = start;
  for (const uint32_t block : {4095u, 4097u, 1u, 6000u}) {
    std::vector<std::vector<float>> buffers(channel_count, std::vector<float>(block, -1.0f));
    float* channels[channel_count];
    for (int c = 0; c < channel_count; ++c) channels[c] = buffers[c].data();
    ASSERT_EQ(seq.get_audio(renderer, block, channels, 0), 0);
    for (uint32_t f = 0; f < block; ++f, ++frame)
      for (int c = 0; c < channel_count; ++c) {
        const float expected = frame < file_frames ? float(frame * channel_count + c) : 0.0f;
        ASSERT_EQ(buffers[c][f], expected) << "frame " << frame << " channel " << c;
      }
  }
  EXPECT_GT(frame, file_frames);
  EXPECT_EQ(seq.release_audio_renderer(1, renderer), 0);
}

// The render loop, with a callback that records what it receives.
struct Received {
  std::vector<uint32_t> repeats;
  std::vector<std::vector<uint8_t>> frames;  // top-down, tight
  int32_t stop_at = -1;
  int width = 8, height = 6;  // the loop tests' frame size
};

sdk::Result record_frame(int32_t, int32_t, uint32_t repeat, sdk::Frame_Handle frame, void* data) {
  auto& got = *static_cast<Received*>(data);
  const sdk::PPix_Suite& ppix = host::ppix_suite();
  char* pixels = nullptr;
  int32_t row_bytes = 0;
  EXPECT_EQ(ppix.get_pixels(frame, 0, &pixels) | ppix.get_row_bytes(frame, &row_bytes), 0);
  EXPECT_GE(row_bytes, got.width * 4);
  std::vector<uint8_t> top_down(size_t(got.width) * got.height * 4);
  for (int y = 0; y < got.height; ++y)  // memory row 0 is the bottom row
    std::memcpy(top_down.data() + size_t(y) * got.width * 4, pixels + size_t(got.height - 1 - y) * row_bytes,
                size_t(got.width) * 4);
  got.frames.push_back(std::move(top_down));
  got.repeats.push_back(repeat);
  return int32_t(got.frames.size()) == got.stop_at ? 99 : 0;
}

struct Loop_Test : ::testing::Test {
  host::Stand_In_Host h;
  Received got;

  void SetUp() override {
    h.source.width = 8, h.source.height = 6, h.source.rate_numerator = 15, h.source.frame_count = 5;
    auto add = [&](const char* id, int32_t type) -> sdk::Param_Scalar& {
      host::Host_Param& p = h.params.params.emplace_back();
      p.identifier = id, p.type = type;
      return p.values.value;
    };
    add("ADBEVideoWidth", sdk::param_integer).integer = 8;
    add("ADBEVideoHeight", sdk::param_integer).integer = 6;
    add("ADBEVideoFPS", sdk::param_frame_rate).time = host::ticks_per_second / 30;
  }
  sdk::Result run(uint32_t pixel_format) {
    sdk::Render_Params params{36, 1, pixel_format, 0, h.sequence_end_time(), 0, 0};
    return host::exporter_utility_suite().do_multi_pass_export_loop(1, &params, 1, record_frame, &got);
  }
};

TEST_F(Loop_Test, frames_are_bottom_up_with_repeat_counts_and_premultiplied_on_request) {
  for (uint32_t format : {sdk::pixel_format_bgra, sdk::pixel_format_bgrp}) {
    got = {}, h.frames_delivered = 0;
    ASSERT_EQ(run(format), 0);
    // 5 source frames at 15 fps exported at 30 fps: each shown twice.
    EXPECT_EQ(got.repeats, (std::vector<uint32_t>{2, 2, 2, 2, 2}));
    EXPECT_EQ(h.frames_delivered, 10);
    std::vector<uint8_t> expected(8 * 6 * 4);
    for (int i = 0; i < 5; ++i) {
      host::render_test_frame(i, 8, 6, expected.data());
      if (format == sdk::pixel_format_bgrp)
        for (size_t p = 0; p < expected.size(); p += 4)
          for (int c = 0; c < 3; ++c) expected[p + c] = uint8_t((expected[p + c] * expected[p + 3] + 127) / 255);
      EXPECT_EQ(got.frames[i], expected) << i;
    }
  }
}

TEST_F(Loop_Test, source_file_frames_come_in_order_and_a_short_file_fails_at_its_end) {
  // 10 distinct source frames at 60 fps exported at 30: every other one.
  const Temp_File source("loop_source.bgra");
  std::vector<uint8_t> bytes(10 * 8 * 6 * 4);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7 + i / 192);
  h.source.input_path = source.path, h.source.rate_numerator = 60, h.source.frame_count = 10;
  // The file holds 9 frames: frame 0 to 8 come, frame 8 is the last.
  std::ofstream(source.path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 9 * 8 * 6 * 4);
  ASSERT_EQ(run(sdk::pixel_format_bgra), 0);
  ASSERT_EQ(got.frames.size(), 5u);
  for (int i = 0; i < 5; ++i)
    EXPECT_TRUE(std::equal(got.frames[i].begin(), got.frames[i].end(), bytes.begin() + 2 * i * 8 * 6 * 4)) << i;
  // Two frames fewer: the frame read ahead fails only when it is asked for.
  std::ofstream(source.path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 7 * 8 * 6 * 4);
  got = {};
  EXPECT_EQ(error_text([&] { run(sdk::pixel_format_bgra); }),
            "source file " + source.path + " ends before frame 8");
  EXPECT_EQ(got.frames.size(), 4u);
}

// A source file at the export size is read straight into the rendered rows:
// flipped and premultiplied as a rendered frame, over more than one band of rows.
TEST_F(Loop_Test, a_source_file_at_the_export_size_comes_as_rendered) {
  const Temp_File source("loop_direct.bgra");
  const int width = 20, height = 70, frames = 3;
  std::vector<uint8_t> bytes(size_t(frames) * width * height * 4);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 131 + i / 97);
  std::ofstream(source.path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  h.source.input_path = source.path, h.source.width = width, h.source.height = height;
  h.source.rate_numerator = 30, h.source.frame_count = frames;
  h.params.find("ADBEVideoWidth")->values.value.integer = width;
  h.params.find("ADBEVideoHeight")->values.value.integer = height;
  got.width = width, got.height = height;
  for (uint32_t format : {sdk::pixel_format_bgra, sdk::pixel_format_bgrp}) {
    got.frames.clear();
    ASSERT_EQ(run(format), 0);
    ASSERT_EQ(got.frames.size(), size_t(frames));
    std::vector<uint8_t> expected(bytes);
    if (format == sdk::pixel_format_bgrp)
      for (size_t p = 0; p < expected.size(); p += 4)
        for (int c = 0; c < 3; ++c) expected[p + c] = uint8_t((expected[p + c] * expected[p + 3] + 127) / 255);
    for (int i = 0; i < frames; ++i)
      EXPECT_TRUE(std::equal(got.frames[size_t(i)].begin(), got.frames[size_t(i)].end(),
                             expected.begin() + ptrdiff_t(i) * width * height * 4)) << i << " " << format;
  }
}

TEST_F(Loop_Test, stops_at_first_failure_and_on_injected_failure) {
  got.stop_at = 2;
  EXPECT_EQ(run(sdk::pixel_format_bgra), 99);
  EXPECT_EQ(got.frames.size(), 2u);
  got = {}, h.frames_delivered = 0;
  h.faults.callback_failure_after = 4;
  EXPECT_NE(run(sdk::pixel_format_bgra), 0);
  EXPECT_EQ(h.frames_delivered, 4);
  EXPECT_NE(run(0x12345678), 0);  // a pixel format the host cannot render
}

// The render as the host first did it: a division per pixel for the nearest
// sample and one per sample to premultiply.
std::vector<uint8_t> divided_render(const std::vector<uint8_t>& source, int source_width, int source_height,
                                    bool premultiplied, int width, int height, size_t row_bytes) {
  std::vector<uint8_t> out(row_bytes * size_t(height), 0xEE);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int64_t sy = int64_t(y) * source_height / height, sx = int64_t(x) * source_width / width;
      const uint8_t* s = &source[size_t(sy * source_width + sx) * 4];
      uint8_t* d = &out[size_t(height - 1 - y) * row_bytes + size_t(x) * 4];
      for (int c = 0; c < 3; ++c) d[c] = premultiplied ? uint8_t((s[c] * s[3] + 127) / 255) : s[c];
      d[3] = s[3];
    }
  return out;
}

TEST(Host_Render, premultiply_equals_the_division_for_every_sample_and_alpha) {
  for (int a = 0; a < 256; ++a)
    for (int c = 0; c < 256; ++c)
      ASSERT_EQ(host::premultiply(uint8_t(c), uint8_t(a)), (c * a + 127) / 255) << c << "," << a;
}

TEST(Host_Render, every_size_and_scale_renders_as_the_divisions_did) {
  uint32_t seed = 12345;
  auto next = [&](uint32_t bound) { return ((seed = seed * 1664525 + 1013904223) >> 8) % bound; };
  struct Case {
    int source_width, source_height, width, height;
  };
  std::vector<Case> cases = {{1, 1, 1, 1},       {1, 1, 9, 5},        {640, 360, 640, 360},
                             {700, 300, 1280, 720}, {1280, 720, 451, 300}, {512, 512, 512, 300}};
  for (int i = 0; i < 40; ++i) {
    const int sw = 1 + int(next(300)), sh = 1 + int(next(300));
    cases.push_back(i % 4 == 0 ? Case{sw, sh, sw, sh} : Case{sw, sh, 1 + int(next(300)), 1 + int(next(300))});
  }
  for (const Case& c : cases) {
    // Opaque, transparent and partly transparent pixels take different roads.
    std::vector<uint8_t> source(size_t(c.source_width) * c.source_height * 4);
    for (size_t p = 0; p < source.size(); p += 4) {
      for (int k = 0; k < 3; ++k) source[p + k] = uint8_t(next(256));
      const uint32_t kind = next(4);
      source[p + 3] = kind == 0 ? 0 : kind == 1 ? uint8_t(next(256)) : 255;
    }
    const size_t row_bytes = size_t(c.width) * 4 + 64;
    for (bool premultiplied : {false, true}) {
      std::vector<uint8_t> out(row_bytes * size_t(c.height), 0xEE);
      host::render_frame(source.data(), c.source_width, c.source_height, premultiplied, c.width, c.height,
                         out.data(), row_bytes);
      ASSERT_EQ(out, divided_render(source, c.source_width, c.source_height, premultiplied, c.width, c.height,
                                    row_bytes))
          << c.source_width << "x" << c.source_height << " to " << c.width << "x" << c.height << " premultiplied "
          << premultiplied;
    }
  }
}

TEST(Host_Render, test_pattern_is_drawn_as_the_per_pixel_formula_says) {
  for (const auto& [width, height] : std::vector<std::pair<int, int>>{{1, 1}, {7, 5}, {640, 360}})
    for (int64_t index : {0, 9, 77}) {
      std::vector<uint8_t> expected(size_t(width) * height * 4), got(expected.size());
      const double t = double(index);
      const double cx = width * (0.5 + 0.3 * std::sin(t * 0.07)), cy = height * (0.5 + 0.3 * std::cos(t * 0.05));
      const double radius = std::max(8.0, std::min(width, height) * 0.25);
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          uint8_t* p = &expected[(size_t(y) * width + x) * 4];
          const double dx = x - cx, dy = y - cy;
          p[0] = uint8_t((x * 255 / std::max(1, width - 1) + index * 3) & 255);
          p[1] = uint8_t((y * 255 / std::max(1, height - 1) + index * 5) & 255);
          p[2] = dx * dx + dy * dy < radius * radius ? uint8_t(255 - p[0] / 2)
                                                     : uint8_t(((x / 32 + y / 32 + index / 8) & 1) ? 200 : 40);
          p[3] = uint8_t(x * 255 / std::max(1, width - 1));
        }
      host::render_test_frame(index, width, height, got.data());
      ASSERT_EQ(got, expected) << width << "x" << height << " frame " << index;
    }
}

}  // namespace
