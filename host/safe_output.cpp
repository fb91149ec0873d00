#include "host/safe_output.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "host/stand_in_host.h"

namespace host {
namespace {

// The temporary file a signal removes: the path is written before
// `staged_armed` is set, and is read only while it is set.
char staged_file[4096];
std::atomic<bool> staged_armed{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read in a signal handler");
// What each crash signal did before, done again once the file is gone.
struct sigaction crash_action_before[NSIG];

void arm_removal_on_signal(const std::string& path) {
  if (path.size() >= sizeof staged_file) return;
  std::memcpy(staged_file, path.c_str(), path.size() + 1);
  staged_armed = true;
}

void remove_staged_file() {
  if (staged_armed) ::unlink(staged_file);
}

// The next of `signals` sent to the program.
int next_signal(const sigset_t& signals) {
  int signal = 0;
  while (::sigwait(&signals, &signal) != 0) {
  }
  return signal;
}

// The stop signals are blocked in every thread and taken here, one at a time,
// in ordinary code: a handler would run on whichever thread the signal finds.
void watch_stop_signals(sigset_t signals) {
  interrupt_signal = next_signal(signals);
  // The frames in flight take seconds to finish at large sizes: say why
  // nothing seems to happen.
  std::fputs("\nhap-export: stopping once the frames in flight are written; Ctrl-C again abandons the export\n",
             stderr);
  const int second = next_signal(signals);
  remove_staged_file();
  ::_exit(128 + second);
}

void on_crash_signal(int signal, siginfo_t* info, void*) {
  remove_staged_file();
  ::sigaction(signal, &crash_action_before[signal], nullptr);
  // A signal sent (by kill or abort) is sent again, to the action restored;
  // a fault comes again by itself when the faulting instruction is retried.
  if (info->si_code <= 0) ::raise(signal);
}

bool ignored_at_start(int signal) {
  struct sigaction action {};
  ::sigaction(signal, nullptr, &action);
  return !(action.sa_flags & SA_SIGINFO) && action.sa_handler == SIG_IGN;
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

std::string link_target(const std::string& path) {
  namespace fs = std::filesystem;
  fs::path at = path;
  // As many links as the system follows in one path.
  for (int links = 0; links < 40; ++links) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(at, error))) return at.string();
    const fs::path next = fs::read_symlink(at, error);
    if (error) throw std::runtime_error("cannot read the link " + at.string() + ": " + error.message());
    at = next.is_absolute() ? next : at.parent_path() / next;
  }
  throw std::runtime_error("too many levels of symbolic links from " + path);
}

mode_t final_mode(const struct stat* replaced) {
  if (replaced) return replaced->st_mode & ~(S_IFMT | S_ISUID | S_ISGID);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

Staged_Output::Staged_Output(const std::string& destination, mode_t mode) : destination_(destination), mode_(mode) {
  std::string name = staged_path_pattern(destination);
  file_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (file_ < 0)
    throw std::runtime_error("cannot create a temporary file beside " + destination + ": " + std::strerror(errno));
  path_ = name;
  arm_removal_on_signal(path_);
  // Readable and writable by its owner alone until it holds the movie,
  // whatever the umask: the plug-in opens it again by its path, which a
  // read-only mode would forbid.
  ::fchmod(file_, S_IRUSR | S_IWUSR);
}

Staged_Output::~Staged_Output() {
  if (!committed_) {
    ::unlink(path_.c_str());
    staged_armed = false;
  }
  ::close(file_);
}

uintmax_t Staged_Output::commit() {
  struct stat written {};
  if (::fstat(file_, &written) != 0 || ::fchmod(file_, mode_) != 0 || ::fsync(file_) != 0)
    throw std::runtime_error("cannot finish the movie " + path_ + ": " + std::strerror(errno));
  // A second signal racing with this either finds the file gone (harmless) or
  // removes it first, so the rename fails and the output stays as it was.
  if (::rename(path_.c_str(), destination_.c_str()) != 0)
    throw std::runtime_error("cannot put the movie in place at " + destination_ + ": " + std::strerror(errno));
  committed_ = true;
  staged_armed = false;
  // The rename reaches the disk with the folder. The movie is in place
  // whatever this says: some file systems cannot sync a folder.
  const std::string folder = std::filesystem::path(destination_).parent_path().string();
  const int folder_file = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_file >= 0) {
    ::fsync(folder_file);
    ::close(folder_file);
  }
  return uintmax_t(written.st_size);
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

void install_signal_handlers() {
  for (const int signal : {SIGPIPE, SIGXFSZ}) ::signal(signal, SIG_IGN);
  std::vector<int> stop_signals = {SIGINT,  SIGTERM,   SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2,
                                   SIGALRM, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSTKFLT};
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) stop_signals.push_back(signal);
  sigset_t stops;
  sigemptyset(&stops);
  for (const int signal : stop_signals)
    if (!ignored_at_start(signal)) sigaddset(&stops, signal);
  // Blocked before any other thread starts, so every thread inherits it.
  ::pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  try {
    std::thread(watch_stop_signals, stops).detach();
  } catch (const std::system_error& e) {
    throw std::runtime_error(std::string("cannot start the thread that takes the signals: ") + e.what());
  }
  struct sigaction crash {};
  crash.sa_sigaction = on_crash_signal;
  crash.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&crash.sa_mask);
  for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS, SIGTRAP})
    if (!ignored_at_start(signal)) ::sigaction(signal, &crash, &crash_action_before[signal]);
}

}  // namespace host
