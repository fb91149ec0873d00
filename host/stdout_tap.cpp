#include "host/stdout_tap.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string_view>
#include <system_error>

namespace host {
namespace {

// Enough for every line an export prints; a plug-in that prints more is
// passed on but no longer kept.
constexpr size_t kept_limit = 1 << 20;

}  // namespace

Stdout_Tap::Stdout_Tap() {
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
    reader_ = std::thread([this, out = saved_stdout_] { pass_on(out); });
  } catch (const std::system_error&) {
    stop();
  }
}

void Stdout_Tap::pass_on(int out) {
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(pipe_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;
    if (kept_.size() < kept_limit) kept_.append(buffer, size_t(got));
    // Standard output may be gone (a closed pipe): the rest is still read,
    // so the plug-in never blocks on it.
    for (ssize_t at = 0; at < got;) {
      const ssize_t put = ::write(out, buffer + at, size_t(got - at));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) break;
      at += put;
    }
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
  constexpr std::string_view reason_head = "Reason : ";
  for (const std::string& reason : lines) {
    if (!reason.starts_with(reason_head)) continue;
    // The reason may repeat a line that said more ("Error file write", after
    // "Error file write : File too large").
    const std::string said = reason.substr(reason_head.size());
    for (const std::string& line : lines)
      if (line.starts_with(said + " : ")) return line;
    return said;
  }
  for (const std::string& line : lines)
    if (!line.starts_with("Quality : ") && !line.starts_with("Timecode : ") && !line.starts_with("WARNING") &&
        !line.starts_with("Warning"))
      return line;
  return "";
}

}  // namespace host
