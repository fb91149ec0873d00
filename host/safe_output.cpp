#include "host/safe_output.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
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
// The temporary file, by its folder held open and its name there, and the
// output it replaces, as the closing line names it (of any length: the
// absolute name of a deep folder's file passes any fixed buffer). Written
// before `stage` leaves nothing_staged, and read only after; the name of the
// output is never freed, as a signal may come while the program ends.
int staged_folder = -1;
char staged_name[sizeof staged_file_pattern];
const std::string* output_file = nullptr;
// What each crash signal did before, done again once the file is gone.
struct sigaction crash_action_before[NSIG];

void arm_removal_on_signal(int folder, const std::string& name, const std::string& output) {
  staged_folder = folder;
  std::memcpy(staged_name, name.c_str(), sizeof staged_name);
  output_file = new std::string(output);
  stage = staged;
}

void remove_staged_file() {
  if (stage == staged) ::unlinkat(staged_folder, staged_name, 0);
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
      return "the movie written was already in place at " + printable(*output_file) + why;
    default:
      remove_staged_file();
      return "no movie was written, " + printable(*output_file) + " is left as it was" + why;
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

bool is_finished_movie(int file) {
  struct stat status {};
  if (::fstat(file, &status) != 0) return false;
  const uint64_t size = uint64_t(status.st_size);
  auto read_at = [&](uint64_t at, uint8_t* to, size_t bytes) {
    return ::pread(file, to, bytes, off_t(at)) == ssize_t(bytes);
  };
  bool media = false, header = false;
  uint64_t at = 0;
  for (bool first = true; at < size; first = false) {
    uint8_t head[16];
    if (!read_at(at, head, 8)) return false;
    const std::string type(head + 4, head + 8);
    uint64_t atom = be(head, 4);
    // Size 1: a 64-bit size follows. 0 ("to the end of the file") is what a
    // media-data atom that was never patched reads as.
    if (atom == 1) {
      if (!read_at(at + 8, head + 8, 8)) return false;
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

// A folder to work in by descriptor: readable where allowed, so that it can
// be synced, else only as a place (a folder one may write in but not list).
Descriptor open_folder(int base, const std::filesystem::path& folder) {
  const char* path = folder.empty() ? "." : folder.c_str();
  const int file = ::openat(base, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (file >= 0 || errno != EACCES) return Descriptor(file);
  return Descriptor(::openat(base, path, O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// The kernel's rule for links in shared folders, which a link resolved here
// escapes: in a sticky folder anyone may write to, only a link of the user
// following it or of the folder's owner is followed. A folder whose status
// cannot be had counts as shared.
void refuse_a_planted_link(int folder, uid_t link_owner, const std::string& link) {
  struct stat status {};
  const bool shared = ::fstat(folder, &status) != 0 || ((status.st_mode & S_ISVTX) && (status.st_mode & S_IWOTH));
  if (shared && link_owner != ::geteuid() && link_owner != status.st_uid)
    throw Refused_Link("the symbolic link " + link +
                       " is not followed: it is neither yours nor its folder owner's, in a sticky folder anyone "
                       "may write to");
}

std::string read_link(int folder, const std::string& name, const std::string& link) {
  char text[PATH_MAX];  // the longest link the system makes, with a byte to spare
  const ssize_t size = ::readlinkat(folder, name.c_str(), text, sizeof text);
  if (size < 0 || size_t(size) == sizeof text)
    throw std::runtime_error("cannot read the link " + link + ": " + std::strerror(size < 0 ? errno : ENAMETOOLONG));
  return std::string(text, size_t(size));
}

// mkostemp in a folder held open: a new file private to its owner, its name
// the pattern with the X's made unique.
int create_staged_file(int folder, std::string& name) {
  static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  for (int tries = 0; tries < 1000; ++tries) {
    name = staged_file_pattern;
    for (auto x = name.end() - 6; x != name.end(); ++x) *x = letters[random() % (sizeof letters - 1)];
    const int file = ::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (file >= 0 || errno != EEXIST) return file;
  }
  return -1;
}

// A file of the given name in the folder of `destination`, as named from the
// folder the program started in.
std::string beside(const std::string& destination, const std::string& name) {
  const std::filesystem::path folder = std::filesystem::path(destination).parent_path();
  return folder.empty() ? name : (folder / name).string();
}

}  // namespace

std::string staged_path_pattern(const std::string& destination) { return beside(destination, staged_file_pattern); }

Output_Place::Output_Place(const std::string& output) : path_(output) {
  namespace fs = std::filesystem;
  // The file to look at next, named from `base`: a link's text is read from
  // the link's folder.
  fs::path next = output;
  Descriptor base(AT_FDCWD);
  // As many links as the system follows in one path.
  for (int links = 0;; ++links) {
    name_ = next.has_filename() ? next.filename().string() : ".";
    Descriptor folder = open_folder(base.get(), next.parent_path());
    if (folder.get() < 0) {
      folder_error_ = errno;
      return;
    }
    struct stat status {};
    if (::fstatat(folder.get(), name_.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(status.st_mode)) {
      folder_ = std::move(folder);
      return;
    }
    if (links == 40) throw std::runtime_error("too many levels of symbolic links from " + output);
    refuse_a_planted_link(folder.get(), status.st_uid, path_);
    next = read_link(folder.get(), name_, path_);
    path_ = (next.is_absolute() ? next : fs::path(path_).parent_path() / next).string();
    base = std::move(folder);
  }
}

mode_t final_mode(const struct stat* replaced) {
  if (replaced) return replaced->st_mode & ~(S_IFMT | S_ISUID | S_ISGID);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

Staged_Output::Staged_Output(const Output_Place& place, const struct stat* replaced)
    : place_(place), mode_(final_mode(replaced)) {
  if (replaced) {
    owner_ = replaced->st_uid;
    group_ = replaced->st_gid;
  }
  const int folder = place.folder();
  file_ = Descriptor(folder < 0 ? -1 : create_staged_file(folder, name_));
  if (file_.get() < 0)
    throw std::runtime_error("cannot create a temporary file beside " + place.path() + ": " +
                             std::strerror(folder < 0 ? place.folder_error() : errno));
  path_ = beside(place.path(), name_);
  std::error_code error;
  const std::filesystem::path output = std::filesystem::absolute(place.path(), error);
  arm_removal_on_signal(folder, name_, error ? place.path() : output.string());
  // Readable and writable by its owner alone until it holds the movie,
  // whatever the umask: the plug-in opens it again by its name, which a
  // read-only mode would forbid.
  ::fchmod(file_.get(), S_IRUSR | S_IWUSR);
  // The plug-in gets the name through /proc only when the file opens by it
  // here, with /proc there and a descriptor free: else the plug-in's open
  // would fail, and its message show that name, not one the user knows.
  const std::string through_folder = "/proc/self/fd/" + std::to_string(folder) + "/" + name_;
  const Descriptor opened(::open(through_folder.c_str(), O_WRONLY | O_CLOEXEC));
  plugin_path_ = opened.get() >= 0 ? through_folder : path_;
}

Staged_Output::~Staged_Output() {
  if (!committed_) {
    const std::lock_guard lock(stage_change);
    ::unlinkat(place_.folder(), name_.c_str(), 0);
    stage = removed;
  }
}

bool Staged_Output::holds_finished_movie() const { return is_finished_movie(file_.get()); }

uintmax_t Staged_Output::commit() {
  const int file = file_.get(), folder = place_.folder();
  struct stat written {};
  if (::fstat(file, &written) != 0)
    throw std::runtime_error("cannot finish the movie " + path_ + ": " + std::strerror(errno));
  // Only root may give a file away; an owner may still give it a group of
  // their own. Before the mode, which a change of owner may clear bits of.
  if (::fchown(file, owner_, group_) != 0) (void)::fchown(file, uid_t(-1), group_);
  if (::fchmod(file, mode_) != 0 || ::fsync(file) != 0)
    throw std::runtime_error("cannot finish the movie " + path_ + ": " + std::strerror(errno));
  {
    const std::lock_guard lock(stage_change);
    if (::renameat(folder, name_.c_str(), folder, place_.name().c_str()) != 0)
      throw std::runtime_error("cannot put the movie in place at " + place_.path() + ": " + std::strerror(errno));
    stage = in_place;
  }
  committed_ = true;
  // The rename reaches the disk with the folder. The movie is in place
  // whatever this says: some file systems cannot sync a folder, and a folder
  // held only as a place cannot be.
  ::fsync(folder);
  return uintmax_t(written.st_size);
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
