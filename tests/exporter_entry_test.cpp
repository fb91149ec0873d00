// The plug-in's entry through the stand-in host: exported symbols, selector
// results, the startup record, the instance's life with its suites and
// memory, and missing suites.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/stand_in_host.h"
#include "tests/support/test_support.h"

namespace {

using host::Session;

struct Entry_Test : ::testing::Test {
  host::Stand_In_Host host;
  host::Plugin plugin{HAP_PLUGIN_PATH};
  Session session{host, plugin};

  int32_t call(int32_t selector, void* record) { return plugin.call(selector, host.std_params(), record); }
  void open() {
    ASSERT_EQ(session.begin_instance(), 0);
    ASSERT_EQ(session.generate_default_params(), 0);
    ASSERT_EQ(session.post_process_params(), 0);
  }
  sdk::Param_Summary_Rec summary;
};

TEST(Exporter_Symbols, only_xsdkexport_is_exported) {
  std::string out;
  FILE* pipe = popen((std::string("nm -D --defined-only ") + HAP_PLUGIN_PATH).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  for (char buffer[512]; fgets(buffer, sizeof buffer, pipe);) out += buffer;
  pclose(pipe);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
  EXPECT_NE(out.find(" T xSDKExport\n"), std::string::npos) << out;
}

TEST_F(Entry_Test, startup_fills_the_record_and_keeps_the_rest) {
  sdk::Exporter_Info_Rec info;
  std::memset(&info, 0x5A, sizeof info);
  ASSERT_EQ(session.startup(info), 0);
  EXPECT_EQ(info.file_type, 0x4D4F565Fu);
  EXPECT_EQ(std::u16string(info.file_type_name), u"Velno Hap Encoder");
  EXPECT_EQ(std::u16string(info.default_extension), u"mov");
  EXPECT_EQ(info.class_id, sdk::four_cc('V', 'E', 'L', 'H'));
  // The flags in record order; the last two are left as they were.
  const std::vector<int32_t> flags{
      info.export_request_index, info.wants_no_progress_bar, info.hide_in_ui,        info.does_not_support_audio_only,
      info.can_export_video,     info.can_export_audio,      info.interface_version, info.can_conform_to_match_params,
      info.single_frame_only,    info.is_cacheable};
  EXPECT_EQ(flags, (std::vector<int32_t>{0, 0, 0, 1, 1, 1, 7, 1, 0x5A5A5A5A, 0x5A5A5A5A}));
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
  // Null records never crash any selector.
  for (int32_t selector = 0; selector <= 14; ++selector) {
    const int32_t result = call(selector, nullptr);
    EXPECT_TRUE(result == 0 || result == 7 || result == -100) << selector << " " << result;
  }
}

TEST_F(Entry_Test, instance_acquires_every_suite_and_releases_them_all) {
  open();
  ASSERT_NE(session.instance(), nullptr);
  EXPECT_EQ(host.total_acquires(), 16);
  EXPECT_EQ(host.acquired().size(), 16u);
  EXPECT_EQ(host.live_blocks(), 1u);
  ASSERT_EQ(session.change_param("ADBEVideoCodec", "4"), 0);
  ASSERT_EQ(session.get_param_summary(summary, true), 0);
  EXPECT_EQ(session.end_instance(), 0);
  EXPECT_TRUE(host.suites_balanced());
  EXPECT_EQ(host.live_blocks(), 0u);
  EXPECT_EQ(host.bad_frees(), 0);
}

TEST_F(Entry_Test, failed_begin_leaves_a_null_instance_every_handler_refuses) {
  host.faults.no_basic_suite = true;
  sdk::Instance_Rec rec{Session::plugin_id, 0, nullptr};
  EXPECT_EQ(call(sdk::selector_begin_instance, &rec), 7);
  EXPECT_EQ(rec.private_data, nullptr);
  EXPECT_EQ(host.live_blocks(), 0u);
  EXPECT_EQ(call(sdk::selector_end_instance, &rec), 0);

  host.faults.no_basic_suite = false;
  host.faults.allocation_fails = true;
  ASSERT_EQ(session.begin_instance(), 0);
  EXPECT_EQ(session.instance(), nullptr);
  EXPECT_TRUE(host.suites_balanced());
  EXPECT_EQ(session.generate_default_params(), 7);
  EXPECT_EQ(session.post_process_params(), 7);
  EXPECT_EQ(session.validate_param_changed("ADBEVideoCodec"), 7);
  EXPECT_EQ(session.get_param_summary(summary, true), 7);
  sdk::Query_Output_Settings_Rec video{};
  video.export_video = 1;
  EXPECT_EQ(session.query_output_settings(video), 7);
  EXPECT_EQ(session.do_export(true), 7);
  EXPECT_EQ(session.end_instance(), 0);
}

// Exceptions never cross the entry: out of memory gives 7, the rest 3.
TEST_F(Entry_Test, exceptions_become_results) {
  ASSERT_EQ(session.begin_instance(), 0);
  ASSERT_EQ(session.generate_default_params(), 0);
  for (const auto& [kind, expected] : {std::pair{1, 7}, {2, 3}, {3, 3}}) {
    host.faults.param_read_throws = kind;
    EXPECT_EQ(session.get_param_summary(summary, true), expected) << kind;
    EXPECT_EQ(session.validate_param_changed("ADBEVideoCodec"), expected) << kind;
  }
  host.faults.param_read_throws = 0;
  EXPECT_EQ(session.end_instance(), 0);
  EXPECT_EQ(host.live_blocks(), 0u);
}

TEST_F(Entry_Test, query_output_settings_and_extension) {
  open();
  session.change_param("ADBEVideoWidth", "1280");
  session.change_param("ADBEVideoHeight", "720");
  session.change_param("ADBEVideoAspect", "4/3");
  session.change_param("ADBEVideoFPS", "30000/1001");
  // Without video nothing is filled in.
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
  const std::string path = temp_path("host_entry_no_video.mov");
  std::filesystem::remove(path);
  host.output_path = to_u16(path);
  open();
  sdk::Do_Export_Rec rec{};
  rec.plugin_id = Session::plugin_id;
  rec.private_data = session.instance();
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
  using namespace sdk;
  for (const std::string missing :
       {memory_suite_name, export_param_suite_name, export_progress_suite_name, export_info_suite_name,
        export_file_suite_name, error_suite_name, clip_render_suite_name, marker_suite_name, ppix_suite_name,
        time_suite_name, sequence_audio_suite_name, sequence_render_suite_name, window_suite_name,
        image_processing_suite_name, exporter_utility_suite_name, audio_suite_name}) {
    SCOPED_TRACE(missing);
    host::Stand_In_Host host;
    host.faults.missing_suites.insert(missing);
    host.output_path = to_u16(temp_path("host_missing_suite.mov"));
    host::Plugin plugin(HAP_PLUGIN_PATH);
    Session session(host, plugin);
    ASSERT_EQ(session.begin_instance(), 0);
    const bool no_instance = missing == memory_suite_name;
    const bool no_params = no_instance || missing == export_param_suite_name;
    const bool no_time = missing == time_suite_name;
    const int32_t needs_time = no_instance || (no_time && !no_params) ? 7 : 0;
    EXPECT_EQ(session.generate_default_params(), needs_time);
    EXPECT_EQ(session.post_process_params(), no_params || no_time ? 7 : 0);
    EXPECT_EQ(session.validate_param_changed("ADBEVideoCodec"), no_params ? 7 : 0);
    Param_Summary_Rec summary;
    EXPECT_EQ(session.get_param_summary(summary, true), needs_time);
    EXPECT_TRUE(!no_params || no_instance || summary.video_summary[0] == 0);
    Query_Output_Settings_Rec settings{};
    settings.export_video = 1;
    EXPECT_EQ(session.query_output_settings(settings), no_params ? 7 : 0);
    bool export_needs = no_params || no_time;
    for (const char* needed : {export_file_suite_name, exporter_utility_suite_name, ppix_suite_name,
                               sequence_audio_suite_name, audio_suite_name})
      export_needs |= missing == needed;
    if (export_needs) {
      EXPECT_EQ(session.do_export(true), 7);
    }
    EXPECT_EQ(session.end_instance(), 0);
    EXPECT_TRUE(host.suites_balanced());
    EXPECT_EQ(host.live_blocks(), 0u);
  }
}

}  // namespace
