// The stand-in host's video side: the source sequence (a raw file or the
// built-in test pattern), the multi-pass export loop that renders it at the
// export size and rate into bottom-up frames, and the PPix suite.
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <span>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "host/stand_in_host.h"
#include "platform/parallel_for.h"

// A rendered frame as the host hands it out: bottom-up BGRA rows.
struct sdk::Rendered_Frame {
  std::vector<uint8_t> pixels;
  int32_t row_bytes = 0;
};

namespace host {
namespace {

// Rows are padded so the plug-in cannot assume tightly packed frames.
constexpr int32_t row_padding = 64;

// Reads `bytes` at `offset` of the file into the places `pieces` gives, in
// order; false when the file ends first.
bool read_fully(int file, iovec* pieces, int piece_count, off_t offset) {
  while (piece_count > 0) {
    const ssize_t got = preadv(file, pieces, piece_count, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    offset += got;
    for (size_t left = size_t(got); left > 0;) {
      const size_t taken = std::min(left, pieces->iov_len);
      pieces->iov_base = static_cast<uint8_t*>(pieces->iov_base) + taken;
      pieces->iov_len -= taken;
      left -= taken;
      if (pieces->iov_len == 0) ++pieces, --piece_count;
    }
  }
  return true;
}

// Runs `work` on a thread of its own. When the system gives no thread (too
// many threads, too little memory), the future is empty and the work is left
// undone: the frame is then made when it is asked for.
template <class Work>
std::future<void> start_async(Work work) {
  try {
    return std::async(std::launch::async, std::move(work));
  } catch (const std::system_error&) {
    return {};
  }
}

// The rendered frames of the export loop. Once the loop has a frame, the next
// one is made on another thread while the plug-in takes the current one. A
// source file at the export size is read straight into the bottom-up rows of
// one of two rendered frames and premultiplied there, so reading overlaps the
// plug-in's copy with no more memory than a source frame and a rendered frame.
// Otherwise the source frame is read or drawn into a source buffer, read ahead
// the same way, and rendered from it.
class Frame_Source {
 public:
  Frame_Source(const Source_Settings& s, int width, int height, bool premultiplied)
      : settings_(s),
        width_(width),
        height_(height),
        premultiplied_(premultiplied),
        direct_(!s.input_path.empty() && width == s.width && height == s.height) {
    if (!s.input_path.empty()) {
      file_ = open(s.input_path.c_str(), O_RDONLY | O_CLOEXEC);
      if (file_ < 0) throw std::runtime_error("cannot open " + s.input_path);
    }
    for (sdk::Rendered_Frame& f : std::span(rendered_, direct_ ? 2 : 1)) {
      f.row_bytes = width * 4 + row_padding;
      f.pixels.assign(size_t(f.row_bytes) * size_t(height), 0);
    }
  }
  ~Frame_Source() {
    if (pending_.valid()) pending_.wait();
    if (file_ >= 0) close(file_);
  }
  Frame_Source(const Frame_Source&) = delete;
  Frame_Source& operator=(const Frame_Source&) = delete;

  // The rendered frame showing source frame `index`.
  sdk::Rendered_Frame& frame(int64_t index) {
    if (pending_.valid()) {
      try {
        pending_.get();
      } catch (...) {
        if (ahead_ == index) throw;  // a frame made ahead and not asked for fails no one
      }
    }
    if (direct_) {
      for (const int b : {1 - current_, current_}) {
        if (shown_[b] == index) return rendered_[current_ = b];
      }
      current_ = 1 - current_;
      read_rendered(current_, index);
      return rendered_[current_];
    }
    if (index != source_index_) make_source(index);
    render_frame(source_.data(), settings_.width, settings_.height, premultiplied_, width_, height_,
                 rendered_[0].pixels.data(), size_t(rendered_[0].row_bytes));
    return rendered_[0];
  }

  // Starts making source frame `index` ahead; the frame returned last is left
  // as it is for the plug-in.
  void read_ahead(int64_t index) {
    if (direct_) {
      const int b = 1 - current_;
      if (shown_[b] == index || shown_[current_] == index) return;
      ahead_ = index;
      pending_ = start_async([this, b, index] { read_rendered(b, index); });
    } else if (index != source_index_) {
      ahead_ = index;
      pending_ = start_async([this, index] { make_source(index); });
    }
  }

 private:
  // Every byte of a frame is read or drawn, so no buffer is cleared first.
  void read_rendered(int b, int64_t index) {
    shown_[b] = -1;
    sdk::Rendered_Frame& f = rendered_[b];
    read_rows(index, f.pixels.data() + size_t(height_ - 1) * size_t(f.row_bytes), -f.row_bytes, premultiplied_);
    shown_[b] = index;
  }

  void make_source(int64_t index) {
    source_index_ = -1;
    source_.resize(size_t(settings_.width) * size_t(settings_.height) * 4);
    if (file_ < 0)
      render_test_frame(index, settings_.width, settings_.height, source_.data());
    else
      read_rows(index, source_.data(), ptrdiff_t(settings_.width) * 4, false);
    source_index_ = index;
  }

  // Reads source frame `index` into rows `stride` bytes apart from `top`, its
  // first row, premultiplying them when asked. A frame is read in bands on
  // several threads: one thread copying a large frame out of the page cache is
  // slower than the rest of the loop.
  void read_rows(int64_t index, uint8_t* top, ptrdiff_t stride, bool premultiply) {
    const int width = settings_.width, height = settings_.height;
    const size_t row = size_t(width) * 4;
    const int64_t bands = (height + band_rows - 1) / band_rows;
    std::atomic<bool> complete = true;
    platform::parallel_for(0, bands, [&](int64_t band) {
      const int first = int(band) * band_rows, last = std::min(height, first + band_rows);
      iovec rows[band_rows];
      for (int y = first; y < last; ++y) rows[y - first] = {top + y * stride, row};
      if (!read_fully(file_, rows, last - first, off_t(index) * off_t(row) * height + off_t(first) * off_t(row)))
        return complete.store(false);
      if (premultiply)
        for (int y = first; y < last; ++y) premultiply_pixels(top + y * stride, top + y * stride, width);
    });
    if (!complete)
      throw std::runtime_error("source file " + settings_.input_path + " ends before frame " + std::to_string(index));
  }

  static constexpr int band_rows = 32;
  const Source_Settings& settings_;
  const int width_, height_;
  const bool premultiplied_;
  const bool direct_;  // a source file at the export size
  int file_ = -1;
  sdk::Rendered_Frame rendered_[2];  // the second only when direct_
  int64_t shown_[2] = {-1, -1};      // direct_: the source frame each rendered frame holds
  int current_ = 0;                  // direct_: the rendered frame returned last
  std::vector<uint8_t> source_;
  int64_t source_index_ = -1;  // the source frame in source_
  int64_t ahead_ = -1;
  std::future<void> pending_;  // making frame ahead_
};

// "frame N/total, X fps" on standard error, rewritten in place a few times a
// second; only when standard error is a terminal. Once the export is asked to
// stop, the line is left as it is: the stop's own message, which begins on a
// new line, ends it.
class Progress_Line {
 public:
  explicit Progress_Line(int64_t total) : total_(total), shown_(isatty(STDERR_FILENO) == 1) {}
  ~Progress_Line() {
    if (printed_ && !interrupt_signal) std::fputc('\n', stderr);
  }
  void update(int64_t done) {
    if (!shown_) return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total_ && now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    // Standard error is held from the test to the print, so the stop's
    // message never comes between them and leaves this line unended.
    ::flockfile(stderr);
    if (!interrupt_signal)
      std::fprintf(stderr, "\rframe %lld/%lld, %.1f fps ", static_cast<long long>(done),
                   static_cast<long long>(total_), seconds > 0 ? done / seconds : 0.0);
    ::funlockfile(stderr);
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
  const bool premultiplied = params->pixel_format == sdk::pixel_format_bgrp;
  Frame_Source source(host.source, width, height, premultiplied);
  Progress_Line progress(frame_count);

  for (int64_t n = 0; n < frame_count;) {
    if (interrupt_signal) return export_cancelled;
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
    sdk::Rendered_Frame& frame = source.frame(source_index(n));
    if (n + repeat < frame_count) source.read_ahead(source_index(n + repeat));
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
  const double radius_squared = radius * radius;
  // The horizontal ramp, once per column.
  std::vector<uint8_t> ramp(static_cast<size_t>(width));
  for (int x = 0; x < width; ++x) ramp[size_t(x)] = uint8_t(x * 255 / std::max(1, width - 1));
  // Rows are drawn on several threads; each pixel depends on its position only.
  platform::parallel_for(0, height, [&](int64_t row) {
    const int y = int(row);
    const uint8_t green = uint8_t((y * 255 / std::max(1, height - 1) + index * 5) & 255);
    const double dy = y - cy, dy_squared = dy * dy;
    uint8_t* p = bgra + size_t(y) * size_t(width) * 4;
    for (int x = 0; x < width; ++x, p += 4) {
      const double dx = x - cx;
      const bool inside = dx * dx + dy_squared < radius_squared;
      p[0] = uint8_t((ramp[size_t(x)] + index * 3) & 255);
      p[1] = green;
      p[2] = inside ? uint8_t(255 - p[0] / 2) : uint8_t(((x / 32 + y / 32 + index / 8) & 1) ? 200 : 40);
      p[3] = ramp[size_t(x)];
    }
  });
}

}  // namespace host
