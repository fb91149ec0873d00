// The stand-in host's audio side: the sequence audio renderer (the raw audio
// file or the test tone), and the Audio suite's float to integer
// interleaving.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <numbers>
#include <vector>

#include "host/stand_in_host.h"
#include "platform/file_io.h"

namespace host {
namespace {

struct File_Closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using Audio_File = std::unique_ptr<std::FILE, File_Closer>;

struct Renderer {
  int channels = 0;
  int sample_rate = 0;
  int64_t position = 0;  // next sample frame
  // The source audio file, read as the plug-in asks for its samples, so
  // memory does not grow with the file; null for the test tone or no audio.
  Audio_File file;
};

std::map<uint32_t, Renderer> renderers;
uint32_t next_renderer = 1;
int64_t get_audio_calls = 0;

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

Audio_File open_audio_file(const std::string& path) {
  // A folder or a pipe has no samples at an offset (and opening a pipe waits
  // for a writer).
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return nullptr;
  return Audio_File(std::fopen(path.c_str(), "rbe"));
}

// Reads `frames` sample frames from the renderer's position in its file into
// the channel buffers, a bounded run at a time whatever the plug-in asks for;
// past the end of the file is silence. False on a read error.
bool read_file_samples(Renderer& r, uint32_t frames, float** channels) {
  constexpr uint32_t run_frames = 4096;
  const size_t channel_count = size_t(r.channels);
  std::vector<float> run(std::min(frames, run_frames) * channel_count);
  if (platform::file_seek64(r.file.get(), r.position * r.channels * int64_t(sizeof(float)), SEEK_SET) != 0)
    return false;
  for (uint32_t done = 0; done < frames;) {
    const uint32_t count = std::min(frames - done, run_frames);
    const size_t wanted = count * channel_count;
    const size_t got = std::fread(run.data(), sizeof(float), wanted, r.file.get());
    if (got < wanted && std::ferror(r.file.get())) return false;
    std::fill(run.begin() + got, run.begin() + wanted, 0.0f);
    for (uint32_t f = 0; f < count; ++f)
      for (size_t c = 0; c < channel_count; ++c) channels[c][done + f] = run[f * channel_count + c];
    done += count;
  }
  return true;
}

sdk::Result make_renderer(sdk::Plugin_Id, sdk::Ticks start, int32_t channel_type, int32_t sample_type, float rate,
                          uint32_t* renderer) {
  Stand_In_Host& host = Stand_In_Host::active();
  const int channels = channels_of(channel_type);
  if (!renderer || channels == 0 || sample_type != sdk::sample_type_float32 || !(rate >= 1)) return host_error;
  Audio_File file;
  if (host.source.audio && !host.source.audio_path.empty()) {
    file = open_audio_file(host.source.audio_path);
    if (!file) return host_error;
  }
  const int sample_rate = int(rate);
  const int64_t start_frame = start * sample_rate / ticks_per_second;
  *renderer = next_renderer++;
  renderers[*renderer] = {channels, sample_rate, start_frame, std::move(file)};
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
  if (r.file) {
    if (!read_file_samples(r, frames, channels)) return host_error;
  } else {
    for (uint32_t f = 0; f < frames; ++f)
      for (int c = 0; c < r.channels; ++c)
        channels[c][f] = host.source.audio ? test_tone_sample(r.position + f, c, r.sample_rate) : 0.0f;
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
