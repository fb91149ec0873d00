// How hap-export keeps the output path safe: the plug-in writes into a
// temporary file beside the output, which is renamed onto it only when it
// holds a finished movie, so the output path holds either what was there
// before or a whole movie, never a broken one. Also the signals that stop an
// export cleanly, and those that must not leave the temporary file behind.
#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace host {

// Name of the temporary file beside the output (the X's are made unique).
constexpr char staged_file_pattern[] = ".hap-export-XXXXXX";

// Where the temporary file for `destination` goes: the same folder, so the
// final rename is atomic.
std::string staged_path_pattern(const std::string& destination);

// A file descriptor, closed when it goes; -1 for none.
class Descriptor {
 public:
  explicit Descriptor(int file = -1) : file_(file) {}
  Descriptor(Descriptor&& other) noexcept : file_(std::exchange(other.file_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(file_, other.file_);
    return *this;
  }
  ~Descriptor() {
    if (file_ >= 0) ::close(file_);
  }
  int get() const { return file_; }

 private:
  int file_;
};

// A symbolic link as the output that the system's protection of links
// (fs.protected_symlinks) would not follow for this process.
struct Refused_Link : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The file that writing to an output replaces, found when the program starts,
// with its folder held open from then on: the movie lands in that folder
// wherever it is moved meanwhile, and a failure removes the temporary file
// from there.
class Output_Place {
 public:
  // Follows `output` when it is a symbolic link, to the end of its chain of
  // links, whether that file exists or not. A link in a sticky folder anyone
  // may write to is followed only when it is this process's user's or the
  // folder owner's: any other may have been planted there by another user,
  // to have this process replace a file they cannot write; it is refused
  // with Refused_Link. Throws std::runtime_error when the chain loops or a
  // link cannot be read.
  explicit Output_Place(const std::string& output);

  // The file, named from the folder the program started in: the output or
  // the end of its chain of links. For messages and the checks of its name.
  const std::string& path() const { return path_; }
  // Its name in its folder, and the folder as a descriptor: -1 when the
  // folder could not be opened (a folder that does not exist, say), and then
  // folder_error() is why.
  const std::string& name() const { return name_; }
  int folder() const { return folder_.get(); }
  int folder_error() const { return folder_error_; }

 private:
  std::string path_;
  std::string name_;
  Descriptor folder_;
  int folder_error_ = 0;
};

// The mode the finished movie gets: the permission bits of the file it
// replaces (`replaced`, when not null) without set-user-ID and set-group-ID,
// which must never pass to a file of another owner; else what a new file gets
// under the umask.
mode_t final_mode(const struct stat* replaced);

// The temporary file of one export, created in the output's folder private to
// its owner so the plug-in can always open it for writing; removed by the
// destructor unless committed, and by a fatal signal meanwhile.
class Staged_Output {
 public:
  // `replaced` is the status of the file at the output place when the export
  // began, null when there was none; `place` must outlive this. Throws
  // std::runtime_error with the system's reason when the file cannot be
  // created.
  Staged_Output(const Output_Place& place, const struct stat* replaced);
  ~Staged_Output();
  Staged_Output(const Staged_Output&) = delete;
  Staged_Output& operator=(const Staged_Output&) = delete;

  // The file as named beside the output, for messages.
  const std::string& path() const { return path_; }
  // The name to give the plug-in, which opens the file by name: one through
  // the folder held open (in /proc/self/fd), valid wherever the folder is
  // moved, when the file can be opened by it; else path().
  const std::string& plugin_path() const { return plugin_path_; }
  // True when the file is a finished movie: a "ftyp" atom, then top-level
  // atoms whose sizes chain exactly to the end of the file, with a media-data
  // atom of known size and a "moov" atom among them. What a failed or cut
  // export leaves (no "moov", a media-data size of 0) is not.
  bool holds_finished_movie() const;
  // Gives the written file its final mode, and the owner and group of the
  // file it replaces as far as the process may, so replacing a movie never
  // takes it from its owner; syncs it, renames it onto the destination and
  // syncs the folder, as safe-save tools do, so a crash of the machine leaves
  // the old file or the whole new one. Returns the size of the movie this
  // export wrote; throws std::runtime_error with the system's reason on
  // failure, the destination then being as it was.
  uintmax_t commit();

 private:
  const Output_Place& place_;
  std::string name_;
  std::string path_;
  std::string plugin_path_;
  mode_t mode_;
  uid_t owner_ = uid_t(-1);  // -1: the process's own
  gid_t group_ = gid_t(-1);
  Descriptor file_;
  bool committed_ = false;
};

// Opens /dev/null on each of standard input, output and error that is
// closed, so that no file the program opens later takes its number and
// receives the program's messages. Call it before anything opens a file.
// Throws std::runtime_error when /dev/null cannot be opened.
void open_standard_descriptors();

// "interrupted by signal N (its description)", the cause of a stopped export.
std::string interrupted_by(int signal);

// The signals of a finished or failed write (SIGPIPE, SIGXFSZ) are ignored,
// so the write fails with its reason and the usual clean-up runs. The first
// signal that would end the program (SIGINT, SIGTERM, SIGHUP, SIGQUIT, the
// user, timer and real-time signals) sets interrupt_signal
// (stand_in_host.h), which stops the export the way a host cancel does; a
// second one removes the temporary file and ends the program at once with
// 128 + signal, saying what became of the output. These are taken by a
// thread of their own, and must be blocked before any other thread starts:
// call this first. A crash removes the temporary file before the program
// ends as it would have. Signals ignored at start stay ignored. Throws
// std::bad_alloc when the thread cannot start for want of memory,
// std::runtime_error when it cannot start otherwise.
void install_signal_handlers();

// Called as the program ends: when a second stop signal is being taken,
// waits for it to end the program, so that its line comes last and its
// status stands.
void let_a_second_signal_end_the_program();

}  // namespace host
