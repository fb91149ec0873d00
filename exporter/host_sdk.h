// Our own declarations of the host exporter interface: selectors, the records
// each selector receives, the suites (tables of function pointers whose entry
// numbers are fixed by the host) and the constants shared by the plug-in and
// the stand-in host. Host texts are UTF-16 (char16_t).
#pragma once
#include <cstdint>

namespace sdk {

using Result = int32_t;
using Plugin_Id = int32_t;
using Ticks = int64_t;
// Placeholder for a suite entry this project never calls; keeps the entry
// numbers of the others where the host puts them.
using Unused_Entry = void (*)();

constexpr int text_field_length = 256;        // UTF-16 names, labels, summaries
constexpr int identifier_field_length = 256;  // 8-bit parameter identifiers
constexpr int path_field_length = 260;        // platform path, in characters

// Results.
constexpr Result result_ok = 0;
constexpr Result result_failed = 3;
constexpr Result result_out_of_memory = 7;  // also: a required suite is missing
constexpr Result result_unsupported = -100;
constexpr Result callback_failed = 99;

// Selectors.
enum Selector : int32_t {
  selector_startup = 0,
  selector_shutdown = 1,
  selector_begin_instance = 2,
  selector_generate_default_params = 3,
  selector_post_process_params = 4,
  selector_validate_param_changed = 5,
  selector_get_param_summary = 6,
  selector_end_instance = 8,
  selector_export = 9,
  selector_query_export_file_extension = 10,
  selector_query_output_settings = 13,
  selector_query_stills_only = 14,
};

constexpr uint32_t four_cc(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) << 24 | uint32_t(uint8_t(b)) << 16 | uint32_t(uint8_t(c)) << 8 | uint8_t(d);
}

// Pixel formats of rendered frames, as stored in memory (little-endian codes).
constexpr uint32_t pixel_format_bgra = 0x61726762;  // 8-bit BGRA, straight alpha
constexpr uint32_t pixel_format_bgrp = 0x70726762;  // 8-bit BGRA, premultiplied

// ---------------------------------------------------------------- suites

struct Basic_Suite {
  Result (*acquire_suite)(const char* name, int32_t version, const void** suite);  // 0
  Result (*release_suite)(const char* name, int32_t version);                      // 1
};

// The standard parameters every selector receives.
struct Std_Params {
  int32_t interface_version;
  Basic_Suite* (*get_basic_suite)();  // null result when the host has none
};

struct Memory_Suite {  // "Premiere Memory Manager Suite", 4
  Unused_Entry unused_0, unused_1, unused_2, unused_3, unused_4;
  void* (*allocate)(int32_t size);          // 5
  void* (*allocate_cleared)(int32_t size);  // 6
  Unused_Entry unused_7, unused_8, unused_9, unused_10;
  void (*free_block)(void* block);  // 11
};

struct Ratio {
  int32_t numerator;
  int32_t denominator;
};

// Parameter type codes.
enum Param_Type : int32_t {
  param_checkbox = 1,
  param_integer = 2,
  param_frame_rate = 4,  // value: frame duration in ticks
  param_string = 6,
  param_ratio = 11,
};

// Parameter flags.
constexpr int32_t param_flag_none = 0;
constexpr int32_t param_flag_slider = 1;
constexpr int32_t param_flag_read_only = 2;

union Param_Scalar {
  int32_t integer;  // checkbox and integer parameters
  double real;
  Ticks time;  // frame-rate parameters
  Ratio ratio;
};

struct Param_Values {
  Param_Scalar range_min;
  Param_Scalar range_max;
  Param_Scalar value;
  int32_t disabled;
  int32_t hidden;
  char16_t text[text_field_length];  // string parameters
};

struct New_Param_Info {
  char identifier[identifier_field_length];
  int32_t type;  // Param_Type
  int32_t flags;
  Param_Values values;
};

struct Export_Param_Suite {                                     // "MediaCore Export Param Suite", 5
  Result (*set_params_version)(Plugin_Id id, int32_t version);  // 0
  Unused_Entry unused_1;
  Result (*add_multi_group)(Plugin_Id id, int32_t* group);                                                 // 2
  Result (*add_param)(Plugin_Id id, int32_t group, const char* parent_group, const New_Param_Info* info);  // 3
  Result (*add_param_group)(Plugin_Id id, int32_t group, const char* parent_group, const char* new_group,
                            const char16_t* name, int32_t hidden, int32_t unused_a, int32_t unused_b);  // 4
  Result (*change_param)(Plugin_Id id, int32_t group, const char* param, const Param_Values* values);   // 5
  Result (*get_param_value)(Plugin_Id id, int32_t group, const char* param, Param_Values* values);      // 6
  Unused_Entry unused_7, unused_8;
  Result (*set_param_name)(Plugin_Id id, int32_t group, const char* param, const char16_t* name);  // 9
  Result (*add_constrained_value)(Plugin_Id id, int32_t group, const char* param, const Param_Scalar* value,
                                  const char16_t* label);                              // 10
  Result (*clear_constrained_values)(Plugin_Id id, int32_t group, const char* param);  // 11
  Unused_Entry unused_12, unused_13, unused_14, unused_15, unused_16, unused_17, unused_18;
  Result (*set_param_description)(Plugin_Id id, int32_t group, const char* param, const char16_t* text);  // 19
};

struct Export_Progress_Suite {                                      // "MediaCore Export Progress Suite", 2
  Result (*set_progress_text)(Plugin_Id id, const char16_t* text);  // 0
  Result (*update_progress)(Plugin_Id id, float fraction);          // 1
};

// Items of the source information.
enum Source_Item : int32_t {
  source_width = 0,
  source_height = 1,
  source_frame_duration = 2,
  source_par_numerator = 5,
  source_par_denominator = 6,
  source_start_timecode = 19,  // a memory-manager block holding Timecode_Block
};

struct Timecode_Block {
  Ticks start_time;
  Ticks frame_duration;
};

struct Source_Info_Value {
  int32_t type;
  union {
    int32_t integer;
    Ticks time;
    void* block;  // freed by the caller with the memory manager
  };
};

struct Export_Info_Suite {                                                          // "MediaCore Export Info Suite", 1
  Result (*get_source_info)(Plugin_Id id, int32_t item, Source_Info_Value* value);  // 0
};

using File_Object = int32_t;

struct Export_File_Suite {  // "MediaCore Export File Suite", 2
  Unused_Entry unused_0, unused_1, unused_2, unused_3;
  // length: in, the buffer's capacity in characters; out, the text's length.
  Result (*get_platform_path)(File_Object file, int32_t* length, char16_t* path);  // 4
};

struct Time_Suite {                                                       // "Premiere Time Suite", 1
  Result (*get_ticks_per_second)(Ticks* ticks);                           // 0
  Result (*get_ticks_per_video_frame)(int32_t rate_code, Ticks* ticks);   // 1
  Result (*get_ticks_per_audio_sample)(float sample_rate, Ticks* ticks);  // 2
};

// Video frame-rate codes of the time suite that the exporter asks about.
constexpr int32_t rate_code_23_976 = 1;
constexpr int32_t rate_code_29_97 = 4;
constexpr int32_t rate_code_59_94 = 7;

struct Rendered_Frame;  // opaque frame handle
using Frame_Handle = Rendered_Frame*;

struct PPix_Suite {  // "Premiere PPix Suite", 1
  Unused_Entry unused_0;
  Result (*get_pixels)(Frame_Handle frame, int32_t access_mode, char** pixels);  // 1
  Unused_Entry unused_2;
  Result (*get_row_bytes)(Frame_Handle frame, int32_t* row_bytes);  // 3
};

// Audio channel types and sample type of the sequence audio renderer.
constexpr int32_t channel_type_mono = 1;
constexpr int32_t channel_type_stereo = 2;
constexpr int32_t channel_type_5_1 = 3;
constexpr int32_t sample_type_float32 = 6;

struct Sequence_Audio_Suite {  // "MediaCore Sequence Audio Suite", 1
  Result (*make_audio_renderer)(Plugin_Id id, Ticks start_time, int32_t channel_type, int32_t sample_type,
                                float sample_rate, uint32_t* renderer);                       // 0
  Result (*release_audio_renderer)(Plugin_Id id, uint32_t renderer);                          // 1
  Result (*get_audio)(uint32_t renderer, uint32_t frames, float** channels, int32_t unused);  // 2
  Unused_Entry unused_3;
  Result (*get_max_block_size)(uint32_t renderer, Ticks frame_duration, int32_t* frames);  // 4
};

struct Audio_Suite {  // "Premiere Audio Suite", 1
  Unused_Entry unused_0;
  // Interleave float channel buffers into little-endian integers of 16, 24
  // or 32 bits.
  Result (*interleave_to_16)(float** channels, void* out, int32_t channel_count, int32_t frames);  // 1
  Result (*interleave_to_24)(float** channels, void* out, int32_t channel_count, int32_t frames);  // 2
  Result (*interleave_to_32)(float** channels, void* out, int32_t channel_count, int32_t frames);  // 3
};

#pragma pack(push, 1)
struct Render_Params {
  int32_t size;     // 36
  int32_t version;  // 1
  uint32_t pixel_format;
  Ticks start_time;
  Ticks end_time;
  int32_t reserved_a;
  int32_t reserved_b;
};
#pragma pack(pop)
static_assert(sizeof(Render_Params) == 36);

using Frame_Callback = Result (*)(int32_t pass, int32_t frame_number, uint32_t repeat_count, Frame_Handle frame,
                                  void* private_data);

struct Exporter_Utility_Suite {  // "MediaCore Exporter Utility Suite", 1
  Result (*do_multi_pass_export_loop)(Plugin_Id id, const Render_Params* params, int32_t passes,
                                      Frame_Callback callback, void* private_data);  // 0
};

// Suite names and versions.
inline constexpr const char* memory_suite_name = "Premiere Memory Manager Suite";
inline constexpr int32_t memory_suite_version = 4;
inline constexpr const char* export_param_suite_name = "MediaCore Export Param Suite";
inline constexpr int32_t export_param_suite_version = 5;
inline constexpr const char* export_progress_suite_name = "MediaCore Export Progress Suite";
inline constexpr int32_t export_progress_suite_version = 2;
inline constexpr const char* export_info_suite_name = "MediaCore Export Info Suite";
inline constexpr int32_t export_info_suite_version = 1;
inline constexpr const char* export_file_suite_name = "MediaCore Export File Suite";
inline constexpr int32_t export_file_suite_version = 2;
inline constexpr const char* error_suite_name = "Premiere Error Suite";
inline constexpr int32_t error_suite_version = 3;
inline constexpr const char* clip_render_suite_name = "Premiere Clip Render Suite";
inline constexpr int32_t clip_render_suite_version = 3;
inline constexpr const char* marker_suite_name = "Marker Suite";
inline constexpr int32_t marker_suite_version = 3;
inline constexpr const char* ppix_suite_name = "Premiere PPix Suite";
inline constexpr int32_t ppix_suite_version = 1;
inline constexpr const char* time_suite_name = "Premiere Time Suite";
inline constexpr int32_t time_suite_version = 1;
inline constexpr const char* sequence_audio_suite_name = "MediaCore Sequence Audio Suite";
inline constexpr int32_t sequence_audio_suite_version = 1;
inline constexpr const char* sequence_render_suite_name = "MediaCore Sequence Render Suite";
inline constexpr int32_t sequence_render_suite_version = 4;
inline constexpr const char* window_suite_name = "Premiere Window Suite";
inline constexpr int32_t window_suite_version = 1;
inline constexpr const char* image_processing_suite_name = "Premiere Image Processing Suite";
inline constexpr int32_t image_processing_suite_version = 2;
inline constexpr const char* exporter_utility_suite_name = "MediaCore Exporter Utility Suite";
inline constexpr int32_t exporter_utility_suite_version = 1;
inline constexpr const char* audio_suite_name = "Premiere Audio Suite";
inline constexpr int32_t audio_suite_version = 1;

// --------------------------------------------------------------- records

struct Exporter_Info_Rec {  // startup
  uint32_t file_type;
  char16_t file_type_name[text_field_length];
  char16_t default_extension[text_field_length];
  uint32_t class_id;
  int32_t export_request_index;
  int32_t wants_no_progress_bar;
  int32_t hide_in_ui;
  int32_t does_not_support_audio_only;
  int32_t can_export_video;
  int32_t can_export_audio;
  int32_t single_frame_only;
  int32_t interface_version;
  int32_t can_conform_to_match_params;
  int32_t is_cacheable;
};

struct Instance_Rec {  // beginInstance, endInstance
  Plugin_Id plugin_id;
  uint32_t file_type;
  void* private_data;
};

struct Generate_Default_Params_Rec {
  Plugin_Id plugin_id;
  uint32_t file_type;
  void* private_data;
};

struct Post_Process_Params_Rec {
  Plugin_Id plugin_id;
  uint32_t file_type;
  void* private_data;
};

struct Validate_Param_Changed_Rec {
  Plugin_Id plugin_id;
  uint32_t file_type;
  void* private_data;
  int32_t group_index;
  char changed_identifier[identifier_field_length];
};

struct Param_Summary_Rec {
  Plugin_Id plugin_id;
  void* private_data;
  int32_t export_video;
  int32_t export_audio;
  char16_t video_summary[text_field_length];
  char16_t audio_summary[text_field_length];
  char16_t bitrate_summary[text_field_length];
};

struct Query_Output_Settings_Rec {
  Plugin_Id plugin_id;
  uint32_t file_type;
  void* private_data;
  int32_t export_video;
  int32_t export_audio;
  int32_t output_width;
  int32_t output_height;
  Ticks output_frame_duration;
  int32_t output_par_numerator;
  int32_t output_par_denominator;
  float output_audio_sample_rate;
  int32_t output_audio_sample_type;
  int32_t output_audio_channel_type;
  int32_t output_bitrate_kbps;
};

struct Query_Extension_Rec {
  uint32_t file_type;
  char16_t extension[text_field_length];
};

struct Do_Export_Rec {
  Plugin_Id plugin_id;
  uint32_t file_type;
  void* private_data;
  int32_t export_video;
  int32_t export_audio;
  Ticks start_time;
  Ticks end_time;
  File_Object file_object;
  int32_t reserve_meta_data_space;
};

}  // namespace sdk

// The plug-in's one exported function.
extern "C" __attribute__((visibility("default"))) int32_t xSDKExport(int32_t selector, sdk::Std_Params* std_params,
                                                                     void* record, void* unused_record);
using Sdk_Export_Entry = int32_t (*)(int32_t selector, sdk::Std_Params* std_params, void* record, void* unused_record);
