// The plug-in's entry: selector dispatch, start-up description, the
// instance's life and the small queries.
#include <cstring>
#include <exception>
#include <iostream>
#include <new>

#include "exporter/exporter.h"

namespace {

void write_startup_info(sdk::Exporter_Info_Rec* info) {
  info->file_type = sdk::four_cc('M', 'O', 'V', '_');
  copy_wide_string(u"Velno Hap Encoder", info->file_type_name);
  copy_wide_string(u"mov", info->default_extension);
  info->class_id = sdk::four_cc('V', 'E', 'L', 'H');
  info->export_request_index = 0;
  info->wants_no_progress_bar = 0;
  info->hide_in_ui = 0;
  info->does_not_support_audio_only = 1;
  info->can_export_video = 1;
  info->can_export_audio = 1;
  info->interface_version = 7;
  info->can_conform_to_match_params = 1;
}

sdk::Basic_Suite* basic_suite_of(sdk::Std_Params* std_params) {
  return std_params && std_params->get_basic_suite ? std_params->get_basic_suite() : nullptr;
}

template <class Suite>
void acquire(sdk::Basic_Suite* basic, const char* name, int32_t version, const Suite*& field) {
  const void* suite = nullptr;
  basic->acquire_suite(name, version, &suite);
  field = static_cast<const Suite*>(suite);
}

int32_t query_output_settings(Exporter_Instance& instance, sdk::Query_Output_Settings_Rec* rec) {
  if (!rec->export_video) return sdk::result_ok;
  if (!instance.export_param) return sdk::result_out_of_memory;
  auto get = [&](const char* id) { return param_values(*instance.export_param, rec->plugin_id, id); };
  rec->output_width = get("ADBEVideoWidth").value.integer;
  rec->output_height = get("ADBEVideoHeight").value.integer;
  rec->output_frame_duration = get("ADBEVideoFPS").value.time;
  const sdk::Ratio par = get("ADBEVideoAspect").value.ratio;
  rec->output_par_numerator = par.numerator;
  rec->output_par_denominator = par.denominator;
  return sdk::result_ok;
}

// Prints the exception being handled and turns it into a result: the one
// already decided when there is one, else 7 for out of memory and 3 otherwise.
int32_t result_of_exception(int32_t decided) {
  int32_t result = sdk::result_failed;
  try {
    throw;
  } catch (const std::bad_alloc&) {
    std::cout << "Exception : out of memory" << std::endl;
    result = sdk::result_out_of_memory;
  } catch (const std::exception& e) {
    std::cout << "Exception : " << e.what() << std::endl;
  } catch (...) {
    std::cout << "Exception Inconnue" << std::endl;
  }
  return decided != 0 ? decided : result;
}

// Records of the selectors that need an instance share this head.
template <class Rec>
Exporter_Instance* instance_of(void* record) {
  return record ? static_cast<Exporter_Instance*>(static_cast<Rec*>(record)->private_data) : nullptr;
}

// Runs a handler that needs the instance, or answers 7 when there is none.
template <class Rec>
int32_t with_instance(int32_t (*handler)(sdk::Std_Params*, Rec*), sdk::Std_Params* std_params, void* record) {
  if (!instance_of<Rec>(record)) return sdk::result_out_of_memory;
  return handler(std_params, static_cast<Rec*>(record));
}

int32_t dispatch(int32_t selector, sdk::Std_Params* std_params, void* record) {
  switch (selector) {
    case sdk::selector_startup:
      if (!record) return sdk::result_out_of_memory;
      write_startup_info(static_cast<sdk::Exporter_Info_Rec*>(record));
      return sdk::result_ok;
    case sdk::selector_begin_instance:
      if (!record) return sdk::result_out_of_memory;
      return begin_instance(std_params, static_cast<sdk::Instance_Rec*>(record));
    case sdk::selector_end_instance:
      if (!record) return sdk::result_ok;
      return release_exporter_suites(std_params, static_cast<sdk::Instance_Rec*>(record));
    case sdk::selector_generate_default_params:
      return with_instance(generate_default_params, std_params, record);
    case sdk::selector_post_process_params:
      return with_instance(post_process_params, std_params, record);
    case sdk::selector_validate_param_changed:
      return with_instance(validate_param_changed, std_params, record);
    case sdk::selector_get_param_summary:
      return with_instance(get_param_summary, std_params, record);
    case sdk::selector_export: {
      auto* rec = static_cast<sdk::Do_Export_Rec*>(record);
      Exporter_Instance* instance = instance_of<sdk::Do_Export_Rec>(record);
      if (!instance) return sdk::result_out_of_memory;
      int32_t result = 0;
      try {
        if (rec->export_video) export_movie(*instance, rec, &result);
      } catch (...) {
        return result_of_exception(result);
      }
      return result;
    }
    case sdk::selector_query_export_file_extension:
      if (!record) return sdk::result_out_of_memory;
      copy_wide_string(u"mov", static_cast<sdk::Query_Extension_Rec*>(record)->extension);
      return sdk::result_ok;
    case sdk::selector_query_output_settings: {
      Exporter_Instance* instance = instance_of<sdk::Query_Output_Settings_Rec>(record);
      if (!instance) return sdk::result_out_of_memory;
      return query_output_settings(*instance, static_cast<sdk::Query_Output_Settings_Rec*>(record));
    }
    case sdk::selector_query_stills_only:
      return sdk::result_ok;
    default:
      return sdk::result_unsupported;
  }
}

}  // namespace

int32_t begin_instance(sdk::Std_Params* std_params, sdk::Instance_Rec* rec) {
  sdk::Basic_Suite* basic = basic_suite_of(std_params);
  if (!basic) return sdk::result_out_of_memory;
  const sdk::Memory_Suite* memory = nullptr;
  acquire(basic, sdk::memory_suite_name, sdk::memory_suite_version, memory);
  Exporter_Instance* instance = nullptr;
  if (memory) instance = static_cast<Exporter_Instance*>(memory->allocate(sizeof(Exporter_Instance)));
  if (instance) {
    std::memset(instance, 0, sizeof(Exporter_Instance));
    instance->basic = basic;
    instance->memory = memory;
    acquire(basic, sdk::export_param_suite_name, sdk::export_param_suite_version, instance->export_param);
    acquire(basic, sdk::export_progress_suite_name, sdk::export_progress_suite_version, instance->export_progress);
    acquire(basic, sdk::export_file_suite_name, sdk::export_file_suite_version, instance->export_file);
    acquire(basic, sdk::export_info_suite_name, sdk::export_info_suite_version, instance->export_info);
    acquire(basic, sdk::error_suite_name, sdk::error_suite_version, instance->error);
    acquire(basic, sdk::clip_render_suite_name, sdk::clip_render_suite_version, instance->clip_render);
    acquire(basic, sdk::marker_suite_name, sdk::marker_suite_version, instance->marker);
    acquire(basic, sdk::ppix_suite_name, sdk::ppix_suite_version, instance->ppix);
    acquire(basic, sdk::sequence_audio_suite_name, sdk::sequence_audio_suite_version, instance->sequence_audio);
    acquire(basic, sdk::sequence_render_suite_name, sdk::sequence_render_suite_version, instance->sequence_render);
    acquire(basic, sdk::time_suite_name, sdk::time_suite_version, instance->time);
    acquire(basic, sdk::window_suite_name, sdk::window_suite_version, instance->window);
    acquire(basic, sdk::audio_suite_name, sdk::audio_suite_version, instance->audio);
    acquire(basic, sdk::image_processing_suite_name, sdk::image_processing_suite_version, instance->image_processing);
    acquire(basic, sdk::exporter_utility_suite_name, sdk::exporter_utility_suite_version, instance->exporter_utility);
  } else if (memory) {
    // Without an instance nothing would ever release the memory manager.
    basic->release_suite(sdk::memory_suite_name, sdk::memory_suite_version);
  }
  rec->private_data = instance;
  return sdk::result_ok;
}

int32_t release_exporter_suites(sdk::Std_Params* std_params, sdk::Instance_Rec* rec) {
  sdk::Basic_Suite* basic = basic_suite_of(std_params);
  auto* instance = static_cast<Exporter_Instance*>(rec->private_data);
  if (!basic || !instance) return sdk::result_ok;
  int32_t result = sdk::result_ok;
  auto release = [&](const void* suite, const char* name, int32_t version) {
    if (suite) result = basic->release_suite(name, version);
  };
  release(instance->export_param, sdk::export_param_suite_name, sdk::export_param_suite_version);
  release(instance->export_progress, sdk::export_progress_suite_name, sdk::export_progress_suite_version);
  release(instance->export_file, sdk::export_file_suite_name, sdk::export_file_suite_version);
  release(instance->export_info, sdk::export_info_suite_name, sdk::export_info_suite_version);
  release(instance->error, sdk::error_suite_name, sdk::error_suite_version);
  release(instance->clip_render, sdk::clip_render_suite_name, sdk::clip_render_suite_version);
  release(instance->marker, sdk::marker_suite_name, sdk::marker_suite_version);
  release(instance->ppix, sdk::ppix_suite_name, sdk::ppix_suite_version);
  release(instance->sequence_audio, sdk::sequence_audio_suite_name, sdk::sequence_audio_suite_version);
  release(instance->sequence_render, sdk::sequence_render_suite_name, sdk::sequence_render_suite_version);
  release(instance->time, sdk::time_suite_name, sdk::time_suite_version);
  release(instance->window, sdk::window_suite_name, sdk::window_suite_version);
  release(instance->image_processing, sdk::image_processing_suite_name, sdk::image_processing_suite_version);
  release(instance->exporter_utility, sdk::exporter_utility_suite_name, sdk::exporter_utility_suite_version);
  release(instance->audio, sdk::audio_suite_name, sdk::audio_suite_version);
  if (const sdk::Memory_Suite* memory = instance->memory) {
    memory->free_block(instance);
    rec->private_data = nullptr;
    return basic->release_suite(sdk::memory_suite_name, sdk::memory_suite_version);
  }
  return result;
}

// C++ exceptions must not cross into the host: every one ends here.
extern "C" int32_t xSDKExport(int32_t selector, sdk::Std_Params* std_params, void* record, void*) {
  try {
    return dispatch(selector, std_params, record);
  } catch (...) {
    return result_of_exception(0);
  }
}
