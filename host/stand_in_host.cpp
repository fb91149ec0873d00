// The stand-in host's core: suite acquisition, the counting memory manager,
// and the small suites (export info, file, time, progress, and the ones that
// are only acquired).
#include "host/stand_in_host.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>

namespace host {
namespace {

Stand_In_Host* active_host = nullptr;

sdk::Basic_Suite basic_suite_table = {
    [](const char* name, int32_t version, const void** suite) {
      return Stand_In_Host::active().acquire_suite(name, version, suite);
    },
    [](const char* name, int32_t version) { return Stand_In_Host::active().release_suite(name, version); },
};

sdk::Basic_Suite* get_basic_suite() {
  return Stand_In_Host::active().faults.no_basic_suite ? nullptr : &basic_suite_table;
}

const sdk::Memory_Suite memory_suite_table = [] {
  sdk::Memory_Suite s{};
  s.allocate = [](int32_t size) { return Stand_In_Host::active().allocate(size, false); };
  s.allocate_cleared = [](int32_t size) { return Stand_In_Host::active().allocate(size, true); };
  s.free_block = [](void* block) { Stand_In_Host::active().free_block(block); };
  return s;
}();

const sdk::Export_Info_Suite export_info_suite_table = {
    [](sdk::Plugin_Id, int32_t item, sdk::Source_Info_Value* value) {
      return Stand_In_Host::active().source_info(item, value);
    },
};

const sdk::Export_File_Suite export_file_suite_table = [] {
  sdk::Export_File_Suite s{};
  s.get_platform_path = [](sdk::File_Object, int32_t* length, char16_t* path) {
    return Stand_In_Host::active().platform_path(length, path);
  };
  return s;
}();

// Video frame-rate codes of the time suite.
struct Rate {
  int64_t numerator, denominator;
};
constexpr Rate rate_codes[] = {{24, 1},       {24000, 1001}, {25, 1}, {30, 1},
                               {30000, 1001}, {50, 1},       {60, 1}, {60000, 1001}};

const sdk::Time_Suite time_suite_table = {
    [](sdk::Ticks* ticks) {
      *ticks = ticks_per_second;
      return sdk::result_ok;
    },
    [](int32_t code, sdk::Ticks* ticks) {
      if (code < 0 || code >= int32_t(std::size(rate_codes))) {
        *ticks = 0;
        return host_error;
      }
      *ticks = ticks_per_frame(rate_codes[code].numerator, rate_codes[code].denominator);
      return sdk::result_ok;
    },
    [](float rate, sdk::Ticks* ticks) {
      if (!(rate > 0)) {
        *ticks = 0;
        return host_error;
      }
      *ticks = std::llround(double(ticks_per_second) / rate);
      return sdk::result_ok;
    },
};

const sdk::Export_Progress_Suite export_progress_suite_table = {
    [](sdk::Plugin_Id, const char16_t* text) {
      Stand_In_Host::active().progress_text = text ? text : u"";
      return sdk::result_ok;
    },
    [](sdk::Plugin_Id, float fraction) {
      Stand_In_Host::active().progress = fraction;
      return sdk::result_ok;
    },
};

// Suites the plug-in acquires and never calls: any distinct non-null table.
const sdk::Unused_Entry never_called_suite[1] = {nullptr};

struct Suite_Entry {
  const char* name;
  int32_t version;
  const void* table;
};

const void* suite_table(const std::string& name, int32_t version) {
  const Suite_Entry entries[] = {
      {sdk::memory_suite_name, sdk::memory_suite_version, &memory_suite_table},
      {sdk::export_param_suite_name, sdk::export_param_suite_version, &export_param_suite()},
      {sdk::export_progress_suite_name, sdk::export_progress_suite_version, &export_progress_suite_table},
      {sdk::export_info_suite_name, sdk::export_info_suite_version, &export_info_suite_table},
      {sdk::export_file_suite_name, sdk::export_file_suite_version, &export_file_suite_table},
      {sdk::error_suite_name, sdk::error_suite_version, never_called_suite},
      {sdk::clip_render_suite_name, sdk::clip_render_suite_version, never_called_suite},
      {sdk::marker_suite_name, sdk::marker_suite_version, never_called_suite},
      {sdk::ppix_suite_name, sdk::ppix_suite_version, &ppix_suite()},
      {sdk::time_suite_name, sdk::time_suite_version, &time_suite_table},
      {sdk::sequence_audio_suite_name, sdk::sequence_audio_suite_version, &sequence_audio_suite()},
      {sdk::sequence_render_suite_name, sdk::sequence_render_suite_version, never_called_suite},
      {sdk::window_suite_name, sdk::window_suite_version, never_called_suite},
      {sdk::image_processing_suite_name, sdk::image_processing_suite_version, never_called_suite},
      {sdk::exporter_utility_suite_name, sdk::exporter_utility_suite_version, &exporter_utility_suite()},
      {sdk::audio_suite_name, sdk::audio_suite_version, &audio_suite()},
  };
  for (const Suite_Entry& e : entries)
    if (name == e.name && version == e.version) return e.table;
  return nullptr;
}

}  // namespace

sdk::Ticks ticks_per_frame(int64_t numerator, int64_t denominator) {
  if (numerator <= 0 || denominator <= 0) return 0;
  return std::llround(double(ticks_per_second) * double(denominator) / double(numerator));
}

Stand_In_Host::Stand_In_Host() {
  if (active_host) throw std::logic_error("a stand-in host already exists");
  active_host = this;
  std_params_.interface_version = 7;
  std_params_.get_basic_suite = get_basic_suite;
}

Stand_In_Host::~Stand_In_Host() {
  for (auto& [block, size] : blocks_) std::free(block);
  active_host = nullptr;
}

Stand_In_Host& Stand_In_Host::active() {
  if (!active_host) {
    std::cerr << "stand-in host: a suite was called with no host alive\n";
    std::abort();
  }
  return *active_host;
}

bool Stand_In_Host::suites_balanced() const {
  for (const auto& [name, count] : acquired_)
    if (count != 0) return false;
  return true;
}

sdk::Result Stand_In_Host::acquire_suite(const char* name, int32_t version, const void** suite) {
  *suite = nullptr;
  if (!name || faults.missing_suites.count(name)) return suite_not_found;
  const void* table = suite_table(name, version);
  if (!table) return suite_not_found;
  *suite = table;
  ++acquired_[name];
  ++total_acquires_;
  return sdk::result_ok;
}

sdk::Result Stand_In_Host::release_suite(const char* name, int32_t version) {
  if (!name || !suite_table(name, version)) return suite_not_found;
  --acquired_[name];
  return sdk::result_ok;
}

void* Stand_In_Host::allocate(int32_t size, bool cleared) {
  if (faults.allocation_fails || size < 0) return nullptr;
  void* block = cleared ? std::calloc(1, std::max<size_t>(size, 1)) : std::malloc(std::max<size_t>(size, 1));
  if (block) blocks_[block] = size_t(size);
  return block;
}

void Stand_In_Host::free_block(void* block) {
  if (!block) return;
  auto found = blocks_.find(block);
  if (found == blocks_.end()) {
    std::cerr << "stand-in host: free of a block the memory manager does not own\n";
    ++bad_frees_;
    return;
  }
  blocks_.erase(found);
  std::free(block);
}

sdk::Ticks Stand_In_Host::source_frame_duration() const {
  return ticks_per_frame(source.rate_numerator, source.rate_denominator);
}

sdk::Result Stand_In_Host::source_info(int32_t item, sdk::Source_Info_Value* value) {
  *value = {};
  switch (item) {
    case sdk::source_width:
      value->integer = source.width;
      break;
    case sdk::source_height:
      value->integer = source.height;
      break;
    case sdk::source_frame_duration:
      value->time = faults.frame_duration_override ? faults.frame_duration_override : source_frame_duration();
      break;
    case sdk::source_par_numerator:
      value->integer = 1;
      break;
    case sdk::source_par_denominator:
      value->integer = 1;
      break;
    case sdk::source_start_timecode: {
      if (faults.no_timecode_block) return host_error;
      auto* block = static_cast<sdk::Timecode_Block*>(allocate(sizeof(sdk::Timecode_Block), true));
      if (!block) return host_error;
      block->frame_duration = source_frame_duration();
      block->start_time = source.start_timecode_frame * block->frame_duration;
      value->block = block;
      break;
    }
    default:
      return host_error;
  }
  return sdk::result_ok;
}

sdk::Result Stand_In_Host::platform_path(int32_t* length, char16_t* path) {
  const int32_t capacity = *length;
  if (capacity <= 0 || !path) return host_error;
  path[0] = 0;
  *length = 0;
  // A path that does not fit is answered as no path at all, as the host does,
  // with the length it would need.
  if (faults.empty_output_path) return host_error;
  if (output_path.size() >= size_t(capacity)) {
    *length = int32_t(std::min<size_t>(output_path.size() + 1, INT32_MAX));
    return host_error;
  }
  std::copy(output_path.begin(), output_path.end(), path);
  path[output_path.size()] = 0;
  *length = int32_t(output_path.size());
  return sdk::result_ok;
}

}  // namespace host
