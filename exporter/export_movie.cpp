// One export: parameters to encoder settings, the encoder front, the host's
// render loop with its frame callback, the audio, and the close.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "HAP/hap_encoder.h"
#include "VIDEO/frame_rate.h"
#include "exporter/exporter.h"

namespace {

constexpr uint32_t simd_request = 0xF8;  // SIMD kernels, AVX, FMA and AVX2
constexpr uint32_t pix_fmt_bgra_bottom_up = 2;
constexpr int32_t min_frame_side = 4, max_frame_side = 16384;  // the range of the size parameters

// The lines above a failure name where it happened; this one says why, an
// allocation failure included (whose own text is only "std::bad_alloc").
void print_reason(const std::exception& e) {
  std::cout << "Reason : " << (dynamic_cast<const std::bad_alloc*>(&e) ? "out of memory" : e.what()) << std::endl;
}

// A rate as numerator / denominator frames per second; inexact rates are
// kept to a thousandth.
Frame_Rate rational_to_rate(int64_t numerator, int64_t denominator) {
  if (numerator < 1) throw std::runtime_error("Invalid num value : " + std::to_string(numerator));
  if (denominator < 1) throw std::runtime_error("Invalid den value : " + std::to_string(denominator));
  double value;
  uint32_t scale;
  if (numerator % denominator == 0) {
    value = double(numerator / denominator);
    scale = 1;
  } else {
    value = std::round(double(numerator) / double(denominator) * 1000.0);
    scale = 1000;
  }
  // The movie writer keeps the rate in 32-bit fields.
  if (value < 1 || value > double(UINT32_MAX))
    throw std::runtime_error("Invalid frame rate : " + std::to_string(numerator) + "/" + std::to_string(denominator));
  return {uint32_t(value), scale};
}

Frame_Rate frame_rate_of(const sdk::Time_Suite& time, sdk::Ticks ticks_per_second, sdk::Ticks duration) {
  if (duration >= 1 && ticks_per_second % duration == 0) return rational_to_rate(ticks_per_second, duration);
  const std::pair<int32_t, Frame_Rate> ntsc[] = {{sdk::rate_code_23_976, {24000, 1001}},
                                                 {sdk::rate_code_29_97, {30000, 1001}},
                                                 {sdk::rate_code_59_94, {60000, 1001}}};
  for (const auto& [code, exact] : ntsc) {
    sdk::Ticks ticks = 0;
    time.get_ticks_per_video_frame(code, &ticks);
    if (duration >= 1 && ticks == duration) return exact;
  }
  return rational_to_rate(ticks_per_second, duration);
}

struct Codec_Choice {
  uint8_t hap_codec;
  uint8_t bits_per_pixel;
  bool has_alpha;  // 32-bit source whose pixel format follows "CheckboxPremult"
  bool uses_quality;
};

Codec_Choice codec_choice(int32_t codec) {
  switch (codec) {
    case 2:
      return {Hap_Codec_Hapa, 32, true, true};
    case 3:
      return {Hap_Codec_Hapq, 24, false, true};
    case 4:
      return {Hap_Codec_Hapqa, 32, true, true};
    case 5:
      return {Hap_Codec_Alpha_Only, 24, false, false};
    case 6:
      return {Hap_Codec_Alpha_Only, 32, false, false};
    case 7:
      return {Hap_Codec_Hapr, 24, false, true};
    case 8:
      return {Hap_Codec_Hapr, 32, true, true};
    case 1:
      return {Hap_Codec_Hap, 24, false, true};
    default:
      return {Hap_Codec_Hap, 24, false, false};
  }
}

uint8_t quality_level(int32_t choice) {
  switch (choice) {
    case 0:
      std::cout << "Quality : Low" << std::endl;
      return 1;
    case 1:
      std::cout << "Quality : Medium" << std::endl;
      return 2;
    case 2:
      std::cout << "Quality : High" << std::endl;
      return 3;
    default:
      std::cout << "Quality : Error invalid value default to normal" << std::endl;
      return 2;
  }
}

// Start frame of the source timecode, or 0 with a warning when it is unusable.
uint32_t timecode_start_frame(const Exporter_Instance& instance, sdk::Plugin_Id id) {
  sdk::Source_Info_Value value{};
  const sdk::Result got = instance.export_info
                              ? instance.export_info->get_source_info(id, sdk::source_start_timecode, &value)
                              : sdk::result_unsupported;
  auto* block = got == sdk::result_ok ? static_cast<const sdk::Timecode_Block*>(value.block) : nullptr;
  const sdk::Timecode_Block timecode = block ? *block : sdk::Timecode_Block{0, 0};
  if (block) instance.memory->free_block(value.block);
  const sdk::Ticks start = timecode.start_time, duration = timecode.frame_duration;
  if (duration < 1 || start < 0) {
    std::cout << "Warning : invalid timecode : " << start << ";" << duration << std::endl;
    return 0;
  }
  if (start % duration != 0)
    std::cout << "Warning : non integer start timecode : " << start << ";" << duration << std::endl;
  if (start / duration >= 0xFFFFFFFF) {
    std::cout << "Warning : start timecode overflow : " << start << ";" << duration << std::endl;
    return 0;
  }
  return uint32_t(start / duration);
}

// The output path from the host, or empty when there is none that fits
// (*too_long tells that case apart). Hosts differ on whether the length they
// report counts the terminator, so only a text that fills the whole buffer,
// or a length beyond it, shows a path that was cut.
std::u16string output_path(const Exporter_Instance& instance, sdk::File_Object file, bool* too_long) {
  char16_t buffer[sdk::path_field_length] = {};
  int32_t length = sdk::path_field_length;
  instance.export_file->get_platform_path(file, &length, buffer);
  *too_long = buffer[sdk::path_field_length - 1] != 0 || length > sdk::path_field_length;
  if (*too_long) return {};
  return std::u16string(buffer);
}

struct Render_Callback_Data {
  const sdk::PPix_Suite* ppix;
  Hap_Encoder* encoder;
  uint32_t width;
};

sdk::Result on_rendered_frame(int32_t, int32_t, uint32_t repeat_count, sdk::Frame_Handle frame, void* private_data) {
  auto* data = static_cast<Render_Callback_Data*>(private_data);
  if (!data || !data->encoder) {
    std::cout << "ENCODER NULL\n";
    return sdk::callback_failed;
  }
  try {
    char* pixels = nullptr;
    if (data->ppix->get_pixels(frame, 0, &pixels) != sdk::result_ok || !pixels)
      throw std::runtime_error("could not GetPixels on completed frame");
    int32_t row_bytes = 0;
    if (data->ppix->get_row_bytes(frame, &row_bytes) != sdk::result_ok)
      throw std::runtime_error("could not GetRowBytes on completed frame");
    if (row_bytes <= 0 || int64_t(row_bytes) < int64_t(data->width) * 4)
      throw std::runtime_error("invalid row bytes : " + std::to_string(row_bytes));
    for (uint32_t i = 0; i < repeat_count; ++i)
      data->encoder->push_frame(reinterpret_cast<const uint8_t*>(pixels), row_bytes, 0);
    return sdk::result_ok;
  } catch (const std::exception& e) {
    std::cout << "Exception callback\n";
    print_reason(e);
    return sdk::callback_failed;
  } catch (...) {
    std::cout << "Exception Inconnue callback\n";
    return sdk::callback_failed;
  }
}

}  // namespace

void export_movie(const Exporter_Instance& instance, sdk::Do_Export_Rec* rec, int32_t* result) {
  if (!instance.time || !instance.export_param || !instance.export_file || !instance.exporter_utility ||
      !instance.ppix || !instance.memory || (rec->export_audio && (!instance.sequence_audio || !instance.audio))) {
    *result = sdk::result_out_of_memory;
    return;
  }
  const sdk::Plugin_Id id = rec->plugin_id;
  sdk::Ticks ticks_per_second = 0;
  instance.time->get_ticks_per_second(&ticks_per_second);

  auto get = [&](const char* param) { return param_values(*instance.export_param, id, param); };
  const int32_t width_choice = get("ADBEVideoWidth").value.integer;
  const int32_t height_choice = get("ADBEVideoHeight").value.integer;
  // The movie keeps the size in 16 bits: a larger one would be cut silently.
  if (std::min(width_choice, height_choice) < min_frame_side || std::max(width_choice, height_choice) > max_frame_side) {
    std::cout << "Invalid frame size : " << width_choice << "x" << height_choice << " (" << min_frame_side << " to "
              << max_frame_side << ")" << std::endl;
    *result = sdk::result_failed;
    return;
  }
  const uint16_t width = uint16_t(width_choice), height = uint16_t(height_choice);
  const sdk::Ratio aspect = get("ADBEVideoAspect").value.ratio;
  const sdk::Ticks frame_duration = get("ADBEVideoFPS").value.time;
  const int32_t codec = get("ADBEVideoCodec").value.integer;
  const int32_t snappy = get("CheckboxSnappy").value.integer;
  const int32_t chunks = get("SliderChunkCount").value.integer;
  const int32_t quality_choice = get("ComboboxQuality").value.integer;
  const int32_t frame_threading = get("checkboxFrameThreading").value.integer;
  const int32_t premultiplied = get("CheckboxPremult").value.integer;
  const int32_t timecode_choice = get("CheckboxTcMetadata").value.integer;

  const uint8_t timecode = timecode_choice == 1 ? 1 : 0;
  const uint32_t start_frame = timecode ? timecode_start_frame(instance, id) : 0;

  Audio_Settings audio;
  if (rec->export_audio)
    audio = audio_settings_from(get("AudioSampleRate").value.integer, get("AudioChannels").value.integer,
                                get("AudioOrders").value.integer, get("AudioQUANTIF").value.integer);

  const float pixel_aspect =
      aspect.numerator != aspect.denominator ? float(aspect.numerator) / float(aspect.denominator) : 1.0f;

  Frame_Rate rate;
  try {
    rate = frame_rate_of(*instance.time, ticks_per_second, frame_duration);
  } catch (const std::runtime_error& e) {
    std::cout << "Runtime error init" << e.what() << std::endl;
    *result = sdk::result_failed;
    return;
  }

  const Codec_Choice choice = codec_choice(codec);
  const uint32_t pixel_format = choice.has_alpha && !premultiplied ? sdk::pixel_format_bgra
                                : codec == 6                       ? sdk::pixel_format_bgra
                                                                   : sdk::pixel_format_bgrp;
  const uint16_t chunk_count = snappy ? uint16_t(chunks) : 0;
  const uint8_t quality = choice.uses_quality ? quality_level(quality_choice) : 1;
  const uint32_t thread_mode = frame_threading ? 2 : 1;

  bool path_too_long = false;
  const std::u16string path = output_path(instance, rec->file_object, &path_too_long);
  if (path.empty()) {
    std::cout << "Path conversion error" << std::endl;
    if (path_too_long)
      std::cout << "Reason : the output path is too long (" << sdk::path_field_length - 1 << " characters at most)"
                << std::endl;
    *result = sdk::result_failed;
    return;
  }

  std::unique_ptr<Hap_Encoder> encoder;
  // Set-up failures leave no file behind but what the encoder front made.
  auto setup_failed = [&](const std::string& line, int32_t code) {
    std::cout << line << std::endl;
    encoder.reset();
    *result = code;
  };
  try {
    encoder = std::make_unique<Hap_Encoder>(path, width, height, choice.bits_per_pixel,
                                            uint64_t(rate.numerator) | uint64_t(rate.denominator) << 32, 0, chunk_count,
                                            timecode, start_frame, 0, pixel_aspect, choice.hap_codec, thread_mode,
                                            quality, 0, 0, simd_request);
    if (rec->export_audio)
      encoder->set_audio_tracks(1, audio.sample_rate, audio.bits_per_sample, audio.channels, audio.is_float,
                                audio.channel_layout);
    if (choice.bits_per_pixel == 32) {
      if (premultiplied)
        encoder->set_alpha_premultiplied();
      else
        encoder->set_alpha_straight();
    }
    encoder->open_encoders(pix_fmt_bgra_bottom_up, choice.bits_per_pixel, 0, 0);
  } catch (const std::runtime_error& e) {
    return setup_failed(std::string("Runtime error init") + e.what(), sdk::result_failed);
  } catch (const std::bad_alloc& e) {
    setup_failed("Memory error init", sdk::result_out_of_memory);
    return print_reason(e);
  }

  bool loop_failed = false;  // the callback or the host has told why already
  try {
    Render_Callback_Data data{instance.ppix, encoder.get(), width};
    sdk::Render_Params params{};
    params.size = sizeof(sdk::Render_Params);
    params.version = 1;
    params.pixel_format = pixel_format;
    params.start_time = rec->start_time;
    params.end_time = rec->end_time;
    const sdk::Result loop =
        instance.exporter_utility->do_multi_pass_export_loop(id, &params, 1, on_rendered_frame, &data);
    if (loop != sdk::result_ok) {
      if (*result == 0) *result = loop;
      loop_failed = true;
      throw std::runtime_error("video export failed");
    }
    encoder->flush();
    if (rec->export_audio) export_audio(instance, *rec, audio, frame_duration, *encoder);
    encoder->close();
  } catch (...) {
    // Said before the finalise, whose own complaints (a movie without frames)
    // would otherwise read as the cause.
    try {
      throw;
    } catch (const std::exception& e) {
      if (!loop_failed) print_reason(e);
    } catch (...) {
    }
    encoder->finalise_guarded();
    encoder.reset();
    throw;
  }
}
