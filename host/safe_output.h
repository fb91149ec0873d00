// How hap-export keeps the output path safe: the plug-in writes into a
// temporary file beside the output, which is renamed onto it only when it
// holds a finished movie, so the output path holds either what was there
// before or a whole movie, never a broken one. Also the signals that stop an
// export cleanly, and those that must not leave the temporary file behind.
#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace host {

// Name of the temporary file beside the output (the X's are made unique).
constexpr char staged_file_pattern[] = ".hap-export-XXXXXX";

// Where the temporary file for `destination` goes: the same folder, so the
// final rename is atomic.
std::string staged_path_pattern(const std::string& destination);

// The file that writing to `path` replaces: `path` itself, or, when it is a
// symbolic link, the end of the chain of links, whether that file exists or
// not. Throws std::runtime_error when the chain loops or cannot be read.
std::string link_target(const std::string& path);

// The mode the finished movie gets: the permission bits of the file it
// replaces (`replaced`, when not null) without set-user-ID and set-group-ID,
// which must never pass to a file of another owner; else what a new file gets
// under the umask.
mode_t final_mode(const struct stat* replaced);

// The temporary file of one export, created private to its owner so the
// plug-in can always open it for writing; removed by the destructor unless
// committed, and by a fatal signal meanwhile.
class Staged_Output {
 public:
  // `replaced` is the status of the file at `destination` when the export
  // began, null when there was none. Throws std::runtime_error with the
  // system's reason when the file cannot be created.
  Staged_Output(const std::string& destination, const struct stat* replaced);
  ~Staged_Output();
  Staged_Output(const Staged_Output&) = delete;
  Staged_Output& operator=(const Staged_Output&) = delete;

  const std::string& path() const { return path_; }
  // Gives the written file its final mode, and the owner and group of the
  // file it replaces as far as the process may, so replacing a movie never
  // takes it from its owner; syncs it, renames it onto the destination and
  // syncs the folder, as safe-save tools do, so a crash of the machine leaves
  // the old file or the whole new one. Returns the size of the movie this
  // export wrote; throws std::runtime_error with the system's reason on
  // failure, the destination then being as it was.
  uintmax_t commit();

 private:
  std::string destination_;
  std::string path_;
  mode_t mode_;
  uid_t owner_ = uid_t(-1);  // -1: the process's own
  gid_t group_ = gid_t(-1);
  int file_ = -1;
  bool committed_ = false;
};

// True when the file is a finished movie: a "ftyp" atom, then top-level
// atoms whose sizes chain exactly to the end of the file, with a media-data
// atom of known size and a "moov" atom among them. What a failed or cut
// export leaves (no "moov", a media-data size of 0) is not.
bool is_finished_movie(const std::string& path);

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
