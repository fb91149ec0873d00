#include "host/stdout_tap.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iostream>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>

#include "platform/start_thread.h"

namespace host {
namespace {

// Enough for every line an export prints; a plug-in that prints more is
// passed on but no longer kept.
constexpr size_t kept_limit = 1 << 20;

}  // namespace

Stdout_Tap::Stdout_Tap(std::string plugin_name, std::string user_name)
    : plugin_name_(std::move(plugin_name)), user_name_(std::move(user_name)) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return;
  std::cout.flush();
  std::fflush(stdout);
  saved_stdout_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  if (saved_stdout_ < 0 || ::dup2(ends[1], STDOUT_FILENO) < 0) {
    ::close(ends[0]);
    ::close(ends[1]);
    if (saved_stdout_ >= 0) ::close(saved_stdout_);
    saved_stdout_ = -1;
    return;
  }
  ::close(ends[1]);
  pipe_ = ends[0];
  try {
    reader_ = platform::start_thread([this] { return std::thread([this, out = saved_stdout_] { pass_on(out); }); });
  } catch (...) {
    stop();
    throw;
  }
}

void Stdout_Tap::pass_on(int out) {
  char buffer[4096];
  // Read and not yet passed on: the start of a name to be shown otherwise
  // waits for the rest of it.
  std::string text;
  for (;;) {
    const ssize_t got = ::read(pipe_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    const bool ended = got <= 0;
    if (!ended) text.append(buffer, size_t(got));
    size_t held = 0;
    if (!plugin_name_.empty()) {
      for (size_t at = 0; (at = text.find(plugin_name_, at)) != std::string::npos; at += user_name_.size())
        text.replace(at, plugin_name_.size(), user_name_);
      for (size_t start = std::min(text.size(), plugin_name_.size() - 1); start > 0 && !ended; --start)
        if (text.ends_with(std::string_view(plugin_name_).substr(0, start))) {
          held = start;
          break;
        }
    }
    const size_t passing = text.size() - held;
    if (kept_.size() < kept_limit) kept_.append(text, 0, passing);
    // Standard output may be gone (a closed pipe): the rest is still read,
    // so the plug-in never blocks on it.
    for (size_t at = 0; at < passing;) {
      const ssize_t put = ::write(out, text.data() + at, passing - at);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) break;
      at += size_t(put);
    }
    text.erase(0, passing);
    if (ended) return;
  }
}

std::vector<std::string> Stdout_Tap::stop() {
  if (saved_stdout_ < 0) return {};
  std::cout.flush();
  std::fflush(stdout);
  // Once standard output is back, no writing end of the pipe is left: the
  // reader sees its end after the last line.
  ::dup2(saved_stdout_, STDOUT_FILENO);
  if (reader_.joinable()) reader_.join();
  ::close(pipe_);
  ::close(saved_stdout_);
  saved_stdout_ = -1;
  std::vector<std::string> lines;
  std::istringstream text(kept_);
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

std::string failure_cause(const std::vector<std::string>& lines) {
  // A reason as the line that said more about it, when one did ("Error file
  // write : File too large" for "Error file write").
  auto fullest = [&](std::string_view reason) -> std::optional<std::string> {
    for (const std::string& line : lines)
      if (line.starts_with(reason) && line.substr(reason.size()).starts_with(" : ")) return line;
    return std::nullopt;
  };
  constexpr std::string_view reason_head = "Reason : ", setup_head = "Runtime error init";
  for (const std::string& line : lines) {
    if (line.starts_with(reason_head)) {
      const std::string_view reason = std::string_view(line).substr(reason_head.size());
      return fullest(reason).value_or(std::string(reason));
    }
    // The set-up's summary repeats the failing step's own words, which may
    // say less than a line the step printed first ("fail to init cpu
    // encoding" after "ERR : out of memory"): only its fuller form counts.
    if (line.starts_with(setup_head)) {
      if (auto said = fullest(std::string_view(line).substr(setup_head.size()))) return *said;
    }
  }
  for (const std::string& line : lines)
    if (!line.starts_with("Quality : ") && !line.starts_with("Timecode : ") && !line.starts_with("WARNING") &&
        !line.starts_with("Warning"))
      return line;
  return "";
}

}  // namespace host
