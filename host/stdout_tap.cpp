#include "host/stdout_tap.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>

#include "host/printable.h"
#include "host/stand_in_host.h"
#include "platform/start_thread.h"

namespace host {
namespace {

// Enough for every line an export prints; a plug-in that prints more is
// passed on but no longer kept.
constexpr size_t kept_limit = 1 << 20;

// What the plug-in says when the host stops the export as the user asked:
// a failure in its words, when the user only sees the stop they asked for.
bool consequence_of_a_stop(std::string_view line) {
  return interrupt_signal &&
         (line == "Exception : video export failed" || line.starts_with("WARNING : audio stopped at sample "));
}

void write_all(int out, std::string_view text) {
  // Standard output may be gone (a closed pipe): the rest is still read,
  // so the plug-in never blocks on it.
  while (!text.empty()) {
    const ssize_t put = ::write(out, text.data(), text.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    text.remove_prefix(size_t(put));
  }
}

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
  // Passed on a whole line at a time, so that a line can be held back, name
  // the file as the user knows it and be made printable before any of it
  // shows; the plug-in ends its lines.
  std::string line;
  auto pass = [&](const char* end) {
    if (!plugin_name_.empty())
      for (size_t at = 0; (at = line.find(plugin_name_, at)) != std::string::npos; at += user_name_.size())
        line.replace(at, plugin_name_.size(), user_name_);
    if (kept_.size() < kept_limit) kept_ += line + end;
    if (!(*end && consequence_of_a_stop(line))) write_all(out, printable(line) + end);
    line.clear();
  };
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(pipe_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (const char c : std::string_view(buffer, size_t(got))) {
      if (c == '\n')
        pass("\n");
      else if (line += c; line.size() >= kept_limit)
        pass("");  // a line that never ends is passed on in pieces rather than held
    }
  }
  pass("");
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
