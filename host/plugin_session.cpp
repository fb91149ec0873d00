// Loading the plug-in and driving one instance through the selectors.
#include <dlfcn.h>
#include <string.h>

#include <filesystem>
#include <stdexcept>

#include "host/stand_in_host.h"
#include "platform/system_info.h"

namespace host {
namespace {

// Whether the loader failed for want of memory. Its words for that ("failed
// to map segment from shared object") are also those for a file it may not
// map (on a noexec mount), so what they say is checked against the memory
// left: less than the plug-in and a margin for its libraries.
bool loader_short_of_memory(const std::string& path, const char* why) {
  bool says_memory = false;
  for (const char* words : {"map", "allocate", "memory", "cannot create"})
    says_memory = says_memory || ::strcasestr(why, words);
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(path, error);
  return says_memory && !error && !platform::memory_available(size + (size_t(1) << 20));
}

}  // namespace

Plugin::Plugin(const std::string& path) {
  library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library_) {
    const char* why = dlerror();
    throw std::runtime_error("cannot load plug-in " + path + ": " +
                             (loader_short_of_memory(path, why) ? "out of memory" : why));
  }
  entry_ = reinterpret_cast<Sdk_Export_Entry>(dlsym(library_, "xSDKExport"));
  if (!entry_) {
    const std::string why = dlerror();
    dlclose(library_);
    throw std::runtime_error("plug-in " + path + " has no xSDKExport: " + why);
  }
}

Plugin::~Plugin() { dlclose(library_); }

int32_t Plugin::call(int32_t selector, sdk::Std_Params* std_params, void* record) {
  return entry_(selector, std_params, record, nullptr);
}

int32_t Session::startup(sdk::Exporter_Info_Rec& info) {
  return plugin_.call(sdk::selector_startup, host_.std_params(), &info);
}

int32_t Session::begin_instance() {
  sdk::Instance_Rec rec{plugin_id, 0, nullptr};
  const int32_t result = plugin_.call(sdk::selector_begin_instance, host_.std_params(), &rec);
  instance_ = rec.private_data;
  return result;
}

int32_t Session::generate_default_params() {
  sdk::Generate_Default_Params_Rec rec{plugin_id, 0, instance_};
  return plugin_.call(sdk::selector_generate_default_params, host_.std_params(), &rec);
}

int32_t Session::post_process_params() {
  sdk::Post_Process_Params_Rec rec{plugin_id, 0, instance_};
  return plugin_.call(sdk::selector_post_process_params, host_.std_params(), &rec);
}

int32_t Session::validate_param_changed(const std::string& identifier) {
  sdk::Validate_Param_Changed_Rec rec{};
  rec.plugin_id = plugin_id;
  rec.private_data = instance_;
  rec.group_index = 0;
  identifier.copy(rec.changed_identifier, sizeof rec.changed_identifier - 1);
  return plugin_.call(sdk::selector_validate_param_changed, host_.std_params(), &rec);
}

int32_t Session::change_param(const std::string& identifier, const std::string& text) {
  host_.params.set_from_text(identifier, text);
  return validate_param_changed(identifier);
}

int32_t Session::get_param_summary(sdk::Param_Summary_Rec& summary, bool export_audio) {
  summary = {};
  summary.plugin_id = plugin_id;
  summary.private_data = instance_;
  summary.export_video = 1;
  summary.export_audio = export_audio;
  return plugin_.call(sdk::selector_get_param_summary, host_.std_params(), &summary);
}

int32_t Session::query_output_settings(sdk::Query_Output_Settings_Rec& settings) {
  settings.plugin_id = plugin_id;
  settings.private_data = instance_;
  return plugin_.call(sdk::selector_query_output_settings, host_.std_params(), &settings);
}

int32_t Session::query_export_file_extension(sdk::Query_Extension_Rec& extension) {
  return plugin_.call(sdk::selector_query_export_file_extension, host_.std_params(), &extension);
}

int32_t Session::do_export(bool export_audio) {
  sdk::Do_Export_Rec rec{};
  rec.plugin_id = plugin_id;
  rec.private_data = instance_;
  rec.export_video = 1;
  rec.export_audio = export_audio;
  rec.start_time = 0;
  rec.end_time = host_.sequence_end_time();
  rec.file_object = file_object;
  return plugin_.call(sdk::selector_export, host_.std_params(), &rec);
}

int32_t Session::end_instance() {
  sdk::Instance_Rec rec{plugin_id, 0, instance_};
  const int32_t result = plugin_.call(sdk::selector_end_instance, host_.std_params(), &rec);
  instance_ = nullptr;
  return result;
}

}  // namespace host
