// The stand-in host: an implementation of the host suites the exporter
// plug-in uses, with real behaviour (a counting memory manager, a tree of
// export parameters, a source sequence that is rendered and heard), the
// loading of the plug-in, and the selector calls in the host's order.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "exporter/host_sdk.h"

namespace host {

// The host's tick rate: every frame rate of the exporter's list and every
// audio sample rate it offers divides it.
constexpr sdk::Ticks ticks_per_second = 254016000000;

// Host codes of the stand-in's own failures.
constexpr sdk::Result host_error = -1;
constexpr sdk::Result suite_not_found = -2;
constexpr sdk::Result export_cancelled = -3;  // the export loop stopped on request

// Nonzero (the signal number, for hap-export) once the export was asked to
// stop: the export loop then ends with export_cancelled before its next frame,
// and the audio renderer stops delivering, as a host does when the user
// cancels. Atomic: hap-export sets it on the thread that takes the signals,
// not the one that reads this.
inline std::atomic<int> interrupt_signal{0};

// What the host renders and plays: the source sequence.
struct Source_Settings {
  int width = 1920;
  int height = 1080;
  int64_t rate_numerator = 30;  // frames per second = numerator / denominator
  int64_t rate_denominator = 1;
  int64_t frame_count = 150;
  std::string input_path;  // raw top-down BGRA frames; empty: the test sequence
  std::string audio_path;  // raw interleaved f32 samples; empty: the test tone
  bool audio = true;       // false: the sequence has no audio (--audio none)
  int64_t start_timecode_frame = 0;
};

// Failures the tests can inject.
struct Fault_Switches {
  bool no_basic_suite = false;
  std::set<std::string> missing_suites;  // names the basic suite does not supply
  bool allocation_fails = false;         // the memory manager returns null
  bool empty_output_path = false;
  bool no_timecode_block = false;             // source item 19 answers without a block
  int64_t callback_failure_after = -1;        // the export loop fails after this many frames
  int64_t audio_failure_after = -1;           // get audio fails after this many calls
  std::optional<int32_t> row_bytes_override;  // reported instead of the real row bytes
  std::optional<int32_t> max_audio_block;     // reported as the renderer's largest block
  uint32_t repeat_count = 0;                  // when nonzero, every callback gets this repeat count
  sdk::Ticks frame_duration_override = 0;     // source item 2 reports this when nonzero
  // Reading a parameter throws into the plug-in: 1 std::bad_alloc, 2
  // std::runtime_error, 3 a non-standard exception.
  int param_read_throws = 0;
};

// One export parameter as the host keeps it.
struct Host_Param {
  std::string identifier;
  std::string parent_group;
  int32_t type = 0;
  int32_t flags = 0;
  sdk::Param_Values values{};
  std::u16string name;
  std::u16string description;
  std::vector<std::pair<sdk::Param_Scalar, std::u16string>> choices;
};

struct Host_Group {
  std::string identifier;
  std::string parent;
  std::u16string name;
};

// The export parameters the plug-in has created, in creation order.
class Param_Tree {
 public:
  std::vector<Host_Group> groups;
  std::vector<Host_Param> params;
  int32_t params_version = 0;
  int32_t multi_group_count = 0;

  Host_Param* find(const std::string& identifier);
  const Host_Param* find(const std::string& identifier) const;
  // The tree as indented text: groups, then each parameter with its label,
  // type, current value, range, value list and enabled state.
  std::string dump() const;
  // Sets a parameter from command-line text after checking it the way the
  // host's dialog would (type, range, value list, read-only). Throws
  // std::invalid_argument with a message naming the parameter.
  void set_from_text(const std::string& identifier, const std::string& text);
  // The current value as text (as dump() shows it).
  std::string value_text(const Host_Param& param) const;
};

class Stand_In_Host {
 public:
  // Only one stand-in host exists at a time: the suites are plain function
  // tables and reach it through a process-wide pointer.
  Stand_In_Host();
  ~Stand_In_Host();
  Stand_In_Host(const Stand_In_Host&) = delete;
  Stand_In_Host& operator=(const Stand_In_Host&) = delete;

  static Stand_In_Host& active();

  Source_Settings source;
  Fault_Switches faults;
  Param_Tree params;
  std::u16string output_path;  // what the file suite answers

  // The standard parameters handed to every selector.
  sdk::Std_Params* std_params() { return &std_params_; }

  // Memory manager bookkeeping.
  size_t live_blocks() const { return blocks_.size(); }
  int64_t bad_frees() const { return bad_frees_; }
  // Suite acquisitions not yet released, by suite name; negative counts are
  // releases without an acquisition.
  const std::map<std::string, int>& acquired() const { return acquired_; }
  bool suites_balanced() const;
  int total_acquires() const { return total_acquires_; }

  // Source facts derived from the settings.
  sdk::Ticks source_frame_duration() const;
  sdk::Ticks sequence_end_time() const { return source.frame_count * source_frame_duration(); }

  // Progress reported by the plug-in.
  std::u16string progress_text;
  float progress = 0;

  // Results of the export loop: frames delivered, pixel format asked for,
  // and the callback results (first non-zero one ends the loop).
  int64_t frames_delivered = 0;
  uint32_t rendered_pixel_format = 0;
  sdk::Result last_callback_result = 0;
  // Audio delivered to the plug-in, per renderer call: frames asked.
  std::vector<uint32_t> audio_blocks;

  // Entry points of the suites, used by the suite tables.
  sdk::Result acquire_suite(const char* name, int32_t version, const void** suite);
  sdk::Result release_suite(const char* name, int32_t version);
  void* allocate(int32_t size, bool cleared);
  void free_block(void* block);
  sdk::Result source_info(int32_t item, sdk::Source_Info_Value* value);
  sdk::Result platform_path(int32_t* length, char16_t* path);

 private:
  sdk::Std_Params std_params_{};
  std::map<void*, size_t> blocks_;
  int64_t bad_frees_ = 0;
  std::map<std::string, int> acquired_;
  int total_acquires_ = 0;
};

// Suite tables defined by the stand-in's areas.
const sdk::Export_Param_Suite& export_param_suite();
const sdk::Sequence_Audio_Suite& sequence_audio_suite();
const sdk::Audio_Suite& audio_suite();
const sdk::Exporter_Utility_Suite& exporter_utility_suite();
const sdk::PPix_Suite& ppix_suite();

// Ticks per frame of a frames-per-second ratio (rounded to the nearest tick
// when the rate does not divide the tick rate); 0 for a non-positive rate.
sdk::Ticks ticks_per_frame(int64_t numerator, int64_t denominator);

// The built-in test sequence: moving colour patterns over an alpha ramp.
// Writes frame `index` of width x height top-down BGRA into bgra.
void render_test_frame(int64_t index, int width, int height, uint8_t* bgra);

// The premultiplied sample (c x a + 127) / 255, without the division: below
// 2^16, a number's quotient by 255 is its product by 0x8081 shifted right by 23.
inline uint8_t premultiply(uint8_t c, uint8_t a) { return uint8_t((uint32_t(c) * a + 127) * 0x8081u >> 23); }

// Premultiplies `count` BGRA pixels as premultiply() does; in place when
// source == out.
void premultiply_pixels(const uint8_t* source, uint8_t* out, int count);

// Renders a top-down BGRA source frame at width x height (nearest sample:
// output pixel x, y shows source pixel x * source_width / width, y *
// source_height / height) into `out` as bottom-up rows `row_bytes` apart,
// premultiplied when asked. Large frames are rendered on several threads.
void render_frame(const uint8_t* source, int source_width, int source_height, bool premultiplied, int width,
                  int height, uint8_t* out, size_t row_bytes);

// The test tone (sample frame `index`, channel `channel`) at a sample rate.
float test_tone_sample(int64_t index, int channel, int sample_rate);

// Converts float samples to little-endian signed integers of `bytes` (2, 3 or
// 4) bytes: clamped to [-1, 1], scaled by 2^(8 bytes - 1), rounded half away
// from zero, and clamped again to the integer range.
void float_to_pcm(float sample, int bytes, uint8_t* out);

// A host text (names, labels, summaries) in UTF-8; "?" when it is not valid
// UTF-16.
std::string narrow(std::u16string_view text);

// A loaded plug-in: dlopen of the library and its xSDKExport.
class Plugin {
 public:
  // Throws std::runtime_error with dlerror's text when the library or its
  // entry cannot be found, or "out of memory" in its place when the loader
  // could not map or allocate for want of memory.
  explicit Plugin(const std::string& path);
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  int32_t call(int32_t selector, sdk::Std_Params* std_params, void* record);

 private:
  void* library_ = nullptr;
  Sdk_Export_Entry entry_ = nullptr;
};

// One plug-in instance driven through the selectors in the host's order.
class Session {
 public:
  Session(Stand_In_Host& host, Plugin& plugin) : host_(host), plugin_(plugin) {}

  static constexpr sdk::Plugin_Id plugin_id = 1;
  static constexpr sdk::File_Object file_object = 1;

  int32_t startup(sdk::Exporter_Info_Rec& info);
  int32_t begin_instance();
  int32_t generate_default_params();
  int32_t post_process_params();
  // Sets a parameter from text (checked as the host checks it), then lets the
  // plug-in validate the change.
  int32_t change_param(const std::string& identifier, const std::string& text);
  int32_t validate_param_changed(const std::string& identifier);
  int32_t get_param_summary(sdk::Param_Summary_Rec& summary, bool export_audio);
  int32_t query_output_settings(sdk::Query_Output_Settings_Rec& settings);
  int32_t query_export_file_extension(sdk::Query_Extension_Rec& extension);
  int32_t do_export(bool export_audio);
  int32_t end_instance();

  void* instance() const { return instance_; }

 private:
  Stand_In_Host& host_;
  Plugin& plugin_;
  void* instance_ = nullptr;
};

}  // namespace host
