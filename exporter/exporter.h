// The exporter plug-in's inside: the per-instance record with its host
// suites, the selector handlers that xSDKExport dispatches to, and the
// UTF-16 text helpers they share.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "exporter/host_sdk.h"

class Hap_Encoder;

// One exporter instance: the suites acquired at beginInstance. A null
// pointer is a suite the host did not supply. The record lives in a block of
// the host's memory manager from beginInstance to endInstance.
struct Exporter_Instance {
  sdk::Basic_Suite* basic;
  const sdk::Export_Param_Suite* export_param;
  const sdk::Export_Progress_Suite* export_progress;
  const sdk::Export_Info_Suite* export_info;
  const sdk::Export_File_Suite* export_file;
  const void* error;
  const void* clip_render;
  const void* marker;
  const sdk::PPix_Suite* ppix;
  const sdk::Time_Suite* time;
  const sdk::Memory_Suite* memory;
  const sdk::Sequence_Audio_Suite* sequence_audio;
  const void* sequence_render;
  const void* window;
  const void* image_processing;
  const sdk::Exporter_Utility_Suite* exporter_utility;
  const sdk::Audio_Suite* audio;
};

// Selector handlers. Each takes the instance from its record (already checked
// to be non-null by the entry) and returns the selector's result.
int32_t begin_instance(sdk::Std_Params* std_params, sdk::Instance_Rec* rec);
int32_t release_exporter_suites(sdk::Std_Params* std_params, sdk::Instance_Rec* rec);
int32_t generate_default_params(sdk::Std_Params* std_params, sdk::Generate_Default_Params_Rec* rec);
int32_t post_process_params(sdk::Std_Params* std_params, sdk::Post_Process_Params_Rec* rec);
int32_t validate_param_changed(sdk::Std_Params* std_params, sdk::Validate_Param_Changed_Rec* rec);
int32_t get_param_summary(sdk::Std_Params* std_params, sdk::Param_Summary_Rec* rec);

// One export (selector 9, video asked for). The outcome goes to *result: 0,
// 3 (set-up failure or no output path), 7 (out of memory while setting up)
// or the host's code when its export loop fails. Failures once frames flow
// finalise the movie and are rethrown.
void export_movie(const Exporter_Instance& instance, sdk::Do_Export_Rec* rec, int32_t* result);

// The current values of one parameter in a group of the plug-in's tree.
sdk::Param_Values param_values(const sdk::Export_Param_Suite& suite, sdk::Plugin_Id id, const char* param,
                               int32_t group = 0);

// Audio settings of one export, derived from the audio parameters.
struct Audio_Settings {
  uint32_t sample_rate = 48000;
  uint32_t channels = 2;
  int32_t channel_type = sdk::channel_type_stereo;  // what the host renders
  uint32_t channel_layout = 0;                      // handed to the movie writer
  int32_t order = 0;                                // "AudioOrders" of 5.1 output; 0 is the host's order
  uint16_t bits_per_sample = 16;
  uint8_t is_float = 0;
};

// Settings from "AudioSampleRate", "AudioChannels", "AudioOrders" and
// "AudioQUANTIF"; values outside their lists keep the defaults.
Audio_Settings audio_settings_from(int32_t sample_rate, int32_t channels, int32_t order, int32_t quantification);

// Renders the export's audio through the host in blocks of at most one second,
// converts it to the settings' format and channel order and hands it to the
// encoder front. A host that stops delivering ends the audio with a warning.
void export_audio(const Exporter_Instance& instance, const sdk::Do_Export_Rec& rec, const Audio_Settings& settings,
                  sdk::Ticks frame_duration, Hap_Encoder& encoder);

// Writes a printf-style text (ASCII format, "%hs" for 8-bit strings) into a
// UTF-16 buffer of capacity characters. Returns the characters written, or -1
// when formatting fails or the text does not fit.
int format_wide_string(char16_t* buffer, size_t capacity, const char16_t* format, ...);

// Copies a terminated UTF-16 text, terminator included, into a host field of
// the standard 256 characters; longer texts are cut and still terminated.
void copy_wide_string(const char16_t* source, char16_t* destination);

// Copies an 8-bit identifier into a parameter record's field of capacity
// bytes, cut if need be and always terminated.
void copy_narrow_string(char* destination, size_t capacity, std::string_view source);
