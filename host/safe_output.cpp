#include "host/safe_output.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "host/stand_in_host.h"

namespace host {
namespace {

// Read by the signal handler: a plain buffer, since nothing else is safe there.
char removed_on_second_signal[4096];
// Counted atomically: two signals may be handled at once on two threads.
std::atomic<int> signals_seen{0};
static_assert(std::atomic<int>::is_always_lock_free, "used in a signal handler");

void on_interrupt(int signal) {
  if (signals_seen.fetch_add(1) == 0) {
    interrupt_signal = signal;
    return;
  }
  if (removed_on_second_signal[0]) ::unlink(removed_on_second_signal);
  ::_exit(128 + signal);
}

uint64_t be(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
  return v;
}

}  // namespace

std::string staged_path_pattern(const std::string& destination) {
  const std::filesystem::path folder = std::filesystem::path(destination).parent_path();
  return folder.empty() ? staged_file_pattern : (folder / staged_file_pattern).string();
}

Staged_Output::Staged_Output(const std::string& destination, const struct stat* replaced)
    : destination_(destination) {
  std::string name = staged_path_pattern(destination);
  const int fd = ::mkstemp(name.data());
  if (fd < 0)
    throw std::runtime_error("cannot create a temporary file beside " + destination + ": " + std::strerror(errno));
  path_ = name;
  set_file_removed_on_second_signal(path_);
  mode_t mode = 0;
  if (replaced) {
    mode = replaced->st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);
  ::close(fd);
}

Staged_Output::~Staged_Output() {
  if (committed_) return;
  ::unlink(path_.c_str());
  set_file_removed_on_second_signal("");
}

void Staged_Output::commit() {
  // A second signal racing with this either finds the file gone (harmless) or
  // removes it first, so the rename fails and the output stays as it was.
  if (::rename(path_.c_str(), destination_.c_str()) != 0)
    throw std::runtime_error("cannot put the movie in place at " + destination_ + ": " + std::strerror(errno));
  committed_ = true;
  set_file_removed_on_second_signal("");
}

bool is_finished_movie(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  const uint64_t size = uint64_t(std::streamoff(in.tellg()));
  bool media = false, header = false;
  uint64_t at = 0;
  for (bool first = true; at < size; first = false) {
    uint8_t head[16];
    in.seekg(std::streamoff(at));
    if (!in.read(reinterpret_cast<char*>(head), 8)) return false;
    const std::string type(head + 4, head + 8);
    uint64_t atom = be(head, 4);
    // Size 1: a 64-bit size follows. 0 ("to the end of the file") is what a
    // media-data atom that was never patched reads as.
    if (atom == 1) {
      if (!in.read(reinterpret_cast<char*>(head + 8), 8)) return false;
      atom = be(head + 8, 8);
      if (atom < 16) return false;
    } else if (atom < 8) {
      return false;
    }
    if ((first && type != "ftyp") || atom > size - at) return false;
    media |= type == "mdat";
    header |= type == "moov";
    at += atom;
  }
  return at == size && media && header;
}

void install_interrupt_handlers() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

void set_file_removed_on_second_signal(const std::string& path) {
  // The handler may run meanwhile: the first byte goes last.
  removed_on_second_signal[0] = 0;
  if (path.size() >= sizeof removed_on_second_signal) return;
  std::memcpy(removed_on_second_signal + 1, path.c_str() + 1, path.size());
  removed_on_second_signal[0] = path.empty() ? 0 : path[0];
}

}  // namespace host
