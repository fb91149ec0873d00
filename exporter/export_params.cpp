// The export parameters: the tree of groups and parameters with their
// defaults, their labels and value lists, the rules that enable them and the
// summary lines the host shows.
#include <initializer_list>

#include "exporter/exporter.h"

namespace {

constexpr char16_t version_text[] = u"2.1.6";

Exporter_Instance& instance_in(void* private_data) { return *static_cast<Exporter_Instance*>(private_data); }

// The parameter calls of one handler: the suite, the plug-in and the group.
struct Param_Access {
  const sdk::Export_Param_Suite& suite;
  sdk::Plugin_Id id;
  int32_t group;

  sdk::Param_Values get(const char* param) const { return param_values(suite, id, param, group); }
  void change(const char* param, const sdk::Param_Values& values) const {
    suite.change_param(id, group, param, &values);
  }
  void set_name(const char* param, const char16_t* name) const { suite.set_param_name(id, group, param, name); }

  void add_group(const char* parent, const char* group_id, const char16_t* name) const {
    suite.add_param_group(id, group, parent, group_id, name, 0, 0, 0);
  }
  void add(const char* parent, const char* param, sdk::Param_Type type, int32_t flags,
           const sdk::Param_Values& values) const {
    sdk::New_Param_Info info{};
    copy_narrow_string(info.identifier, sizeof info.identifier, param);
    info.type = type;
    info.flags = flags;
    info.values = values;
    suite.add_param(id, group, parent, &info);
  }
  void add_integer(const char* parent, const char* param, int32_t value, int32_t flags = sdk::param_flag_none,
                   int32_t min = 0, int32_t max = 0) const {
    sdk::Param_Values values{};
    values.range_min.integer = min;
    values.range_max.integer = max;
    values.value.integer = value;
    add(parent, param, sdk::param_integer, flags, values);
  }
  void add_checkbox(const char* parent, const char* param, int32_t value) const {
    sdk::Param_Values values{};
    values.value.integer = value;
    add(parent, param, sdk::param_checkbox, sdk::param_flag_none, values);
  }

  // Clears a parameter's value list and fills it with (value, label) pairs.
  struct Choice {
    sdk::Param_Scalar value;
    const char16_t* label;
  };
  void set_list(const char* param, std::initializer_list<Choice> choices) const {
    suite.clear_constrained_values(id, group, param);
    for (const Choice& c : choices) suite.add_constrained_value(id, group, param, &c.value, c.label);
  }

  // Sets a parameter's disabled flag, keeping its values.
  void enable(const char* param, bool enabled) const {
    sdk::Param_Values values = get(param);
    values.disabled = enabled ? 0 : 1;
    change(param, values);
  }
};

sdk::Param_Scalar integer(int32_t value) {
  sdk::Param_Scalar scalar{};
  scalar.integer = value;
  return scalar;
}

sdk::Param_Scalar ratio(int32_t numerator, int32_t denominator) {
  sdk::Param_Scalar scalar{};
  scalar.ratio = {numerator, denominator};
  return scalar;
}

sdk::Param_Scalar frame_duration(sdk::Ticks ticks_per_second, int64_t numerator, int64_t denominator) {
  sdk::Param_Scalar scalar{};
  scalar.time = ticks_per_second / numerator * denominator;
  return scalar;
}

const char* summary_codec_name(int32_t codec) {
  switch (codec) {
    case 2:
      return "HAPA";
    case 3:
      return "HAPQ";
    case 4:
      return "HAPQA";
    case 5:
      return "HAP AlphaOnly (Luma)";
    case 6:
      return "HAP AlphaOnly (Alpha)";
    case 7:
      return "HAP R (RGB)";
    case 8:
      return "HAP R (RGBA)";
    default:
      return "HAP";
  }
}

const char* summary_quality_name(int32_t quality) {
  switch (quality) {
    case 0:
      return "fast";
    case 2:
      return "slow";
    default:
      return "normal";
  }
}

const char* summary_depth_name(int32_t quantification) {
  switch (quantification) {
    case 1:
      return "16 bits";
    case 2:
      return "24 bits";
    case 3:
      return "32 bits";
    case 4:
      return "32 bits float";
    default:
      return "NA";
  }
}

const char* summary_order_name(int32_t order) {
  switch (order) {
    case 0:
      return "L, R, C, Lfe, Ls, Rs";
    case 1:
      return "L, R, Ls, Rs, C, Lfe";
    case 2:
      return "L, C, R, Ls, Rs, Lfe";
    default:
      return "NA";
  }
}

}  // namespace

sdk::Param_Values param_values(const sdk::Export_Param_Suite& suite, sdk::Plugin_Id id, const char* param,
                               int32_t group) {
  sdk::Param_Values values{};
  suite.get_param_value(id, group, param, &values);
  return values;
}

int32_t generate_default_params(sdk::Std_Params*, sdk::Generate_Default_Params_Rec* rec) {
  const Exporter_Instance& instance = instance_in(rec->private_data);
  int32_t width = 720, height = 480;
  sdk::Ratio par{1, 1};
  sdk::Ticks duration = 1;
  if (instance.export_info) {
    auto item = [&](int32_t which) {
      sdk::Source_Info_Value value{};
      instance.export_info->get_source_info(rec->plugin_id, which, &value);
      return value;
    };
    width = item(sdk::source_width).integer;
    height = item(sdk::source_height).integer;
    duration = item(sdk::source_frame_duration).time;
    par = {item(sdk::source_par_numerator).integer, item(sdk::source_par_denominator).integer};
    if (width == 0) width = 720;
    if (height == 0) height = 480;
  }
  if (!instance.export_param) return sdk::result_ok;
  if (!instance.time) return sdk::result_out_of_memory;
  sdk::Ticks ticks_per_second = 0;
  instance.time->get_ticks_per_second(&ticks_per_second);

  int32_t group = 0;
  instance.export_param->add_multi_group(rec->plugin_id, &group);
  const Param_Access p{*instance.export_param, rec->plugin_id, group};

  p.add_group("ADBETopParamGroup", "ADBEVideoTabGroup", u"Top Level Video Param");
  p.add_group("ADBEVideoTabGroup", "ADBEBasicVideoGroup", u"General Settings");
  p.add_integer("ADBEBasicVideoGroup", "ADBEVideoWidth", width, sdk::param_flag_none, 4, 16384);
  p.add_integer("ADBEBasicVideoGroup", "ADBEVideoHeight", height, sdk::param_flag_none, 4, 16384);
  sdk::Param_Values aspect{};
  aspect.range_min.ratio = {10, 11};
  aspect.range_max.ratio = {2, 1};
  aspect.value.ratio = par;
  p.add("ADBEBasicVideoGroup", "ADBEVideoAspect", sdk::param_ratio, sdk::param_flag_none, aspect);
  sdk::Param_Values fps{};
  fps.range_min.time = 1;
  fps.range_max.time = ticks_per_second;
  fps.value.time = duration;
  p.add("ADBEBasicVideoGroup", "ADBEVideoFPS", sdk::param_frame_rate, sdk::param_flag_none, fps);

  p.add_group("ADBEVideoTabGroup", "ADBEVideoCodecGroup", u"Video Codec");
  p.add_integer("ADBEVideoCodecGroup", "ADBEVideoCodec", 1);
  p.add_checkbox("ADBEVideoCodecGroup", "CheckboxPremult", 1);
  p.add_checkbox("ADBEVideoCodecGroup", "CheckboxSnappy", 1);
  p.add_integer("ADBEVideoCodecGroup", "SliderChunkCount", 8, sdk::param_flag_slider, 1, 64);
  p.add_integer("ADBEVideoCodecGroup", "ComboboxQuality", 0);
  p.add_checkbox("ADBEVideoCodecGroup", "checkboxFrameThreading", 1);

  p.add_group("ADBEVideoTabGroup", "MetadataGroup", u"Metadata");
  p.add_checkbox("MetadataGroup", "CheckboxTcMetadata", 0);

  p.add_group("ADBEVideoTabGroup", "infoGroup", u"Informations");
  p.add("infoGroup", "idVersion", sdk::param_string, sdk::param_flag_read_only, sdk::Param_Values{});

  p.add_group("ADBETopParamGroup", "ADBEAudioTabGroup", u"Top-level audio param group");
  p.add_group("ADBEAudioTabGroup", "ADBEBasicAudioGroup", u"Audio settings");
  p.add_integer("ADBEBasicAudioGroup", "AudioSampleRate", 48000);
  p.add_integer("ADBEBasicAudioGroup", "AudioQUANTIF", 1);
  p.add_integer("ADBEBasicAudioGroup", "AudioChannels", 1);
  p.add_integer("ADBEBasicAudioGroup", "AudioOrders", 0);

  instance.export_param->set_params_version(rec->plugin_id, 5);
  return sdk::result_ok;
}

int32_t post_process_params(sdk::Std_Params*, sdk::Post_Process_Params_Rec* rec) {
  const Exporter_Instance& instance = instance_in(rec->private_data);
  if (!instance.export_param || !instance.time) return sdk::result_out_of_memory;
  sdk::Ticks t = 0;
  instance.time->get_ticks_per_second(&t);
  const Param_Access p{*instance.export_param, rec->plugin_id, 0};

  p.set_name("ADBEVideoCodecGroup", u"Video Codec");
  p.set_name("ADBEVideoCodec", u"Codec");
  instance.export_param->set_param_description(rec->plugin_id, 0, "ADBEVideoCodec",
                                               u"The video codec to be used for encode.");
  p.set_name("ADBEBasicVideoGroup", u"General Settings");
  p.set_name("ADBEVideoWidth", u"Width");
  p.set_name("ADBEVideoHeight", u"Height");
  p.set_name("ADBEVideoAspect", u"Pixel Aspect Ratio");
  p.set_name("ADBEVideoFPS", u"Frame Rate (fps)");
  p.set_name("CheckboxPremult", u"Use premultiply alpha");
  p.set_name("CheckboxSnappy", u"Use snappy compression");
  p.set_name("SliderChunkCount", u"Chunks count");
  p.set_name("ComboboxQuality", u"Speed/Quality");
  p.set_name("checkboxFrameThreading", u"Encode multiple frames simultaneously");
  p.set_name("MetadataGroup", u"Metadata");
  p.set_name("CheckboxTcMetadata", u"Write timecode");
  p.set_name("idVersion", u"Version");

  sdk::Param_Values version{};
  copy_wide_string(version_text, version.text);
  p.change("idVersion", version);

  p.set_list("ADBEVideoAspect", {{ratio(1, 1), u"Square pixels (1.0)"},
                                 {ratio(10, 11), u"D1/DV NTSC (0.9091)"},
                                 {ratio(40, 33), u"D1/DV NTSC Widescreen 16:9 (1.2121)"},
                                 {ratio(768, 702), u"D1/DV PAL (1.0940)"},
                                 {ratio(1024, 702), u"D1/DV PAL Widescreen 16:9 (1.4587)"},
                                 {ratio(2, 1), u"Anamorphic 2:1 (2.0)"},
                                 {ratio(4, 3), u"HD Anamorphic 1080 (1.3333)"},
                                 {ratio(3, 2), u"DVCPRO HD (1.5)"}});
  p.set_list("ADBEVideoFPS", {{frame_duration(t, 10, 1), u"10"},
                              {frame_duration(t, 15, 1), u"15"},
                              {frame_duration(t, 24000, 1001), u"23.976"},
                              {frame_duration(t, 24, 1), u"24"},
                              {frame_duration(t, 25, 1), u"25 (PAL)"},
                              {frame_duration(t, 30000, 1001), u"29.97 (NTSC)"},
                              {frame_duration(t, 30, 1), u"30"},
                              {frame_duration(t, 50, 1), u"50"},
                              {frame_duration(t, 60000, 1001), u"59.94"},
                              {frame_duration(t, 60, 1), u"60"}});
  p.set_list("ADBEVideoCodec", {{integer(1), u"HAP"},
                                {integer(2), u"HAPA"},
                                {integer(3), u"HAPQ"},
                                {integer(4), u"HAPQA"},
                                {integer(5), u"HAP AlphaOnly (Luma)"},
                                {integer(6), u"HAP AlphaOnly (Alpha)"},
                                {integer(7), u"HAPR (RGB)"},
                                {integer(8), u"HAPR (RGBA)"}});
  p.set_list("ComboboxQuality", {{integer(0), u"Fast"}, {integer(1), u"Normal"}, {integer(2), u"Slow"}});

  sdk::Param_Values chunks = p.get("SliderChunkCount");
  chunks.range_min.integer = 1;
  chunks.range_max.integer = 64;
  chunks.disabled = 0;
  p.change("SliderChunkCount", chunks);

  p.set_name("ADBEBasicAudioGroup", u"Audio settings");
  p.set_name("AudioSampleRate", u"Sample rate");
  p.set_list("AudioSampleRate", {{integer(8000), u"8000 Hz"},
                                 {integer(16000), u"16000 Hz"},
                                 {integer(32000), u"32000 Hz"},
                                 {integer(44100), u"44100 Hz"},
                                 {integer(48000), u"48000 Hz"},
                                 {integer(88200), u"88200 Hz"},
                                 {integer(96000), u"96000 Hz"}});
  p.set_name("AudioQUANTIF", u"Quantification");
  p.set_list(
      "AudioQUANTIF",
      {{integer(1), u"16 bits"}, {integer(2), u"24 bits"}, {integer(3), u"32 bits"}, {integer(4), u"32 bits float"}});
  p.set_name("AudioChannels", u"Channels");
  p.set_list("AudioChannels", {{integer(0), u"Mono"}, {integer(1), u"Stereo"}, {integer(2), u"5.1"}});
  p.set_name("AudioOrders", u"Channels order");
  p.set_list("AudioOrders", {{integer(0), u"L, R, C, Lfe, Ls, Rs"},
                             {integer(1), u"L, R, Ls, Rs, C, Lfe"},
                             {integer(2), u"L, C, R, Ls, Rs, Lfe"}});
  return sdk::result_ok;
}

int32_t validate_param_changed(sdk::Std_Params*, sdk::Validate_Param_Changed_Rec* rec) {
  const Exporter_Instance& instance = instance_in(rec->private_data);
  if (!instance.export_param) return sdk::result_out_of_memory;
  const Param_Access p{*instance.export_param, rec->plugin_id, rec->group_index};
  p.enable("SliderChunkCount", p.get("CheckboxSnappy").value.integer == 1);
  const int32_t codec = p.get("ADBEVideoCodec").value.integer;
  p.enable("ComboboxQuality", codec == 1 || codec == 2 || codec == 3 || codec == 4 || codec == 7 || codec == 8);
  p.enable("CheckboxPremult", codec == 2 || codec == 4 || codec == 8);
  p.enable("AudioOrders", p.get("AudioChannels").value.integer == 2);
  return sdk::result_ok;
}

int32_t get_param_summary(sdk::Std_Params*, sdk::Param_Summary_Rec* rec) {
  const Exporter_Instance& instance = instance_in(rec->private_data);
  if (!instance.export_param) return sdk::result_ok;
  if (!instance.time) return sdk::result_out_of_memory;
  const Param_Access p{*instance.export_param, rec->plugin_id, 0};
  const int32_t width = p.get("ADBEVideoWidth").value.integer;
  const int32_t height = p.get("ADBEVideoHeight").value.integer;
  const sdk::Ticks duration = p.get("ADBEVideoFPS").value.time;
  const sdk::Ratio par = p.get("ADBEVideoAspect").value.ratio;
  const int32_t sample_rate = p.get("AudioSampleRate").value.integer;
  const int32_t channels = p.get("AudioChannels").value.integer;
  const int32_t codec = p.get("ADBEVideoCodec").value.integer;
  const int32_t quality = p.get("ComboboxQuality").value.integer;
  const bool snappy = p.get("CheckboxSnappy").value.integer == 1;
  const int32_t chunks = p.get("SliderChunkCount").value.integer;
  const int32_t quantification = p.get("AudioQUANTIF").value.integer;
  const int32_t order = p.get("AudioOrders").value.integer;
  sdk::Ticks ticks_per_second = 0;
  instance.time->get_ticks_per_second(&ticks_per_second);

  const char* codec_name = summary_codec_name(codec);
  const bool has_quality = codec != 5 && codec != 6;
  const char* quality_name = summary_quality_name(quality);
  const double fps = static_cast<float>(ticks_per_second) / static_cast<float>(duration);
  const double par_value = static_cast<float>(par.numerator) / static_cast<float>(par.denominator);

  char16_t video[sdk::text_field_length] = {};
  constexpr size_t n = sdk::text_field_length;
  if (snappy && has_quality)
    format_wide_string(video, n, u"%ix%i, %.2f fps, %.4f PAR, %hs, %hs, Chunks %i", width, height, fps, par_value,
                       codec_name, quality_name, chunks);
  else if (snappy)
    format_wide_string(video, n, u"%ix%i, %.2f fps, %.4f PAR, %hs, Chunks %i", width, height, fps, par_value,
                       codec_name, chunks);
  else if (has_quality)
    format_wide_string(video, n, u"%ix%i, %.2f fps, %.4f PAR, %hs, Quality %hs, No snappy", width, height, fps,
                       par_value, codec_name, quality_name);
  else
    format_wide_string(video, n, u"%ix%i, %.2f fps, %.4f PAR, %hs, No snappy", width, height, fps, par_value,
                       codec_name);

  char16_t audio[sdk::text_field_length] = {};
  if (rec->export_audio) {
    const char* depth = summary_depth_name(quantification);
    switch (channels) {
      case 0:
        format_wide_string(audio, n, u"PCM %hs, Mono, %i Hz)", depth, sample_rate);
        break;
      case 1:
        format_wide_string(audio, n, u"PCM %hs, Stereo, %i Hz)", depth, sample_rate);
        break;
      case 2:
        format_wide_string(audio, n, u"PCM %hs, 5.1 (%hs), %i Hz)", depth, summary_order_name(order), sample_rate);
        break;
      default:
        copy_wide_string(u"Unknown audio channels", audio);
        break;
    }
  }
  copy_wide_string(video, rec->video_summary);
  copy_wide_string(audio, rec->audio_summary);
  copy_wide_string(u"Bitrate estimation not available", rec->bitrate_summary);
  return sdk::result_ok;
}
