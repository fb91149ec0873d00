// The export parameters through the stand-in host: defaults, enable rules and
// host-side checks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/stand_in_host.h"

namespace {

using host::Session;

struct Params_Test : ::testing::Test {
  host::Stand_In_Host host;
  host::Plugin plugin{HAP_PLUGIN_PATH};
  Session session{host, plugin};

  void open() {
    ASSERT_EQ(session.begin_instance(), 0);
    ASSERT_EQ(session.generate_default_params(), 0);
    ASSERT_EQ(session.post_process_params(), 0);
  }
  void TearDown() override {
    if (!session.instance()) return;
    EXPECT_EQ(session.end_instance(), 0);
    EXPECT_EQ(host.live_blocks(), 0u);
    EXPECT_TRUE(host.suites_balanced());
  }
  const host::Host_Param& param(const std::string& id) {
    static const host::Host_Param none;
    const host::Host_Param* p = host.params.find(id);
    EXPECT_NE(p, nullptr) << id;
    return p ? *p : none;
  }
  const sdk::Param_Values& values(const std::string& id) { return param(id).values; }
  int32_t value(const std::string& id) { return values(id).value.integer; }
  bool enabled(const std::string& id) { return values(id).disabled == 0; }
  // Integers, ratios as n/d, times in ticks.
  static std::string text(const sdk::Param_Scalar& v, int32_t type) {
    if (type == 11) return std::to_string(v.ratio.numerator) + "/" + std::to_string(v.ratio.denominator);
    return std::to_string(type == 4 ? v.time : v.integer);
  }
};

TEST_F(Params_Test, zero_sized_source_gives_defaults) {
  host.source.width = host.source.height = 0;
  open();
  EXPECT_EQ(value("ADBEVideoWidth"), 720);
  EXPECT_EQ(value("ADBEVideoHeight"), 480);
}

TEST_F(Params_Test, defaults_without_export_info) {
  host.faults.missing_suites.insert(sdk::export_info_suite_name);
  open();
  EXPECT_EQ(value("ADBEVideoWidth"), 720);
  EXPECT_EQ(value("ADBEVideoHeight"), 480);
  EXPECT_EQ(text(values("ADBEVideoAspect").value, 11), "1/1");
  EXPECT_EQ(values("ADBEVideoFPS").value.time, 1);
}

TEST_F(Params_Test, enable_rules) {
  open();
  for (int codec = 1; codec <= 8; ++codec) {
    ASSERT_EQ(session.change_param("ADBEVideoCodec", std::to_string(codec)), 0);
    EXPECT_EQ(enabled("ComboboxQuality"), codec != 5 && codec != 6) << codec;
    EXPECT_EQ(enabled("CheckboxPremult"), codec == 2 || codec == 4 || codec == 8) << codec;
  }
  // Any change re-applies every rule (the width here); values are kept.
  const struct {
    const char *id, *value, *dependent;
    bool enabled;
  } steps[] = {{"CheckboxSnappy", "0", "SliderChunkCount", false}, {"ADBEVideoWidth", "640", "SliderChunkCount", false},
               {"CheckboxSnappy", "1", "SliderChunkCount", true},  {"AudioChannels", "1", "AudioOrders", false},
               {"AudioChannels", "2", "AudioOrders", true},        {"AudioChannels", "0", "AudioOrders", false}};
  for (const auto& s : steps) {
    ASSERT_EQ(session.change_param(s.id, s.value), 0);
    EXPECT_EQ(enabled(s.dependent), s.enabled) << s.id << "=" << s.value;
  }
  EXPECT_EQ(value("SliderChunkCount"), 8);
}

TEST_F(Params_Test, host_checks_refuse_bad_values) {
  open();
  for (const std::string bad : {"NoSuchParam=1", "ADBEVideoCodec=0", "ADBEVideoCodec=9", "ADBEVideoCodec=abc",
                                "ADBEVideoCodec=", "ADBEVideoWidth=3", "ADBEVideoWidth=16385", "ADBEVideoWidth=12x",
                                "CheckboxSnappy=2", "SliderChunkCount=0", "SliderChunkCount=65", "ADBEVideoAspect=3/1",
                                "ADBEVideoAspect=1/0", "ADBEVideoAspect=-1/2", "ADBEVideoFPS=0", "ADBEVideoFPS=1/2",
                                "AudioSampleRate=44000", "idVersion=1", "ADBEVideoWidth=99999999999999999999"}) {
    const size_t equals = bad.find('=');
    EXPECT_THROW(host.params.set_from_text(bad.substr(0, equals), bad.substr(equals + 1)), std::invalid_argument)
        << bad;
  }
  EXPECT_EQ(value("ADBEVideoCodec"), 1);
  EXPECT_NO_THROW(host.params.set_from_text("ADBEVideoAspect", "40/33"));
  EXPECT_NO_THROW(host.params.set_from_text("ADBEVideoFPS", "24000/1001"));
  EXPECT_EQ(values("ADBEVideoFPS").value.time, host::ticks_per_second / 24000 * 1001);
}

}  // namespace
