// The export parameters through the stand-in host: the tree, defaults, value
// lists, enable rules, host-side checks and the summary lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/stand_in_host.h"

namespace {

using host::narrow;
using host::Session;
using Strings = std::vector<std::string>;

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
  // The value list as "label=value; ...", and the value with its range.
  std::string list(const std::string& id) {
    std::string out;
    for (const auto& [v, label] : param(id).choices)
      out += (out.empty() ? "" : "; ") + narrow(label) + "=" + text(v, param(id).type);
    return out;
  }
  std::string range(const std::string& id) {
    const host::Host_Param& p = param(id);
    return text(p.values.value, p.type) + " [" + text(p.values.range_min, p.type) + ", " +
           text(p.values.range_max, p.type) + "]";
  }
  // Integers, ratios as n/d, times in ticks.
  static std::string text(const sdk::Param_Scalar& v, int32_t type) {
    if (type == 11) return std::to_string(v.ratio.numerator) + "/" + std::to_string(v.ratio.denominator);
    return std::to_string(type == 4 ? v.time : v.integer);
  }
  Strings summary(bool audio) {
    sdk::Param_Summary_Rec rec;
    EXPECT_EQ(session.get_param_summary(rec, audio), 0);
    return {narrow(rec.video_summary), narrow(rec.audio_summary), narrow(rec.bitrate_summary)};
  }
};

TEST_F(Params_Test, tree_order_types_defaults_and_labels) {
  host.source.width = 1280;
  host.source.height = 720;
  host.source.rate_numerator = 25;
  open();
  Strings groups;
  for (const auto& g : host.params.groups) groups.push_back(g.parent + ">" + g.identifier + ":" + narrow(g.name));
  EXPECT_EQ(groups, (Strings{"ADBETopParamGroup>ADBEVideoTabGroup:Top Level Video Param",
                             "ADBEVideoTabGroup>ADBEBasicVideoGroup:General Settings",
                             "ADBEVideoTabGroup>ADBEVideoCodecGroup:Video Codec",
                             "ADBEVideoTabGroup>MetadataGroup:Metadata", "ADBEVideoTabGroup>infoGroup:Informations",
                             "ADBETopParamGroup>ADBEAudioTabGroup:Top-level audio param group",
                             "ADBEAudioTabGroup>ADBEBasicAudioGroup:Audio settings"}));
  // Each parameter as "group>id type/flags label = value", in creation order; all enabled.
  const sdk::Ticks t = host::ticks_per_second;
  Strings tree;
  for (const host::Host_Param& p : host.params.params)
    tree.push_back(p.parent_group + ">" + p.identifier + " " + std::to_string(p.type) + "/" + std::to_string(p.flags) +
                   " " + narrow(p.name) + " = " + (p.type == 6 ? narrow(p.values.text) : text(p.values.value, p.type)) +
                   (p.values.disabled ? " (disabled)" : ""));
  EXPECT_EQ(tree, (Strings{"ADBEBasicVideoGroup>ADBEVideoWidth 2/0 Width = 1280",
                           "ADBEBasicVideoGroup>ADBEVideoHeight 2/0 Height = 720",
                           "ADBEBasicVideoGroup>ADBEVideoAspect 11/0 Pixel Aspect Ratio = 1/1",
                           "ADBEBasicVideoGroup>ADBEVideoFPS 4/0 Frame Rate (fps) = " + std::to_string(t / 25),
                           "ADBEVideoCodecGroup>ADBEVideoCodec 2/0 Codec = 1",
                           "ADBEVideoCodecGroup>CheckboxPremult 1/0 Use premultiply alpha = 1",
                           "ADBEVideoCodecGroup>CheckboxSnappy 1/0 Use snappy compression = 1",
                           "ADBEVideoCodecGroup>SliderChunkCount 2/1 Chunks count = 8",
                           "ADBEVideoCodecGroup>ComboboxQuality 2/0 Speed/Quality = 0",
                           "ADBEVideoCodecGroup>checkboxFrameThreading 1/0 Encode multiple frames simultaneously = 1",
                           "MetadataGroup>CheckboxTcMetadata 1/0 Write timecode = 0",
                           "infoGroup>idVersion 6/2 Version = 2.1.6",
                           "ADBEBasicAudioGroup>AudioSampleRate 2/0 Sample rate = 48000",
                           "ADBEBasicAudioGroup>AudioQUANTIF 2/0 Quantification = 1",
                           "ADBEBasicAudioGroup>AudioChannels 2/0 Channels = 1",
                           "ADBEBasicAudioGroup>AudioOrders 2/0 Channels order = 0"}));
  EXPECT_EQ(host.params.params_version, 5);
  EXPECT_EQ(narrow(param("ADBEVideoCodec").description), "The video codec to be used for encode.");
  EXPECT_EQ(range("ADBEVideoWidth"), "1280 [4, 16384]");
  EXPECT_EQ(range("SliderChunkCount"), "8 [1, 64]");
  EXPECT_EQ(range("ADBEVideoAspect"), "1/1 [10/11, 2/1]");
  EXPECT_EQ(range("ADBEVideoFPS"), std::to_string(t / 25) + " [1, " + std::to_string(t) + "]");
}

TEST_F(Params_Test, value_lists) {
  open();
  EXPECT_EQ(list("ADBEVideoAspect"),
            "Square pixels (1.0)=1/1; D1/DV NTSC (0.9091)=10/11; D1/DV NTSC Widescreen 16:9 (1.2121)=40/33; "
            "D1/DV PAL (1.0940)=768/702; D1/DV PAL Widescreen 16:9 (1.4587)=1024/702; Anamorphic 2:1 (2.0)=2/1; "
            "HD Anamorphic 1080 (1.3333)=4/3; DVCPRO HD (1.5)=3/2");
  const char* rate_labels[] = {"10", "15", "23.976", "24", "25 (PAL)", "29.97 (NTSC)", "30", "50", "59.94", "60"};
  const int64_t rates[][2] = {{10, 1},       {15, 1}, {24000, 1001}, {24, 1},       {25, 1},
                              {30000, 1001}, {30, 1}, {50, 1},       {60000, 1001}, {60, 1}};
  std::string durations;
  for (size_t i = 0; i < std::size(rates); ++i)
    durations += (i ? "; " : "") + std::string(rate_labels[i]) + "=" +
                 std::to_string(host::ticks_per_second / rates[i][0] * rates[i][1]);
  EXPECT_EQ(list("ADBEVideoFPS"), durations);
  EXPECT_EQ(list("ADBEVideoCodec"),
            "HAP=1; HAPA=2; HAPQ=3; HAPQA=4; HAP AlphaOnly (Luma)=5; HAP AlphaOnly (Alpha)=6; HAPR (RGB)=7; "
            "HAPR (RGBA)=8");
  EXPECT_EQ(list("ComboboxQuality"), "Fast=0; Normal=1; Slow=2");
  EXPECT_EQ(list("AudioQUANTIF"), "16 bits=1; 24 bits=2; 32 bits=3; 32 bits float=4");
  EXPECT_EQ(list("AudioSampleRate"),
            "8000 Hz=8000; 16000 Hz=16000; 32000 Hz=32000; 44100 Hz=44100; 48000 Hz=48000; 88200 Hz=88200; "
            "96000 Hz=96000");
  EXPECT_EQ(list("AudioChannels"), "Mono=0; Stereo=1; 5.1=2");
  EXPECT_EQ(list("AudioOrders"), "L, R, C, Lfe, Ls, Rs=0; L, R, Ls, Rs, C, Lfe=1; L, C, R, Ls, Rs, Lfe=2");
  // A second post-processing clears the lists before filling them again.
  ASSERT_EQ(session.post_process_params(), 0);
  EXPECT_EQ(param("ADBEVideoCodec").choices.size(), 8u);
}

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

TEST_F(Params_Test, video_summary_for_every_codec_quality_and_snappy) {
  open();
  ASSERT_EQ(session.change_param("ADBEVideoFPS", "30000/1001"), 0);
  ASSERT_EQ(session.change_param("ADBEVideoAspect", "768/702"), 0);
  ASSERT_EQ(session.change_param("SliderChunkCount", "13"), 0);
  // Codec, quality, snappy; then the line after "1920x1080, 29.97 fps, 1.0940 PAR, ".
  const struct { const char *codec, *quality, *snappy, *line; } cases[] = {
      {"1", "0", "1", "HAP, fast, Chunks 13"},
      {"2", "1", "0", "HAPA, Quality normal, No snappy"},
      {"3", "2", "1", "HAPQ, slow, Chunks 13"},
      {"4", "0", "0", "HAPQA, Quality fast, No snappy"},
      {"5", "2", "1", "HAP AlphaOnly (Luma), Chunks 13"},
      {"6", "1", "0", "HAP AlphaOnly (Alpha), No snappy"},
      {"7", "1", "1", "HAP R (RGB), normal, Chunks 13"},
      {"8", "2", "0", "HAP R (RGBA), Quality slow, No snappy"}};
  for (const auto& c : cases) {
    session.change_param("ADBEVideoCodec", c.codec);
    session.change_param("ComboboxQuality", c.quality);
    session.change_param("CheckboxSnappy", c.snappy);
    EXPECT_EQ(summary(false), (Strings{std::string("1920x1080, 29.97 fps, 1.0940 PAR, ") + c.line, "",
                                       "Bitrate estimation not available"}));  // no audio asked for
  }
}

TEST_F(Params_Test, audio_summary_for_every_format_and_layout) {
  open();
  const char* depths[] = {"16 bits", "24 bits", "32 bits", "32 bits float"};
  const std::string layouts[] = {"Mono", "Stereo", "5.1 (L, R, C, Lfe, Ls, Rs)", "5.1 (L, R, Ls, Rs, C, Lfe)",
                                 "5.1 (L, C, R, Ls, Rs, Lfe)"};
  for (int rate : {8000, 44100, 96000})
    for (int q = 1; q <= 4; ++q)
      for (int channels = 0; channels <= 2; ++channels)
        for (int order = 0; order <= 2; ++order) {
          session.change_param("AudioSampleRate", std::to_string(rate));
          session.change_param("AudioQUANTIF", std::to_string(q));
          session.change_param("AudioChannels", std::to_string(channels));
          session.change_param("AudioOrders", std::to_string(order));
          const std::string& layout = layouts[channels < 2 ? channels : 2 + order];
          EXPECT_EQ(summary(true)[1],
                    "PCM " + std::string(depths[q - 1]) + ", " + layout + ", " + std::to_string(rate) + " Hz)");
        }
}

// Values the dialog would never offer still give the documented fallbacks.
TEST_F(Params_Test, summary_fallbacks_for_values_outside_the_lists) {
  open();
  auto force = [&](const char* id, int32_t value) { host.params.find(id)->values.value.integer = value; };
  force("ADBEVideoCodec", 42);
  force("ComboboxQuality", 7);
  force("AudioQUANTIF", 9);
  force("AudioChannels", 2);
  force("AudioOrders", 5);
  const Strings lines = summary(true);
  EXPECT_EQ(lines[0], "1920x1080, 30.00 fps, 1.0000 PAR, HAP, normal, Chunks 8");
  EXPECT_EQ(lines[1], "PCM NA, 5.1 (NA), 48000 Hz)");
  force("AudioChannels", 3);
  EXPECT_EQ(summary(true)[1], "Unknown audio channels");
}

}  // namespace
