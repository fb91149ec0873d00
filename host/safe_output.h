// How hap-export keeps the output path safe: the plug-in writes into a
// temporary file beside the output, which is renamed onto it only when it
// holds a finished movie, so the output path holds either what was there
// before or a whole movie, never a broken one. Also the signals that stop an
// export cleanly.
#pragma once
#include <sys/stat.h>

#include <string>

namespace host {

// Name of the temporary file beside the output (the X's are made unique).
constexpr char staged_file_pattern[] = ".hap-export-XXXXXX";

// Where the temporary file for `destination` goes: the same folder, so the
// final rename is atomic.
std::string staged_path_pattern(const std::string& destination);

// The temporary file of one export. Created at construction with the mode a
// new file would get, or the mode of the file it replaces (`replaced`, when
// not null); removed by the destructor unless committed.
class Staged_Output {
 public:
  // Throws std::runtime_error with the system's reason when the file cannot
  // be created.
  Staged_Output(const std::string& destination, const struct stat* replaced);
  ~Staged_Output();
  Staged_Output(const Staged_Output&) = delete;
  Staged_Output& operator=(const Staged_Output&) = delete;

  const std::string& path() const { return path_; }
  // Renames the temporary file onto the destination; throws
  // std::runtime_error with the system's reason on failure.
  void commit();

 private:
  std::string destination_;
  std::string path_;
  bool committed_ = false;
};

// True when the file is a finished movie: a "ftyp" atom, then top-level
// atoms whose sizes chain exactly to the end of the file, with a media-data
// atom of known size and a "moov" atom among them. What a failed or cut
// export leaves (no "moov", a media-data size of 0) is not.
bool is_finished_movie(const std::string& path);

// The first SIGINT, SIGTERM or SIGHUP sets interrupt_signal (stand_in_host.h),
// which stops the export the way a host cancel does; a second one removes the
// registered temporary file and ends the program at once with 128 + signal.
void install_interrupt_handlers();
// The file a second signal removes; empty for none.
void set_file_removed_on_second_signal(const std::string& path);

}  // namespace host
