// The plug-in's entry through the stand-in host: exported symbols, selector
// results, the startup record, the instance's life with its suites and
// memory, and missing suites.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "host/stand_in_host.h"

namespace {

using host::Session;

std::string run_command(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
  pclose(pipe);
  return out;
}

struct Entry_Test : ::testing::Test {
  host::Stand_In_Host host;
  host::Plugin plugin{HAP_PLUGIN_PATH};
  Session session{host, plugin};

  int32_t call(int32_t selector, void* record) { return plugin.call(selector, host.std_params(), record); }
};

TEST(Exporter_Symbols, only_xsdkexport_is_exported) {
  const std::string out = run_command(std::string("nm -D --defined-only ") + HAP_PLUGIN_PATH);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.find("xSDKExport"), out.rfind("xSDKExport"));
  size_t lines = 0;
  for (char c : out) lines += c == '\n';
  EXPECT_EQ(lines, 1u) << out;
  EXPECT_NE(out.find(" T xSDKExport"), std::string::npos) << out;
}

TEST_F(Entry_Test, startup_fills_the_record_and_keeps_the_rest) {
  sdk::Exporter_Info_Rec info;
  std::memset(&info, 0x5A, sizeof info);
  ASSERT_EQ(session.startup(info), 0);
  EXPECT_EQ(info.file_type, 0x4D4F565Fu);
  EXPECT_EQ(std::u16string(info.file_type_name), u"Velno Hap Encoder");
  EXPECT_EQ(std::u16string(info.default_extension), u"mov");
  EXPECT_EQ(info.class_id, sdk::four_cc('V', 'E', 'L', 'H'));
  EXPECT_EQ(info.export_request_index, 0);
  EXPECT_EQ(info.wants_no_progress_bar, 0);
  EXPECT_EQ(info.hide_in_ui, 0);
  EXPECT_EQ(info.does_not_support_audio_only, 1);
  EXPECT_EQ(info.can_export_video, 1);
  EXPECT_EQ(info.can_export_audio, 1);
  EXPECT_EQ(info.interface_version, 7);
  EXPECT_EQ(info.can_conform_to_match_params, 1);
  EXPECT_EQ(info.single_frame_only, 0x5A5A5A5A);
  EXPECT_EQ(info.is_cacheable, 0x5A5A5A5A);
  // Start-up allocates and acquires nothing.
  EXPECT_EQ(host.live_blocks(), 0u);
  EXPECT_EQ(host.total_acquires(), 0);
}

TEST_F(Entry_Test, unhandled_selectors_return_minus_100_and_touch_nothing) {
  unsigned char record[4096];
  std::memset(record, 0x33, sizeof record);
  for (int32_t selector : {1, 7, 11, 12, 15, 16, 100, -1, -100, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(call(selector, record), -100) << selector;
    for (unsigned char b : record) ASSERT_EQ(b, 0x33) << selector;
  }
  EXPECT_EQ(call(14, record), 0);
  EXPECT_EQ(host.total_acquires(), 0);
}

TEST_F(Entry_Test, instance_acquires_every_suite_and_releases_them_all) {
  ASSERT_EQ(session.begin_instance(), 0);
  ASSERT_NE(session.instance(), nullptr);
  EXPECT_EQ(host.total_acquires(), 16);
  EXPECT_EQ(host.acquired().size(), 16u);
  EXPECT_EQ(host.live_blocks(), 1u);
  ASSERT_EQ(session.generate_default_params(), 0);
  ASSERT_EQ(session.post_process_params(), 0);
  ASSERT_EQ(session.change_param("ADBEVideoCodec", "4"), 0);
  sdk::Param_Summary_Rec summary;
  ASSERT_EQ(session.get_param_summary(summary, true), 0);
  EXPECT_EQ(session.end_instance(), 0);
  EXPECT_TRUE(host.suites_balanced());
  EXPECT_EQ(host.live_blocks(), 0u);
  EXPECT_EQ(host.bad_frees(), 0);
}

TEST_F(Entry_Test, no_basic_suite_gives_7_and_no_instance) {
  host.faults.no_basic_suite = true;
  sdk::Instance_Rec rec{Session::plugin_id, 0, nullptr};
  EXPECT_EQ(call(sdk::selector_begin_instance, &rec), 7);
  EXPECT_EQ(rec.private_data, nullptr);
  EXPECT_EQ(host.live_blocks(), 0u);
  EXPECT_EQ(call(sdk::selector_end_instance, &rec), 0);
}

TEST_F(Entry_Test, failed_allocation_leaves_a_null_instance_every_handler_refuses) {
  host.faults.allocation_fails = true;
  ASSERT_EQ(session.begin_instance(), 0);
  EXPECT_EQ(session.instance(), nullptr);
  EXPECT_TRUE(host.suites_balanced());
  EXPECT_EQ(session.generate_default_params(), 7);
  EXPECT_EQ(session.post_process_params(), 7);
  EXPECT_EQ(session.validate_param_changed("ADBEVideoCodec"), 7);
  sdk::Param_Summary_Rec summary;
  EXPECT_EQ(session.get_param_summary(summary, true), 7);
  sdk::Query_Output_Settings_Rec settings{};
  settings.export_video = 1;
  EXPECT_EQ(session.query_output_settings(settings), 7);
  EXPECT_EQ(session.do_export(true), 7);
  EXPECT_EQ(session.end_instance(), 0);
}

// Exceptions never cross the entry: out of memory gives 7, the rest 3.
TEST_F(Entry_Test, exceptions_become_results) {
  ASSERT_EQ(session.begin_instance(), 0);
  ASSERT_EQ(session.generate_default_params(), 0);
  const std::pair<int, int32_t> cases[] = {{1, 7}, {2, 3}, {3, 3}};
  for (const auto& [kind, expected] : cases) {
    host.faults.param_read_throws = kind;
    sdk::Param_Summary_Rec summary;
    EXPECT_EQ(session.get_param_summary(summary, true), expected) << kind;
    EXPECT_EQ(session.validate_param_changed("ADBEVideoCodec"), expected) << kind;
  }
  host.faults.param_read_throws = 0;
  EXPECT_EQ(session.end_instance(), 0);
  EXPECT_EQ(host.live_blocks(), 0u);
}

TEST_F(Entry_Test, null_records_do_not_crash) {
  for (int32_t selector = 0; selector <= 14; ++selector) {
    const int32_t result = call(selector, nullptr);
    EXPECT_TRUE(result == 0 || result == 7 || result == -100) << selector << " " << result;
  }
}

TEST_F(Entry_Test, query_output_settings_and_extension) {
  ASSERT_EQ(session.begin_instance(), 0);
  ASSERT_EQ(session.generate_default_params(), 0);
  ASSERT_EQ(session.post_process_params(), 0);
  session.change_param("ADBEVideoWidth", "1280");
  session.change_param("ADBEVideoHeight", "720");
  session.change_param("ADBEVideoAspect", "4/3");
  session.change_param("ADBEVideoFPS", "30000/1001");

  sdk::Query_Output_Settings_Rec untouched;
  std::memset(&untouched, 0x11, sizeof untouched);
  untouched.export_video = 0;
  untouched.private_data = session.instance();
  untouched.plugin_id = Session::plugin_id;
  sdk::Query_Output_Settings_Rec settings = untouched;
  EXPECT_EQ(session.query_output_settings(settings), 0);
  EXPECT_EQ(std::memcmp(&settings, &untouched, sizeof settings), 0);

  settings.export_video = 1;
  EXPECT_EQ(session.query_output_settings(settings), 0);
  EXPECT_EQ(settings.output_width, 1280);
  EXPECT_EQ(settings.output_height, 720);
  EXPECT_EQ(settings.output_frame_duration, host::ticks_per_second / 30000 * 1001);
  EXPECT_EQ(settings.output_par_numerator, 4);
  EXPECT_EQ(settings.output_par_denominator, 3);
  EXPECT_EQ(settings.output_audio_channel_type, 0x11111111);  // audio fields are never filled

  sdk::Query_Extension_Rec extension{};
  EXPECT_EQ(session.query_export_file_extension(extension), 0);
  EXPECT_EQ(std::u16string(extension.extension), u"mov");
  EXPECT_EQ(session.end_instance(), 0);
}

TEST_F(Entry_Test, export_without_video_does_nothing) {
  const auto path = std::filesystem::temp_directory_path() / "host_entry_no_video.mov";
  std::filesystem::remove(path);
  host.output_path = path.u16string();
  ASSERT_EQ(session.begin_instance(), 0);
  ASSERT_EQ(session.generate_default_params(), 0);
  ASSERT_EQ(session.post_process_params(), 0);
  sdk::Do_Export_Rec rec{};
  rec.plugin_id = Session::plugin_id;
  rec.private_data = session.instance();
  rec.export_video = 0;
  rec.export_audio = 1;
  rec.end_time = host.sequence_end_time();
  EXPECT_EQ(call(sdk::selector_export, &rec), 0);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(host.frames_delivered, 0);
  EXPECT_EQ(session.end_instance(), 0);
}

// Every handler survives the absence of any one suite, and whatever was
// acquired is released and freed.
TEST(Exporter_Missing_Suites, each_missing_suite_gives_the_handlers_results) {
  const char* names[] = {
      sdk::memory_suite_name,      sdk::export_param_suite_name,     sdk::export_progress_suite_name,
      sdk::export_info_suite_name, sdk::export_file_suite_name,      sdk::error_suite_name,
      sdk::clip_render_suite_name, sdk::marker_suite_name,           sdk::ppix_suite_name,
      sdk::time_suite_name,        sdk::sequence_audio_suite_name,   sdk::sequence_render_suite_name,
      sdk::window_suite_name,      sdk::image_processing_suite_name, sdk::exporter_utility_suite_name,
      sdk::audio_suite_name};
  for (const char* missing : names) {
    SCOPED_TRACE(missing);
    host::Stand_In_Host host;
    host.faults.missing_suites.insert(missing);
    host.output_path = (std::filesystem::temp_directory_path() / "host_missing_suite.mov").u16string();
    host::Plugin plugin(HAP_PLUGIN_PATH);
    Session session(host, plugin);
    const std::string name = missing;
    ASSERT_EQ(session.begin_instance(), 0);
    const bool no_instance = name == sdk::memory_suite_name;
    const bool no_params = name == sdk::export_param_suite_name;
    const bool no_time = name == sdk::time_suite_name;
    EXPECT_EQ(session.generate_default_params(), no_instance || (no_time && !no_params) ? 7 : 0);
    EXPECT_EQ(session.post_process_params(), no_instance || no_params || no_time ? 7 : 0);
    EXPECT_EQ(session.validate_param_changed("ADBEVideoCodec"), no_instance || no_params ? 7 : 0);
    sdk::Param_Summary_Rec summary;
    EXPECT_EQ(session.get_param_summary(summary, true), no_instance || (no_time && !no_params) ? 7 : 0);
    if (no_params) {
      EXPECT_EQ(summary.video_summary[0], 0);
    }
    sdk::Query_Output_Settings_Rec settings{};
    settings.export_video = 1;
    EXPECT_EQ(session.query_output_settings(settings), no_instance || no_params ? 7 : 0);
    const bool export_needs = no_instance || no_params || no_time || name == sdk::export_file_suite_name ||
                              name == sdk::exporter_utility_suite_name || name == sdk::ppix_suite_name ||
                              name == sdk::sequence_audio_suite_name || name == sdk::audio_suite_name;
    if (export_needs) {
      EXPECT_EQ(session.do_export(true), 7);
    }
    EXPECT_EQ(session.end_instance(), 0);
    EXPECT_TRUE(host.suites_balanced());
    EXPECT_EQ(host.live_blocks(), 0u);
  }
}

}  // namespace
