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
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "host/printable.h"
#include "host/stand_in_host.h"
#include "platform/start_thread.h"

namespace host {
namespace {

// Where the export's movie is, for a signal: nowhere yet, in the temporary
// file (which a signal removes), removed with nothing kept, or in place.
enum Stage : int { nothing_staged, staged, removed, in_place };
std::atomic<int> stage{nothing_staged};
static_assert(std::atomic<int>::is_always_lock_free, "read in a signal handler");
// Held while the temporary file is renamed or removed and `stage` changes
// with it, so that a program stopped at once can tell which happened.
std::mutex stage_change;
// Set once a second stop signal is taken, before the program is ended.
std::atomic<bool> abandoning{false};
// The temporary file and the output it replaces: written before `stage`
// leaves nothing_staged, and read only after.
char staged_file[4096];
char output_file[4096];
// What each crash signal did before, done again once the file is gone.
struct sigaction crash_action_before[NSIG];

void arm_removal_on_signal(const std::string& path, const std::string& output) {
  if (path.size() >= sizeof staged_file || output.size() >= sizeof output_file) return;
  std::memcpy(staged_file, path.c_str(), path.size() + 1);
  std::memcpy(output_file, output.c_str(), output.size() + 1);
  stage = staged;
}

void remove_staged_file() {
  if (stage == staged) ::unlink(staged_file);
}

// Removes the temporary file, unless the movie is in place already, and says
// what became of the output: the last line of a program stopped at once.
// Called with stage_change held.
std::string abandon_output(int signal) {
  const std::string why = "; " + interrupted_by(signal);
  switch (stage) {
    case nothing_staged:
      return "no movie was written" + why;
    case in_place:
      return "the movie written was already in place at " + printable(output_file) + why;
    default:
      remove_staged_file();
      return "no movie was written, " + printable(output_file) + " is left as it was" + why;
  }
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
  abandoning = true;
  // Held until the program ends, so that the output stays as said and no
  // other thread prints after the last line (a checking run-time may take a
  // while to end the program).
  stage_change.lock();
  ::flockfile(stdout);
  ::flockfile(stderr);
  std::fprintf(stderr, "hap-export: export abandoned: %s\n", abandon_output(second).c_str());
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

Staged_Output::Staged_Output(const std::string& destination, const struct stat* replaced)
    : destination_(destination), mode_(final_mode(replaced)) {
  if (replaced) {
    owner_ = replaced->st_uid;
    group_ = replaced->st_gid;
  }
  std::string name = staged_path_pattern(destination);
  file_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (file_ < 0)
    throw std::runtime_error("cannot create a temporary file beside " + destination + ": " + std::strerror(errno));
  path_ = name;
  arm_removal_on_signal(path_, std::filesystem::absolute(destination).string());
  // Readable and writable by its owner alone until it holds the movie,
  // whatever the umask: the plug-in opens it again by its path, which a
  // read-only mode would forbid.
  ::fchmod(file_, S_IRUSR | S_IWUSR);
}

Staged_Output::~Staged_Output() {
  if (!committed_) {
    const std::lock_guard lock(stage_change);
    ::unlink(path_.c_str());
    stage = removed;
  }
  ::close(file_);
}

uintmax_t Staged_Output::commit() {
  struct stat written {};
  if (::fstat(file_, &written) != 0)
    throw std::runtime_error("cannot finish the movie " + path_ + ": " + std::strerror(errno));
  // Only root may give a file away; an owner may still give it a group of
  // their own. Before the mode, which a change of owner may clear bits of.
  if (::fchown(file_, owner_, group_) != 0) (void)::fchown(file_, uid_t(-1), group_);
  if (::fchmod(file_, mode_) != 0 || ::fsync(file_) != 0)
    throw std::runtime_error("cannot finish the movie " + path_ + ": " + std::strerror(errno));
  {
    const std::lock_guard lock(stage_change);
    if (::rename(path_.c_str(), destination_.c_str()) != 0)
      throw std::runtime_error("cannot put the movie in place at " + destination_ + ": " + std::strerror(errno));
    stage = in_place;
  }
  committed_ = true;
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

void open_standard_descriptors() {
  // Taken in order, each closed one is the lowest free number when opened.
  for (const int standard : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(standard, F_GETFD) >= 0 || errno != EBADF) continue;
    if (::open("/dev/null", O_RDWR) < 0)
      throw std::runtime_error(std::string("cannot open /dev/null in place of a closed standard descriptor: ") +
                               std::strerror(errno));
  }
}

void let_a_second_signal_end_the_program() {
  if (!abandoning) return;
  // Stop signals are blocked in this thread: this waits for the end.
  for (;;) ::pause();
}

std::string interrupted_by(int signal) {
  return "interrupted by signal " + std::to_string(signal) + " (" + ::strsignal(signal) + ")";
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
    platform::start_thread([&] { return std::thread(watch_stop_signals, stops); }).detach();
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
