// The stand-in host's video side: the source sequence (a raw file or the
// built-in test pattern), the multi-pass export loop that renders it at the
// export size and rate into bottom-up frames, and the PPix suite.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <future>
#include <stdexcept>
#include <vector>

#include "host/stand_in_host.h"

// A rendered frame as the host hands it out: bottom-up BGRA rows.
struct sdk::Rendered_Frame {
  std::vector<uint8_t> pixels;
  int32_t row_bytes = 0;
};

namespace host {
namespace {

// Rows are padded so the plug-in cannot assume tightly packed frames.
constexpr int32_t row_padding = 64;

// Source frames from the raw file, or the test pattern. While the export
// loop renders one frame, the next one is read on another thread.
class Frame_Source {
 public:
  explicit Frame_Source(const Source_Settings& s) : settings_(s) {
    if (!s.input_path.empty()) {
      file_.open(s.input_path, std::ios::binary);
      if (!file_) throw std::runtime_error("cannot open " + s.input_path);
    }
  }

  // Frame `index` of the source, top-down, tightly packed, valid until the
  // next call; starts making frame `next` unless it is negative.
  const std::vector<uint8_t>& frame(int64_t index, int64_t next) {
    if (index != current_ && index == ahead_) {
      ahead_ = -1;
      pending_.get();
      std::swap(frame_, frame_ahead_);
      current_ = index;
    }
    if (index != current_) {
      drop_ahead();
      current_ = -1;
      make(index, frame_);
      current_ = index;
    }
    if (next >= 0 && next != current_ && next != ahead_) {
      drop_ahead();
      ahead_ = next;
      pending_ = std::async(std::launch::async, [this, next] { make(next, frame_ahead_); });
    }
    return frame_;
  }

 private:
  // Waits for a frame being read ahead that is not wanted; its failure fails no one.
  void drop_ahead() {
    if (!pending_.valid()) return;
    ahead_ = -1;
    try {
      pending_.get();
    } catch (...) {
    }
  }

  // Every byte of the frame is read or drawn, so the buffer is not cleared first.
  void make(int64_t index, std::vector<uint8_t>& buffer) {
    const size_t size = size_t(settings_.width) * size_t(settings_.height) * 4;
    buffer.resize(size);
    if (!file_.is_open()) return render_test_frame(index, settings_.width, settings_.height, buffer.data());
    file_.clear();
    file_.seekg(std::streamoff(index) * std::streamoff(size));
    file_.read(reinterpret_cast<char*>(buffer.data()), std::streamsize(size));
    if (file_.gcount() != std::streamsize(size))
      throw std::runtime_error("source file " + settings_.input_path + " ends before frame " + std::to_string(index));
  }

  const Source_Settings& settings_;
  std::ifstream file_;
  std::vector<uint8_t> frame_, frame_ahead_;
  int64_t current_ = -1, ahead_ = -1;
  std::future<void> pending_;  // making frame_ahead_; declared last so it is waited for first
};

// "frame N/total, X fps" on standard error, rewritten in place a few times a
// second; only when standard error is a terminal.
class Progress_Line {
 public:
  explicit Progress_Line(int64_t total) : total_(total), shown_(isatty(STDERR_FILENO) == 1) {}
  ~Progress_Line() {
    if (printed_) std::fputc('\n', stderr);
  }
  void update(int64_t done) {
    if (!shown_) return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total_ && now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    std::fprintf(stderr, "\rframe %lld/%lld, %.1f fps ", static_cast<long long>(done), static_cast<long long>(total_),
                 seconds > 0 ? done / seconds : 0.0);
    printed_ = true;
  }

 private:
  int64_t total_;
  bool shown_;
  bool printed_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), last_ = start_;
};

sdk::Result export_loop(sdk::Plugin_Id, const sdk::Render_Params* params, int32_t, sdk::Frame_Callback callback,
                        void* private_data) {
  Stand_In_Host& host = Stand_In_Host::active();
  if (!params || !callback || params->size != int32_t(sizeof(sdk::Render_Params))) return host_error;
  if (params->pixel_format != sdk::pixel_format_bgra && params->pixel_format != sdk::pixel_format_bgrp)
    return host_error;
  const Host_Param* width_param = host.params.find("ADBEVideoWidth");
  const Host_Param* height_param = host.params.find("ADBEVideoHeight");
  const Host_Param* fps_param = host.params.find("ADBEVideoFPS");
  if (!width_param || !height_param || !fps_param) return host_error;
  const int width = width_param->values.value.integer, height = height_param->values.value.integer;
  const sdk::Ticks duration = fps_param->values.value.time;
  const sdk::Ticks source_duration = host.source_frame_duration();
  if (width <= 0 || height <= 0 || duration <= 0 || source_duration <= 0) return host_error;
  host.rendered_pixel_format = params->pixel_format;

  const int64_t frame_count = (params->end_time - params->start_time + duration - 1) / duration;
  auto source_index = [&](int64_t frame) {
    const int64_t index = (params->start_time + frame * duration) / source_duration;
    return std::clamp<int64_t>(index, 0, host.source.frame_count - 1);
  };
  Frame_Source source(host.source);
  sdk::Rendered_Frame frame;
  frame.row_bytes = width * 4 + row_padding;
  frame.pixels.assign(size_t(frame.row_bytes) * size_t(height), 0);
  const bool premultiplied = params->pixel_format == sdk::pixel_format_bgrp;
  Progress_Line progress(frame_count);

  for (int64_t n = 0; n < frame_count;) {
    // Export frames showing the same source frame come as one frame with a
    // repeat count, as the host does for held frames.
    uint32_t repeat = 1;
    if (host.faults.repeat_count)
      repeat = host.faults.repeat_count;
    else
      while (n + repeat < frame_count && source_index(n + repeat) == source_index(n)) ++repeat;
    repeat = uint32_t(std::min<int64_t>(repeat, frame_count - n));
    if (const int64_t limit = host.faults.callback_failure_after; limit >= 0) {
      if (host.frames_delivered >= limit) return host_error;
      repeat = uint32_t(std::min<int64_t>(repeat, limit - host.frames_delivered));
    }
    const int64_t next = n + repeat < frame_count ? source_index(n + repeat) : -1;
    render_frame(source.frame(source_index(n), next).data(), host.source.width, host.source.height, premultiplied,
                 width, height, frame.pixels.data(), size_t(frame.row_bytes));
    const sdk::Result result = callback(0, int32_t(n), repeat, &frame, private_data);
    host.last_callback_result = result;
    if (result != sdk::result_ok) return result;
    host.frames_delivered += repeat;
    n += repeat;
    progress.update(n);
  }
  return sdk::result_ok;
}

const sdk::Exporter_Utility_Suite utility_suite_table = {export_loop};

const sdk::PPix_Suite ppix_suite_table = [] {
  sdk::PPix_Suite s{};
  s.get_pixels = [](sdk::Frame_Handle frame, int32_t, char** pixels) {
    if (!frame || !pixels) return host_error;
    *pixels = reinterpret_cast<char*>(frame->pixels.data());
    return sdk::result_ok;
  };
  s.get_row_bytes = [](sdk::Frame_Handle frame, int32_t* row_bytes) {
    if (!frame || !row_bytes) return host_error;
    *row_bytes = Stand_In_Host::active().faults.row_bytes_override.value_or(frame->row_bytes);
    return sdk::result_ok;
  };
  return s;
}();

}  // namespace

const sdk::Exporter_Utility_Suite& exporter_utility_suite() { return utility_suite_table; }
const sdk::PPix_Suite& ppix_suite() { return ppix_suite_table; }

void render_test_frame(int64_t index, int width, int height, uint8_t* bgra) {
  const double t = double(index);
  const double cx = width * (0.5 + 0.3 * std::sin(t * 0.07)), cy = height * (0.5 + 0.3 * std::cos(t * 0.05));
  const double radius = std::max(8.0, std::min(width, height) * 0.25);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = bgra + (size_t(y) * size_t(width) + size_t(x)) * 4;
      const double dx = x - cx, dy = y - cy;
      const bool inside = dx * dx + dy * dy < radius * radius;
      p[0] = uint8_t((x * 255 / std::max(1, width - 1) + index * 3) & 255);
      p[1] = uint8_t((y * 255 / std::max(1, height - 1) + index * 5) & 255);
      p[2] = inside ? uint8_t(255 - p[0] / 2) : uint8_t(((x / 32 + y / 32 + index / 8) & 1) ? 200 : 40);
      p[3] = uint8_t(x * 255 / std::max(1, width - 1));
    }
  }
}

}  // namespace host
