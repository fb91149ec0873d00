// Whole exports through the stand-in host, checked by reading the movie back and decoding
// its frames: every codec, snappy, threading, timecode, audio formats and failure paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "HAP/hap_frame.h"
#include "exporter/exporter.h"
#include "host/stand_in_host.h"
#include "tests/support/mov_inspector.h"
#include "tests/support/test_support.h"

namespace {

using host::Session;
using Bytes = std::vector<uint8_t>;

constexpr int source_size = 512;  // the test image
constexpr int export_size = 128;  // what the host renders it to
const std::string hapq = "ADBEVideoCodec=3";

struct Export {
  host::Stand_In_Host host;
  host::Plugin plugin{HAP_PLUGIN_PATH};
  Session session{host, plugin};
  Temp_File movie;
  std::string out;  // what the plug-in printed
  // Changes made behind the dialog's back, after the checked ones.
  std::function<void(host::Param_Tree&)> tweak;

  explicit Export(const std::string& name) : movie("export_" + name + ".mov") {
    host.output_path = to_u16(movie.path);
    host.source.width = host.source.height = source_size, host.source.frame_count = 1;
    host.source.input_path = std::string(HAP_TESTDATA_DIR) + "/astronaut_alpha_512x512.bgra";
  }
  // Runs the selectors of one export with the settings ("ID=VALUE ...") the
  // dialog checks; returns the export's result.
  int32_t run(const std::string& settings, bool audio = false, int64_t frames = 3) {
    EXPECT_EQ(session.begin_instance() | session.generate_default_params() | session.post_process_params(), 0);
    std::istringstream items("ADBEVideoWidth=128 ADBEVideoHeight=128 " + settings);  // export_size
    for (std::string item; items >> item;)
      EXPECT_EQ(session.change_param(item.substr(0, item.find('=')), item.substr(item.find('=') + 1)), 0) << item;
    if (tweak) tweak(host.params);
    sdk::Do_Export_Rec rec{};
    rec.plugin_id = Session::plugin_id, rec.private_data = session.instance(), rec.file_object = Session::file_object;
    rec.export_video = 1, rec.export_audio = audio;
    rec.end_time = frames * host.params.find("ADBEVideoFPS")->values.value.time;
    testing::internal::CaptureStdout();
    const int32_t result = plugin.call(sdk::selector_export, host.std_params(), &rec);
    out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(session.end_instance() == 0 && host.live_blocks() == 0 && host.suites_balanced());
    return result;
  }
  // Runs an export that must succeed.
  bool ok(const std::string& settings, bool audio = false, int64_t frames = 3) {
    const bool done = run(settings, audio, frames) == 0;
    EXPECT_TRUE(done) << out;
    return done;
  }
  bool printed(const std::string& text) const { return out.find(text) != std::string::npos; }
};

// The source image as the host renders it at the export size, top-down.
Bytes expected_frame(bool premultiplied) {
  const Test_Image img = load_test_image("astronaut_alpha_512x512.bgra");
  const int step = source_size / export_size;
  Bytes out;
  for (int y = 0; y < export_size; ++y)
    for (int x = 0; x < export_size; ++x) {
      const uint8_t* s = img.bgra.data() + (size_t(y * step) * source_size + size_t(x * step)) * 4;
      for (int c = 0; c < 3; ++c) out.push_back(premultiplied ? uint8_t((s[c] * s[3] + 127) / 255) : s[c]);
      out.push_back(s[3]);
    }
  return out;
}

// Decodes one square video sample to top-down BGRA.
Bytes decode_sample(const Bytes& sample, const std::string& format, int size) {
  Padded_Buffer stored{const_cast<uint8_t*>(sample.data()), 0, uint32_t(sample.size()), uint32_t(sample.size())};
  Hap_Frame frame;
  set_hap_frame_from_buffer(&frame, size, size, &stored);
  auto texture = [&](int index, Dxt_Codec codec, Tex kind) {
    Dxt_Frame t;
    alloc_dxt_frame_data(&t, size, size, codec);
    decode_hap_texture(&frame, &t, uint8_t(index));
    const Bytes image = decode_texture(kind, t.data, size, size);
    return free_dxt_frame_data(&t), image;
  };
  if (format == "Hap1") return texture(0, Dxt_Codec_DXT1, Tex::Dxt1);
  if (format == "Hap5") return texture(0, Dxt_Codec_DXT5, Tex::Dxt5);
  if (format == "HapA") return texture(0, Dxt_Codec_RGTC1, Tex::Rgtc1);
  if (format == "Hap7") return texture(0, Dxt_Codec_BC7, Tex::Bc7);
  Bytes colour = texture(0, Dxt_Codec_DXT5, Tex::YcocgDxt5);
  if (format == "HapM") {
    const Bytes alpha = texture(1, Dxt_Codec_RGTC1, Tex::Rgtc1);
    for (size_t p = 0; p < colour.size(); p += 4) colour[p + 3] = alpha[p];
  }
  return colour;
}

// One plane of a BGRA image spread to every channel, for the alpha-only codec.
Bytes plane(const Bytes& bgra, bool luma) {
  Bytes out(bgra.size());
  for (size_t p = 0; p < bgra.size(); p += 4) {
    const uint8_t v = luma ? uint8_t((bgra[p] * 29 + bgra[p + 1] * 150 + bgra[p + 2] * 77 + 128) >> 8) : bgra[p + 3];
    out[p] = out[p + 1] = out[p + 2] = v, out[p + 3] = 255;
  }
  return out;
}

// Premultiplying is asked for with codecs 2, 4 and 6 and not with 8.
TEST(Exporter_Export, every_codec_writes_decodable_frames_and_its_alpha_mode) {
  struct Case { int choice; const char* format; bool alpha; double floor_db; };  // 32-bit source; floor at Fast
  const Case cases[] = {{1, "Hap1", false, 29.5}, {2, "Hap5", true, 28.5}, {3, "HapY", false, 35},
                        {4, "HapM", true, 34},    {5, "HapA", false, 33},  {6, "HapA", true, 48},
                        {7, "Hap7", false, 36},   {8, "Hap7", true, 33.5}};
  Bytes udta[9];
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format + std::string(" choice ") + std::to_string(c.choice));
    const bool premultiply = c.choice % 2 == 0 && c.choice != 8;
    Export e("export_codec_" + std::to_string(c.choice));
    ASSERT_TRUE(e.ok("ADBEVideoCodec=" + std::to_string(c.choice) + " CheckboxPremult=" + (premultiply ? "1" : "0")));
    // 24-bit codecs render premultiplied, codec 6 straight, the others as the checkbox says.
    const bool rendered_premultiplied = !c.alpha || (premultiply && c.choice != 6);
    EXPECT_EQ(e.host.rendered_pixel_format, rendered_premultiplied ? sdk::pixel_format_bgrp : sdk::pixel_format_bgra);
    mov_test::Mov_File movie(e.movie.path);
    const mov_test::Track_Tables video = movie.track("vide");
    EXPECT_EQ(video.sample_format, c.format);
    ASSERT_EQ(video.sample_count, 3u);
    const Bytes decoded = decode_sample(movie.sample(video, 2), c.format, export_size);
    Bytes expected = expected_frame(rendered_premultiplied);
    if (c.choice == 5 || c.choice == 6) expected = plane(expected, c.choice == 5);
    const bool with_alpha = c.alpha && c.choice != 6;
    EXPECT_GT(psnr_bgra(decoded.data(), expected.data(), size_t(export_size) * export_size, with_alpha), c.floor_db);
    // 32-bit sources record their alpha mode in the user data.
    const mov_test::Atom* atom = movie.find("moov/udta");
    ASSERT_EQ(atom != nullptr, c.alpha);
    if (atom) udta[c.choice] = movie.payload(*atom);
  }
  // The alpha mode follows the checkbox, for codec 6 too.
  EXPECT_TRUE(udta[2] == udta[4] && udta[2] == udta[6] && udta[2] != udta[8]);
}

// Held frames (15 fps shown at 30, callbacks of 3 and 2 frames) are written again.
TEST(Exporter_Export, snappy_frame_threading_and_repeats) {
  std::vector<Bytes> samples[2][2];
  for (int snappy = 0; snappy <= 1; ++snappy)
    for (int threading = 0; threading <= 1; ++threading) {
      Export e("export_snappy_threads");
      e.host.source.rate_numerator = 15, e.host.faults.repeat_count = 3;
      const std::string flags = " CheckboxSnappy=" + std::to_string(snappy) + " SliderChunkCount=4";
      ASSERT_TRUE(e.ok(hapq + flags + " checkboxFrameThreading=" + std::to_string(threading), false, 5));
      mov_test::Mov_File movie(e.movie.path);
      const mov_test::Track_Tables video = movie.track("vide");
      ASSERT_EQ(video.sample_count, 5u);
      for (uint32_t i = 0; i < video.sample_count; ++i) samples[snappy][threading].push_back(movie.sample(video, i));
    }
  for (int snappy = 0; snappy <= 1; ++snappy) EXPECT_EQ(samples[snappy][0], samples[snappy][1]);
  EXPECT_NE(samples[0][0][0], samples[1][0][0]);
}

// Off, and on with no start from the host (a given start: see the command-line tests).
TEST(Exporter_Export, timecode_track_off_or_without_a_start) {
  for (bool on : {false, true}) {
    Export e("export_timecode");
    e.host.source.start_timecode_frame = 108000;
    e.host.faults.no_timecode_block = on;
    ASSERT_TRUE(e.ok(hapq + " CheckboxTcMetadata=" + (on ? "1" : "0")));
    EXPECT_EQ(e.printed("Warning : invalid timecode : 0;0\n"), on) << e.out;
    mov_test::Mov_File movie(e.movie.path);
    if (!on) { EXPECT_THROW(movie.track("tmcd"), std::exception); continue; }
    EXPECT_EQ(movie.sample(movie.track("tmcd"), 0), (Bytes{0, 0, 0, 0}));
  }
}

// The host's source information, with the timecode block replaced.
sdk::Timecode_Block forced_timecode;
const sdk::Export_Info_Suite* host_info = nullptr;
const sdk::Export_Info_Suite timecode_forcing_info = {
    [](sdk::Plugin_Id id, int32_t item, sdk::Source_Info_Value* value) {
      const sdk::Result r = host_info->get_source_info(id, item, value);
      if (item == sdk::source_start_timecode && r == sdk::result_ok)
        *static_cast<sdk::Timecode_Block*>(value->block) = forced_timecode;
      return r;
    }};

// A start between two frames is taken down to the frame with a warning; one
// of 2^32 - 1 frames or more does not fit the track and becomes 0.
TEST(Exporter_Export, timecode_start_warnings) {
  const struct { sdk::Ticks start; const char* warning; Bytes sample; } cases[] = {
      {3 * 1000 + 1, "Warning : non integer start timecode : 3001;1000\n", {0, 0, 0, 3}},
      {0xFFFFFFFEll * 1000, nullptr, {0xFF, 0xFF, 0xFF, 0xFE}},
      {0xFFFFFFFFll * 1000, "Warning : start timecode overflow : 4294967295000;1000\n", {0, 0, 0, 0}}};
  for (const auto& c : cases) {
    Export e("export_timecode_start");
    forced_timecode = {c.start, 1000};
    e.tweak = [&e](host::Param_Tree&) {
      auto* instance = static_cast<Exporter_Instance*>(e.session.instance());
      host_info = instance->export_info;
      instance->export_info = &timecode_forcing_info;
    };
    ASSERT_TRUE(e.ok(hapq + " CheckboxTcMetadata=1"));
    EXPECT_EQ(e.printed("timecode"), c.warning != nullptr) << e.out;
    if (c.warning) {
      EXPECT_TRUE(e.printed(c.warning)) << e.out;
    }
    mov_test::Mov_File movie(e.movie.path);
    EXPECT_EQ(movie.sample(movie.track("tmcd"), 0), c.sample) << c.start;
  }
}

// The audio the stand-in host renders, converted as the export must.
Bytes expected_audio(int64_t frames, int rate, int channels, const int* order, int bytes, bool is_float) {
  Bytes out;
  for (int64_t f = 0; f < frames; ++f)
    for (int c = 0; c < channels; ++c) {
      const float v = host::test_tone_sample(f, order[c], rate);
      uint8_t b[4];
      is_float ? void(std::memcpy(b, &v, 4)) : host::float_to_pcm(v, bytes, b);
      out.insert(out.end(), b, b + bytes);
    }
  return out;
}

constexpr int stereo[2] = {0, 1};
Bytes sound_track(const Export& e) { mov_test::Mov_File m(e.movie.path); return m.track_data(m.track("soun")); }

void expect_prefix(const Bytes& data, const Bytes& expected) {
  ASSERT_GE(data.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), data.begin()));
}

TEST(Exporter_Export, audio_in_every_format_and_layout) {
  const int orders[3][6] = {{0, 1, 2, 3, 4, 5}, {0, 1, 4, 5, 2, 3}, {0, 2, 1, 4, 5, 3}};
  struct Case { int channels_param, channels, order; };
  const Case layouts[] = {{0, 1, 0}, {1, 2, 0}, {2, 6, 0}, {2, 6, 1}, {2, 6, 2}};
  for (int quantification = 1; quantification <= 4; ++quantification)
    for (const auto& l : layouts) {
      SCOPED_TRACE(testing::Message() << "quantification " << quantification << " layout " << &l - layouts);
      const int rate = quantification == 2 ? 44100 : 8000;
      Export e("export_audio");
      ASSERT_TRUE(
          e.ok(hapq + " AudioSampleRate=" + std::to_string(rate) + " AudioQUANTIF=" + std::to_string(quantification) +
                   " AudioChannels=" + std::to_string(l.channels_param) + " AudioOrders=" + std::to_string(l.order),
               true, 40));
      // Blocks never exceed the host's largest block (4 video frames).
      for (uint32_t block : e.host.audio_blocks) EXPECT_LE(block, uint32_t((rate + 29) / 30 * 4));
      const int bytes = quantification == 1 ? 2 : quantification == 2 ? 3 : 4;
      expect_prefix(sound_track(e), expected_audio(int64_t(rate) * 40 / 30, rate, l.channels, orders[l.order], bytes,
                                                   quantification == 4));
    }
}

// Audio that stops early leaves silence; broken hosts neither hang nor divide by zero.
TEST(Exporter_Export, audio_faults_leave_silence) {
  {  // one stand-in host at a time
    Export e("export_audio_stop");
    e.host.faults.audio_failure_after = 2;
    ASSERT_TRUE(e.ok(hapq + " AudioSampleRate=8000", true, 60));
    EXPECT_TRUE(e.printed("WARNING : audio stopped")) << e.out;
    const size_t delivered = size_t(e.host.audio_blocks[0] + e.host.audio_blocks[1]) * 4;
    const Bytes data = sound_track(e);
    ASSERT_GT(data.size(), delivered);
    expect_prefix(data, expected_audio(delivered / 4, 8000, 2, stereo, 2, false));
    EXPECT_TRUE(std::all_of(data.begin() + delivered, data.end(), [](uint8_t b) { return b == 0; }));
  }
  {  // an audio "file" that is a folder is no audio, not a huge allocation
    Export e("export_audio_folder");
    e.host.source.audio_path = testing::TempDir();
    ASSERT_TRUE(e.ok(hapq + " AudioSampleRate=8000", true, 30));
    const Bytes data = sound_track(e);
    EXPECT_TRUE(!data.empty() && std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0; }));
  }
  // No largest block, and one of three seconds: the export asks for one
  // second at most, the size of its buffers.
  for (int32_t largest : {0, 3 * 8000}) {
    Export e("export_audio_block");
    e.host.faults.max_audio_block = largest;
    ASSERT_TRUE(e.ok(hapq + " AudioSampleRate=8000", true, 90));
    EXPECT_EQ(e.printed("WARNING : invalid audio block size : 0\n"), largest == 0) << e.out;
    for (uint32_t block : e.host.audio_blocks) EXPECT_LE(block, 8000u);
    expect_prefix(sound_track(e), expected_audio(8000 * 3, 8000, 2, stereo, 2, false));
  }
}

// A failing loop keeps the frames written, finalised; bad row bytes are refused by the callback.
TEST(Exporter_Export, render_loop_failures) {
  {
    Export e("export_loop_fails");
    e.host.faults.callback_failure_after = 4;
    EXPECT_EQ(e.run(hapq + " checkboxFrameThreading=1", true, 10), host::host_error);
    EXPECT_TRUE(e.printed("video export failed")) << e.out;
    EXPECT_EQ(mov_test::Mov_File(e.movie.path).track("vide").sample_count, 4u);
  }
  {
    // The host's own failure is told before the finalise complains of a movie without frames.
    Export e("export_source_fails");
    e.host.source.width = e.host.source.height = 2 * source_size;  // the file is a quarter frame
    EXPECT_NE(e.run(hapq), 0);
    const size_t reason = e.out.find("Reason : source file "), finalise = e.out.find("STBL : Duration 0 invalid");
    EXPECT_TRUE(reason != std::string::npos && finalise != std::string::npos && reason < finalise) << e.out;
  }
  for (int32_t row_bytes : {0, -512, export_size * 4 - 4}) {
    Export e("export_row_bytes");
    e.host.faults.row_bytes_override = row_bytes;
    EXPECT_EQ(e.run(hapq), 99) << row_bytes;
    EXPECT_TRUE(e.printed("Exception callback\nReason : invalid row bytes : " + std::to_string(row_bytes) + "\n"))
        << e.out;
    // Nothing was written: the writer refuses to finalise a movie without frames.
    EXPECT_TRUE(e.printed("close : Runtime error")) << e.out;
    EXPECT_EQ(std::filesystem::file_size(e.movie.path), 48u);
  }
}

// The host's frame suite with one fault (a refusal still gives its answer),
// and an export loop that hands the callback a record whose encoder is missing
// (the frame suite, then the encoder).
enum class Frame_Fault { None, Pixels_Refused, Row_Bytes_Refused, Unknown_Exception };
Frame_Fault frame_fault = Frame_Fault::None;
const sdk::PPix_Suite faulty_ppix = [] {
  sdk::PPix_Suite s{};
  s.get_pixels = [](sdk::Frame_Handle frame, int32_t mode, char** pixels) -> sdk::Result {
    if (frame_fault == Frame_Fault::Unknown_Exception) throw 7;
    const sdk::Result got = host::ppix_suite().get_pixels(frame, mode, pixels);
    return frame_fault == Frame_Fault::Pixels_Refused ? 1 : got;
  };
  s.get_row_bytes = [](sdk::Frame_Handle frame, int32_t* row_bytes) -> sdk::Result {
    const sdk::Result got = host::ppix_suite().get_row_bytes(frame, row_bytes);
    return frame_fault == Frame_Fault::Row_Bytes_Refused ? 1 : got;
  };
  return s;
}();
const sdk::Exporter_Utility_Suite loop_without_encoder = {
    [](sdk::Plugin_Id, const sdk::Render_Params*, int32_t, sdk::Frame_Callback callback, void* data) {
      struct { const sdk::PPix_Suite* ppix; void* encoder; } no_encoder{*static_cast<const sdk::PPix_Suite**>(data),
                                                                          nullptr};
      return callback(0, 0, 1, nullptr, &no_encoder);
    }};

// Each failure inside the frame callback prints its lines and returns 99, which
// fails the loop: no frame is written.
TEST(Exporter_Export, frame_callback_failures) {
  const std::pair<Frame_Fault, const char*> cases[] = {
      {Frame_Fault::Pixels_Refused, "Exception callback\nReason : could not GetPixels on completed frame\n"},
      {Frame_Fault::Row_Bytes_Refused, "Exception callback\nReason : could not GetRowBytes on completed frame\n"},
      {Frame_Fault::Unknown_Exception, "Exception Inconnue callback\n"},
      {Frame_Fault::None, "ENCODER NULL\n"}};
  for (const auto& [fault, lines] : cases) {
    Export e("export_callback_fault");
    frame_fault = fault;
    e.tweak = [&e, fault = fault](host::Param_Tree&) {
      auto* instance = static_cast<Exporter_Instance*>(e.session.instance());
      instance->ppix = &faulty_ppix;
      if (fault == Frame_Fault::None) instance->exporter_utility = &loop_without_encoder;
    };
    EXPECT_EQ(e.run(hapq), sdk::callback_failed) << lines;
    // Whole lines, right after the quality line and before whatever the finalise says.
    const std::string after_quality = "Quality : Low\n" + std::string(lines);
    const size_t at = e.out.find(after_quality);
    ASSERT_NE(at, std::string::npos) << e.out;
    EXPECT_NE(e.out[at + after_quality.size()], '\n') << e.out;
    EXPECT_TRUE(e.printed("video export failed")) << e.out;
    EXPECT_EQ(std::filesystem::file_size(e.movie.path), 48u) << lines;
  }
  frame_fault = Frame_Fault::None;
}

// Empty and unconvertible paths, an audio rate no host offers, frame durations of 0, -5 and 1 tick.
TEST(Exporter_Export, set_up_failures_give_3_without_a_movie) {
  const sdk::Ticks durations[] = {0, -5, 1};
  for (int c = 0; c < 6; ++c) {
    Export e("export_set_up");
    e.host.faults.empty_output_path = c == 0;
    if (c == 1) e.host.output_path = u"/tmp/" + std::u16string(300, u'a') + u".mov";
    e.tweak = [&](host::Param_Tree& p) {
      if (c == 2) p.find("AudioSampleRate")->values.value.integer = 0;
      if (c > 2) p.find("ADBEVideoFPS")->values.value.time = durations[c - 3];
    };
    EXPECT_EQ(e.run(hapq, c == 2), 3) << c;
    EXPECT_TRUE(e.printed(c < 2 ? "Path conversion error\n" : "Runtime error init")) << e.out;
    EXPECT_EQ(e.printed("Reason : the output path is too long (259 characters at most)\n"), c == 1) << e.out;
    EXPECT_TRUE(c == 2 || !std::filesystem::exists(e.movie.path)) << c;  // audio is checked once the file is open
    EXPECT_TRUE(e.host.audio_blocks.empty());
  }
}

// The movie keeps the size in 16 bits: a size outside the parameters' range is
// refused before the file is made, not cut (65540 would give 4).
TEST(Exporter_Export, frame_size_outside_4_to_16384_is_refused) {
  const std::pair<int32_t, int32_t> sizes[] = {{65540, 8}, {8, 65540}, {16385, 8}, {3, 8}, {8, 3}, {16384, 4}, {4, 4}};
  for (const auto& [width, height] : sizes) {
    Export e("export_size");
    e.tweak = [&, width = width, height = height](host::Param_Tree& p) {
      p.find("ADBEVideoWidth")->values.value.integer = width;
      p.find("ADBEVideoHeight")->values.value.integer = height;
    };
    const bool fits = width <= 16384 && height <= 16384 && width >= 4 && height >= 4;
    EXPECT_EQ(e.run(hapq, false, 1), fits ? 0 : 3) << width << "x" << height << e.out;
    if (fits) {
      const mov_test::Track_Tables video = mov_test::Mov_File(e.movie.path).track("vide");
      const Bytes description = video.sample_description;
      EXPECT_EQ(mov_test::be16(&description[32]), width);
      EXPECT_EQ(mov_test::be16(&description[34]), height);
    } else {
      EXPECT_TRUE(e.printed("Invalid frame size : " + std::to_string(width) + "x" + std::to_string(height) +
                            " (4 to 16384)\n"))
          << e.out;
      EXPECT_FALSE(std::filesystem::exists(e.movie.path));
    }
  }
}

TEST(Exporter_Export, any_non_empty_path_is_used_whatever_length_the_host_reports) {
  Export e("export_counted_path");
  static const std::u16string counted_path = to_u16(e.movie.path);
  sdk::Export_File_Suite suite{};
  // The reported length counts the terminator, as some hosts do.
  suite.get_platform_path = [](sdk::File_Object, int32_t* length, char16_t* path) -> sdk::Result {
    std::copy(counted_path.c_str(), counted_path.c_str() + counted_path.size() + 1, path);
    return *length = int32_t(counted_path.size() + 1), sdk::result_ok;
  };
  e.tweak = [&](host::Param_Tree&) { static_cast<Exporter_Instance*>(e.session.instance())->export_file = &suite; };
  ASSERT_TRUE(e.ok(hapq, false, 2)) << e.out;
  EXPECT_EQ(mov_test::Mov_File(e.movie.path).track("vide").sample_count, 2u);
}

// Ticks per frame and the rate expected, then the codec, quality and quality line printed (null: none).
TEST(Exporter_Export, frame_rates_as_rationals_and_quality_lines) {
  const sdk::Ticks t = host::ticks_per_second;
  struct Case { sdk::Ticks duration; uint64_t num, den; const char* codec; int32_t quality; const char* line; };
  const Case cases[] = {{t / 25, 25, 1, "3", 2, "Quality : High\n"},
                        {t / 30000 * 1001, 30000, 1001, "5", 0, nullptr},
                        {10000000007, 25402, 1000, "1", 5, "Quality : Error invalid value default to normal\n"}};
  for (const auto& c : cases) {  // 25.4016 fps above: to a thousandth
    Export e("export_rate");
    e.tweak = [&](host::Param_Tree& p) {
      p.find("ADBEVideoFPS")->values.value.time = c.duration;
      p.find("ComboboxQuality")->values.value.integer = c.quality;
    };
    ASSERT_TRUE(e.ok(std::string("ADBEVideoCodec=") + c.codec, false, 2));
    EXPECT_EQ(e.printed(c.line ? c.line : "Quality :"), c.line != nullptr) << e.out;
    const mov_test::Track_Tables video = mov_test::Mov_File(e.movie.path).track("vide");
    ASSERT_FALSE(video.stts.empty());
    EXPECT_EQ(uint64_t(video.time_scale) * c.den, uint64_t(video.stts[0].duration) * c.num)
        << c.duration << ": " << video.time_scale << "/" << video.stts[0].duration;
  }
}

}  // namespace
