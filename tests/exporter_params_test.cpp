// The export parameters through the stand-in host: the tree, defaults, value
// lists, enable rules, host-side checks and the summary lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/stand_in_host.h"
#include "platform/file_io.h"

namespace {

using host::Session;

std::string utf8(const std::u16string& text) {
  std::string out;
  platform::utf16_to_utf8(text, out);
  return out;
}

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
    if (session.instance()) {
      EXPECT_EQ(session.end_instance(), 0);
      EXPECT_EQ(host.live_blocks(), 0u);
      EXPECT_TRUE(host.suites_balanced());
    }
  }
  const host::Host_Param& param(const std::string& id) {
    const host::Host_Param* p = host.params.find(id);
    EXPECT_NE(p, nullptr) << id;
    static const host::Host_Param none;
    return p ? *p : none;
  }
  bool enabled(const std::string& id) { return param(id).values.disabled == 0; }
  std::vector<std::string> labels(const std::string& id) {
    std::vector<std::string> out;
    for (const auto& [value, label] : param(id).choices) out.push_back(utf8(label));
    return out;
  }
  std::vector<int32_t> integer_values(const std::string& id) {
    std::vector<int32_t> out;
    for (const auto& [value, label] : param(id).choices) out.push_back(value.integer);
    return out;
  }
  std::vector<std::string> summary(bool audio) {
    sdk::Param_Summary_Rec rec;
    EXPECT_EQ(session.get_param_summary(rec, audio), 0);
    return {utf8(rec.video_summary), utf8(rec.audio_summary), utf8(rec.bitrate_summary)};
  }
};

TEST_F(Params_Test, tree_order_types_defaults_and_labels) {
  host.source.width = 1280;
  host.source.height = 720;
  host.source.rate_numerator = 25;
  open();
  std::vector<std::string> groups;
  for (const auto& g : host.params.groups) groups.push_back(g.parent + ">" + g.identifier + ":" + utf8(g.name));
  EXPECT_EQ(groups, (std::vector<std::string>{
                        "ADBETopParamGroup>ADBEVideoTabGroup:Top Level Video Param",
                        "ADBEVideoTabGroup>ADBEBasicVideoGroup:General Settings",
                        "ADBEVideoTabGroup>ADBEVideoCodecGroup:Video Codec",
                        "ADBEVideoTabGroup>MetadataGroup:Metadata",
                        "ADBEVideoTabGroup>infoGroup:Informations",
                        "ADBETopParamGroup>ADBEAudioTabGroup:Top-level audio param group",
                        "ADBEAudioTabGroup>ADBEBasicAudioGroup:Audio settings",
                    }));
  struct Expected {
    const char *id, *group;
    int32_t type, flags;
    const char* label;
  };
  const Expected expected[] = {
      {"ADBEVideoWidth", "ADBEBasicVideoGroup", 2, 0, "Width"},
      {"ADBEVideoHeight", "ADBEBasicVideoGroup", 2, 0, "Height"},
      {"ADBEVideoAspect", "ADBEBasicVideoGroup", 11, 0, "Pixel Aspect Ratio"},
      {"ADBEVideoFPS", "ADBEBasicVideoGroup", 4, 0, "Frame Rate (fps)"},
      {"ADBEVideoCodec", "ADBEVideoCodecGroup", 2, 0, "Codec"},
      {"CheckboxPremult", "ADBEVideoCodecGroup", 1, 0, "Use premultiply alpha"},
      {"CheckboxSnappy", "ADBEVideoCodecGroup", 1, 0, "Use snappy compression"},
      {"SliderChunkCount", "ADBEVideoCodecGroup", 2, 1, "Chunks count"},
      {"ComboboxQuality", "ADBEVideoCodecGroup", 2, 0, "Speed/Quality"},
      {"checkboxFrameThreading", "ADBEVideoCodecGroup", 1, 0, "Encode multiple frames simultaneously"},
      {"CheckboxTcMetadata", "MetadataGroup", 1, 0, "Write timecode"},
      {"idVersion", "infoGroup", 6, 2, "Version"},
      {"AudioSampleRate", "ADBEBasicAudioGroup", 2, 0, "Sample rate"},
      {"AudioQUANTIF", "ADBEBasicAudioGroup", 2, 0, "Quantification"},
      {"AudioChannels", "ADBEBasicAudioGroup", 2, 0, "Channels"},
      {"AudioOrders", "ADBEBasicAudioGroup", 2, 0, "Channels order"},
  };
  ASSERT_EQ(host.params.params.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const host::Host_Param& p = host.params.params[i];
    SCOPED_TRACE(p.identifier);
    EXPECT_EQ(p.identifier, expected[i].id);
    EXPECT_EQ(p.parent_group, expected[i].group);
    EXPECT_EQ(p.type, expected[i].type);
    EXPECT_EQ(p.flags, expected[i].flags);
    EXPECT_EQ(utf8(p.name), expected[i].label);
    EXPECT_EQ(p.values.disabled, 0);
  }
  EXPECT_EQ(host.params.params_version, 5);
  EXPECT_EQ(utf8(param("ADBEVideoCodec").description), "The video codec to be used for encode.");
  EXPECT_EQ(param("ADBEVideoWidth").values.value.integer, 1280);
  EXPECT_EQ(param("ADBEVideoWidth").values.range_min.integer, 4);
  EXPECT_EQ(param("ADBEVideoWidth").values.range_max.integer, 16384);
  EXPECT_EQ(param("ADBEVideoHeight").values.value.integer, 720);
  EXPECT_EQ(param("ADBEVideoAspect").values.value.ratio.numerator, 1);
  EXPECT_EQ(param("ADBEVideoAspect").values.range_min.ratio.numerator, 10);
  EXPECT_EQ(param("ADBEVideoAspect").values.range_min.ratio.denominator, 11);
  EXPECT_EQ(param("ADBEVideoAspect").values.range_max.ratio.numerator, 2);
  EXPECT_EQ(param("ADBEVideoFPS").values.value.time, host::ticks_per_second / 25);
  EXPECT_EQ(param("ADBEVideoFPS").values.range_min.time, 1);
  EXPECT_EQ(param("ADBEVideoFPS").values.range_max.time, host::ticks_per_second);
  EXPECT_EQ(param("ADBEVideoCodec").values.value.integer, 1);
  EXPECT_EQ(param("CheckboxPremult").values.value.integer, 1);
  EXPECT_EQ(param("CheckboxSnappy").values.value.integer, 1);
  EXPECT_EQ(param("SliderChunkCount").values.value.integer, 8);
  EXPECT_EQ(param("SliderChunkCount").values.range_min.integer, 1);
  EXPECT_EQ(param("SliderChunkCount").values.range_max.integer, 64);
  EXPECT_EQ(param("ComboboxQuality").values.value.integer, 0);
  EXPECT_EQ(param("checkboxFrameThreading").values.value.integer, 1);
  EXPECT_EQ(param("CheckboxTcMetadata").values.value.integer, 0);
  EXPECT_EQ(std::u16string(param("idVersion").values.text), u"2.1.6");
  EXPECT_EQ(param("AudioSampleRate").values.value.integer, 48000);
  EXPECT_EQ(param("AudioQUANTIF").values.value.integer, 1);
  EXPECT_EQ(param("AudioChannels").values.value.integer, 1);
  EXPECT_EQ(param("AudioOrders").values.value.integer, 0);
}

TEST_F(Params_Test, value_lists) {
  open();
  EXPECT_EQ(
      labels("ADBEVideoAspect"),
      (std::vector<std::string>{"Square pixels (1.0)", "D1/DV NTSC (0.9091)", "D1/DV NTSC Widescreen 16:9 (1.2121)",
                                "D1/DV PAL (1.0940)", "D1/DV PAL Widescreen 16:9 (1.4587)", "Anamorphic 2:1 (2.0)",
                                "HD Anamorphic 1080 (1.3333)", "DVCPRO HD (1.5)"}));
  const int32_t ratios[][2] = {{1, 1}, {10, 11}, {40, 33}, {768, 702}, {1024, 702}, {2, 1}, {4, 3}, {3, 2}};
  for (size_t i = 0; i < std::size(ratios); ++i) {
    EXPECT_EQ(param("ADBEVideoAspect").choices[i].first.ratio.numerator, ratios[i][0]);
    EXPECT_EQ(param("ADBEVideoAspect").choices[i].first.ratio.denominator, ratios[i][1]);
  }
  EXPECT_EQ(labels("ADBEVideoFPS"), (std::vector<std::string>{"10", "15", "23.976", "24", "25 (PAL)", "29.97 (NTSC)",
                                                              "30", "50", "59.94", "60"}));
  const int64_t rates[][2] = {{10, 1},       {15, 1}, {24000, 1001}, {24, 1},       {25, 1},
                              {30000, 1001}, {30, 1}, {50, 1},       {60000, 1001}, {60, 1}};
  for (size_t i = 0; i < std::size(rates); ++i)
    EXPECT_EQ(param("ADBEVideoFPS").choices[i].first.time, host::ticks_per_second / rates[i][0] * rates[i][1]);
  EXPECT_EQ(labels("ADBEVideoCodec"), (std::vector<std::string>{"HAP", "HAPA", "HAPQ", "HAPQA", "HAP AlphaOnly (Luma)",
                                                                "HAP AlphaOnly (Alpha)", "HAPR (RGB)", "HAPR (RGBA)"}));
  EXPECT_EQ(integer_values("ADBEVideoCodec"), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(labels("ComboboxQuality"), (std::vector<std::string>{"Fast", "Normal", "Slow"}));
  EXPECT_EQ(integer_values("ComboboxQuality"), (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(integer_values("AudioSampleRate"), (std::vector<int32_t>{8000, 16000, 32000, 44100, 48000, 88200, 96000}));
  EXPECT_EQ(labels("AudioSampleRate")[3], "44100 Hz");
  EXPECT_EQ(labels("AudioQUANTIF"), (std::vector<std::string>{"16 bits", "24 bits", "32 bits", "32 bits float"}));
  EXPECT_EQ(integer_values("AudioQUANTIF"), (std::vector<int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(labels("AudioChannels"), (std::vector<std::string>{"Mono", "Stereo", "5.1"}));
  EXPECT_EQ(labels("AudioOrders"),
            (std::vector<std::string>{"L, R, C, Lfe, Ls, Rs", "L, R, Ls, Rs, C, Lfe", "L, C, R, Ls, Rs, Lfe"}));
  // A second post-processing clears the lists before filling them again.
  ASSERT_EQ(session.post_process_params(), 0);
  EXPECT_EQ(labels("ADBEVideoCodec").size(), 8u);
}

TEST_F(Params_Test, zero_sized_source_and_missing_info_suite_give_defaults) {
  host.source.width = 0;
  host.source.height = 0;
  open();
  EXPECT_EQ(param("ADBEVideoWidth").values.value.integer, 720);
  EXPECT_EQ(param("ADBEVideoHeight").values.value.integer, 480);
}

TEST_F(Params_Test, defaults_without_export_info) {
  host.faults.missing_suites.insert(sdk::export_info_suite_name);
  open();
  EXPECT_EQ(param("ADBEVideoWidth").values.value.integer, 720);
  EXPECT_EQ(param("ADBEVideoHeight").values.value.integer, 480);
  EXPECT_EQ(param("ADBEVideoAspect").values.value.ratio.numerator, 1);
  EXPECT_EQ(param("ADBEVideoAspect").values.value.ratio.denominator, 1);
  EXPECT_EQ(param("ADBEVideoFPS").values.value.time, 1);
}

TEST_F(Params_Test, enable_rules) {
  open();
  for (int codec = 1; codec <= 8; ++codec) {
    ASSERT_EQ(session.change_param("ADBEVideoCodec", std::to_string(codec)), 0);
    const bool quality = codec != 5 && codec != 6;
    const bool premultiply = codec == 2 || codec == 4 || codec == 8;
    EXPECT_EQ(enabled("ComboboxQuality"), quality) << codec;
    EXPECT_EQ(enabled("CheckboxPremult"), premultiply) << codec;
  }
  ASSERT_EQ(session.change_param("CheckboxSnappy", "0"), 0);
  EXPECT_FALSE(enabled("SliderChunkCount"));
  ASSERT_EQ(session.change_param("ADBEVideoWidth", "640"), 0);  // any change re-applies every rule
  EXPECT_FALSE(enabled("SliderChunkCount"));
  ASSERT_EQ(session.change_param("CheckboxSnappy", "1"), 0);
  EXPECT_TRUE(enabled("SliderChunkCount"));
  EXPECT_EQ(param("SliderChunkCount").values.value.integer, 8);  // values kept
  ASSERT_EQ(session.change_param("AudioChannels", "1"), 0);
  EXPECT_FALSE(enabled("AudioOrders"));
  ASSERT_EQ(session.change_param("AudioChannels", "2"), 0);
  EXPECT_TRUE(enabled("AudioOrders"));
  ASSERT_EQ(session.change_param("AudioChannels", "0"), 0);
  EXPECT_FALSE(enabled("AudioOrders"));
}

TEST_F(Params_Test, host_checks_refuse_bad_values) {
  open();
  const std::pair<const char*, const char*> bad[] = {
      {"NoSuchParam", "1"},
      {"ADBEVideoCodec", "0"},
      {"ADBEVideoCodec", "9"},
      {"ADBEVideoCodec", "abc"},
      {"ADBEVideoCodec", ""},
      {"ADBEVideoWidth", "3"},
      {"ADBEVideoWidth", "16385"},
      {"ADBEVideoWidth", "12x"},
      {"CheckboxSnappy", "2"},
      {"SliderChunkCount", "0"},
      {"SliderChunkCount", "65"},
      {"ADBEVideoAspect", "3/1"},
      {"ADBEVideoAspect", "1/0"},
      {"ADBEVideoAspect", "-1/2"},
      {"ADBEVideoFPS", "0"},
      {"ADBEVideoFPS", "1/2"},
      {"AudioSampleRate", "44000"},
      {"idVersion", "1"},
      {"ADBEVideoWidth", "99999999999999999999"},
  };
  for (const auto& [id, text] : bad)
    EXPECT_THROW(host.params.set_from_text(id, text), std::invalid_argument) << id << "=" << text;
  EXPECT_EQ(param("ADBEVideoCodec").values.value.integer, 1);
  EXPECT_NO_THROW(host.params.set_from_text("ADBEVideoAspect", "40/33"));
  EXPECT_NO_THROW(host.params.set_from_text("ADBEVideoFPS", "24000/1001"));
  EXPECT_EQ(param("ADBEVideoFPS").values.value.time, host::ticks_per_second / 24000 * 1001);
}

// The summary lines, built independently with the C formatter.
std::string video_line(int w, int h, int64_t duration, int num, int den, int codec, int quality, bool snappy,
                       int chunks) {
  const char* codecs[] = {
      "HAP",         "HAP",         "HAPA", "HAPQ", "HAPQA", "HAP AlphaOnly (Luma)", "HAP AlphaOnly (Alpha)",
      "HAP R (RGB)", "HAP R (RGBA)"};
  const char* qualities[] = {"fast", "normal", "slow"};
  const float fps = float(host::ticks_per_second) / float(duration);
  const float par = float(num) / float(den);
  const bool has_quality = codec != 5 && codec != 6;
  char line[512];
  if (snappy && has_quality)
    std::snprintf(line, sizeof line, "%ix%i, %.2f fps, %.4f PAR, %s, %s, Chunks %i", w, h, double(fps), double(par),
                  codecs[codec], qualities[quality], chunks);
  else if (snappy)
    std::snprintf(line, sizeof line, "%ix%i, %.2f fps, %.4f PAR, %s, Chunks %i", w, h, double(fps), double(par),
                  codecs[codec], chunks);
  else if (has_quality)
    std::snprintf(line, sizeof line, "%ix%i, %.2f fps, %.4f PAR, %s, Quality %s, No snappy", w, h, double(fps),
                  double(par), codecs[codec], qualities[quality]);
  else
    std::snprintf(line, sizeof line, "%ix%i, %.2f fps, %.4f PAR, %s, No snappy", w, h, double(fps), double(par),
                  codecs[codec]);
  return line;
}

TEST_F(Params_Test, video_summary_for_every_codec_quality_and_snappy) {
  open();
  ASSERT_EQ(session.change_param("ADBEVideoFPS", "30000/1001"), 0);
  ASSERT_EQ(session.change_param("ADBEVideoAspect", "768/702"), 0);
  ASSERT_EQ(session.change_param("SliderChunkCount", "13"), 0);
  const int64_t duration = host::ticks_per_second / 30000 * 1001;
  for (int codec = 1; codec <= 8; ++codec)
    for (int quality = 0; quality <= 2; ++quality)
      for (int snappy = 0; snappy <= 1; ++snappy) {
        session.change_param("ADBEVideoCodec", std::to_string(codec));
        session.change_param("ComboboxQuality", std::to_string(quality));
        session.change_param("CheckboxSnappy", std::to_string(snappy));
        EXPECT_EQ(summary(false)[0], video_line(1920, 1080, duration, 768, 702, codec, quality, snappy, 13));
      }
}

TEST_F(Params_Test, summary_examples) {
  host.source.rate_numerator = 25;
  open();
  session.change_param("ADBEVideoCodec", "3");
  session.change_param("ComboboxQuality", "1");
  EXPECT_EQ(summary(true),
            (std::vector<std::string>{"1920x1080, 25.00 fps, 1.0000 PAR, HAPQ, normal, Chunks 8",
                                      "PCM 16 bits, Stereo, 48000 Hz)", "Bitrate estimation not available"}));
  session.change_param("ADBEVideoCodec", "5");
  session.change_param("CheckboxSnappy", "0");
  EXPECT_EQ(summary(false)[0], "1920x1080, 25.00 fps, 1.0000 PAR, HAP AlphaOnly (Luma), No snappy");
  EXPECT_EQ(summary(false)[1], "");  // no audio asked for
  session.change_param("AudioChannels", "2");
  session.change_param("AudioQUANTIF", "2");
  session.change_param("AudioOrders", "1");
  EXPECT_EQ(summary(true)[1], "PCM 24 bits, 5.1 (L, R, Ls, Rs, C, Lfe), 48000 Hz)");
}

TEST_F(Params_Test, audio_summary_for_every_format_and_layout) {
  open();
  const char* depths[] = {"16 bits", "24 bits", "32 bits", "32 bits float"};
  const char* orders[] = {"L, R, C, Lfe, Ls, Rs", "L, R, Ls, Rs, C, Lfe", "L, C, R, Ls, Rs, Lfe"};
  for (int rate : {8000, 44100, 96000})
    for (int q = 1; q <= 4; ++q)
      for (int channels = 0; channels <= 2; ++channels)
        for (int order = 0; order <= 2; ++order) {
          session.change_param("AudioSampleRate", std::to_string(rate));
          session.change_param("AudioQUANTIF", std::to_string(q));
          session.change_param("AudioChannels", std::to_string(channels));
          session.change_param("AudioOrders", std::to_string(order));
          char line[256];
          if (channels == 0)
            std::snprintf(line, sizeof line, "PCM %s, Mono, %i Hz)", depths[q - 1], rate);
          else if (channels == 1)
            std::snprintf(line, sizeof line, "PCM %s, Stereo, %i Hz)", depths[q - 1], rate);
          else
            std::snprintf(line, sizeof line, "PCM %s, 5.1 (%s), %i Hz)", depths[q - 1], orders[order], rate);
          EXPECT_EQ(summary(true)[1], line);
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
  std::vector<std::string> lines = summary(true);
  EXPECT_EQ(lines[0], "1920x1080, 30.00 fps, 1.0000 PAR, HAP, normal, Chunks 8");
  EXPECT_EQ(lines[1], "PCM NA, 5.1 (NA), 48000 Hz)");
  force("AudioChannels", 3);
  EXPECT_EQ(summary(true)[1], "Unknown audio channels");
}

}  // namespace
