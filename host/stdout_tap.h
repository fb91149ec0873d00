// What the plug-in prints on standard output, passed on a line at a time and
// kept, so that hap-export can end a failure with the plug-in's own words for
// its cause instead of leaving it in a middle line. Lines are passed on
// printable (a path it prints may hold a user's control characters), and
// those that only tell of a stop the user asked for are held back.
#pragma once
#include <string>
#include <thread>
#include <vector>

namespace host {

class Stdout_Tap {
 public:
  // Routes standard output through a pipe read by a thread of its own. When
  // the pipe cannot be made, output goes on as before and nothing is kept.
  // When the thread cannot start, standard output is put back and the
  // failure thrown, std::bad_alloc for want of memory: the plug-in's words
  // for it would be lost. Where the plug-in names a file by `plugin_name`, the
  // user reads `user_name`: the plug-in may be given a name of its own for
  // the file the user named.
  Stdout_Tap(std::string plugin_name = "", std::string user_name = "");
  ~Stdout_Tap() { stop(); }
  Stdout_Tap(const Stdout_Tap&) = delete;
  Stdout_Tap& operator=(const Stdout_Tap&) = delete;

  // Puts standard output back and returns the lines printed meanwhile.
  std::vector<std::string> stop();

 private:
  // Copies the pipe to `out`, the saved standard output, keeping the text.
  void pass_on(int out);

  std::string plugin_name_, user_name_;
  int saved_stdout_ = -1;
  int pipe_ = -1;  // its reading end
  std::string kept_;
  std::thread reader_;
};

// The plug-in's words for why an export failed, from its printed lines: the
// reason its summary of the failure gives (in the fullest form it was
// printed), else its first line that is neither a setting it reports nor a
// warning. Empty when it said nothing of the kind.
std::string failure_cause(const std::vector<std::string>& lines);

}  // namespace host
