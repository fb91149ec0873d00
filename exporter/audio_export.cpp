// The audio of one export: rendered by the host as float blocks, converted to
// the chosen PCM format and channel order, and handed to the encoder front.
#include <algorithm>
#include <iostream>
#include <new>
#include <stdexcept>
#include <vector>

#include "HAP/hap_encoder.h"
#include "exporter/exporter.h"

namespace {

// Host 5.1 buffers come as L, R, C, Lfe, Ls, Rs; output channel c of each
// order takes host buffer order_table[order][c].
constexpr int order_table[3][6] = {{0, 1, 2, 3, 4, 5}, {0, 1, 4, 5, 2, 3}, {0, 2, 1, 4, 5, 3}};
constexpr int max_channels = 6;

// Memory-manager blocks of the audio export, freed however it ends.
class Host_Blocks {
 public:
  explicit Host_Blocks(const sdk::Memory_Suite& memory) : memory_(memory) {}
  ~Host_Blocks() {
    for (void* block : blocks_) memory_.free_block(block);
  }
  template <class T>
  T* allocate(int64_t bytes) {
    void* block = bytes > 0 && bytes <= INT32_MAX ? memory_.allocate_cleared(int32_t(bytes)) : nullptr;
    if (!block) throw std::bad_alloc();
    blocks_.push_back(block);
    return static_cast<T*>(block);
  }

 private:
  const sdk::Memory_Suite& memory_;
  std::vector<void*> blocks_;
};

struct Renderer_Guard {
  const sdk::Sequence_Audio_Suite& suite;
  sdk::Plugin_Id id;
  uint32_t renderer;
  ~Renderer_Guard() { suite.release_audio_renderer(id, renderer); }
};

void set_progress_text(const Exporter_Instance& instance, sdk::Plugin_Id id, const char16_t* text) {
  if (instance.export_progress) instance.export_progress->set_progress_text(id, text);
}

}  // namespace

Audio_Settings audio_settings_from(int32_t sample_rate, int32_t channels, int32_t order, int32_t quantification) {
  Audio_Settings s;
  s.sample_rate = uint32_t(sample_rate);
  switch (channels) {
    case 0:
      s.channels = 1;
      s.channel_type = sdk::channel_type_mono;
      break;
    case 2:
      s.channels = 6;
      s.channel_type = sdk::channel_type_5_1;
      s.channel_layout = order == 1 ? 2 : order == 2 ? 3 : 1;
      s.order = order == 1 || order == 2 ? order : 0;
      break;
    default:
      break;
  }
  switch (quantification) {
    case 2:
      s.bits_per_sample = 24;
      break;
    case 3:
      s.bits_per_sample = 32;
      break;
    case 4:
      s.bits_per_sample = 32;
      s.is_float = 1;
      break;
    default:
      break;
  }
  return s;
}

void export_audio(const Exporter_Instance& instance, const sdk::Do_Export_Rec& rec, const Audio_Settings& settings,
                  sdk::Ticks frame_duration, Hap_Encoder& encoder) {
  const sdk::Plugin_Id id = rec.plugin_id;
  const sdk::Sequence_Audio_Suite& sequence_audio = *instance.sequence_audio;
  if (settings.channels == 0 || settings.channels > max_channels)
    throw std::runtime_error("Not supported channel count");
  if (settings.order != 0 && settings.channels != 6) throw std::runtime_error("invalid 51 mode");

  uint32_t renderer = 0;
  sequence_audio.make_audio_renderer(id, rec.start_time, settings.channel_type, sdk::sample_type_float32,
                                     float(settings.sample_rate), &renderer);
  Renderer_Guard renderer_guard{sequence_audio, id, renderer};

  sdk::Ticks ticks_per_sample = 0;
  instance.time->get_ticks_per_audio_sample(float(settings.sample_rate), &ticks_per_sample);
  if (ticks_per_sample < 1) throw std::runtime_error("Invalid audio sample duration");
  const int64_t total = std::max<int64_t>(0, (rec.end_time - rec.start_time) / ticks_per_sample);

  const int64_t second = settings.sample_rate;
  const int64_t interleaved_bytes = int64_t(settings.bits_per_sample) * second * settings.channels / 8;
  Host_Blocks blocks(*instance.memory);
  auto* interleaved = blocks.allocate<uint8_t>(interleaved_bytes);
  // The host fills `channels` in its order; `ordered` lists the same buffers in
  // the output order, so interleaving also reorders.
  float* channels[max_channels] = {};
  float* ordered[max_channels] = {};
  for (uint32_t c = 0; c < settings.channels; ++c) channels[c] = blocks.allocate<float>(second * 4);
  for (uint32_t c = 0; c < settings.channels; ++c) ordered[c] = channels[order_table[settings.order][c]];

  set_progress_text(instance, id, u"Processing audio...");
  int64_t done = 0;
  for (int64_t remaining = total; remaining > 0;) {
    int32_t largest = 0;
    sequence_audio.get_max_block_size(renderer, frame_duration, &largest);
    if (largest < 1) {
      std::cout << "WARNING : invalid audio block size : " << largest << std::endl;
      largest = int32_t(second);
    }
    const int64_t block = std::min({int64_t(largest), second, remaining});
    if (sequence_audio.get_audio(renderer, uint32_t(block), channels, 0) != sdk::result_ok) {
      std::cout << "WARNING : audio stopped at sample " << done << " of " << total << ", the rest is silent"
                << std::endl;
      break;
    }
    const int32_t channel_count = int32_t(settings.channels), frames = int32_t(block);
    if (settings.is_float) {
      auto* out = reinterpret_cast<float*>(interleaved);
      for (int64_t f = 0; f < block; ++f)
        for (int c = 0; c < channel_count; ++c) out[f * channel_count + c] = ordered[c][f];
    } else if (settings.bits_per_sample == 16) {
      instance.audio->interleave_to_16(ordered, interleaved, channel_count, frames);
    } else if (settings.bits_per_sample == 24) {
      instance.audio->interleave_to_24(ordered, interleaved, channel_count, frames);
    } else {
      instance.audio->interleave_to_32(ordered, interleaved, channel_count, frames);
    }
    encoder.add_audio(interleaved, block, 0);
    done += block;
    remaining -= block;
    if (instance.export_progress) instance.export_progress->update_progress(id, float(done) / float(total));
  }
  set_progress_text(instance, id, u"");
}
