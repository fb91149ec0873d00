// The stand-in host's audio side: the sequence audio renderer (the raw audio
// file or the test tone), and the Audio suite's float to integer
// interleaving.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <vector>

#include "host/stand_in_host.h"

namespace host {
namespace {

struct Renderer {
  int channels = 0;
  int sample_rate = 0;
  int64_t position = 0;  // next sample frame
};

std::map<uint32_t, Renderer> renderers;
uint32_t next_renderer = 1;
int64_t get_audio_calls = 0;
// The source audio file's interleaved samples, read when a renderer is made.
std::vector<float> file_samples;

int channels_of(int32_t channel_type) {
  switch (channel_type) {
    case sdk::channel_type_mono:
      return 1;
    case sdk::channel_type_stereo:
      return 2;
    case sdk::channel_type_5_1:
      return 6;
    default:
      return 0;
  }
}

bool load_audio_file(const std::string& path) {
  // A folder or a pipe has no size to read (a folder even claims one near 2^63).
  if (!std::filesystem::is_regular_file(path)) return false;
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  const std::streamoff size = in.tellg();
  file_samples.assign(size_t(size) / sizeof(float), 0.0f);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(file_samples.data()), std::streamsize(file_samples.size() * sizeof(float)));
  return bool(in);
}

sdk::Result make_renderer(sdk::Plugin_Id, sdk::Ticks start, int32_t channel_type, int32_t sample_type, float rate,
                          uint32_t* renderer) {
  Stand_In_Host& host = Stand_In_Host::active();
  const int channels = channels_of(channel_type);
  if (!renderer || channels == 0 || sample_type != sdk::sample_type_float32 || !(rate >= 1)) return host_error;
  if (host.source.audio && !host.source.audio_path.empty() && !load_audio_file(host.source.audio_path))
    return host_error;
  const int sample_rate = int(rate);
  const int64_t start_frame = start * sample_rate / ticks_per_second;
  *renderer = next_renderer++;
  renderers[*renderer] = {channels, sample_rate, start_frame};
  get_audio_calls = 0;
  return sdk::result_ok;
}

sdk::Result release_renderer(sdk::Plugin_Id, uint32_t renderer) {
  return renderers.erase(renderer) ? sdk::result_ok : host_error;
}

sdk::Result get_audio(uint32_t id, uint32_t frames, float** channels, int32_t) {
  Stand_In_Host& host = Stand_In_Host::active();
  auto found = renderers.find(id);
  if (found == renderers.end() || !channels) return host_error;
  if (interrupt_signal || (host.faults.audio_failure_after >= 0 && get_audio_calls >= host.faults.audio_failure_after))
    return host_error;
  ++get_audio_calls;
  Renderer& r = found->second;
  const bool from_file = !host.source.audio_path.empty();
  for (uint32_t f = 0; f < frames; ++f) {
    const int64_t frame = r.position + f;
    for (int c = 0; c < r.channels; ++c) {
      float sample = 0.0f;
      if (!host.source.audio) {
        sample = 0.0f;
      } else if (from_file) {
        const size_t at = size_t(frame) * size_t(r.channels) + size_t(c);
        sample = at < file_samples.size() ? file_samples[at] : 0.0f;
      } else {
        sample = test_tone_sample(frame, c, r.sample_rate);
      }
      channels[c][f] = sample;
    }
  }
  r.position += frames;
  host.audio_blocks.push_back(frames);
  return sdk::result_ok;
}

sdk::Result max_block_size(uint32_t id, sdk::Ticks frame_duration, int32_t* frames) {
  auto found = renderers.find(id);
  if (found == renderers.end() || !frames) return host_error;
  if (const auto forced = Stand_In_Host::active().faults.max_audio_block) {
    *frames = *forced;
    return sdk::result_ok;
  }
  // Four video frames of audio, like a host that renders audio alongside the
  // video in small runs.
  const int64_t per_frame = frame_duration > 0
                                ? (frame_duration * found->second.sample_rate + ticks_per_second - 1) / ticks_per_second
                                : 1024;
  *frames = int32_t(std::clamp<int64_t>(per_frame * 4, 1, 1 << 20));
  return sdk::result_ok;
}

const sdk::Sequence_Audio_Suite sequence_audio_table = [] {
  sdk::Sequence_Audio_Suite s{};
  s.make_audio_renderer = make_renderer;
  s.release_audio_renderer = release_renderer;
  s.get_audio = get_audio;
  s.get_max_block_size = max_block_size;
  return s;
}();

template <int Bytes>
sdk::Result interleave(float** channels, void* out, int32_t channel_count, int32_t frames) {
  if (!channels || !out || channel_count <= 0 || frames < 0) return host_error;
  auto* bytes = static_cast<uint8_t*>(out);
  for (int32_t f = 0; f < frames; ++f)
    for (int32_t c = 0; c < channel_count; ++c)
      float_to_pcm(channels[c][f], Bytes, bytes + (size_t(f) * size_t(channel_count) + size_t(c)) * Bytes);
  return sdk::result_ok;
}

const sdk::Audio_Suite audio_table = [] {
  sdk::Audio_Suite s{};
  s.interleave_to_16 = interleave<2>;
  s.interleave_to_24 = interleave<3>;
  s.interleave_to_32 = interleave<4>;
  return s;
}();

}  // namespace

const sdk::Sequence_Audio_Suite& sequence_audio_suite() { return sequence_audio_table; }
const sdk::Audio_Suite& audio_suite() { return audio_table; }

float test_tone_sample(int64_t index, int channel, int sample_rate) {
  // A different pitch per channel, so channel orders can be told apart.
  const double frequency = 220.0 * (channel + 2);
  const double phase = 2.0 * std::numbers::pi * frequency * double(index % sample_rate) / double(sample_rate);
  return float(0.5 * std::sin(phase));
}

void float_to_pcm(float sample, int bytes, uint8_t* out) {
  const double full_scale = std::ldexp(1.0, 8 * bytes - 1);
  double x = std::isnan(sample) ? 0.0 : std::clamp(double(sample), -1.0, 1.0);
  const int64_t value =
      std::clamp<int64_t>(int64_t(std::round(x * full_scale)), int64_t(-full_scale), int64_t(full_scale) - 1);
  for (int i = 0; i < bytes; ++i) out[i] = uint8_t(uint64_t(value) >> (8 * i));
}

}  // namespace host
